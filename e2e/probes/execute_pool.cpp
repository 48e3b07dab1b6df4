// Probe: runs code from a pool buffer of the memory type PROBE_POOL_TYPE
// (EfiBootServicesData or EfiLoaderData: data pools should not be executable).
#include "e2e/app/app_state.h"
#include "e2e/app/serial_report.h"
#include "e2e/probes/probe_frame.h"

#ifndef PROBE_POOL_TYPE
#error "build with -DPROBE_POOL_TYPE=<EFI_MEMORY_TYPE>"
#endif

void BreakRule() {
  void *buffer = nullptr;
  EFI_STATUS status = gApp.BootServices->AllocatePool(PROBE_POOL_TYPE, 16, &buffer);
  ReportStatus("AllocatePool", status);
  if (EFI_ERROR(status)) return;
  CallReturnAt(static_cast<volatile UINT8 *>(buffer));
}
