#include "bmp_encode.h"

#include <map>

namespace demo {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;

void Put16(std::vector<uint8_t> &out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t PackKey(Rgb c) { return (uint32_t{c.red} << 16) | (uint32_t{c.green} << 8) | c.blue; }

}  // namespace

std::optional<std::vector<uint8_t>> EncodeBmp(const Canvas &canvas, unsigned bits_per_pixel,
                                              const std::vector<Rgb> &palette) {
  if (bits_per_pixel != 1 && bits_per_pixel != 4 && bits_per_pixel != 8 && bits_per_pixel != 24) {
    return std::nullopt;
  }
  const uint32_t map_entries = bits_per_pixel == 24 ? 0 : 1u << bits_per_pixel;
  if (palette.size() > map_entries) return std::nullopt;

  std::map<uint32_t, uint8_t> index_of;
  for (size_t i = palette.size(); i-- > 0;) index_of[PackKey(palette[i])] = static_cast<uint8_t>(i);

  const uint32_t width = static_cast<uint32_t>(canvas.width());
  const uint32_t height = static_cast<uint32_t>(canvas.height());
  const uint32_t row_size = ((width * bits_per_pixel + 31) / 32) * 4;
  const uint32_t pixel_offset = kFileHeaderSize + kInfoHeaderSize + map_entries * 4;
  const uint32_t file_size = pixel_offset + row_size * height;

  std::vector<uint8_t> out(file_size, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, file_size);
  Put32(out, 10, pixel_offset);
  Put32(out, 14, kInfoHeaderSize);
  Put32(out, 18, width);
  Put32(out, 22, height);
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<uint16_t>(bits_per_pixel));
  Put32(out, 34, row_size * height);
  Put32(out, 38, 2835);  // 72 dots per inch
  Put32(out, 42, 2835);
  Put32(out, 46, map_entries);

  for (size_t i = 0; i < palette.size(); ++i) {
    const size_t at = kFileHeaderSize + kInfoHeaderSize + i * 4;
    out[at] = palette[i].blue;
    out[at + 1] = palette[i].green;
    out[at + 2] = palette[i].red;
  }

  for (uint32_t file_row = 0; file_row < height; ++file_row) {
    const int y = static_cast<int>(height - 1 - file_row);
    uint8_t *row = out.data() + pixel_offset + static_cast<size_t>(file_row) * row_size;
    for (uint32_t x = 0; x < width; ++x) {
      const Rgb colour = canvas.At(static_cast<int>(x), y);
      if (bits_per_pixel == 24) {
        row[x * 3] = colour.blue;
        row[x * 3 + 1] = colour.green;
        row[x * 3 + 2] = colour.red;
        continue;
      }
      auto found = index_of.find(PackKey(colour));
      if (found == index_of.end()) return std::nullopt;
      const uint32_t bit = x * bits_per_pixel;
      const unsigned shift = 8 - bits_per_pixel - (bit % 8);
      row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (found->second << shift));
    }
  }
  return out;
}

}  // namespace demo
