// Finding the HOB list and reading the trace-hub base address out of it.
#pragma once

#include "efi/efi_types.h"

// Offset of the 32-bit base value inside the trace HOB (byte 20 of its data).
constexpr UINTN kTraceHubBaseOffset = 44;

// The HOB list from the configuration table, cached once found; empty when absent.
void *FindHobList();

// Walks the HOBs in the Length bytes at List, from the first, and returns the
// base value of the first GUID-extension HOB named TraceHubInfoHobGuid, or 0
// when those bytes hold none. No byte at or past List + Length is read: a HOB
// is read only when its header and every byte its length claims lie inside.
// The walk also ends at the end HOB, at a HOB too short to hold its own header
// (a length below 8 could never advance), and at a trace HOB too short to hold
// the base value (base 0). A Length below 8 reads nothing (List may be empty).
UINT32 FindTraceHubBaseIn(const void *List, UINTN Length);

// FindTraceHubBaseIn over the list HobList starts. When the list starts with a
// hand-off HOB (as every PI list does), the walk is bounded by the end it
// records; otherwise by the top of the address space. An empty list pointer
// counts as a list without a trace HOB.
// Kept out of line (inlined into DriverEntry it makes the image larger).
__attribute__((noinline)) UINT32 FindTraceHubBase(const void *HobList);
