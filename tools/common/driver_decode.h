// A picture decoded by the driver's own code (CheckBmp, then FillGopBlt), for
// tools that show or verify what the driver would draw.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "display/bmp_check.h"
#include "efi/efi_graphics_output.h"

namespace picture_tools {

struct DecodedPicture {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> Pixels;  // top row first
};

// Nothing when the driver refuses the picture.
std::optional<DecodedPicture> DecodeWithDriver(std::span<const uint8_t> bmp);

// 0xRRGGBB of a decoded pixel.
inline uint32_t RgbOf(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &pixel) {
  return static_cast<uint32_t>(pixel.Red) << 16 | static_cast<uint32_t>(pixel.Green) << 8 | pixel.Blue;
}

}  // namespace picture_tools
