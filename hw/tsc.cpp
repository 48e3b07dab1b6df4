#include "hw/tsc.h"

#include "base/driver_state.h"
#include "hw/hw_access.h"

namespace {
constexpr UINT32 kCpuidMaxBasicLeaf = 0x00;
constexpr UINT32 kCpuidTscLeaf = 0x15;
constexpr UINTN kDelayMicroseconds = 1000;
}  // namespace

UINT64 TscFrequency() {
  // A processor whose highest basic leaf is below 0x15 answers leaf 0x15 with
  // another leaf's data, so the leaf is asked only when it exists.
  if (Cpuid(kCpuidMaxBasicLeaf).Eax < kCpuidTscLeaf) return 0;

  const CpuidResult leaf = Cpuid(kCpuidTscLeaf);
  return TscFrequencyFromLeaf(leaf.Eax, leaf.Ebx, leaf.Ecx);
}

UINTN TscDelay() {
  const UINT64 frequency = TscFrequency();
  // 0 (unknown) wraps to the top, so one test sends both 0 and a frequency
  // above kTscMaxPlausibleHz to the fallback.
  if (((frequency - 1) >> kTscMaxPlausibleHzBits) != 0) {
    gDriver.BootServices->Stall(kDelayMicroseconds);
    return kDelayMicroseconds;
  }

  // Ticks in one millisecond: frequency x 1000 / 1,000,000, written so the
  // multiplication cannot overflow.
  const UINT64 end = ReadTimestampCounter() + frequency / 1000;
  while (ReadTimestampCounter() <= end) CpuPause();
  return kDelayMicroseconds;
}
