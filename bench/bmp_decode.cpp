// Decoding a 1920 x 1080 notice picture at 24 and 8 bits per pixel, against
// a plain copy of the same output bytes (the limit: the decoder must write
// that much) and against stb_image decoding the same file to 4 bytes a pixel.
// All three allocate their output from the C heap each time, so they pay the
// same for memory. The decoder is measured twice: built with the image's
// flags and with this build's (bench/image_flags). The ratios are printed at
// the end of the run (bench/main.cpp).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/driver_state.h"
#include "bench/image_flags/entry_points.h"
#include "bench/ratios.h"
#include "display/bmp_decode.h"
#include "sim/pool_only_firmware.h"
#include "tests/display/bmp_writer.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Weverything"
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb/stb_image.h>
#if defined(__clang__)
#pragma clang diagnostic pop
#elif defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr size_t kOutputBytes = size_t{kWidth} * kHeight * 4;

uint32_t Colour(uint32_t x, uint32_t y) { return ((x * 7) & 0xFF) | ((y * 3) & 0xFF) << 8 | ((x ^ y) & 0xFF) << 16; }

const std::vector<uint8_t> &Picture(uint16_t depth) {
  static std::map<uint16_t, std::vector<uint8_t>> pictures;
  auto found = pictures.find(depth);
  if (found != pictures.end()) return found->second;
  bmptest::Picture picture;
  picture.width = kWidth;
  picture.height = kHeight;
  picture.bits_per_pixel = depth;
  if (depth == 8) {
    for (uint32_t i = 0; i < 256; ++i) picture.colour_map.push_back(Colour(i, 255 - i));
  }
  picture.pixels.reserve(size_t{kWidth} * kHeight);
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) picture.pixels.push_back(depth == 8 ? (x + 3 * y) & 0xFF : Colour(x, y));
  }
  return pictures[depth] = bmptest::Encode(picture);
}

using Decoder = EFI_STATUS (*)(const void *, UINTN, EFI_GRAPHICS_OUTPUT_BLT_PIXEL **, UINT32 *, UINT32 *);

Decoder DecoderOf(Build build) {
#if NOTICE_BENCH_IMAGE_FLAGS
  if (build == Build::Image) return ImageFlagsConvertBmpToGopBlt;
#endif
  return build == Build::Host ? ConvertBmpToGopBltofTarvex : nullptr;
}

// The decoder allocates through the boot services; here they are the C heap
// (sim::PoolOnlyFirmware), so the measurement is of the decoder, not of the
// simulated platform's pool filling and call log.
void Decode(benchmark::State &state, uint16_t depth, Decoder decoder) {
  sim::PoolOnlyFirmware firmware;
  firmware.BindDriver();
  const std::vector<uint8_t> &bytes = Picture(depth);
  for (auto _ : state) {
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = nullptr;
    UINT32 width = 0;
    UINT32 height = 0;
    if (EFI_ERROR(decoder(bytes.data(), bytes.size(), &pixels, &width, &height))) {
      state.SkipWithError("the picture was not decoded");
      break;
    }
    benchmark::DoNotOptimize(pixels);
    benchmark::ClobberMemory();
    gDriver.BootServices->FreePool(pixels);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOutputBytes));
}

// The same number of output bytes, copied into a fresh heap buffer.
void CopyOutput(benchmark::State &state) {
  const std::vector<uint8_t> source(kOutputBytes, 0x5A);
  for (auto _ : state) {
    void *output = std::malloc(kOutputBytes);
    std::memcpy(output, source.data(), kOutputBytes);
    benchmark::DoNotOptimize(output);
    benchmark::ClobberMemory();
    std::free(output);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOutputBytes));
}

void Peer(benchmark::State &state, uint16_t depth) {
  const std::vector<uint8_t> &bytes = Picture(depth);
  for (auto _ : state) {
    int width = 0, height = 0, channels = 0;
    stbi_uc *pixels =
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, 4);
    if (pixels == nullptr) {
      state.SkipWithError("stb_image did not decode the picture");
      break;
    }
    benchmark::DoNotOptimize(pixels);
    benchmark::ClobberMemory();
    stbi_image_free(pixels);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kOutputBytes));
}

// Registered in this order: the copy first, then each decoder build, then stb_image.
[[maybe_unused]] const bool kRegistered = [] {
  benchmark::RegisterBenchmark("Memcpy", CopyOutput)->Unit(benchmark::kMicrosecond);
  for (uint16_t depth : {24, 8}) {
    for (Build build : {Build::Image, Build::Host}) {
      const Decoder decoder = DecoderOf(build);
      if (decoder == nullptr) continue;
      const std::string name = "Decode" + std::to_string(depth) + "/" + BuildName(build);
      benchmark::RegisterBenchmark(name.c_str(), [depth, decoder](benchmark::State &state) {
        Decode(state, depth, decoder);
      })->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::RegisterBenchmark("StbImage24", Peer, 24)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("StbImage8", Peer, 8)->Unit(benchmark::kMicrosecond);
  return true;
}();

}  // namespace
