// The trace-hub HOB walk over fuzzed HOB lists. Each list starts with a
// hand-off HOB, as PI lists do, whose recorded end the input chooses anywhere
// up to the list's last byte; the list is exactly sized, so any read past the
// recorded end is an out-of-bounds read the address sanitizer reports.
//
// A base other than 0 must come from inside the recorded end: bytes 44-47 of
// a HOB whose name (bytes 8-23) is the trace HOB's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/driver_guids.h"
#include "core/firmware/efi_hob.h"
#include "core/hob_walk.h"

namespace {

constexpr size_t kHandoffSize = sizeof(EFI_HOB_HANDOFF_INFO_TABLE);

// Whether the list's bytes before `end` hold the trace HOB's name at some
// offset with `base` 36 bytes after it.
bool BaseComesFromATraceHob(const uint8_t *list, size_t end, uint32_t base) {
  for (size_t at = 0; at + kTraceHubBaseOffset + sizeof(base) <= end; ++at) {
    if (std::memcmp(list + at + 8, &TraceHubInfoHobGuid, sizeof(EFI_GUID)) == 0 &&
        std::memcmp(list + at + kTraceHubBaseOffset, &base, sizeof(base)) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const size_t body = size - 2;
  const size_t length = kHandoffSize + body;
  // The first two bytes choose how much of the body lies inside the recorded end.
  const size_t inside = (static_cast<size_t>(data[0]) << 8 | data[1]) % (body + 1);
  auto list = std::make_unique<uint8_t[]>(length);
  std::memcpy(list.get() + kHandoffSize, data + 2, body);

  EFI_HOB_HANDOFF_INFO_TABLE handoff{};
  handoff.Header = EFI_HOB_GENERIC_HEADER{EFI_HOB_TYPE_HANDOFF, static_cast<UINT16>(kHandoffSize), 0};
  handoff.EfiEndOfHobList = reinterpret_cast<uintptr_t>(list.get()) + kHandoffSize + inside;
  std::memcpy(list.get(), &handoff, sizeof(handoff));

  const uint32_t base = FindTraceHubBase(list.get());
  if (base != 0 && !BaseComesFromATraceHob(list.get(), kHandoffSize + inside, base)) std::abort();
  return 0;
}
