#include "sim/cmos.h"

namespace sim {

ExtendedCmos::ExtendedCmos(uint8_t fill) : PortDevice({kIndexPort, kDataPort}) { bytes_.fill(fill); }

std::vector<uint8_t> ExtendedCmos::WritesTo(uint8_t index) const {
  std::vector<uint8_t> values;
  for (const CmosWrite &w : writes_) {
    if (w.index == index) values.push_back(w.value);
  }
  return values;
}

uint8_t ExtendedCmos::PortRead(uint16_t port) { return port == kIndexPort ? index_ : bytes_[index_]; }

void ExtendedCmos::PortWrite(uint16_t port, uint8_t value) {
  if (port == kIndexPort) {
    index_ = value;
    return;
  }
  bytes_[index_] = value;
  writes_.push_back({index_, value});
}

}  // namespace sim
