// The firmware tables the test application keeps for all its parts.
#pragma once

#include "efi/efi.h"

struct AppState {
  EFI_HANDLE ImageHandle = nullptr;
  EFI_SYSTEM_TABLE *SystemTable = nullptr;
  EFI_BOOT_SERVICES *BootServices = nullptr;
  EFI_RUNTIME_SERVICES *RuntimeServices = nullptr;
};

extern AppState gApp;
