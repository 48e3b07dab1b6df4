// Artwork in, the smallest BMP the driver accepts out (notice-pack convert,
// and the fuzz target over the same path): read, laid over black, reduced in
// colours only when asked, encoded, and decoded again with the driver's own
// code, which must give back exactly the pixels encoded. Every change made to
// the artwork's pixels on the way is said in one sentence.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/common/smallest_bmp.h"

namespace picture_tools {

struct ArtworkConversion {
  EncodedBmp Bmp;
  FlatPicture Pixels;                // what the BMP holds, top row first
  std::string SourceKind;            // "PNG, 8-bit RGBA, 640x200"
  size_t SourceColours = 0;          // distinct colours over black, before any reduction
  std::vector<std::string> Changes;  // one sentence for each kind of change to the artwork's pixels
};

// Throws ArtworkError when the artwork cannot be read or its colours
// reduced, and std::logic_error when the driver's decoder does not give back
// the encoded pixels (a fault of this code, never of the artwork).
ArtworkConversion ConvertArtwork(std::span<const uint8_t> artwork, std::optional<unsigned> colours = std::nullopt);

// "1 colour", "2 colours".
std::string ColourCount(size_t colours);

}  // namespace picture_tools
