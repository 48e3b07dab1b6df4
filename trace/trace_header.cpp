#include "trace/trace_header.h"

#include "base/memory.h"
#include "trace/trace_state.h"
#include "trace/trace_writer.h"

void TraceHeaderInit(TraceHeader *Header, TraceHookFiller Filler, UINT64 FillerArgument) {
  TraceHeader *target = Header != nullptr ? Header : &gTrace.DefaultTraceHeader;

  ZeroBytes(target, sizeof(*target));
  target->Version = kTraceHeaderVersion;
  target->Writer = TraceScatterWrite;

  if (Filler != nullptr) Filler(target, FillerArgument);
}
