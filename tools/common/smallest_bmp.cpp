#include "tools/common/smallest_bmp.h"

#include <unordered_map>
#include <unordered_set>

#include "display/bmp_check.h"

namespace picture_tools {
namespace {

void PutLe(std::vector<uint8_t> &out, size_t offset, uint32_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

unsigned DepthFor(size_t colours) {
  if (colours <= 2) return 1;
  if (colours <= 16) return 4;
  if (colours <= 256) return 8;
  return 24;
}

// Up to this many pixels a hash set finds the distinct colours faster than a
// bit for every colour does.
constexpr size_t kSmallPicturePixels = 1u << 16;

uint8_t Over(uint8_t channel, uint8_t alpha) { return static_cast<uint8_t>((channel * alpha + 127) / 255); }

}  // namespace

FlatPicture CompositeOverBlack(const Artwork &art, TransparencyCount *transparency) {
  FlatPicture flat{art.Width, art.Height, {}};
  flat.Pixels.reserve(art.Pixels.size());
  TransparencyCount count;
  for (const Rgba &p : art.Pixels) {
    count.Transparent += p.A == 0 ? 1 : 0;
    count.Translucent += p.A != 0 && p.A != 255 ? 1 : 0;
    flat.Pixels.push_back(static_cast<uint32_t>(Over(p.R, p.A)) << 16 | static_cast<uint32_t>(Over(p.G, p.A)) << 8 |
                          Over(p.B, p.A));
  }
  if (transparency != nullptr) *transparency = count;
  return flat;
}

std::vector<uint32_t> DistinctColours(const FlatPicture &picture) {
  std::vector<uint32_t> colours;
  if (picture.Pixels.size() <= kSmallPicturePixels) {
    std::unordered_set<uint32_t> seen;
    for (uint32_t c : picture.Pixels) {
      if (seen.insert(c).second) colours.push_back(c);
    }
    return colours;
  }
  // One bit for each of the 2^24 colours: 2 MiB, whatever the picture holds.
  std::vector<uint64_t> seen((1u << 24) / 64, 0);
  for (uint32_t c : picture.Pixels) {
    const uint32_t colour = c & 0xFFFFFF;
    uint64_t &word = seen[colour / 64];
    const uint64_t bit = uint64_t{1} << (colour % 64);
    if ((word & bit) != 0) continue;
    word |= bit;
    colours.push_back(c);
  }
  return colours;
}

EncodedBmp EncodeSmallestBmp(const FlatPicture &picture) {
  const std::vector<uint32_t> colours = DistinctColours(picture);
  const unsigned bits = DepthFor(colours.size());
  const uint32_t mapEntries = bits == 24 ? 0 : 1u << bits;
  std::unordered_map<uint32_t, uint32_t> indexOf;
  for (uint32_t i = 0; bits != 24 && i < colours.size(); ++i) indexOf[colours[i]] = i;

  const uint32_t rowSize = static_cast<uint32_t>((uint64_t{picture.Width} * bits + 31) / 32 * 4);
  const uint32_t pixelOffset = static_cast<uint32_t>(kBmpHeaderSize + mapEntries * kBmpColourMapEntrySize);
  const uint64_t fileSize = pixelOffset + uint64_t{rowSize} * picture.Height;
  if (fileSize > UINT32_MAX) throw ArtworkError("the picture is too large for a BMP");
  std::vector<uint8_t> out(fileSize, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutLe(out, 2, static_cast<uint32_t>(fileSize), 4);
  PutLe(out, 10, pixelOffset, 4);
  PutLe(out, 14, kBmpInfoHeaderSize, 4);
  PutLe(out, 18, picture.Width, 4);
  PutLe(out, 22, picture.Height, 4);
  PutLe(out, 26, 1, 2);
  PutLe(out, 28, bits, 2);
  PutLe(out, 34, static_cast<uint32_t>(uint64_t{rowSize} * picture.Height), 4);
  PutLe(out, 38, 2835, 4);  // 72 dots per inch
  PutLe(out, 42, 2835, 4);
  PutLe(out, 46, mapEntries, 4);
  for (uint32_t i = 0; i < mapEntries && i < colours.size(); ++i) {
    PutLe(out, kBmpHeaderSize + i * kBmpColourMapEntrySize, colours[i], 4);  // blue, green, red, 0
  }
  for (uint32_t y = 0; y < picture.Height; ++y) {
    uint8_t *row = out.data() + pixelOffset + static_cast<size_t>(picture.Height - 1 - y) * rowSize;
    const uint32_t *source = picture.Pixels.data() + static_cast<size_t>(y) * picture.Width;
    for (uint32_t x = 0; x < picture.Width; ++x) {
      if (bits == 24) {
        row[3 * x] = static_cast<uint8_t>(source[x]);
        row[3 * x + 1] = static_cast<uint8_t>(source[x] >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(source[x] >> 16);
        continue;
      }
      const size_t bit = static_cast<size_t>(x) * bits;
      row[bit / 8] |= static_cast<uint8_t>(indexOf[source[x]] << (8 - bits - bit % 8));
    }
  }
  return {std::move(out), bits, colours.size()};
}

}  // namespace picture_tools
