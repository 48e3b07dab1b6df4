// A bit-at-a-time CRC-32C, independent of the driver's table, to check the
// checksum words the writer sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trace_test {

inline uint32_t ReferenceCrc32c(const std::vector<uint8_t> &bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
  }
  return ~crc;
}

// The little-endian bytes of a store's value, as the trace hub receives them.
inline void AppendLittleEndian(std::vector<uint8_t> &out, uint64_t value, unsigned width_bits) {
  for (unsigned i = 0; i < width_bits / 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace trace_test
