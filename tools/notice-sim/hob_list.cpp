#include "hob_list.h"

#include <cstring>

#include "core/driver_guids.h"
#include "core/hob_walk.h"

namespace preview {

namespace {

constexpr uint16_t kGuidExtensionType = 4;
constexpr uint16_t kEndOfListType = 0xFFFF;
constexpr size_t kHeaderLength = 8;
constexpr size_t kTraceHobLength = 48;  // header, name, 20 bytes of data, the base
static_assert(kTraceHobLength >= kTraceHubBaseOffset + 4, "the base fits the trace HOB");

void PutHeader(uint8_t *hob, uint16_t type, size_t length) {
  hob[0] = static_cast<uint8_t>(type);
  hob[1] = static_cast<uint8_t>(type >> 8);
  hob[2] = static_cast<uint8_t>(length);
  hob[3] = static_cast<uint8_t>(length >> 8);
}

}  // namespace

std::vector<uint8_t> BuildHobList(std::optional<uint32_t> trace_hub_base) {
  const size_t trace_length = trace_hub_base ? kTraceHobLength : 0;
  std::vector<uint8_t> out(trace_length + kHeaderLength, 0);
  if (trace_hub_base) {
    PutHeader(out.data(), kGuidExtensionType, kTraceHobLength);
    std::memcpy(out.data() + kHeaderLength, &TraceHubInfoHobGuid, sizeof(EFI_GUID));
    for (int i = 0; i < 4; ++i) out[kTraceHubBaseOffset + i] = static_cast<uint8_t>(*trace_hub_base >> (8 * i));
  }
  PutHeader(out.data() + trace_length, kEndOfListType, kHeaderLength);
  return out;
}

}  // namespace preview
