#include "sim/driver_reload.h"

#include "trace/trace_state.h"

namespace sim {

void ReloadDriver() {
  gDriver = DriverState{};
  gTrace = TraceState{};
}

void BindDriverTables(EFI_HANDLE image_handle, EFI_SYSTEM_TABLE *system_table) {
  SetLoadedDriverValues();
  gDriver.ImageHandle = image_handle;
  gDriver.SystemTable = system_table;
  gDriver.BootServices = system_table->BootServices;
  gDriver.RuntimeServices = system_table->RuntimeServices;
}

DriverState LoadedDriverState() {
  const DriverState kept = gDriver;
  gDriver = DriverState{};
  SetLoadedDriverValues();
  const DriverState loaded = gDriver;
  gDriver = kept;
  return loaded;
}

}  // namespace sim
