// Driver-wide values: created with the driver, written by the routines named
// beside each field, and never reset while the driver is loaded.
//
// They live in one constant-initialised record so the image needs no global
// constructor, and so a host test can start from a freshly loaded driver by
// assigning a default-constructed record (see sim/driver_reload.h). The record
// starts all zero, so the image stores no initial values for it; the two
// values whose loaded state is not zero are set by SetLoadedDriverValues,
// the first thing DriverEntry does, before anything reads them.
#pragma once

#include "efi/efi.h"

struct DriverState {
  // Kept by DriverEntry for every other routine.
  EFI_HANDLE ImageHandle = nullptr;
  EFI_SYSTEM_TABLE *SystemTable = nullptr;
  EFI_BOOT_SERVICES *BootServices = nullptr;
  EFI_RUNTIME_SERVICES *RuntimeServices = nullptr;

  // Cached by FindHobList; empty until the configuration table yields it.
  void *HobList = nullptr;

  // Trace-hub base address from the trace HOB, 0 when there is none.
  UINT32 TraceHubBase = 0;

  // The trigger notification registered by NoticeDriverInit.
  EFI_EVENT TriggerEvent = nullptr;
  void *TriggerRegistration = nullptr;

  // The notice to show: 0 none, 1-5 set by the decision, 6 selects the sixth picture.
  UINT8 NoticeMode = 0;
  // 0xFF until the SecureBoot variable has been read; then its byte, or 0 when the read failed.
  UINT8 SecureBootState = 0;
  // 1 until an NVM Express or SATA controller is found at end of DXE.
  UINT8 StorageAbsent = 0;
  // The raw picture read for the current notice; released after the hold.
  void *NoticeImageBuffer = nullptr;
};

extern DriverState gDriver;

// Gives the values whose loaded state is not zero that state: SecureBootState
// unread (0xFF) and StorageAbsent 1.
inline void SetLoadedDriverValues() {
  gDriver.SecureBootState = 0xFF;
  gDriver.StorageAbsent = 1;
}
