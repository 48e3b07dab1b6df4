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

// Each pixel over a black background (the screen is cleared to black).
// *hadTransparency tells whether any pixel was less than opaque.
FlatPicture CompositeOverBlack(const Artwork &art, bool *hadTransparency);

// The distinct colours, in order of first use.
std::vector<uint32_t> DistinctColours(const FlatPicture &picture);

struct EncodedBmp {
  std::vector<uint8_t> Bytes;
  unsigned BitsPerPixel = 0;
  size_t Colours = 0;  // distinct colours in the picture
};

EncodedBmp EncodeSmallestBmp(const FlatPicture &picture);

}  // namespace picture_tools
