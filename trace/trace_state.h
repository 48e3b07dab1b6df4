// The trace channel's driver-wide values, in one constant-initialised record:
// all zero at load, so the image carries no bytes for them and needs no
// global constructor. A host test reloads the driver by assigning a fresh record.
#pragma once

#include "efi/efi_types.h"
#include "trace/trace_records.h"

constexpr UINTN kTraceCrcTableEntries = 256;

struct TraceState {
  // Serves TraceHeaderInit and TraceHandleInit when they are given no header.
  TraceHeader DefaultTraceHeader = {};
  // The handle made at start-up; only TraceSetup reads or writes it.
  TraceHandle *DriverTraceHandle = nullptr;
  // CRC-32C lookup table, built before its first use (entry 1 is 0 until then).
  UINT32 CrcTable[kTraceCrcTableEntries] = {};
};

extern constinit TraceState gTrace;
