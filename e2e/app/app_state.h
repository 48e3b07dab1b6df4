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

// Keeps the tables an image's entry point is handed, for all its parts.
inline void SetAppState(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gApp.ImageHandle = ImageHandle;
  gApp.SystemTable = SystemTable;
  gApp.BootServices = SystemTable->BootServices;
  gApp.RuntimeServices = SystemTable->RuntimeServices;
}
