// The driver's globals as the simulated firmware sets them: reloaded, and
// bound to a firmware's tables.
#pragma once

#include "efi/efi.h"

namespace sim {

// Returns every driver-wide value to what a freshly loaded image holds.
void ReloadDriver();

// Keeps the image handle and the system table's tables in the driver's
// globals, as DriverEntry's first lines do, without running DriverEntry.
// The one place outside DriverEntry that assigns them (Platform::BindDriver,
// PoolOnlyFirmware::BindDriver).
void BindDriverTables(EFI_HANDLE image_handle, EFI_SYSTEM_TABLE *system_table);

}  // namespace sim
