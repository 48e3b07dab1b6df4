// Builds BMP pictures for the display tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmptest {

// Offsets of the header fields.
constexpr size_t kFileSizeField = 2;
constexpr size_t kPixelOffsetField = 10;
constexpr size_t kInfoSizeField = 14;
constexpr size_t kWidthField = 18;
constexpr size_t kHeightField = 22;
constexpr size_t kBitsPerPixelField = 28;
constexpr size_t kCompressionField = 30;
constexpr size_t kHeaderSize = 54;

// Colours are written 0xRRGGBB.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits_per_pixel = 24;
  // Written from byte 54, 4 bytes an entry (blue, green, red, 0).
  std::vector<uint32_t> colour_map;
  // Extra bytes between the colour map and the pixel data.
  size_t gap = 0;
  // Top row first, width x height values: colour-map indexes, or colours at 24 bits.
  std::vector<uint32_t> pixels;
  // Fills the unused bits of a row's last byte and the row padding.
  uint8_t padding = 0xEE;
};

// The whole file: header fields consistent with the content (file size,
// pixel-data offset, 40-byte information header, no compression), rows bottom first.
std::vector<uint8_t> Encode(const Picture &picture);

// A header alone with the given fields and `data_bytes` bytes of 0x5A after it;
// the file size field is the real size unless overwritten.
std::vector<uint8_t> HeaderWith(uint32_t width, uint32_t height, uint16_t bits_per_pixel, uint32_t pixel_offset,
                                size_t data_bytes);

// The bytes of one stored row: (width x depth + 31) / 32 x 4.
uint32_t RowSize(uint32_t width, uint16_t bits_per_pixel);

void PutLe16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value);
void PutLe32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value);

}  // namespace bmptest
