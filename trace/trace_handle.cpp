#include "trace/trace_handle.h"

#include "base/memory.h"
#include "trace/trace_state.h"

namespace {

// Top bit of GUID byte 8: the origin is a full GUID rather than a short origin.
constexpr UINT8 kOriginFullGuid = 0x80;

UINT32 WithUnitBits(UINT32 Tag, UINT32 Unit) {
  return (Tag & ~kTraceTagUnitMask) | ((Unit << kTraceTagUnitShift) & kTraceTagUnitMask);
}

void ApplyOrigin(TraceHandle *Handle, const TraceOrigin *Origin) {
  UINT8 form = Origin->OriginGuid.Data4[0];
  if ((form & kOriginFullGuid) != 0) {
    CopyBytes(&Handle->OriginGuid, &Origin->OriginGuid, sizeof(Handle->OriginGuid));
    Handle->Tag = WithUnitBits(Handle->Tag, Origin->Unit) | kTraceTagOriginGuid;
    return;
  }
  // Short origin: the module number (low 7 bits of byte 8) above the unit's low 4 bits.
  UINT32 unit = (static_cast<UINT32>(form) << 4) | (Origin->Unit & 0xFu);
  Handle->Tag = WithUnitBits(Handle->Tag & ~kTraceTagOriginGuid, unit);
}

}  // namespace

TraceHandle *TraceHandleInit(TraceHeader *Header, TraceHandle *Storage, const TraceOrigin *Origin, UINT32 FromPool) {
  if (Storage == nullptr) return nullptr;

  ZeroBytes(Storage, sizeof(*Storage));
  Storage->Header = Header != nullptr ? Header : &gTrace.DefaultTraceHeader;
  Storage->Flags = FromPool != 0 ? kTraceHandleFromPool : 0;
  if (Origin != nullptr) ApplyOrigin(Storage, Origin);

  if (Storage->Header->InitHandle != nullptr) Storage->Header->InitHandle(Storage);
  return Storage;
}
