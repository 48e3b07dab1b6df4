#include "artwork_seeds.h"

#include <string>

#include "tests/picture_tools/artwork_files.h"
#include "tests/picture_tools/png_writer.h"

namespace fuzz_seeds {

namespace {

constexpr uint32_t kWidth = 7;
constexpr uint32_t kHeight = 5;

// kWidth x kHeight samples for `channels` channels of `bits` bits: a pattern
// that uses many values of each channel (palette pictures: indexes into a
// map of 2 or 4 entries).
std::vector<uint16_t> Samples(int channels, int bits) {
  std::vector<uint16_t> samples;
  const uint32_t top = (1u << bits) - 1;
  for (uint32_t i = 0; i < kWidth * kHeight * static_cast<uint32_t>(channels); ++i) {
    samples.push_back(static_cast<uint16_t>((i * 2654435761u >> 13) % (top + 1)));
  }
  return samples;
}

std::vector<png_color> Palette(size_t entries) {
  std::vector<png_color> palette;
  for (size_t i = 0; i < entries; ++i) {
    palette.push_back({static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i * 11), static_cast<png_byte>(i)});
  }
  return palette;
}

Seed Png(const std::string &name, const png_test::PngSpec &spec) {
  const int bits = spec.colour_type == PNG_COLOR_TYPE_PALETTE ? std::min(spec.bit_depth, 2) : spec.bit_depth;
  return {name, png_test::WritePng(spec, kWidth, kHeight, Samples(png_test::Channels(spec.colour_type), bits))};
}

void AddPngs(std::vector<Seed> &seeds) {
  for (int depth : {1, 2, 4, 8, 16}) {
    seeds.push_back(
        Png("png_grey" + std::to_string(depth) + ".png", {.colour_type = PNG_COLOR_TYPE_GRAY, .bit_depth = depth}));
  }
  for (int depth : {8, 16}) {
    const std::string bits = std::to_string(depth);
    seeds.push_back(
        Png("png_grey_alpha" + bits + ".png", {.colour_type = PNG_COLOR_TYPE_GRAY_ALPHA, .bit_depth = depth}));
    seeds.push_back(Png("png_rgb" + bits + ".png", {.colour_type = PNG_COLOR_TYPE_RGB, .bit_depth = depth}));
    seeds.push_back(Png("png_rgba" + bits + ".png", {.colour_type = PNG_COLOR_TYPE_RGB_ALPHA, .bit_depth = depth}));
  }
  for (int depth : {1, 2, 4, 8}) {
    seeds.push_back(
        Png("png_palette" + std::to_string(depth) + ".png",
            {.colour_type = PNG_COLOR_TYPE_PALETTE, .bit_depth = depth, .palette = Palette(depth == 1 ? 2 : 4)}));
  }
  seeds.push_back(
      Png("png_palette4_transparency.png",
          {.colour_type = PNG_COLOR_TYPE_PALETTE, .bit_depth = 4, .palette = Palette(4), .trans_alpha = {0, 128}}));
  seeds.push_back(Png("png_grey8_transparent_colour.png",
                      {.colour_type = PNG_COLOR_TYPE_GRAY, .trans_colour = true, .transparent = {0, 0, 0, 0, 3}}));
  seeds.push_back(
      Png("png_rgb16_transparent_colour.png", {.bit_depth = 16, .trans_colour = true, .transparent = {0, 1, 2, 3, 0}}));
  seeds.push_back(Png("png_rgb8_interlaced.png", {.interlaced = true}));
  seeds.push_back(
      Png("png_palette2_interlaced.png",
          {.colour_type = PNG_COLOR_TYPE_PALETTE, .bit_depth = 2, .interlaced = true, .palette = Palette(4)}));
  // At the reader's limits: the largest screen's width, one pixel more, a
  // text chunk it skips, and one claiming 2 GiB.
  const std::vector<uint8_t> small = png_test::WritePng({}, 1, 1, {1, 2, 3});
  const std::vector<uint8_t> ihdr(small.begin() + 8, small.begin() + 33);
  const std::vector<uint8_t> image(small.begin() + 33, small.end());
  seeds.push_back({"png_widest.png", png_test::WritePng({.colour_type = PNG_COLOR_TYPE_GRAY, .bit_depth = 1}, 3840, 1,
                                                        std::vector<uint16_t>(3840, 1))});
  seeds.push_back({"png_too_wide.png", png_test::Join({png_test::Ihdr(3841, 1, 1, 0)})});
  seeds.push_back({"png_text.png", png_test::Join({ihdr, png_test::Chunk("tEXt", {'k', 0, 'v'}), image})});
  seeds.push_back(
      {"png_text_claims_2GiB.png", png_test::Join({ihdr, png_test::Chunk("tEXt", {'k', 0, 'v'}, 0x7FFFFFFF), image})});
}

struct BmpSeed {
  const char *name;
  artwork_test::BmpVariant variant;
};

void AddBmps(std::vector<Seed> &seeds) {
  const std::vector<BmpSeed> variants = {
      {"bmp_24.bmp", {}},
      {"bmp_24_top_down.bmp", {.top_down = true}},
      {"bmp_32.bmp", {.bits = 32}},
      {"bmp_16_rgb555.bmp", {.bits = 16}},
      {"bmp_124_masks_32.bmp", {.info_size = 124, .bits = 32, .compression = 3}},
      {"bmp_108_masks_32_top_down.bmp", {.info_size = 108, .bits = 32, .compression = 3, .top_down = true}},
      {"bmp_40_masks_16.bmp", {.bits = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F, 0}}},
      {"bmp_8_short_map.bmp", {.bits = 8, .map_entries = 16}},
      {"bmp_4.bmp", {.bits = 4}},
      {"bmp_2.bmp", {.bits = 2}},
      {"bmp_1.bmp", {.bits = 1}},
      {"bmp_core_8.bmp", {.info_size = 12, .bits = 8}},
  };
  std::vector<picture_tools::Rgba> palette;
  for (uint32_t i = 0; i < 256; ++i) {
    palette.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), 255});
  }
  for (const BmpSeed &seed : variants) {
    const artwork_test::BmpVariant &v = seed.variant;
    const uint32_t entries = v.bits <= 8 ? (v.map_entries != 0 ? v.map_entries : 1u << v.bits) : 0;
    std::vector<uint32_t> values;
    for (uint32_t i = 0; i < kWidth * kHeight; ++i) {
      values.push_back(v.bits <= 8 ? i % entries : (i * 0x2F1B3Du) & (v.bits == 16 ? 0xFFFFu : 0xFFFFFFFFu));
    }
    seeds.push_back({seed.name, artwork_test::WriteBmp(v, kWidth, kHeight, values, palette)});
  }
}

}  // namespace

std::vector<Seed> ArtworkSeeds() {
  std::vector<Seed> seeds;
  AddPngs(seeds);
  AddBmps(seeds);
  return seeds;
}

}  // namespace fuzz_seeds
