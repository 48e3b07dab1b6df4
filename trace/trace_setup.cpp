#include "trace/trace_setup.h"

#include "base/driver_state.h"
#include "trace/trace_crc.h"
#include "trace/trace_handle.h"
#include "trace/trace_header.h"
#include "trace/trace_hooks.h"
#include "trace/trace_state.h"

void *AllocateRuntimePool(UINTN Size) {
  void *buffer = nullptr;
  EFI_STATUS status = gDriver.BootServices->AllocatePool(EfiRuntimeServicesData, Size, &buffer);
  if (EFI_ERROR(status)) return nullptr;
  return buffer;
}

EFI_STATUS TraceSetup(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  if (gTrace.DriverTraceHandle != nullptr) return EFI_SUCCESS;

  TraceHeader *header = static_cast<TraceHeader *>(AllocateRuntimePool(sizeof(TraceHeader)));
  if (header == nullptr) return EFI_OUT_OF_RESOURCES;

  // Built here in zero-initialised storage so the image carries no table.
  TraceCrcPrepareTable();
  TraceHeaderInit(header, TraceHookTableInit, 0);

  // An empty handle record leaves DriverTraceHandle empty; the header stays in
  // pool (records of this pool type are never freed).
  TraceHandle *storage = static_cast<TraceHandle *>(AllocateRuntimePool(sizeof(TraceHandle)));
  gTrace.DriverTraceHandle = TraceHandleInit(header, storage, nullptr, 1);
  return EFI_SUCCESS;
}
