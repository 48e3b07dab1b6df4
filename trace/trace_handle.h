// Making a trace handle: one origin of messages, its message-header template
// and its channel.
#pragma once

#include "trace/trace_records.h"

// Initialises the handle in Storage and returns it; returns empty, doing
// nothing, when Storage is empty. An empty Header means DefaultTraceHeader.
// With an Origin, Tag carries its unit/module number (bits 12-22) and, for a
// full GUID, bit 23 with the GUID copied to OriginGuid. The checksum bit is
// never set here: a caller that wants checksums sets it in Tag. Finally the
// header's InitHandle hook, when filled, binds the handle to its channel.
TraceHandle *TraceHandleInit(TraceHeader *Header, TraceHandle *Storage, const TraceOrigin *Origin, UINT32 FromPool);
