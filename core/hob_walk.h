// Reading the trace-hub base address out of a HOB list.
#pragma once

#include "core/firmware/efi_types.h"

// Offset of the 32-bit base value inside the trace HOB (byte 20 of its data).
constexpr UINTN kTraceHubBaseOffset = 44;

// Walks the HOB list from its first HOB and returns the base value of the first
// GUID-extension HOB named TraceHubInfoHobGuid, or 0 when the list has none.
// An empty list pointer counts as a list without it.
//
// When the list starts with a hand-off HOB (as every PI list does), the end it
// records bounds the walk: no HOB is read unless its header and every byte its
// length claims lie before that end. The walk also ends at the end HOB, at a
// HOB too short to hold its own header (a length below 8 could never
// advance), and at a trace HOB too short to hold the base value (base 0).
// Kept out of line (inlined into DriverEntry it makes the image larger).
__attribute__((noinline)) UINT32 FindTraceHubBase(const void *HobList);
