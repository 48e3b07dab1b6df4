// LZMA "alone" data as firmware decoders expect it.
#include <gtest/gtest.h>

#include "tools/common/lzma_alone.h"

namespace {

TEST(LzmaAlone, HeaderCarriesFirmwarePropertiesAndTheRealSize) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{100000}}) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * i) >> 5);
    const std::vector<uint8_t> packed = picture_tools::CompressLzmaAlone(data);
    ASSERT_GE(packed.size(), picture_tools::kLzmaAloneHeaderSize);
    EXPECT_EQ(packed[0], 0x5D);  // lc 3, lp 0, pb 2
    uint32_t dictionary = 0;
    uint64_t stored = 0;
    for (size_t i = 0; i < 4; ++i) dictionary |= static_cast<uint32_t>(packed[1 + i]) << (8 * i);
    for (size_t i = 0; i < 8; ++i) stored |= static_cast<uint64_t>(packed[5 + i]) << (8 * i);
    EXPECT_EQ(dictionary, 1u << 24);
    EXPECT_EQ(stored, size);
    EXPECT_EQ(picture_tools::DecompressLzmaAlone(packed), data);
  }
}

}  // namespace
