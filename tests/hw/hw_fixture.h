// A fresh machine and a freshly loaded driver whose boot services offer only
// Stall, which advances the virtual clock and is counted.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/driver_state.h"
#include "sim/driver_reload.h"
#include "sim/hardware.h"

class HwTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ResetHardware();
    sim::ReloadDriver();
    stalls_.clear();
    boot_services_ = {};
    boot_services_.Stall = &RecordStall;
    gDriver.BootServices = &boot_services_;
  }

  void TearDown() override { sim::ReloadDriver(); }

  sim::Hardware &hw() { return sim::CurrentHardware(); }

  // Leaf 0x15 with the given ratio and crystal, on a processor that has it.
  void SetTscLeaf(uint32_t eax, uint32_t ebx, uint32_t ecx) {
    hw().SetMaxBasicLeaf(0x16);
    hw().SetCpuidLeaf(0x15, CpuidResult{eax, ebx, ecx, 0});
  }

  static const std::vector<UINTN> &stalls() { return stalls_; }

  // Status-port reads so far.
  size_t StatusReads() {
    size_t n = 0;
    for (const auto &a : hw().PortLogFor(0x66)) n += a.write ? 0 : 1;
    return n;
  }

 private:
  static EFI_STATUS EFIAPI RecordStall(UINTN Microseconds) {
    stalls_.push_back(Microseconds);
    sim::CurrentHardware().AdvanceNs(uint64_t{Microseconds} * 1000);
    return EFI_SUCCESS;
  }

  static inline std::vector<UINTN> stalls_;
  EFI_BOOT_SERVICES boot_services_{};
};
