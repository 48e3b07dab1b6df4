// Artwork as an image editor saves it, read into plain pixels: PNG (any
// colour type and depth, interlaced or not, through libpng) and BMP in the
// variants editors write (12- to 124-byte headers, 1 to 32 bits, colour
// masks, top-down rows, colour maps of any length). RLE-compressed BMPs are
// not read. Pictures larger than the largest screen the tools know, and files
// larger than kMaxInputFileBytes, are refused (tools/common/input_limits.h).
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace picture_tools {

struct Rgba {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;
  uint8_t A = 255;
  bool operator==(const Rgba &) const = default;
};
static_assert(sizeof(Rgba) == 4);

struct Artwork {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<Rgba> Pixels;          // top row first
  std::string Kind;                  // "PNG, 8-bit RGBA" or "BMP, 124-byte header, 32-bit, top-down", for messages
  unsigned BitsPerChannel = 8;       // 16 for a 16-bit PNG, whose channels are rounded to 8 bits
  uint64_t PrecisionLostPixels = 0;  // pixels whose 16-bit channels are not 8-bit values widened
};

// The artwork cannot be read; the message says why, in one sentence.
class ArtworkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The one wording for an empty file, whichever tool and option read it.
inline constexpr const char *kEmptyFileReason = "the file is empty (0 bytes): not a picture";

// Throws ArtworkError saying what is wrong with the file.
Artwork ReadArtwork(std::span<const uint8_t> bytes);

}  // namespace picture_tools
