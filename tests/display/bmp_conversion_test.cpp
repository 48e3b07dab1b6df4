// The decoder's conversion: each depth's pixels and row padding, colour-map
// lookups, orientation, and lookups of a colour map that would run past the picture.
#include <cstring>
#include <string>

#include "tests/display/bmp_writer.h"
#include "tests/display/display_fixture.h"

namespace {

using displaytest::Decoded;
using displaytest::DisplayTest;
using displaytest::TestColour;

// The simulated pool fills fresh blocks with 0xAF; the decoder writes every
// pixel whole, reserved byte 0, so none of that reaches the screen.
constexpr uint8_t kReservedByte = 0;

uint32_t MapEntries(uint16_t depth) { return depth == 24 ? 0 : 1u << depth; }

struct RoundTrip {
  uint16_t depth;
  uint32_t width;
  uint32_t height;
};

class BmpRoundTripTest : public DisplayTest, public ::testing::WithParamInterface<RoundTrip> {};

// Every pixel of every row, whatever the padding and the unused bits hold.
TEST_P(BmpRoundTripTest, PixelsMatchTopRowFirst) {
  const RoundTrip &p = GetParam();
  bmptest::Picture picture;
  picture.width = p.width;
  picture.height = p.height;
  picture.bits_per_pixel = p.depth;
  for (uint32_t i = 0; i < MapEntries(p.depth); ++i) picture.colour_map.push_back(TestColour(1000 + i));
  std::vector<uint32_t> expected;
  for (uint32_t i = 0; i < p.width * p.height; ++i) {
    const uint32_t value = TestColour(i) % (p.depth == 24 ? 0x1000000 : MapEntries(p.depth));
    picture.pixels.push_back(value);
    expected.push_back(p.depth == 24 ? value : picture.colour_map[value]);
  }
  for (uint8_t padding : {0x00, 0xFF}) {
    picture.padding = padding;
    const Decoded decoded = Decode(bmptest::Encode(picture));
    ASSERT_FALSE(EFI_ERROR(decoded.status));
    EXPECT_EQ(decoded.width, p.width);
    EXPECT_EQ(decoded.height, p.height);
    EXPECT_EQ(decoded.colours, expected);
    EXPECT_EQ(decoded.reserved, std::vector<uint8_t>(expected.size(), kReservedByte));
  }
}

std::vector<RoundTrip> RoundTrips() {
  std::vector<RoundTrip> cases;
  for (uint16_t depth : {1, 4, 8, 24}) {
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 100u}) {
      for (uint32_t height : {1u, 3u}) cases.push_back({depth, width, height});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpRoundTripTest, ::testing::ValuesIn(RoundTrips()),
                         [](const ::testing::TestParamInfo<RoundTrip> &info) {
                           return "Bpp" + std::to_string(info.param.depth) + "_" + std::to_string(info.param.width) +
                                  "x" + std::to_string(info.param.height);
                         });

// Pictures written byte by byte, so the expectations do not rest on the writer.
using BmpLayoutTest = DisplayTest;

std::vector<uint8_t> Assemble(uint32_t width, uint32_t height, uint16_t depth, const std::vector<uint8_t> &map,
                              const std::vector<uint8_t> &data) {
  std::vector<uint8_t> bytes =
      bmptest::HeaderWith(width, height, depth, static_cast<uint32_t>(54 + map.size()), map.size() + data.size());
  if (!map.empty()) std::memcpy(bytes.data() + 54, map.data(), map.size());
  if (!data.empty()) std::memcpy(bytes.data() + 54 + map.size(), data.data(), data.size());
  return bytes;
}

TEST_F(BmpLayoutTest, TwentyFourBitThreeWideSkipsThreeBytesARow) {
  // Two rows of 9 pixel bytes and 3 skipped bytes; the file's first row is the bottom one.
  const std::vector<uint8_t> data = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0xA1, 0xA2, 0xA3,
                                     0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0xB1, 0xB2, 0xB3};
  const Decoded decoded = Decode(Assemble(3, 2, 24, {}, data));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{0x131211, 0x161514, 0x191817, 0x030201, 0x060504, 0x090807}));
}

TEST_F(BmpLayoutTest, ColourMapGivesBlueGreenRedAndNotItsReservedByte) {
  // Entries: blue, green, red, reserved.
  const std::vector<uint8_t> map = {0x10, 0x20, 0x30, 0x77, 0x40, 0x50, 0x60, 0x88};
  const Decoded decoded = Decode(Assemble(2, 1, 1, map, {0x40, 0xFF, 0xFF, 0xFF}));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{0x302010, 0x605040}));
  EXPECT_EQ(decoded.reserved, (std::vector<uint8_t>{kReservedByte, kReservedByte}));
}

TEST_F(BmpLayoutTest, FourBitOddWidthUsesOnlyTheHighNibbleOfTheLastByte) {
  std::vector<uint8_t> map(64, 0);
  for (uint8_t i = 0; i < 16; ++i) map[4 * i] = static_cast<uint8_t>(0x10 + i);  // blue = 0x10 + index
  const Decoded decoded = Decode(Assemble(3, 1, 4, map, {0x12, 0x3F, 0xEE, 0xEE}));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{0x11, 0x12, 0x13}));
}

TEST_F(BmpLayoutTest, OneBitTenWideReadsTwoBytesThenSkipsTwo) {
  const std::vector<uint8_t> map = {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
  // Row 1 (bottom): 1011 0010, then bits 7 and 6 of 0x7F (0, 1); rows 2: all set but pixel 9.
  const std::vector<uint8_t> data = {0xB2, 0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00};
  const Decoded decoded = Decode(Assemble(10, 2, 1, map, data));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  const uint32_t W = 0xFFFFFF, K = 0;
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{W, W, W, W, W, W, W, W, W, K,  // top row: file row 2
                                                    W, K, W, W, K, K, W, K, K, W}));
}

TEST_F(BmpLayoutTest, EightBitIndexesTheWholeMap) {
  std::vector<uint8_t> map(1024, 0);
  for (unsigned i = 0; i < 256; ++i) {
    map[4 * i] = static_cast<uint8_t>(i);
    map[4 * i + 2] = static_cast<uint8_t>(255 - i);
  }
  const Decoded decoded = Decode(Assemble(4, 1, 8, map, {0x00, 0x01, 0x80, 0xFF}));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{0xFF0000, 0xFE0001, 0x7F0080, 0x0000FF}));
}

TEST_F(BmpLayoutTest, FirstFileRowBecomesTheBottomRow) {
  const Decoded decoded = Decode(Assemble(1, 3, 24, {}, {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{3, 2, 1}));
}

// With the pixel data at byte 54 the colour map overlaps it: entries inside the
// picture are read from those bytes, entries past its end read as black. The
// harness hands the decoder an exactly sized buffer, so a read past it is caught.
using BmpColourMapBoundsTest = DisplayTest;

TEST_F(BmpColourMapBoundsTest, EightBitEntriesPastThePictureAreBlack) {
  // 58 bytes: entry 0 is bytes 54-56 (the pixel data itself), entry 1 starts at 58.
  const Decoded decoded = Decode(Assemble(4, 1, 8, {}, {0x00, 0x01, 0xFF, 0x00}));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{0xFF0100, 0, 0, 0xFF0100}));
}

TEST_F(BmpColourMapBoundsTest, EightBitLastEntryInsideIsUsed) {
  // 32 bytes of pixel data: entries 0-7 lie inside the picture, 8 and above do not.
  std::vector<uint8_t> data(32, 0);
  for (uint8_t i = 0; i < 32; ++i) data[i] = i;
  data[0] = 7;  // entry 7 is bytes 28-30 of the data
  data[1] = 8;
  const Decoded decoded = Decode(Assemble(8, 4, 8, {}, data));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  // File row 0 is the bottom output row (index 24).
  EXPECT_EQ(decoded.colours[24], 0x1E1D1Cu);
  EXPECT_EQ(decoded.colours[25], 0u);
}

TEST_F(BmpColourMapBoundsTest, OneAndFourBitEntriesPastThePictureAreBlack) {
  // 1 bit: one 4-byte row at 54; entry 0 = bytes 54-56, entry 1 past the end.
  Decoded decoded = Decode(Assemble(2, 1, 1, {}, {0x40, 0x22, 0x33, 0x44}));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{0x332240, 0}));
  // 4 bits: nibbles 0 and 15.
  decoded = Decode(Assemble(2, 1, 4, {}, {0x0F, 0x22, 0x33, 0x44}));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_EQ(decoded.colours, (std::vector<uint32_t>{0x33220F, 0}));
}

}  // namespace
