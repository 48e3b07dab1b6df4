// The trace-hub HOB walk over fuzzed HOB lists: the input is the list and its
// length is the walk's bound. libFuzzer hands over an exactly sized copy, so
// any read past the bound is an out-of-bounds read the address sanitizer
// reports.
//
// A base other than 0 must come from inside the list: bytes 44-47 of a HOB
// whose name (bytes 8-23) is the trace HOB's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/driver_guids.h"
#include "core/hob_walk.h"
#include "efi/efi_hob.h"

namespace {

// Whether the list's bytes hold the trace HOB's name at some offset with
// `base` 36 bytes after it.
bool BaseComesFromATraceHob(const uint8_t *list, size_t length, uint32_t base) {
  for (size_t at = 0; at + kTraceHubBaseOffset + sizeof(base) <= length; ++at) {
    if (std::memcmp(list + at + sizeof(EFI_HOB_GENERIC_HEADER), &TraceHubInfoHobGuid, sizeof(EFI_GUID)) == 0 &&
        std::memcmp(list + at + kTraceHubBaseOffset, &base, sizeof(base)) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const uint32_t base = FindTraceHubBaseIn(data, size);
  if (base != 0 && !BaseComesFromATraceHob(data, size, base)) std::abort();
  return 0;
}
