// PNG files of every colour type, depth and interlacing, written with
// libpng's own writer, for the reader's tests and the artwork fuzz seeds.
#pragma once

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <vector>

namespace png_test {

struct PngSpec {
  int colour_type = PNG_COLOR_TYPE_RGB;
  int bit_depth = 8;
  bool interlaced = false;
  std::vector<png_color> palette{};     // palette pictures
  std::vector<png_byte> trans_alpha{};  // palette pictures: alpha of the first entries (tRNS)
  bool trans_colour = false;            // grey or RGB pictures: tRNS naming one colour transparent
  png_color_16 transparent{};           // that colour (gray, or red, green, blue)
};

inline int Channels(int colour_type) {
  switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB:
      return 3;
    default:
      return 4;
  }
}

inline void AppendToVector(png_structp png, png_bytep data, size_t length) {
  auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

inline void FlushNothing(png_structp) {}

// `samples` holds Channels() values a pixel, top row first, each as stored:
// a palette index, or a channel value of `bit_depth` bits.
inline std::vector<uint8_t> WritePng(const PngSpec &spec, uint32_t width, uint32_t height,
                                     const std::vector<uint16_t> &samples) {
  const int channels = Channels(spec.colour_type);
  const size_t sample_bytes = spec.bit_depth == 16 ? 2 : 1;
  // Below 8 bits libpng packs one sample a byte into bits (png_set_packing).
  std::vector<uint8_t> pixels(size_t{width} * height * channels * sample_bytes);
  for (size_t i = 0; i < samples.size() && i < size_t{width} * height * channels; ++i) {
    if (sample_bytes == 2) {
      pixels[2 * i] = static_cast<uint8_t>(samples[i] >> 8);
      pixels[2 * i + 1] = static_cast<uint8_t>(samples[i]);
    } else {
      pixels[i] = static_cast<uint8_t>(samples[i]);
    }
  }
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y) rows[y] = pixels.data() + size_t{y} * width * channels * sample_bytes;

  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng cannot write the test PNG");
  }
  png_set_write_fn(png, &out, AppendToVector, FlushNothing);
  png_set_IHDR(png, info, width, height, spec.bit_depth, spec.colour_type,
               spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!spec.palette.empty()) png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
  if (!spec.trans_alpha.empty()) {
    png_set_tRNS(png, info, spec.trans_alpha.data(), static_cast<int>(spec.trans_alpha.size()), nullptr);
  }
  if (spec.trans_colour) png_set_tRNS(png, info, nullptr, 0, &spec.transparent);
  png_write_info(png, info);
  if (spec.bit_depth < 8) png_set_packing(png);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// Hand-made PNG pieces, for files libpng's writer would not make: a chunk
// as libpng reads it (length, or a claimed one, type, data, CRC), an IHDR
// chunk, and the signature followed by chunks.
inline std::vector<uint8_t> Chunk(const char *type, const std::vector<uint8_t> &data, uint32_t claimed_length) {
  std::vector<uint8_t> out;
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(claimed_length >> shift));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  const uLong crc = crc32(0, body.data(), static_cast<uInt>(body.size()));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(crc >> shift));
  return out;
}

inline std::vector<uint8_t> Chunk(const char *type, const std::vector<uint8_t> &data) {
  return Chunk(type, data, static_cast<uint32_t>(data.size()));
}

inline std::vector<uint8_t> Ihdr(uint32_t width, uint32_t height, uint8_t depth = 8, uint8_t colour_type = 2) {
  std::vector<uint8_t> data;
  for (uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<uint8_t>(value >> shift));
  }
  data.insert(data.end(), {depth, colour_type, 0, 0, 0});
  return Chunk("IHDR", data);
}

inline std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> chunks) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const auto &chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

}  // namespace png_test
