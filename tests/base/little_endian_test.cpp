// The driver's one little-endian reader: every width from 1 to 8 bytes, at
// every alignment, reads the value least significant byte first and no byte
// past the width (the bytes after it are all ones, so a read past the width
// shows in the value).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/memory.h"

namespace {

// Distinct, non-zero bytes, so a byte read from the wrong place or in the
// wrong order shows in the value.
constexpr uint8_t kBytes[] = {0x81, 0x42, 0xC3, 0x24, 0xA5, 0x66, 0xE7, 0x18, 0x99, 0x5A, 0xDB, 0x3C, 0xBD, 0x7E, 0xFF};

TEST(ReadLittleEndian, ReadsEachWidthAtEachAlignmentLeastSignificantByteFirst) {
  for (UINTN width = 1; width <= 8; ++width) {
    for (UINTN offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE("width " + std::to_string(width) + " at offset " + std::to_string(offset));
      // The width's bytes offset bytes into a block, then 8 bytes of ones.
      std::vector<uint8_t> block(offset + width + 8, 0xFF);
      for (UINTN i = 0; i < width; ++i) block[offset + i] = kBytes[offset + i];
      uint64_t expected = 0;
      for (UINTN i = width; i-- > 0;) expected = (expected << 8) | kBytes[offset + i];
      EXPECT_EQ(ReadLittleEndian(block.data() + offset, width), expected);
    }
  }
}

TEST(ReadLittleEndian, FixedWidthsReadTheirBytes) {
  EXPECT_EQ(ReadLe16(kBytes + 1), 0xC342u);
  EXPECT_EQ(ReadLe32(kBytes + 3), 0xE766A524u);
  EXPECT_EQ(ReadLe64(kBytes + 5), 0xBD3CDB5A9918E766ull);
}

}  // namespace
