#include "tools/common/colour_reduction.h"

#include <gd.h>

#include <memory>

namespace picture_tools {
namespace {

struct GdImageDeleter {
  void operator()(gdImagePtr image) const { gdImageDestroy(image); }
};

}  // namespace

FlatPicture ReduceColours(const FlatPicture &picture, unsigned colours) {
  if (colours < kMinReducedColours || colours > kMaxReducedColours) {
    throw ArtworkError("--colours wants 2 to 256 colours, not " + std::to_string(colours));
  }
  if (DistinctColours(picture).size() <= colours) return picture;
  std::unique_ptr<gdImage, GdImageDeleter> image(
      gdImageCreateTrueColor(static_cast<int>(picture.Width), static_cast<int>(picture.Height)));
  if (!image) throw ArtworkError("libgd cannot hold a picture this large");
  for (uint32_t y = 0; y < picture.Height; ++y) {
    for (uint32_t x = 0; x < picture.Width; ++x) {
      const uint32_t c = picture.Pixels[static_cast<size_t>(y) * picture.Width + x];
      gdImageSetPixel(image.get(), static_cast<int>(x), static_cast<int>(y),
                      gdTrueColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
    }
  }
  if (!gdImageTrueColorToPaletteSetMethod(image.get(), GD_QUANT_JQUANT, 0) ||
      !gdImageTrueColorToPalette(image.get(), 0, static_cast<int>(colours))) {
    throw ArtworkError("libgd could not reduce the colours");
  }
  FlatPicture reduced{picture.Width, picture.Height, {}};
  reduced.Pixels.reserve(picture.Pixels.size());
  for (uint32_t y = 0; y < picture.Height; ++y) {
    for (uint32_t x = 0; x < picture.Width; ++x) {
      const int index = gdImagePalettePixel(image.get(), static_cast<int>(x), static_cast<int>(y));
      reduced.Pixels.push_back(static_cast<uint32_t>(gdImageRed(image.get(), index)) << 16 |
                               static_cast<uint32_t>(gdImageGreen(image.get(), index)) << 8 |
                               static_cast<uint32_t>(gdImageBlue(image.get(), index)));
    }
  }
  return reduced;
}

}  // namespace picture_tools
