// The driver's globals as the simulated firmware sets them: reloaded, bound
// to a firmware's tables, and the record of a loaded driver.
#pragma once

#include "base/driver_state.h"
#include "efi/efi.h"

namespace sim {

// Returns every driver-wide value to what the image file holds: the
// all-zero record of base/driver_state.h, which is not yet a loaded driver's
// (see LoadedDriverState).
void ReloadDriver();

// Keeps the image handle and the system table's tables in the driver's
// globals and gives the values whose loaded state is not zero that state, as
// DriverEntry's first lines do, without running DriverEntry. The one place
// outside DriverEntry that assigns them (Platform::BindDriver,
// PoolOnlyFirmware::BindDriver).
void BindDriverTables(EFI_HANDLE image_handle, EFI_SYSTEM_TABLE *system_table);

// The driver-wide record of a loaded driver before it has read or found
// anything: the file's record with what DriverEntry's first step gives
// (SetLoadedDriverValues: SecureBootState unread, 0xFF; StorageAbsent 1), and
// no tables. Made by running that step of the driver, so it cannot drift from
// it; gDriver is left as it was.
DriverState LoadedDriverState();

}  // namespace sim
