// The smallest BMP the driver accepts that holds a picture exactly: 1 bit
// per pixel for up to two colours, 4 for up to 16, 8 for up to 256, else 24;
// the 40-byte header, the full colour map, rows bottom-up.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/common/artwork_read.h"

namespace picture_tools {

// Colours as 0xRRGGBB, top row first.
struct FlatPicture {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<uint32_t> Pixels;
};

// Pixels that were not opaque: wholly transparent (alpha 0) and partly.
struct TransparencyCount {
  uint64_t Transparent = 0;
  uint64_t Translucent = 0;
  uint64_t Total() const { return Transparent + Translucent; }
};

// Each pixel over a black background (the screen is cleared to black).
// Fills *transparency, when given, with the pixels that were not opaque.
FlatPicture CompositeOverBlack(const Artwork &art, TransparencyCount *transparency);

// The distinct colours, in order of first use.
std::vector<uint32_t> DistinctColours(const FlatPicture &picture);

struct EncodedBmp {
  std::vector<uint8_t> Bytes;
  unsigned BitsPerPixel = 0;
  size_t Colours = 0;  // distinct colours in the picture
};

EncodedBmp EncodeSmallestBmp(const FlatPicture &picture);

}  // namespace picture_tools
