// The two artwork readers behind ReadArtwork, each over a whole file's bytes.
// They throw ArtworkError saying what is wrong.
#pragma once

#include <span>

#include "tools/common/artwork_read.h"

namespace picture_tools {

// Any colour type and depth, interlaced or not, through libpng.
Artwork ReadPngArtwork(std::span<const uint8_t> bytes);

// BMPs with 12- to 124-byte headers, 1 to 32 bits, colour masks, either row order.
Artwork ReadBmpArtwork(std::span<const uint8_t> bytes);

// Refuses a picture with no pixels or one larger than the largest screen.
void CheckArtworkSize(uint64_t width, uint64_t height, const char *format);

}  // namespace picture_tools
