// Artwork files as image editors write them, for the reader and converter
// tests: BMP variants the driver refuses and PNG through libpng.
#pragma once

#include <png.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "tools/common/artwork_read.h"

namespace artwork_test {

using picture_tools::Rgba;

struct BmpVariant {
  uint32_t info_size = 40;   // 12, 40, 108 or 124
  uint16_t bits = 24;        // 1, 4, 8, 16, 24 or 32
  uint32_t compression = 0;  // 0, or 3 with masks
  bool top_down = false;
  uint32_t map_entries = 0;  // written colour-map entries (indexed depths), 0: all
  uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};  // with compression 3
};

inline void Put(std::vector<uint8_t> &out, size_t at, uint32_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// `palette` for indexed depths; pixels are indexes then, else colours.
inline std::vector<uint8_t> WriteBmp(const BmpVariant &v, uint32_t width, uint32_t height,
                                     const std::vector<uint32_t> &values, const std::vector<Rgba> &palette = {}) {
  const uint32_t entries = v.bits <= 8 ? (v.map_entries ? v.map_entries : 1u << v.bits) : 0;
  const size_t entry_size = v.info_size == 12 ? 3 : 4;
  const size_t masks = v.compression == 3 && v.info_size == 40 ? 12 : 0;
  const size_t map_at = 14 + v.info_size + masks;
  const uint32_t offset = static_cast<uint32_t>(map_at + entries * entry_size);
  const uint32_t row_size = (width * v.bits + 31) / 32 * 4;
  std::vector<uint8_t> out(offset + static_cast<size_t>(row_size) * height, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put(out, 2, static_cast<uint32_t>(out.size()), 4);
  Put(out, 10, offset, 4);
  Put(out, 14, v.info_size, 4);
  if (v.info_size == 12) {
    Put(out, 18, width, 2);
    Put(out, 20, height, 2);
    Put(out, 22, 1, 2);
    Put(out, 24, v.bits, 2);
  } else {
    Put(out, 18, width, 4);
    Put(out, 22, v.top_down ? static_cast<uint32_t>(-static_cast<int32_t>(height)) : height, 4);
    Put(out, 26, 1, 2);
    Put(out, 28, v.bits, 2);
    Put(out, 30, v.compression, 4);
    Put(out, 46, v.map_entries, 4);
    if (v.compression == 3) {
      for (size_t i = 0; i < (v.info_size >= 56 ? 4u : 3u); ++i) Put(out, 54 + 4 * i, v.masks[i], 4);
    }
  }
  for (uint32_t i = 0; i < entries && i < palette.size(); ++i) {
    const Rgba &c = palette[i];
    out[map_at + i * entry_size] = c.B;
    out[map_at + i * entry_size + 1] = c.G;
    out[map_at + i * entry_size + 2] = c.R;
  }
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t *row = out.data() + offset + static_cast<size_t>(v.top_down ? y : height - 1 - y) * row_size;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t value = values[static_cast<size_t>(y) * width + x];
      if (v.bits <= 8) {
        const uint32_t bit = x * v.bits;
        row[bit / 8] |= static_cast<uint8_t>(value << (8 - v.bits - bit % 8));
      } else {
        Put(out, static_cast<size_t>(row - out.data()) + x * (v.bits / 8), value, v.bits / 8);
      }
    }
  }
  return out;
}

// An 8-bit RGBA PNG through libpng's simplified writer.
inline std::vector<uint8_t> WritePng(uint32_t width, uint32_t height, const std::vector<Rgba> &pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error("libpng cannot size the PNG");
  }
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error("libpng cannot write the PNG");
  }
  out.resize(size);
  return out;
}

}  // namespace artwork_test
