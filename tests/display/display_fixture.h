// A freshly loaded driver on a fresh simulated platform, with the firmware
// tables the driver keeps from its entry point, and a decoder harness.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/driver_state.h"
#include "display/bmp_decode.h"
#include "sim/platform.h"

namespace displaytest {

// The result of one conversion, with the pixels as 0xRRGGBB, top row first.
struct Decoded {
  EFI_STATUS status = EFI_SUCCESS;
  bool buffer_handed_out = false;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> colours;
  std::vector<uint8_t> reserved;  // the reserved byte of every pixel
};

class DisplayTest : public ::testing::Test {
 protected:
  DisplayTest() { platform_.BindDriver(); }

  // Runs the decoder over an exactly sized copy of the bytes (so a read past
  // the picture is a heap overflow the sanitizers see), releases the pixel
  // buffer and checks that nothing is left in pool.
  Decoded Decode(const std::vector<uint8_t> &bytes) { return DecodeSized(bytes, bytes.size()); }

  // As Decode, telling the decoder the picture holds `size` bytes.
  Decoded DecodeSized(const std::vector<uint8_t> &bytes, size_t size) {
    std::unique_ptr<uint8_t[]> picture(new uint8_t[bytes.size() == 0 ? 1 : bytes.size()]);
    if (!bytes.empty()) std::memcpy(picture.get(), bytes.data(), bytes.size());
    Decoded result;
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(uintptr_t{1});
    UINT32 width = 0xDEAD;
    UINT32 height = 0xBEEF;
    result.status = ConvertBmpToGopBltofTarvex(picture.get(), size, &pixels, &width, &height);
    result.buffer_handed_out = pixels != nullptr;
    if (!EFI_ERROR(result.status) && pixels != nullptr) {
      result.width = width;
      result.height = height;
      const size_t count = static_cast<size_t>(width) * height;
      for (size_t i = 0; i < count; ++i) {
        result.colours.push_back(static_cast<uint32_t>(pixels[i].Red) << 16 |
                                 static_cast<uint32_t>(pixels[i].Green) << 8 | pixels[i].Blue);
        result.reserved.push_back(pixels[i].Reserved);
      }
      EXPECT_TRUE(platform_.IsPoolBlock(pixels)) << "the pixel buffer is not pool memory";
      EXPECT_EQ(platform_.live_pool().at(pixels).type, EfiBootServicesData);
      EXPECT_EQ(platform_.live_pool().at(pixels).size, count * 4);
      gDriver.BootServices->FreePool(pixels);
    }
    EXPECT_EQ(platform_.LeakReport(), "");
    EXPECT_TRUE(platform_.faults().empty());
    return result;
  }

  sim::Platform platform_;
};

// 0xRRGGBB colours, varied enough that a swapped channel or a wrong index shows.
inline uint32_t TestColour(uint32_t seed) {
  seed = seed * 2654435761u + 0x9E3779B9u;
  return (seed ^ (seed >> 13)) & 0xFFFFFF;
}

}  // namespace displaytest
