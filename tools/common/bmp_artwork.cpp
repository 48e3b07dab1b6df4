// BMP as editors write it: 12-byte (core) to 124-byte information headers,
// 1 to 32 bits per pixel, colour masks, colour maps of any length, rows in
// either order. Every field is checked against the file before it is used.
#include <algorithm>
#include <bit>

#include "tools/common/artwork_formats.h"
#include "tools/common/number_text.h"

namespace picture_tools {
namespace {

constexpr size_t kFileHeaderSize = 14;

uint32_t Le(std::span<const uint8_t> bytes, size_t offset, size_t width) {
  if (offset + width > bytes.size()) throw ArtworkError("the BMP header is cut short");
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
  return value;
}

// One colour channel described by a mask: where it sits and how wide it is.
struct Channel {
  uint32_t Mask = 0;
  uint8_t Extract(uint32_t pixel, uint8_t absent) const {
    if (Mask == 0) return absent;
    const uint64_t value = (pixel & Mask) >> std::countr_zero(Mask);
    const uint64_t top = Mask >> std::countr_zero(Mask);
    return static_cast<uint8_t>((value * 255 + top / 2) / top);
  }
};

struct BmpFormat {
  uint32_t InfoSize = 0;
  int64_t Width = 0;
  int64_t Height = 0;  // negative: top row first
  uint32_t Bits = 0;
  uint32_t Compression = 0;
  uint32_t PixelOffset = 0;
  size_t MapOffset = 0;  // where the headers (and the masks after a 40-byte one) end
  size_t MapEntrySize = 4;
  uint32_t MapEntries = 0;
  Channel Red, Green, Blue, Alpha;
};

BmpFormat ReadBmpFormat(std::span<const uint8_t> bytes) {
  BmpFormat f;
  f.PixelOffset = Le(bytes, 10, 4);
  f.InfoSize = Le(bytes, 14, 4);
  if (f.InfoSize == 12) {
    f.Width = Le(bytes, 18, 2);
    f.Height = Le(bytes, 20, 2);
    f.Bits = Le(bytes, 24, 2);
    f.MapEntrySize = 3;
  } else if (f.InfoSize >= 40) {
    f.Width = static_cast<int32_t>(Le(bytes, 18, 4));
    f.Height = static_cast<int32_t>(Le(bytes, 22, 4));
    f.Bits = Le(bytes, 28, 2);
    f.Compression = Le(bytes, 30, 4);
    f.MapEntries = Le(bytes, 46, 4);
  } else {
    throw ArtworkError("a BMP information header of " + std::to_string(f.InfoSize) + " bytes is not a known kind");
  }
  f.MapOffset = kFileHeaderSize + f.InfoSize;
  if (f.MapOffset > bytes.size()) {
    throw ArtworkError("the BMP's " + GroupDigits(f.InfoSize) + "-byte information header runs past the file's " +
                       GroupDigits(bytes.size()) + " bytes");
  }
  if (f.Compression == 3 || f.Compression == 6) {
    f.Red.Mask = Le(bytes, 54, 4);
    f.Green.Mask = Le(bytes, 58, 4);
    f.Blue.Mask = Le(bytes, 62, 4);
    if (f.InfoSize >= 56 || f.Compression == 6) f.Alpha.Mask = Le(bytes, 66, 4);
    if (f.InfoSize == 40) f.MapOffset += f.Compression == 6 ? 16 : 12;
  } else if (f.Compression != 0) {
    throw ArtworkError("compressed BMPs (compression " + std::to_string(f.Compression) +
                       ") are not read: save the artwork uncompressed or as PNG");
  } else if (f.Bits == 16) {
    f.Red.Mask = 0x7C00, f.Green.Mask = 0x03E0, f.Blue.Mask = 0x001F;
  } else if (f.Bits == 32) {
    f.Red.Mask = 0xFF0000, f.Green.Mask = 0xFF00, f.Blue.Mask = 0xFF;
  }
  if (f.Bits != 1 && f.Bits != 2 && f.Bits != 4 && f.Bits != 8 && f.Bits != 16 && f.Bits != 24 && f.Bits != 32) {
    throw ArtworkError("a BMP of " + std::to_string(f.Bits) + " bits per pixel is not a known kind");
  }
  if (f.PixelOffset < f.MapOffset) {
    throw ArtworkError("the BMP's pixel data offset " + GroupDigits(f.PixelOffset) +
                       " points inside its headers, which end at byte " + GroupDigits(f.MapOffset) +
                       ": the file is damaged; export the artwork again");
  }
  if (f.Bits <= 8 && f.MapEntries == 0) f.MapEntries = 1u << f.Bits;
  if (f.Bits > 8) f.MapEntries = 0;
  if (f.MapEntries > 256) {
    throw ArtworkError("the BMP declares a colour map of " + GroupDigits(f.MapEntries) +
                       " entries; a BMP of 8 bits or fewer has at most 256: the header is damaged");
  }
  if (f.MapOffset + uint64_t{f.MapEntries} * f.MapEntrySize > bytes.size()) {
    throw ArtworkError("the BMP colour map of " + std::to_string(f.MapEntries) + " entries runs past the file");
  }
  return f;
}

std::string BmpKind(const BmpFormat &f) {
  std::string kind = "BMP, " + std::to_string(f.InfoSize) + "-byte header, " + std::to_string(f.Bits) + "-bit";
  if (f.Bits <= 8) kind += ", " + std::to_string(f.MapEntries) + "-entry colour map";
  if (f.Compression == 3 || f.Compression == 6) kind += ", colour masks";
  if (f.Height < 0) kind += ", top-down";
  return kind;
}

}  // namespace

Artwork ReadBmpArtwork(std::span<const uint8_t> bytes) {
  const BmpFormat f = ReadBmpFormat(bytes);
  const uint64_t width = f.Width < 0 ? 0 : static_cast<uint64_t>(f.Width);
  const uint64_t height = static_cast<uint64_t>(f.Height < 0 ? -f.Height : f.Height);
  CheckArtworkSize(width, height, "BMP");
  const uint64_t rowSize = (width * f.Bits + 31) / 32 * 4;
  if (f.PixelOffset + rowSize * height > bytes.size()) {
    throw ArtworkError("the BMP's pixel data (" + std::to_string(height) + " rows of " + std::to_string(rowSize) +
                       " bytes from byte " + std::to_string(f.PixelOffset) + ") runs past the file's " +
                       std::to_string(bytes.size()) + " bytes");
  }
  std::vector<Rgba> map(f.MapEntries);
  for (uint32_t i = 0; i < f.MapEntries; ++i) {
    const uint8_t *entry = bytes.data() + f.MapOffset + i * f.MapEntrySize;
    map[i] = {entry[2], entry[1], entry[0], 255};
  }
  Artwork art;
  art.Width = static_cast<uint32_t>(width);
  art.Height = static_cast<uint32_t>(height);
  art.Kind = BmpKind(f);
  art.Pixels.resize(width * height);
  for (uint64_t y = 0; y < height; ++y) {
    const uint64_t fileRow = f.Height < 0 ? y : height - 1 - y;
    const uint8_t *row = bytes.data() + f.PixelOffset + fileRow * rowSize;
    Rgba *out = art.Pixels.data() + y * width;
    for (uint64_t x = 0; x < width; ++x) {
      if (f.Bits <= 8) {
        const uint64_t bit = x * f.Bits;
        const uint32_t index = (row[bit / 8] >> (8 - f.Bits - bit % 8)) & ((1u << f.Bits) - 1);
        if (index >= map.size()) {
          throw ArtworkError("a pixel uses colour-map entry " + std::to_string(index) + " of a map with " +
                             std::to_string(map.size()) + " entries");
        }
        out[x] = map[index];
      } else if (f.Bits == 24) {
        out[x] = {row[3 * x + 2], row[3 * x + 1], row[3 * x], 255};
      } else {
        const size_t size = f.Bits / 8;
        uint32_t pixel = 0;
        for (size_t i = 0; i < size; ++i) pixel |= static_cast<uint32_t>(row[x * size + i]) << (8 * i);
        out[x] = {f.Red.Extract(pixel, 0), f.Green.Extract(pixel, 0), f.Blue.Extract(pixel, 0),
                  f.Alpha.Extract(pixel, 255)};
      }
    }
  }
  // Some editors write an alpha mask over bytes they leave 0: a picture
  // that is wholly transparent is taken as opaque.
  if (f.Alpha.Mask != 0 && std::all_of(art.Pixels.begin(), art.Pixels.end(), [](const Rgba &p) { return p.A == 0; })) {
    for (Rgba &p : art.Pixels) p.A = 255;
  }
  return art;
}

}  // namespace picture_tools
