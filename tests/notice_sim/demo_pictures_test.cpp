// The demo pictures: what the driver's own decoder makes of them, and the
// properties a platform engineer relies on (distinct, all depths, fit the screen).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "bmp_encode.h"
#include "demo_pictures.h"
#include "display/bmp_decode.h"
#include "efi/efi.h"
#include "sim/platform.h"

namespace {

using demo::Rgb;

TEST(DemoPictures, DriverDecodesEachToTheComposedPixels) {
  for (unsigned mode = demo::kFirstDemoMode; mode <= demo::kLastDemoMode; ++mode) {
    sim::Platform platform;     // a fresh machine and driver for the decoder's pool
    platform.RunDriverEntry();  // the decoder allocates through the tables the entry keeps
    const demo::DemoPicture picture = demo::MakeDemoPicture(mode);
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = nullptr;
    UINT32 width = 0, height = 0;
    ASSERT_FALSE(
        EFI_ERROR(ConvertBmpToGopBltofTarvex(picture.bmp.data(), picture.bmp.size(), &pixels, &width, &height)))
        << "mode " << mode;
    ASSERT_EQ(width, picture.width);
    ASSERT_EQ(height, picture.height);
    size_t mismatches = 0;
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
      const Rgb &want = picture.pixels[i];
      if (pixels[i].Red != want.red || pixels[i].Green != want.green || pixels[i].Blue != want.blue) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u) << "mode " << mode;
    platform.boot_services()->FreePool(pixels);
  }
}

TEST(DemoPictures, CoverEveryDepthFitTheDefaultScreenAndDiffer) {
  std::set<unsigned> depths;
  std::set<std::string> captions;
  std::set<std::pair<unsigned, unsigned>> sizes;
  for (unsigned mode = demo::kFirstDemoMode; mode <= demo::kLastDemoMode; ++mode) {
    const demo::DemoPicture picture = demo::MakeDemoPicture(mode);
    depths.insert(picture.bits_per_pixel);
    captions.insert(picture.caption);
    sizes.insert({picture.width, picture.height});
    EXPECT_EQ(picture.bmp[28], picture.bits_per_pixel) << "mode " << mode;
    // Drawn only when 20 pixels narrower than the screen; the smallest
    // screen in use is 800 x 600.
    EXPECT_LE(picture.width + 20, 800u) << "mode " << mode;
    EXPECT_LE(picture.height, 600u) << "mode " << mode;
    EXPECT_EQ(demo::DemoPictureFileName(mode), "notice" + std::to_string(mode) + ".bmp");
  }
  EXPECT_EQ(depths, (std::set<unsigned>{1, 4, 8, 24}));
  // Each says something else and has its own size, so no two can be confused.
  EXPECT_EQ(captions.size(), 6u);
  EXPECT_EQ(sizes.size(), 6u);
  EXPECT_THROW(demo::MakeDemoPicture(0), std::out_of_range);
  EXPECT_THROW(demo::MakeDemoPicture(7), std::out_of_range);
}

TEST(BmpEncode, RowPaddingAndPaletteIndices) {
  // A 1-bit picture 10 pixels wide: rows of 4 bytes, bits 7..0 then 7..6.
  demo::Canvas canvas(10, 2, Rgb{0, 0, 0});
  canvas.Set(0, 0, Rgb{255, 255, 255});  // top row, first pixel
  canvas.Set(9, 1, Rgb{255, 255, 255});  // bottom row, last pixel
  auto bmp = demo::EncodeBmp(canvas, 1, {Rgb{0, 0, 0}, Rgb{255, 255, 255}});
  ASSERT_TRUE(bmp.has_value());
  ASSERT_EQ(bmp->size(), 54u + 8u + 2 * 4u);
  const uint8_t *bottom = bmp->data() + 62;  // the first file row is the bottom row
  EXPECT_EQ(bottom[0], 0x00);
  EXPECT_EQ(bottom[1], 0x40);  // pixel 9: bit 6 of the second byte
  const uint8_t *top = bottom + 4;
  EXPECT_EQ(top[0], 0x80);
  EXPECT_EQ(top[1], 0x00);

  // A colour outside the palette, an unsupported depth, a palette too big.
  EXPECT_FALSE(demo::EncodeBmp(canvas, 1, {Rgb{0, 0, 0}}).has_value());
  EXPECT_FALSE(demo::EncodeBmp(canvas, 16).has_value());
  EXPECT_FALSE(demo::EncodeBmp(canvas, 1, std::vector<Rgb>(3, Rgb{0, 0, 0})).has_value());

  // 24 bits, 3 pixels wide: 9 bytes of blue-green-red, 3 of padding.
  demo::Canvas wide(3, 1, Rgb{1, 2, 3});
  auto bmp24 = demo::EncodeBmp(wide, 24);
  ASSERT_TRUE(bmp24.has_value());
  ASSERT_EQ(bmp24->size(), 54u + 12u);
  EXPECT_EQ((*bmp24)[54], 3);
  EXPECT_EQ((*bmp24)[55], 2);
  EXPECT_EQ((*bmp24)[56], 1);
}

}  // namespace
