// Millisecond delay on the processor's timestamp counter.
//
// The embedded-controller polling waits one millisecond between status reads.
// The wait spins on the timestamp counter, whose frequency comes from CPUID
// leaf 0x15 on every call (it is not cached).
#pragma once

#include "efi/efi_types.h"

// Crystal clock assumed when leaf 0x15 reports its ECX as 0.
inline constexpr UINT64 kTscDefaultCrystalHz = 24000000;

// The highest timestamp-counter frequency the delay believes: 2^37 Hz, about
// 137 GHz. Real counters run at the processor's nominal clock, a few
// gigahertz (no x86 processor has reached 10 GHz), so this is more than ten
// times any real one; a processor claiming more (leaf 0x15 can describe up to
// about 1.8e19 Hz) is treated as not reporting its frequency. A power of two
// keeps the test one shift in the image. At the bound a delay spins at most
// about 137 million ticks.
inline constexpr unsigned kTscMaxPlausibleHzBits = 37;
inline constexpr UINT64 kTscMaxPlausibleHz = UINT64{1} << kTscMaxPlausibleHzBits;

// The timestamp-counter frequency that CPUID leaf 0x15's registers describe,
// rounded to the nearest hertz: crystal (ECX, or kTscDefaultCrystalHz when ECX
// is 0) times EBX over EAX; 0 when EAX or EBX is 0 (the leaf gives no ratio).
constexpr UINT64 TscFrequencyFromLeaf(UINT32 Eax, UINT32 Ebx, UINT32 Ecx) {
  if (Eax == 0 || Ebx == 0) return 0;
  const UINT64 crystal = Ecx != 0 ? Ecx : kTscDefaultCrystalHz;
  // Both factors are below 2^32, so the product and the rounding half fit in 64 bits.
  return (crystal * Ebx + Eax / 2) / Eax;
}

// The timestamp-counter frequency in hertz, 0 when the processor does not
// report it (highest basic leaf below 0x15, or a zero ratio in leaf 0x15).
UINT64 TscFrequency();

// Waits 1000 microseconds and returns 1000. With a known frequency it spins
// with PAUSE until the counter has passed the end; with frequency 0, or one
// above kTscMaxPlausibleHz, it falls back to the firmware's Stall so the wait
// still lasts a millisecond.
// Kept out of line (inlined into the controller wait it makes the image larger).
__attribute__((noinline)) UINTN TscDelay();
