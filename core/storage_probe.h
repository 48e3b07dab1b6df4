// The end-of-DXE probe for NVM Express and SATA controllers.
#pragma once

#include "efi/efi.h"

// Collects the PCI I/O handles whose class code is mass storage with the given
// subclass, packed at the front of the firmware's handle buffer in firmware
// order. On success the caller releases *Handles with FreePool; otherwise
// NOT_FOUND (nothing matched, buffer released) or the LocateHandleBuffer error.
EFI_STATUS FindMassStorageControllers(UINT8 Subclass, UINTN *Count, EFI_HANDLE **Handles);
