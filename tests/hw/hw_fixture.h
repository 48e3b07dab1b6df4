// A fresh simulated platform and a freshly loaded driver that holds the
// platform's boot services (the Stall fallback of the delay needs them).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/driver_state.h"
#include "sim/machine/hardware.h"
#include "sim/platform.h"

class HwTest : public ::testing::Test {
 protected:
  HwTest() { platform_.BindDriver(); }

  sim::Hardware &hw() { return sim::CurrentHardware(); }

  // Leaf 0x15 with the given ratio and crystal, on a processor that has it.
  void SetTscLeaf(uint32_t eax, uint32_t ebx, uint32_t ecx) {
    hw().SetMaxBasicLeaf(0x16);
    hw().SetCpuidLeaf(0x15, CpuidResult{eax, ebx, ecx, 0});
  }

  // The microseconds of every Stall call so far.
  std::vector<UINTN> stalls() const {
    std::vector<UINTN> out;
    for (const sim::StallCall &s : platform_.stalls()) out.push_back(s.microseconds);
    return out;
  }

  // Status-port reads so far.
  size_t StatusReads() {
    size_t n = 0;
    for (const auto &a : hw().PortLogFor(0x66)) n += a.write ? 0 : 1;
    return n;
  }

  sim::Platform platform_;
};
