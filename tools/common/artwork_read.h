// Artwork as an image editor saves it, read into plain pixels: PNG (any
// colour type and depth, through libpng) and BMP in the variants editors
// write (12- to 124-byte headers, 1 to 32 bits, colour masks, top-down rows,
// colour maps of any length). RLE-compressed BMPs are not read.
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

struct Artwork {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<Rgba> Pixels;  // top row first
  std::string Kind;          // "PNG" or "BMP, 124-byte header, 32-bit, top-down", for messages
};

class ArtworkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Larger pictures are refused before their pixels are allocated.
inline constexpr uint64_t kMaxArtworkPixels = 1ull << 28;

// Throws ArtworkError saying what is wrong with the file.
Artwork ReadArtwork(std::span<const uint8_t> bytes);

}  // namespace picture_tools
