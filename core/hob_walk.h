// Reading the trace-hub base address out of a HOB list.
#pragma once

#include "core/firmware/efi_types.h"

// Offset of the 32-bit base value inside the trace HOB (byte 20 of its data).
constexpr UINTN kTraceHubBaseOffset = 44;

// Walks the HOB list from its first HOB and returns the base value of the first
// GUID-extension HOB named TraceHubInfoHobGuid, or 0 when the list has none.
// An empty list pointer counts as a list without it. The walk ends at the end
// HOB or at a HOB too short to hold its own header (a length below 8 could
// never advance); a trace HOB too short to hold the base value is passed over.
UINT32 FindTraceHubBase(const void *HobList);
