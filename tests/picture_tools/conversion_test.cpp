// Artwork in, the smallest accepted BMP out: the driver's own decoder must
// give back exactly the pixels read, at the depth the colour count allows.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/picture_tools/artwork_files.h"
#include "tools/common/colour_reduction.h"
#include "tools/common/driver_decode.h"
#include "tools/common/smallest_bmp.h"

namespace {

using picture_tools::FlatPicture;
using picture_tools::Rgba;

// `colours` distinct colours spread over the picture in a scrambled order.
FlatPicture Picture(uint32_t width, uint32_t height, uint32_t colours) {
  FlatPicture picture{width, height, {}};
  for (uint32_t i = 0; i < width * height; ++i) {
    const uint32_t index = i < colours ? i : (i * 2654435761u >> 7) % colours;
    picture.Pixels.push_back((index * 0x9E3779u) & 0xFFFFFF);
  }
  return picture;
}

struct DepthCase {
  uint32_t colours;
  unsigned bits;
};

TEST(SmallestBmp, DecodesThroughTheDriverToTheSamePixels) {
  const std::vector<DepthCase> depths = {{1, 1}, {2, 1}, {3, 4}, {16, 4}, {17, 8}, {256, 8}, {257, 24}, {600, 24}};
  const std::vector<std::pair<uint32_t, uint32_t>> sizes = {{1, 1}, {7, 3}, {9, 2}, {31, 5}, {33, 9}, {64, 20}};
  for (const DepthCase &depth : depths) {
    for (const auto &[width, height] : sizes) {
      if (width * height < depth.colours) continue;
      SCOPED_TRACE(testing::Message() << depth.colours << " colours, " << width << "x" << height);
      const FlatPicture picture = Picture(width, height, depth.colours);
      const picture_tools::EncodedBmp bmp = picture_tools::EncodeSmallestBmp(picture);
      EXPECT_EQ(bmp.BitsPerPixel, depth.bits);
      EXPECT_EQ(bmp.Colours, depth.colours);
      const auto decoded = picture_tools::DecodeWithDriver(bmp.Bytes);
      ASSERT_TRUE(decoded.has_value());
      ASSERT_EQ(decoded->Width, width);
      ASSERT_EQ(decoded->Height, height);
      for (size_t i = 0; i < picture.Pixels.size(); ++i) {
        ASSERT_EQ(picture_tools::RgbOf(decoded->Pixels[i]), picture.Pixels[i]) << "pixel " << i;
      }
    }
  }
}

TEST(ColourReduction, OnlyOnRequestAndToTheDepthAsked) {
  const FlatPicture rich = Picture(40, 30, 600);
  const std::vector<std::pair<unsigned, unsigned>> cases = {{2, 1}, {16, 4}, {200, 8}, {256, 8}};
  for (const auto &[colours, bits] : cases) {
    const FlatPicture reduced = picture_tools::ReduceColours(rich, colours);
    EXPECT_LE(picture_tools::DistinctColours(reduced).size(), colours);
    const picture_tools::EncodedBmp bmp = picture_tools::EncodeSmallestBmp(reduced);
    EXPECT_EQ(bmp.BitsPerPixel, bits) << colours;
    const auto decoded = picture_tools::DecodeWithDriver(bmp.Bytes);
    ASSERT_TRUE(decoded.has_value());
    for (size_t i = 0; i < reduced.Pixels.size(); ++i)
      ASSERT_EQ(picture_tools::RgbOf(decoded->Pixels[i]), reduced.Pixels[i]);
  }
  const FlatPicture few = Picture(9, 9, 5);
  EXPECT_EQ(picture_tools::ReduceColours(few, 16).Pixels, few.Pixels);
  EXPECT_THROW(picture_tools::ReduceColours(few, 1), picture_tools::ArtworkError);
  EXPECT_THROW(picture_tools::ReduceColours(few, 257), picture_tools::ArtworkError);
}

TEST(SmallestBmp, TransparencyIsLaidOverBlackAndCounted) {
  picture_tools::Artwork art{3, 1, {{200, 100, 50, 255}, {200, 100, 50, 128}, {9, 9, 9, 0}}, "PNG"};
  picture_tools::TransparencyCount count;
  const FlatPicture flat = picture_tools::CompositeOverBlack(art, &count);
  EXPECT_EQ(count.Transparent, 1u);
  EXPECT_EQ(count.Translucent, 1u);
  EXPECT_EQ(flat.Pixels, (std::vector<uint32_t>{0xC86432, 0x643219, 0}));
  art.Pixels[1].A = 255;
  art.Pixels[2].A = 255;
  picture_tools::CompositeOverBlack(art, &count);
  EXPECT_EQ(count.Total(), 0u);
}

TEST(SmallestBmp, DistinctColoursInOrderOfFirstUseAtEverySize) {
  // Small pictures and large ones (past the hash set's range) give the same answer.
  for (const uint32_t side : {16u, 300u}) {
    FlatPicture picture{side, side, {}};
    for (uint32_t i = 0; i < side * side; ++i) picture.Pixels.push_back(((i * 7) % 300) * 0x010101u + (i % 3));
    std::vector<uint32_t> expected;
    for (uint32_t c : picture.Pixels) {
      if (std::find(expected.begin(), expected.end(), c) == expected.end()) expected.push_back(c);
    }
    EXPECT_EQ(picture_tools::DistinctColours(picture), expected) << side;
  }
}

// The same 5x3 picture (4 colours) in every variant an editor may write.
struct VariantCase {
  const char *name;
  artwork_test::BmpVariant variant;
};

class EachArtworkVariant : public testing::TestWithParam<VariantCase> {};

TEST_P(EachArtworkVariant, ReadsToTheSamePixels) {
  const std::vector<Rgba> palette = {{0, 0, 0, 255}, {255, 255, 255, 255}, {255, 0, 0, 255}, {0, 0, 255, 255}};
  const uint32_t width = 5, height = 3;
  std::vector<uint32_t> indexes;
  std::vector<Rgba> expected;
  for (uint32_t i = 0; i < width * height; ++i) {
    indexes.push_back((i * 7 + i / 5) % 4);
    expected.push_back(palette[indexes.back()]);
  }
  const artwork_test::BmpVariant &v = GetParam().variant;
  std::vector<uint32_t> values = indexes;
  if (v.bits > 8) {
    for (size_t i = 0; i < values.size(); ++i) {
      const Rgba &c = expected[i];
      values[i] = v.bits == 16 ? (c.R >> 3) << 10 | (c.G >> 3) << 5 | c.B >> 3
                               : static_cast<uint32_t>(c.R) << 16 | c.G << 8 | c.B | (v.bits == 32 ? 0xFF000000u : 0);
    }
  }
  const picture_tools::Artwork art =
      picture_tools::ReadArtwork(artwork_test::WriteBmp(v, width, height, values, palette));
  EXPECT_EQ(art.Width, width);
  EXPECT_EQ(art.Height, height);
  EXPECT_EQ(art.Pixels, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bmp, EachArtworkVariant,
    testing::Values(VariantCase{"plain_24", {}}, VariantCase{"top_down_24", {.top_down = true}},
                    VariantCase{"rgb_32", {.bits = 32}},
                    VariantCase{"header_124_masks_32", {.info_size = 124, .bits = 32, .compression = 3}},
                    VariantCase{"header_108_masks_32_top_down",
                                {.info_size = 108, .bits = 32, .compression = 3, .top_down = true}},
                    VariantCase{"rgb555_16", {.bits = 16}}, VariantCase{"short_map_8", {.bits = 8, .map_entries = 16}},
                    VariantCase{"four_entry_map_4", {.bits = 4, .map_entries = 4}},
                    VariantCase{"core_header_8", {.info_size = 12, .bits = 8}}),
    [](const testing::TestParamInfo<VariantCase> &info) { return std::string(info.param.name); });

TEST(ArtworkRead, PngWithAlphaKeepsItForCompositing) {
  const std::vector<Rgba> pixels = {{1, 2, 3, 255}, {4, 5, 6, 0}, {7, 8, 9, 128}};
  const picture_tools::Artwork art = picture_tools::ReadArtwork(artwork_test::WritePng(3, 1, pixels));
  EXPECT_EQ(art.Kind, "PNG, 8-bit RGBA");
  EXPECT_EQ(art.Pixels, pixels);
}

TEST(ArtworkRead, RefusesWhatItCannotRead) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {},
      {'G', 'I', 'F', '8', '9', 'a'},
      artwork_test::WriteBmp({.bits = 8, .compression = 1}, 2, 2, {0, 0, 0, 0}),
      std::vector<uint8_t>(artwork_test::WriteBmp({}, 2, 2, {0, 0, 0, 0}).size() - 1, 'B'),
  };
  for (const auto &input : inputs) {
    EXPECT_THROW(picture_tools::ReadArtwork(input), picture_tools::ArtworkError) << input.size();
  }
}

std::string RefusalOf(const std::vector<uint8_t> &bytes) {
  try {
    picture_tools::ReadArtwork(bytes);
  } catch (const picture_tools::ArtworkError &error) {
    return error.what();
  }
  return "accepted";
}

TEST(ArtworkRead, PixelDataInsideTheHeadersIsRefused) {
  // The 40-byte header ends at byte 54; with colour masks after it, at 66; the 12-byte one at 26.
  struct OffsetCase {
    artwork_test::BmpVariant variant;
    uint32_t offset;
    const char *expected;
  };
  const std::vector<OffsetCase> cases = {
      {{}, 0, "the BMP's pixel data offset 0 points inside its headers, which end at byte 54"},
      {{}, 13, "the BMP's pixel data offset 13 points inside its headers, which end at byte 54"},
      {{}, 53, "the BMP's pixel data offset 53 points inside its headers, which end at byte 54"},
      {{.bits = 32, .compression = 3},
       60,
       "the BMP's pixel data offset 60 points inside its headers, which end at byte 66"},
      {{.info_size = 12, .bits = 8},
       20,
       "the BMP's pixel data offset 20 points inside its headers, which end at byte 26"},
  };
  for (const OffsetCase &c : cases) {
    std::vector<uint8_t> bmp = artwork_test::WriteBmp(c.variant, 2, 2, {0, 0, 0, 0});
    artwork_test::Put(bmp, 10, c.offset, 4);
    EXPECT_EQ(RefusalOf(bmp).find(c.expected), 0u) << RefusalOf(bmp);
  }
  EXPECT_EQ(RefusalOf(artwork_test::WriteBmp({}, 2, 2, {0, 0, 0, 0})), "accepted");
}

TEST(ArtworkRead, LargerThanTheLargestScreenOrEmptyIsRefused) {
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {artwork_test::WriteBmp({.bits = 1}, 3841, 1, std::vector<uint32_t>(3841)),
       "a BMP of 3,841 x 1 pixels is larger than 3840x2160, the largest screen these tools know"},
      {artwork_test::WriteBmp({.bits = 1, .top_down = true}, 1, 2161, std::vector<uint32_t>(2161)),
       "a BMP of 1 x 2,161 pixels is larger than 3840x2160"},
      {artwork_test::WriteBmp({}, 0, 5, {}), "the BMP has no pixels (0 x 5)"},
      {{}, "the file is empty (0 bytes): not a picture"},
  };
  for (const auto &[bytes, expected] : cases) EXPECT_EQ(RefusalOf(bytes).find(expected), 0u) << RefusalOf(bytes);
}

TEST(ArtworkRead, ColourMapIndexBeyondTheMapIsRefused) {
  const std::vector<uint8_t> bmp =
      artwork_test::WriteBmp({.bits = 8, .map_entries = 2}, 2, 1, {0, 5}, std::vector<Rgba>(2));
  EXPECT_THROW(picture_tools::ReadArtwork(bmp), picture_tools::ArtworkError);
}

}  // namespace
