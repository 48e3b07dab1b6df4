// The whole artwork path: artwork in, the smallest accepted BMP out, and one
// sentence for each kind of change made to the artwork's pixels; none when
// the BMP holds exactly the artwork.
#include <gtest/gtest.h>

#include "tests/picture_tools/artwork_files.h"
#include "tests/picture_tools/png_writer.h"
#include "tools/common/artwork_conversion.h"
#include "tools/common/driver_decode.h"

namespace {

using picture_tools::ArtworkConversion;
using picture_tools::Rgba;

std::vector<uint32_t> Decoded(const ArtworkConversion &conversion) {
  const auto decoded = picture_tools::DecodeWithDriver(conversion.Bmp.Bytes);
  std::vector<uint32_t> pixels;
  if (!decoded) return pixels;
  for (const auto &pixel : decoded->Pixels) pixels.push_back(picture_tools::RgbOf(pixel));
  return pixels;
}

TEST(ConvertArtwork, OpaqueEightBitArtworkIsKeptExactlyAndNothingIsSaid) {
  const std::vector<Rgba> pixels = {{255, 0, 0, 255}, {0, 0, 255, 255}, {255, 0, 0, 255}, {1, 2, 3, 255}};
  const ArtworkConversion conversion = picture_tools::ConvertArtwork(artwork_test::WritePng(2, 2, pixels));
  EXPECT_TRUE(conversion.Changes.empty());
  EXPECT_EQ(conversion.SourceColours, 3u);
  EXPECT_EQ(conversion.Bmp.BitsPerPixel, 4u);
  EXPECT_EQ(conversion.SourceKind, "PNG, 8-bit RGBA, 2x2");
  EXPECT_EQ(Decoded(conversion), (std::vector<uint32_t>{0xFF0000, 0x0000FF, 0xFF0000, 0x010203}));
  EXPECT_EQ(conversion.Pixels.Pixels, Decoded(conversion));
}

TEST(ConvertArtwork, EachChangeToThePixelsIsSaidWithItsCount) {
  struct ChangeCase {
    const char *name;
    std::vector<uint8_t> artwork;
    std::optional<unsigned> colours;
    std::vector<std::string> changes;
  };
  const std::vector<ChangeCase> cases = {
      {"transparency",
       artwork_test::WritePng(3, 3, {{9, 9, 9, 0}, {200, 100, 50, 128}, {200, 100, 50, 1}, {}, {}, {}, {}, {}, {}}),
       std::nullopt,
       {"3 of 9 pixels are not opaque (1 transparent, 2 partly): each is laid over black, as the cleared screen "
        "shows it"}},
      {"16-bit rounded",
       png_test::WritePng({.bit_depth = 16}, 2, 2, {0x0101, 0x0202, 0x0303, 0x0100, 0, 0, 0, 0, 0, 0xFFFF, 0, 1}),
       std::nullopt,
       {"16 bits per channel are rounded to 8: 2 of 4 pixels lose precision (the BMP holds 8 bits per channel)"}},
      {"16-bit widened from 8",
       png_test::WritePng({.bit_depth = 16}, 1, 2, {0x0101, 0x0202, 0xFFFF, 0, 0, 0}),
       std::nullopt,
       {}},
      {"16-bit grey and alpha, both",
       png_test::WritePng({.colour_type = PNG_COLOR_TYPE_GRAY_ALPHA, .bit_depth = 16}, 2, 1, {0x1234, 0xFFFF, 0, 0}),
       std::nullopt,
       {"16 bits per channel are rounded to 8: 1 of 2 pixels lose precision (the BMP holds 8 bits per channel)",
        "1 of 2 pixels are not opaque (1 transparent, 0 partly): each is laid over black, as the cleared screen "
        "shows it"}},
      {"reduced",
       artwork_test::WritePng(4, 1, {{0, 0, 0, 255}, {0, 0, 9, 255}, {255, 255, 255, 255}, {250, 255, 255, 255}}),
       2u,
       {"--colours: 4 colours reduced to 2 colours (median cut): 4 of 4 pixels changed"}},
      {"few enough colours already", artwork_test::WritePng(2, 1, {{0, 0, 0, 255}, {0, 0, 9, 255}}), 16u, {}},
  };
  for (const ChangeCase &c : cases) {
    SCOPED_TRACE(c.name);
    const ArtworkConversion conversion = picture_tools::ConvertArtwork(c.artwork, c.colours);
    EXPECT_EQ(conversion.Changes, c.changes);
    EXPECT_EQ(conversion.Pixels.Pixels, Decoded(conversion));
  }
}

TEST(ConvertArtwork, UnreadableArtworkAndBadColourCountsAreRefused) {
  const std::vector<uint8_t> png = artwork_test::WritePng(1, 1, {{1, 2, 3, 255}});
  EXPECT_THROW(picture_tools::ConvertArtwork(std::vector<uint8_t>{'G', 'I', 'F', '8'}), picture_tools::ArtworkError);
  EXPECT_THROW(picture_tools::ConvertArtwork(png, 1u), picture_tools::ArtworkError);
  EXPECT_THROW(picture_tools::ConvertArtwork(png, 257u), picture_tools::ArtworkError);
}

TEST(ColourCount, OneIsSingular) {
  EXPECT_EQ(picture_tools::ColourCount(1), "1 colour");
  EXPECT_EQ(picture_tools::ColourCount(0), "0 colours");
  EXPECT_EQ(picture_tools::ColourCount(1234), "1,234 colours");
}

}  // namespace
