// A simulated extended CMOS bank: 256 bytes behind index port 0x72 and data
// port 0x73, with a log of every byte written through the data port.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/machine/hardware.h"

namespace sim {

struct CmosWrite {
  uint8_t index;
  uint8_t value;
};

class ExtendedCmos : public PortDevice {
 public:
  static constexpr uint16_t kIndexPort = 0x72;
  static constexpr uint16_t kDataPort = 0x73;

  // Every byte starts as fill (unwritten battery-backed memory). Attach()
  // puts it on ports 0x72 and 0x73 (PortDevice).
  explicit ExtendedCmos(uint8_t fill = 0xFF);

  uint8_t byte(uint8_t index) const { return bytes_[index]; }
  void set_byte(uint8_t index, uint8_t value) { bytes_[index] = value; }
  const std::vector<CmosWrite> &writes() const { return writes_; }
  // The values written to one byte, in order.
  std::vector<uint8_t> WritesTo(uint8_t index) const;

  uint8_t PortRead(uint16_t port) override;
  void PortWrite(uint16_t port, uint8_t value) override;

 private:
  std::array<uint8_t, 256> bytes_;
  uint8_t index_ = 0;
  std::vector<CmosWrite> writes_;
};

}  // namespace sim
