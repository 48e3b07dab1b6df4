// Writes a canvas as an uncompressed BMP with the 40-byte information header.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "canvas.h"

namespace demo {

// Encodes the canvas at 1, 4, 8 or 24 bits per pixel, rows bottom first, each
// padded to 4 bytes. For 1, 4 and 8 bits the palette (at most 2, 16 or 256
// entries, written in full with unused entries black) must hold every colour
// the canvas uses. Empty when the depth is unsupported or a colour is missing.
std::optional<std::vector<uint8_t>> EncodeBmp(const Canvas &canvas, unsigned bits_per_pixel,
                                              const std::vector<Rgb> &palette = {});

}  // namespace demo
