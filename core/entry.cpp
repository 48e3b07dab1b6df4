// Driver entry: keep the firmware tables, find the trace hub, register the
// two notifications that carry all later work.
#include "base/driver_state.h"
#include "core/driver.h"
#include "core/hob_walk.h"
#include "trace/trace_setup.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  SetLoadedDriverValues();
  gDriver.ImageHandle = ImageHandle;
  gDriver.SystemTable = SystemTable;
  gDriver.BootServices = SystemTable->BootServices;
  gDriver.RuntimeServices = SystemTable->RuntimeServices;

  gDriver.TraceHubBase = FindTraceHubBase(FindHobList());
  TraceSetup(ImageHandle, SystemTable);

  return NoticeDriverInit(ImageHandle, SystemTable);
}
