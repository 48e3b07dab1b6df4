// Start-up of the trace channel: one header and one handle in
// runtime-services-data pool, bound to the driver's channel. No register is
// written and no message is sent.
#pragma once

#include "efi/efi.h"

// AllocatePool of runtime-services data; empty when the allocation fails.
void *AllocateRuntimePool(UINTN Size);

// Makes the header and the handle kept in DriverTraceHandle, unless a handle
// is kept already. Returns EFI_OUT_OF_RESOURCES when the header cannot be
// allocated; a failed handle allocation leaves DriverTraceHandle empty (the
// header is kept in pool) and still returns EFI_SUCCESS, so a later call
// starts over. Neither argument is used.
EFI_STATUS TraceSetup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
