// Entry point and notify functions of the notice driver.
#pragma once

#include "efi/efi.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Registers the end-of-DXE and trigger notifications. Always succeeds.
EFI_STATUS NoticeDriverInit(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Notify function of the end-of-DXE event group: the storage probe.
void EFIAPI OnEndOfDxe(EFI_EVENT Event, void *Context);

// Notify function of each installation of the notice trigger protocol.
void EFIAPI OnNoticeTrigger(EFI_EVENT Event, void *Context);
