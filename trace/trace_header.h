// Making a trace header: the version word, the scatter writer, and the hooks
// a filler puts in the other slots.
#pragma once

#include "trace/trace_records.h"

// Clears Header (DefaultTraceHeader when empty), sets Version and Writer, then
// calls Filler(target, FillerArgument) when a filler is given.
void TraceHeaderInit(TraceHeader *Header, TraceHookFiller Filler, UINT64 FillerArgument);
