// The row loops of each depth, wherever the output starts: a row may begin on
// an 8-byte boundary or 4 bytes past one (the 24-bit loop stores pixels in
// pairs after a single lead pixel), and any width leaves a different tail.
#include <string>
#include <vector>

#include "display/bmp_check.h"
#include "display/bmp_decode.h"
#include "tests/display/bmp_writer.h"
#include "tests/display/display_fixture.h"

namespace {

using displaytest::TestColour;

struct RowCase {
  uint16_t depth;
  uint32_t width;
  uint32_t height;
};

class BmpRowLoopTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(BmpRowLoopTest, EveryOutputAlignmentGivesEveryPixel) {
  const RowCase &p = GetParam();
  const uint32_t entries = p.depth == 24 ? 0 : 1u << p.depth;
  bmptest::Picture picture;
  picture.width = p.width;
  picture.height = p.height;
  picture.bits_per_pixel = p.depth;
  picture.padding = 0xFF;
  for (uint32_t i = 0; i < entries; ++i) picture.colour_map.push_back(TestColour(500 + i));
  std::vector<uint32_t> expected;
  for (uint32_t i = 0; i < p.width * p.height; ++i) {
    const uint32_t value = TestColour(7 * i + 3) % (p.depth == 24 ? 0x1000000 : entries);
    picture.pixels.push_back(value);
    expected.push_back(p.depth == 24 ? value : picture.colour_map[value]);
  }
  const std::vector<uint8_t> bytes = bmptest::Encode(picture);
  BmpLayout layout;
  ASSERT_EQ(CheckBmp(bytes.data(), bytes.size(), &layout), BmpFault::None);

  const size_t pixels = size_t{p.width} * p.height;
  // Two spare pixels on each side catch a store outside the picture.
  std::vector<uint64_t> storage(pixels / 2 + 4);
  for (size_t lead : {2u, 3u}) {  // the output starts on an 8-byte boundary, then 4 bytes past one
    SCOPED_TRACE("output starts " + std::to_string(lead * 4 % 8) + " bytes past an 8-byte boundary");
    auto *base = reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(storage.data());
    std::memset(base, 0xAF, storage.size() * sizeof(uint64_t));
    FillGopBlt(bytes.data(), bytes.size(), layout, base + lead);
    std::vector<uint32_t> colours;
    for (size_t i = 0; i < pixels; ++i) {
      const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &px = base[lead + i];
      EXPECT_EQ(px.Reserved, 0) << "pixel " << i;
      colours.push_back(uint32_t{px.Red} << 16 | uint32_t{px.Green} << 8 | px.Blue);
    }
    EXPECT_EQ(colours, expected);
    const auto *raw = reinterpret_cast<const uint8_t *>(base);
    for (size_t i = 0; i < lead * 4; ++i) EXPECT_EQ(raw[i], 0xAF) << "byte " << i << " before the output";
    for (size_t i = (lead + pixels) * 4; i < storage.size() * sizeof(uint64_t); ++i) {
      EXPECT_EQ(raw[i], 0xAF) << "byte " << i << " after the output";
    }
  }
}

std::vector<RowCase> RowCases() {
  std::vector<RowCase> cases;
  for (uint16_t depth : {1, 4, 8, 24}) {
    for (uint32_t width = 1; width <= 13; ++width) {
      for (uint32_t height : {1u, 2u}) cases.push_back({depth, width, height});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpRowLoopTest, ::testing::ValuesIn(RowCases()),
                         [](const ::testing::TestParamInfo<RowCase> &info) {
                           return "Bpp" + std::to_string(info.param.depth) + "_" + std::to_string(info.param.width) +
                                  "x" + std::to_string(info.param.height);
                         });

}  // namespace
