// Where a picture lands: centred less 10 pixels, drawn only with 20 pixels to spare.
#include <gtest/gtest.h>

#include <ostream>

#include "display/notice_placement.h"

namespace {

struct PlacementCase {
  const char *name;
  UINT32 screen_width, screen_height, width, height;
  bool fits;
  UINTN x, y;
};

void PrintTo(const PlacementCase &c, std::ostream *out) { *out << c.name; }

class PlacementTest : public testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementTest, Lands) {
  const PlacementCase &c = GetParam();
  const NoticePlacement place = PlaceNotice(c.screen_width, c.screen_height, c.width, c.height);
  EXPECT_EQ(place.Fits, c.fits);
  if (!c.fits) return;
  EXPECT_EQ(place.X, c.x);
  EXPECT_EQ(place.Y, c.y);
}

INSTANTIATE_TEST_SUITE_P(Screens, PlacementTest,
                         testing::Values(PlacementCase{"Centred", 1024, 768, 400, 300, true, 302, 234},
                                         PlacementCase{"TwentyNarrowerAtZero", 1024, 768, 1004, 10, true, 0, 379},
                                         PlacementCase{"NineteenNarrowerNotDrawn", 1024, 768, 1005, 10, false, 0, 0},
                                         PlacementCase{"WiderNotDrawn", 800, 600, 900, 10, false, 0, 0},
                                         PlacementCase{"WidthNearLimitDoesNotWrap", 800, 600, 0xFFFFFFF0u, 1, false, 0,
                                                       0},
                                         // Taller than the screen: y wraps in 32 bits, far below the screen.
                                         PlacementCase{"TallerWrapsBelow", 800, 600, 100, 602, true, 340, 0x7FFFFFFF},
                                         PlacementCase{"OddRemainderRoundsDown", 801, 601, 100, 100, true, 340, 250}),
                         [](const testing::TestParamInfo<PlacementCase> &info) { return info.param.name; });

}  // namespace
