#include "picture_seeds.h"

#include <string>

#include "tests/display/bmp_writer.h"

namespace fuzz_seeds {

namespace {

constexpr uint32_t kHeight = 3;
// Steps through the colour cube, so neighbouring 24-bit pixels differ in every channel.
constexpr uint32_t kColourStep = 0x0F1E2D;
// Colour-map entry i is i x this (blue, green and red each distinct).
constexpr uint32_t kMapStep = 0x010203;

// A width x 3 picture at `depth`: a full colour map for the indexed depths and
// pixel i = i modulo the map size, or i x kColourStep at 24 bits.
std::vector<uint8_t> Pattern(uint16_t depth, uint32_t width) {
  bmptest::Picture picture;
  picture.width = width;
  picture.height = kHeight;
  picture.bits_per_pixel = depth;
  const uint32_t entries = depth == 24 ? 0 : 1u << depth;
  for (uint32_t i = 0; i < entries; ++i) picture.colour_map.push_back(i * kMapStep);
  for (uint32_t i = 0; i < width * kHeight; ++i) {
    picture.pixels.push_back(depth == 24 ? (i * kColourStep) & 0xFFFFFF : i % entries);
  }
  return bmptest::Encode(picture);
}

// A header and the pixel data its fields ask for (0x5A bytes) with no colour map.
std::vector<uint8_t> Plain(uint32_t width, uint32_t height, uint16_t depth) {
  return bmptest::HeaderWith(width, height, depth, bmptest::kHeaderSize,
                             static_cast<size_t>(bmptest::RowSize(width, depth)) * height);
}

}  // namespace

std::vector<Seed> PictureSeeds() {
  std::vector<Seed> seeds;
  for (uint16_t depth : {1, 4, 8, 24}) {
    for (uint32_t width : {1u, 3u, 7u, 10u, 33u}) {
      seeds.push_back({"bpp" + std::to_string(depth) + "_w" + std::to_string(width) + ".bmp", Pattern(depth, width)});
    }
  }
  // Depths with pixels that are not converted.
  seeds.push_back({"bpp16.bmp", Plain(2, 2, 16)});
  seeds.push_back({"bpp32.bmp", Plain(2, 2, 32)});
  // Indexed depths with no gap after the header: the colour map is read from
  // the pixel data itself.
  seeds.push_back({"bpp1_map_overlaps_pixels.bmp", Plain(9, 2, 1)});
  seeds.push_back({"bpp8_map_overlaps_pixels.bmp", Plain(4, 4, 8)});
  // Six bytes between the header and the pixels of a 24-bit picture.
  seeds.push_back({"gap_before_pixels.bmp", bmptest::HeaderWith(2, 2, 24, bmptest::kHeaderSize + 6, 6 + 16)});
  // No pixels at all, and no pixels in 100,000 rows.
  seeds.push_back({"empty.bmp", Plain(0, 0, 24)});
  seeds.push_back({"width0_tall.bmp", Plain(0, 100000, 24)});
  // 32-bit products that wrap to a 4-byte picture: width x 24 bits, and
  // row size x height.
  seeds.push_back({"rowbits_wrap.bmp", bmptest::HeaderWith(0x0AAAAAAB, 1, 24, bmptest::kHeaderSize, 4)});
  seeds.push_back({"rows_wrap.bmp", bmptest::HeaderWith(4, 0x40000001, 8, bmptest::kHeaderSize, 4)});
  // On a 1024 x 768 screen, which must be 20 pixels wider than the picture:
  // the widest picture drawn, one pixel wider, and one row taller than the screen.
  seeds.push_back({"fits_exactly.bmp", Plain(1004, 1, 24)});
  seeds.push_back({"too_wide.bmp", Plain(1005, 1, 24)});
  seeds.push_back({"taller_than_screen.bmp", Plain(1, 769, 24)});
  return seeds;
}

}  // namespace fuzz_seeds
