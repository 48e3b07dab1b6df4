// Recovers the embedded-controller register reads from the port traffic: the
// read command on 0x66, the register number on 0x62, then the byte read from
// 0x62. It sees what the driver saw, whatever the controller did.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "preview_run.h"
#include "sim/machine/hardware.h"

namespace preview {

class EcReadTracker {
 public:
  void Observe(const sim::PortAccess &access);
  const std::vector<EcReadRecord> &reads() const { return reads_; }

 private:
  enum class Stage { kIdle, kAwaitRegister, kAwaitData };
  Stage stage_ = Stage::kIdle;
  uint8_t reg_ = 0;
  std::vector<EcReadRecord> reads_;
};

}  // namespace preview
