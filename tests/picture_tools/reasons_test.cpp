// The driver's refusals and placements put into words: each input a user
// tried gets a specific reason naming the fault and what to do.
#include <gtest/gtest.h>

#include <set>

#include "tests/display/bmp_writer.h"
#include "tests/picture_tools/artwork_files.h"
#include "tools/common/bmp_reason.h"
#include "tools/common/placement_reason.h"

namespace {

using artwork_test::BmpVariant;
using artwork_test::WriteBmp;

std::vector<uint8_t> SolidBmp(const BmpVariant &variant, uint32_t width = 4, uint32_t height = 3) {
  return WriteBmp(variant, width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, 0x123456),
                  std::vector<picture_tools::Rgba>(256));
}

std::vector<uint8_t> WithSizeField(std::vector<uint8_t> bytes, size_t stored, uint32_t field) {
  bytes.resize(stored, 0);
  bmptest::PutLe32(bytes, bmptest::kFileSizeField, field);
  return bytes;
}

std::vector<uint8_t> Prefix(const std::vector<uint8_t> &bytes, size_t length) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

struct ReasonCase {
  const char *name;
  std::vector<uint8_t> bytes;
  std::string reason;
};

class EachRefusal : public testing::TestWithParam<ReasonCase> {};

TEST_P(EachRefusal, IsNamedWithWhatToDo) {
  const std::optional<std::string> reason = picture_tools::BmpRefusal(GetParam().bytes);
  ASSERT_TRUE(reason.has_value());
  EXPECT_EQ(reason->substr(0, GetParam().reason.size()), GetParam().reason) << *reason;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, EachRefusal,
    testing::Values(
        ReasonCase{"png", artwork_test::WritePng(2, 2, std::vector<picture_tools::Rgba>(4)),
                   "this is a PNG file, not a BMP: notice-pack convert writes an accepted BMP from it"},
        ReasonCase{"bmp_32_bit", SolidBmp({.bits = 32}),
                   "32-bit pictures are not accepted: only 1, 4, 8 or 24 bits per pixel; notice-pack convert"},
        ReasonCase{"header_124", SolidBmp({.info_size = 124}),
                   "BMP header of 124 bytes is not accepted: only the 40-byte header"},
        ReasonCase{"masks_32_bit_header_124", SolidBmp({.info_size = 124, .bits = 32, .compression = 3}),
                   "BMP with colour masks (BITFIELDS) (a 32-bit picture with a 124-byte header) is not accepted"},
        ReasonCase{"top_down", SolidBmp({.top_down = true}),
                   "top-down BMP (negative height) is not accepted: store rows bottom-up"},
        ReasonCase{"short_colour_map", SolidBmp({.bits = 8, .map_entries = 16}),
                   "8-bit pictures need the full 1,024-byte colour map between byte 54 and the pixel data; this one "
                   "has 64 bytes; write all 256 entries"},
        ReasonCase{"rle8", SolidBmp({.bits = 8, .compression = 1}), "compressed BMP (RLE8, compression 1)"},
        ReasonCase{"size_field", WithSizeField(SolidBmp({}), 1240, 1234),
                   "file size field 1,234 differs from the 1,240 bytes stored: write the file's length"},
        ReasonCase{"cut_after_header", Prefix(SolidBmp({}), 54),
                   "file size field 90 differs from the 54 bytes stored: the file is cut short"},
        ReasonCase{"empty", {}, "the file is empty (0 bytes): not a picture"},
        ReasonCase{"header_short", Prefix(SolidBmp({}), 20), "only 20 bytes: a BMP needs at least its 54-byte header"},
        ReasonCase{"text", std::vector<uint8_t>(60, 'a'), "the file does not start with \"BM\" (it starts 0x61 0x61)"},
        ReasonCase{"pixel_data_short", WithSizeField(SolidBmp({}), 80, 80),
                   "the pixel data from byte 54 to the end holds 26 bytes, but 3 rows of 12 bytes take 36"}),
    [](const testing::TestParamInfo<ReasonCase> &info) { return std::string(info.param.name); });

TEST(Reasons, EveryCheckHasItsOwnReason) {
  BmpLayout layout{};
  layout.FileSize = 2000;
  layout.PixelOffset = 60;
  layout.InfoHeaderSize = 40;
  layout.Width = 10;
  layout.Height = 10;
  layout.BitsPerPixel = 8;
  layout.RowSize = 12;
  layout.ColourMapEntries = 256;
  const std::vector<uint8_t> bytes(100, 'B');
  std::set<std::string> seen;
  for (int f = static_cast<int>(BmpFault::TooSmall); f <= static_cast<int>(BmpFault::UnsupportedDepth); ++f) {
    const std::string reason = picture_tools::BmpFaultReason(static_cast<BmpFault>(f), layout, bytes);
    EXPECT_TRUE(seen.insert(reason).second) << "fault " << f << " repeats: " << reason;
  }
}

TEST(Reasons, AcceptedPicturesHaveNone) {
  EXPECT_FALSE(picture_tools::BmpRefusal(SolidBmp({})).has_value());
  EXPECT_FALSE(picture_tools::BmpRefusal(SolidBmp({.bits = 8})).has_value());
}

struct FitCase {
  uint32_t screen_width, screen_height, width, height;
  bool drawn;
  std::string reason;
};

TEST(ScreenFit, TooWideOrTooTallIsExplained) {
  const std::vector<FitCase> cases = {
      {1024, 768, 1100, 100, false,
       "1,100 pixels wide: needs a screen at least 1,120 wide; this screen is 1,024, so nothing is drawn and no line "
       "is printed; make it at most 1,004 wide"},
      {1120, 768, 1100, 100, true, ""},
      {1119, 768, 1100, 100, false, "1,100 pixels wide: needs a screen at least 1,120 wide; this screen is 1,119"},
      {800, 600, 640, 601, false, "601 pixels tall on a screen 600 high"},
      {800, 600, 640, 600, true, ""},
      {800, 600, 0xFFFFFFFF, 1, false, "4,294,967,295 pixels wide: needs a screen at least 4,294,967,315 wide"},
  };
  for (const FitCase &c : cases) {
    const picture_tools::ScreenFit fit = picture_tools::FitOnScreen(c.screen_width, c.screen_height, c.width, c.height);
    EXPECT_EQ(fit.Drawn, c.drawn) << c.width << "x" << c.height;
    EXPECT_EQ(fit.Reason.substr(0, c.reason.size()), c.reason);
  }
}

}  // namespace
