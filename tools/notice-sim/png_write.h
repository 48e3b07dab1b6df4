// A graphics-output framebuffer as an 8-bit RGB PNG, in memory (the caller
// writes the file whole, tools/common/staged_files.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "efi/efi_graphics_output.h"

namespace preview {

// Pixels are width x height blue-green-red-reserved entries, top row first.
// Returns an empty string on success, otherwise what went wrong.
std::string EncodePng(uint32_t width, uint32_t height, const std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> &pixels,
                      std::vector<uint8_t> *png);

}  // namespace preview
