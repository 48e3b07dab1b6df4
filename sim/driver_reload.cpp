#include "sim/driver_reload.h"

#include "base/driver_state.h"
#include "trace/trace_state.h"

namespace sim {

void ReloadDriver() {
  gDriver = DriverState{};
  gTrace = TraceState{};
}

void BindDriverTables(EFI_HANDLE image_handle, EFI_SYSTEM_TABLE *system_table) {
  gDriver.ImageHandle = image_handle;
  gDriver.SystemTable = system_table;
  gDriver.BootServices = system_table->BootServices;
  gDriver.RuntimeServices = system_table->RuntimeServices;
}

}  // namespace sim
