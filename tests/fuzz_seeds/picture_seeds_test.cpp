// The generated picture seeds reach the paths their names promise: the
// decoder's own checks accept or refuse each one for the stated reason, and
// the screen-size seeds sit on the placement's edges.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "display/bmp_check.h"
#include "display/notice_placement.h"
#include "tools/fuzz-seeds/picture_seeds.h"

namespace {

using fuzz_seeds::PictureSeeds;
using fuzz_seeds::Seed;

struct Expected {
  BmpFault fault;
  uint32_t width;
  uint32_t height;
  uint16_t depth;
};

std::map<std::string, Expected> ExpectedOutcomes() {
  std::map<std::string, Expected> expected = {
      {"bpp16.bmp", {BmpFault::UnsupportedDepth, 2, 2, 16}},
      {"bpp32.bmp", {BmpFault::UnsupportedDepth, 2, 2, 32}},
      // With no gap after the header the colour map is read from the pixel data.
      {"bpp1_map_overlaps_pixels.bmp", {BmpFault::None, 9, 2, 1}},
      {"bpp8_map_overlaps_pixels.bmp", {BmpFault::None, 4, 4, 8}},
      {"gap_before_pixels.bmp", {BmpFault::None, 2, 2, 24}},
      {"empty.bmp", {BmpFault::None, 0, 0, 24}},
      {"width0_tall.bmp", {BmpFault::None, 0, 100000, 24}},
      {"rowbits_wrap.bmp", {BmpFault::RowTooWide, 0x0AAAAAAB, 1, 24}},
      {"rows_wrap.bmp", {BmpFault::PixelDataTooLarge, 4, 0x40000001, 8}},
      {"fits_exactly.bmp", {BmpFault::None, 1004, 1, 24}},
      {"too_wide.bmp", {BmpFault::None, 1005, 1, 24}},
      {"taller_than_screen.bmp", {BmpFault::None, 1, 769, 24}},
  };
  for (uint16_t depth : {1, 4, 8, 24}) {
    for (uint32_t width : {1u, 3u, 7u, 10u, 33u}) {
      expected["bpp" + std::to_string(depth) + "_w" + std::to_string(width) + ".bmp"] = {BmpFault::None, width, 3,
                                                                                         depth};
    }
  }
  return expected;
}

TEST(PictureSeeds, EachSeedMeetsTheDecoderAsItsNameSays) {
  const std::map<std::string, Expected> expected = ExpectedOutcomes();
  const std::vector<Seed> seeds = PictureSeeds();
  std::set<std::string> seen;
  for (const Seed &seed : seeds) {
    SCOPED_TRACE(seed.name);
    EXPECT_TRUE(seen.insert(seed.name).second) << "two seeds share a name";
    const auto it = expected.find(seed.name);
    ASSERT_NE(it, expected.end()) << "a seed without an expected outcome";
    BmpLayout layout{};
    EXPECT_EQ(CheckBmp(seed.bytes.data(), seed.bytes.size(), &layout), it->second.fault);
    EXPECT_EQ(layout.Width, it->second.width);
    EXPECT_EQ(layout.Height, it->second.height);
    EXPECT_EQ(layout.BitsPerPixel, it->second.depth);
  }
  EXPECT_EQ(seen.size(), expected.size()) << "an expected seed is not generated";
}

TEST(PictureSeeds, ScreenSizeSeedsSitOnThePlacementEdges) {
  constexpr UINT32 kScreenWidth = 1024;
  constexpr UINT32 kScreenHeight = 768;
  std::map<std::string, NoticePlacement> placements;
  for (const Seed &seed : PictureSeeds()) {
    BmpLayout layout{};
    if (CheckBmp(seed.bytes.data(), seed.bytes.size(), &layout) != BmpFault::None) continue;
    placements[seed.name] = PlaceNotice(kScreenWidth, kScreenHeight, layout.Width, layout.Height);
  }
  ASSERT_EQ(placements.count("fits_exactly.bmp"), 1u);
  ASSERT_EQ(placements.count("too_wide.bmp"), 1u);
  ASSERT_EQ(placements.count("taller_than_screen.bmp"), 1u);
  EXPECT_TRUE(placements["fits_exactly.bmp"].Fits);
  EXPECT_EQ(placements["fits_exactly.bmp"].X, 0u);
  EXPECT_FALSE(placements["too_wide.bmp"].Fits);
  // Taller pictures pass the width test and land below the screen's last row.
  EXPECT_TRUE(placements["taller_than_screen.bmp"].Fits);
  EXPECT_GE(placements["taller_than_screen.bmp"].Y, kScreenHeight);
}

TEST(PictureSeeds, TheSameBytesEveryTime) {
  const std::vector<Seed> first = PictureSeeds();
  const std::vector<Seed> second = PictureSeeds();
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].name, second[i].name);
    EXPECT_EQ(first[i].bytes, second[i].bytes) << first[i].name;
  }
}

}  // namespace
