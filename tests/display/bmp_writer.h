// Builds BMP pictures for the display tests, the decoder benchmark and the
// fuzz seed generator (tools/fuzz-seeds, which writes fuzz/corpus/bmp_decode).
// Header only, so each of them simply includes it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
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

// The bytes of one stored row: (width x depth + 31) / 32 x 4.
inline uint32_t RowSize(uint32_t width, uint16_t bits_per_pixel) {
  return static_cast<uint32_t>((static_cast<uint64_t>(width) * bits_per_pixel + 31) / 32 * 4);
}

inline void PutLe16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value) {
  bytes.at(offset) = static_cast<uint8_t>(value);
  bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

inline void PutLe32(std::vector<uint8_t> &bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

namespace detail {

// The header followed by `after` bytes of `fill`, allocated at its full size at once.
inline std::vector<uint8_t> Header(uint32_t width, uint32_t height, uint16_t bits_per_pixel, uint32_t pixel_offset,
                                   size_t after = 0, uint8_t fill = 0) {
  std::vector<uint8_t> bytes(kHeaderSize + after, fill);
  std::fill(bytes.begin(), bytes.begin() + kHeaderSize, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLe32(bytes, kPixelOffsetField, pixel_offset);
  PutLe32(bytes, kInfoSizeField, 40);
  PutLe32(bytes, kWidthField, width);
  PutLe32(bytes, kHeightField, height);
  PutLe16(bytes, 26, 1);
  PutLe16(bytes, kBitsPerPixelField, bits_per_pixel);
  return bytes;
}

// Packs one row of values MSB-first at the given depth.
inline void AppendRow(std::vector<uint8_t> &out, const Picture &picture, const uint32_t *values) {
  const size_t start = out.size();
  const uint32_t row_size = RowSize(picture.width, picture.bits_per_pixel);
  out.resize(start + row_size, picture.padding);
  uint8_t *row = out.data() + start;
  for (uint32_t x = 0; x < picture.width; ++x) {
    const uint32_t value = values[x];
    switch (picture.bits_per_pixel) {
      case 24:
        row[3 * x] = static_cast<uint8_t>(value);
        row[3 * x + 1] = static_cast<uint8_t>(value >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(value >> 16);
        break;
      case 8:
        row[x] = static_cast<uint8_t>(value);
        break;
      case 4: {
        const unsigned shift = (x % 2 == 0) ? 4 : 0;
        uint8_t &byte = row[x / 2];
        byte = static_cast<uint8_t>((byte & ~(0x0F << shift)) | ((value & 0x0F) << shift));
        break;
      }
      case 1: {
        const unsigned shift = 7 - x % 8;
        uint8_t &byte = row[x / 8];
        byte = static_cast<uint8_t>((byte & ~(1u << shift)) | ((value & 1u) << shift));
        break;
      }
      default:
        throw std::invalid_argument("bmp_writer: depth without pixel packing");
    }
  }
}

}  // namespace detail

// The whole file: header fields consistent with the content (file size,
// pixel-data offset, 40-byte information header, no compression), rows bottom first.
inline std::vector<uint8_t> Encode(const Picture &picture) {
  if (picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height) {
    throw std::invalid_argument("bmp_writer: pixel count does not match width x height");
  }
  const uint32_t pixel_offset = static_cast<uint32_t>(kHeaderSize + 4 * picture.colour_map.size() + picture.gap);
  std::vector<uint8_t> out = detail::Header(picture.width, picture.height, picture.bits_per_pixel, pixel_offset);
  for (uint32_t colour : picture.colour_map) {
    out.push_back(static_cast<uint8_t>(colour));
    out.push_back(static_cast<uint8_t>(colour >> 8));
    out.push_back(static_cast<uint8_t>(colour >> 16));
    out.push_back(0);
  }
  out.resize(out.size() + picture.gap, 0x33);
  for (uint32_t file_row = 0; file_row < picture.height; ++file_row) {
    const uint32_t top_down_row = picture.height - 1 - file_row;
    detail::AppendRow(out, picture, picture.pixels.data() + static_cast<size_t>(top_down_row) * picture.width);
  }
  PutLe32(out, kFileSizeField, static_cast<uint32_t>(out.size()));
  return out;
}

// A header alone with the given fields and `data_bytes` bytes of 0x5A after it;
// the file size field is the real size.
inline std::vector<uint8_t> HeaderWith(uint32_t width, uint32_t height, uint16_t bits_per_pixel, uint32_t pixel_offset,
                                       size_t data_bytes) {
  std::vector<uint8_t> out = detail::Header(width, height, bits_per_pixel, pixel_offset, data_bytes, 0x5A);
  PutLe32(out, kFileSizeField, static_cast<uint32_t>(out.size()));
  return out;
}

}  // namespace bmptest
