// Shared set-up for the trace tests: a freshly loaded driver, a fresh
// simulated machine whose MMIO stores are recorded, and a handle bound to the
// driver's channel through a header filled with the driver's hooks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "base/driver_state.h"
#include "sim/driver_reload.h"
#include "sim/machine/hardware.h"
#include "trace/trace_handle.h"
#include "trace/trace_header.h"
#include "trace/trace_hooks.h"

namespace sim {
inline bool operator==(const MmioStore &a, const MmioStore &b) {
  return a.address == b.address && a.width_bits == b.width_bits && a.value == b.value;
}
inline std::ostream &operator<<(std::ostream &os, const MmioStore &s) {
  return os << "{0x" << std::hex << s.address << ", " << std::dec << s.width_bits << " bits, 0x" << std::hex << s.value
            << std::dec << "}";
}
}  // namespace sim

namespace trace_test {

constexpr uint32_t kHubBase = 0xFE100000u;
constexpr uint64_t kChannel = uint64_t{kHubBase} + 0x70380;

inline const std::vector<sim::MmioStore> &Stores() { return sim::CurrentHardware().mmio_log(); }

// A store to the driver's channel of kHubBase.
inline sim::MmioStore At(uint64_t offset, unsigned width_bits, uint64_t value) {
  return {kChannel + offset, width_bits, value};
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ReloadDriver();
    sim::ResetHardware();
    gDriver.TraceHubBase = kHubBase;
  }

  // A handle on the driver's channel, made the way start-up makes it but in
  // the test's own storage.
  TraceHandle *BoundHandle(uint32_t tag = 0) {
    TraceHeaderInit(&header_, TraceHookTableInit, 0);
    TraceHandle *h = TraceHandleInit(&header_, &handle_, nullptr, 0);
    h->Tag = tag;
    return h;
  }

  TraceHeader header_{};
  TraceHandle handle_{};
};

}  // namespace trace_test
