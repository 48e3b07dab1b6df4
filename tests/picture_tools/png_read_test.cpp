// PNG artwork through the reader: every colour type, depth and interlacing
// gives the pixels its samples mean; a picture larger than the largest screen,
// a chunk claiming gigabytes and a file cut anywhere are refused with a reason
// before anything large is allocated.
#include <gtest/gtest.h>

#include <string>

#include "tests/picture_tools/png_writer.h"
#include "tools/common/artwork_read.h"

namespace {

using picture_tools::Artwork;
using picture_tools::ArtworkError;
using picture_tools::Rgba;

struct PngCase {
  const char *name;
  png_test::PngSpec spec;
  uint32_t width;
  uint32_t height;
  std::vector<uint16_t> samples;
  std::vector<Rgba> expected;
  uint64_t precision_lost = 0;
};

std::vector<Rgba> Repeat(const std::vector<Rgba> &row, size_t times) {
  std::vector<Rgba> out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), row.begin(), row.end());
  return out;
}

const png_color kPalette[] = {{10, 20, 30}, {200, 100, 0}, {0, 255, 7}};

std::vector<PngCase> Cases() {
  std::vector<PngCase> cases;
  cases.push_back({"grey_1bit",
                   {.colour_type = PNG_COLOR_TYPE_GRAY, .bit_depth = 1},
                   3,
                   1,
                   {0, 1, 0},
                   {{0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}}});
  cases.push_back({"grey_2bit",
                   {.colour_type = PNG_COLOR_TYPE_GRAY, .bit_depth = 2},
                   4,
                   1,
                   {0, 1, 2, 3},
                   {{0, 0, 0, 255}, {85, 85, 85, 255}, {170, 170, 170, 255}, {255, 255, 255, 255}}});
  cases.push_back({"grey_4bit",
                   {.colour_type = PNG_COLOR_TYPE_GRAY, .bit_depth = 4},
                   2,
                   1,
                   {1, 15},
                   {{17, 17, 17, 255}, {255, 255, 255, 255}}});
  cases.push_back({"grey_8bit_transparent_colour",
                   {.colour_type = PNG_COLOR_TYPE_GRAY, .trans_colour = true, .transparent = {0, 0, 0, 0, 9}},
                   2,
                   1,
                   {9, 10},
                   {{9, 9, 9, 0}, {10, 10, 10, 255}}});
  cases.push_back({"grey_alpha_8bit",
                   {.colour_type = PNG_COLOR_TYPE_GRAY_ALPHA},
                   2,
                   1,
                   {50, 128, 60, 255},
                   {{50, 50, 50, 128}, {60, 60, 60, 255}}});
  cases.push_back({"palette_4bit_transparency",
                   {.colour_type = PNG_COLOR_TYPE_PALETTE,
                    .bit_depth = 4,
                    .palette = {kPalette[0], kPalette[1], kPalette[2]},
                    .trans_alpha = {0, 77}},
                   3,
                   1,
                   {2, 1, 0},
                   {{0, 255, 7, 255}, {200, 100, 0, 77}, {10, 20, 30, 0}}});
  cases.push_back({"rgb_16bit_widened_8bit_values",
                   {.bit_depth = 16},
                   2,
                   1,
                   {0x1212, 0xFFFF, 0, 0x8080, 0x0101, 0xFEFE},
                   {{0x12, 0xFF, 0, 255}, {0x80, 1, 0xFE, 255}}});
  cases.push_back({"rgba_16bit_rounded",
                   {.colour_type = PNG_COLOR_TYPE_RGB_ALPHA, .bit_depth = 16},
                   3,
                   1,
                   {0x1234, 0, 0xFFFF, 0xFFFF, 0x0101, 0x0202, 0x0303, 0x8000, 0x00FF, 0, 0, 0xFFFF},
                   {{0x12, 0, 255, 255}, {1, 2, 3, 0x80}, {1, 0, 0, 255}},
                   3});
  // Adam7 spreads these 9x9 pixels over all seven passes.
  std::vector<uint16_t> rgb;
  std::vector<Rgba> colours;
  for (uint16_t i = 0; i < 81; ++i) {
    rgb.insert(rgb.end(), {static_cast<uint16_t>(i * 3), static_cast<uint16_t>(255 - i), 7});
    colours.push_back({static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), 7, 255});
  }
  cases.push_back({"rgb_8bit_interlaced", {.interlaced = true}, 9, 9, rgb, colours});
  cases.push_back(
      {"palette_1bit_interlaced",
       {.colour_type = PNG_COLOR_TYPE_PALETTE,
        .bit_depth = 1,
        .interlaced = true,
        .palette = {kPalette[0], kPalette[1]}},
       5,
       2,
       {1, 0, 1, 0, 1, 1, 0, 1, 0, 1},
       Repeat({{200, 100, 0, 255}, {10, 20, 30, 255}, {200, 100, 0, 255}, {10, 20, 30, 255}, {200, 100, 0, 255}}, 2)});
  return cases;
}

TEST(PngArtwork, EveryColourTypeDepthAndInterlacingGivesItsPixels) {
  for (const PngCase &c : Cases()) {
    SCOPED_TRACE(c.name);
    const Artwork art = picture_tools::ReadArtwork(png_test::WritePng(c.spec, c.width, c.height, c.samples));
    EXPECT_EQ(art.Width, c.width);
    EXPECT_EQ(art.Height, c.height);
    EXPECT_EQ(art.Pixels, c.expected);
    EXPECT_EQ(art.PrecisionLostPixels, c.precision_lost);
    EXPECT_EQ(art.BitsPerChannel, c.spec.bit_depth == 16 ? 16u : 8u);
  }
}

TEST(PngArtwork, KindNamesDepthColourTypeTransparencyAndInterlacing) {
  const png_test::PngSpec palette{.colour_type = PNG_COLOR_TYPE_PALETTE,
                                  .bit_depth = 2,
                                  .interlaced = true,
                                  .palette = {kPalette[0]},
                                  .trans_alpha = {0}};
  EXPECT_EQ(picture_tools::ReadArtwork(png_test::WritePng(palette, 1, 1, {0})).Kind,
            "PNG, 2-bit palette with transparency, interlaced");
  EXPECT_EQ(picture_tools::ReadArtwork(png_test::WritePng({.bit_depth = 16}, 1, 1, {1, 2, 3})).Kind, "PNG, 16-bit RGB");
}

using png_test::Chunk;
using png_test::Ihdr;
using png_test::Join;

std::string RefusalOf(const std::vector<uint8_t> &png) {
  try {
    picture_tools::ReadArtwork(png);
  } catch (const ArtworkError &error) {
    return error.what();
  }
  return "accepted";
}

TEST(PngArtwork, LargerThanTheLargestScreenIsRefusedFromItsHeaderAlone) {
  // No pixel data at all: the refusal must come from IHDR, before any allocation.
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {Join({Ihdr(3841, 1)}),
       "a PNG of 3,841 x 1 pixels is larger than 3840x2160, the largest screen these tools know"},
      {Join({Ihdr(1, 2161)}), "a PNG of 1 x 2,161 pixels is larger than 3840x2160"},
      {Join({Ihdr(16384, 16384, 1, 0)}), "a PNG of 16,384 x 16,384 pixels is larger than 3840x2160"},
      {Join({Ihdr(0x7FFFFFFF, 0x7FFFFFFF)}), "a PNG of 2,147,483,647 x 2,147,483,647 pixels is larger"},
  };
  for (const auto &[png, expected] : cases) {
    EXPECT_EQ(RefusalOf(png).find(expected), 0u) << RefusalOf(png);
  }
  // The largest screen itself is read.
  const std::vector<uint16_t> row(3840 * 3, 9);
  EXPECT_EQ(picture_tools::ReadArtwork(png_test::WritePng({}, 3840, 1, row)).Width, 3840u);
}

TEST(PngArtwork, ChunksItDoesNotUseAreSkippedUnreadWhateverTheyClaim) {
  const std::vector<uint8_t> picture = png_test::WritePng({}, 1, 1, {1, 2, 3});
  const std::vector<uint8_t> ihdr(picture.begin() + 8, picture.begin() + 33);
  const std::vector<uint8_t> rest(picture.begin() + 33, picture.end());  // IDAT and IEND
  // A text chunk claiming 2 GiB in a 61-byte file, and 2 MiB of real text.
  EXPECT_EQ(RefusalOf(Join({ihdr, Chunk("tEXt", std::vector<uint8_t>(20, 'a'), 0x7FFFFFFF)})),
            "unreadable PNG: the file ends inside a chunk: it is cut short");
  std::vector<uint8_t> text = {'k', 0};
  text.resize(2 << 20, 'x');
  const Artwork art = picture_tools::ReadArtwork(Join({ihdr, Chunk("tEXt", text), Chunk("zTXt", text), rest}));
  EXPECT_EQ(art.Pixels, (std::vector<Rgba>{{1, 2, 3, 255}}));
}

TEST(PngArtwork, AFileCutAnywhereIsRefused) {
  const std::vector<uint8_t> whole = png_test::WritePng({.interlaced = true}, 7, 5, std::vector<uint16_t>(105, 200));
  for (size_t size = 8; size < whole.size() - 12; ++size) {  // the last 12 bytes are IEND, which is not read
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size));
    EXPECT_NE(RefusalOf(cut), "accepted") << size;
  }
  EXPECT_EQ(RefusalOf(whole), "accepted");
}

}  // namespace
