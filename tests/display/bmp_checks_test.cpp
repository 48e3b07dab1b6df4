// The decoder's header checks, each at its boundary, and the rejections that
// keep a crafted header from reading outside the picture or allocating
// without bound.
#include <functional>
#include <string>

#include "tests/display/bmp_writer.h"
#include "tests/display/display_fixture.h"

namespace {

using bmptest::HeaderWith;
using bmptest::PutLe16;
using bmptest::PutLe32;
using displaytest::Decoded;
using displaytest::DisplayTest;

// A valid 24-bit 2 x 2 picture: rows of 8 bytes, 70 bytes in all.
std::vector<uint8_t> SmallPicture() {
  bmptest::Picture picture;
  picture.width = 2;
  picture.height = 2;
  picture.pixels = {0x112233, 0x445566, 0x778899, 0xAABBCC};
  return bmptest::Encode(picture);
}

std::vector<uint8_t> With(std::vector<uint8_t> bytes, const std::function<void(std::vector<uint8_t> &)> &change) {
  change(bytes);
  return bytes;
}

struct CheckCase {
  std::string name;
  std::vector<uint8_t> bytes;
  uint64_t claimed_size;  // the size handed to the decoder
  bool accepted;
};

CheckCase Case(std::string name, std::vector<uint8_t> bytes, bool accepted) {
  const uint64_t size = bytes.size();
  return CheckCase{std::move(name), std::move(bytes), size, accepted};
}

std::vector<CheckCase> CheckCases() {
  std::vector<CheckCase> cases;
  // 1. Size of at least 54.
  cases.push_back({"Check1_53Bytes", HeaderWith(0, 0, 24, 54, 0), 53, false});
  cases.push_back(Case("Check1_54BytesEmptyPicture", HeaderWith(0, 0, 24, 54, 0), true));
  // 2. Signature.
  cases.push_back(Case("Check2_FirstByte", With(SmallPicture(), [](auto &b) { b[0] = 'M'; }), false));
  cases.push_back(Case("Check2_SecondByte", With(SmallPicture(), [](auto &b) { b[1] = 'A'; }), false));
  // 3. Compression.
  cases.push_back(Case("Check3_Compression1",
                       With(SmallPicture(), [](auto &b) { PutLe32(b, bmptest::kCompressionField, 1); }), false));
  cases.push_back(Case("Check3_CompressionTopBit",
                       With(SmallPicture(), [](auto &b) { PutLe32(b, bmptest::kCompressionField, 0x80000000u); }),
                       false));
  // 4. Information header size.
  for (uint32_t size : {12u, 39u, 41u, 108u}) {
    cases.push_back(Case("Check4_InfoHeader" + std::to_string(size),
                         With(SmallPicture(), [size](auto &b) { PutLe32(b, bmptest::kInfoSizeField, size); }), false));
  }
  // 5. R x height must not pass 32 bits: here the 32-bit product that check 8
  // compares against would wrap to match the data.
  cases.push_back(Case("Check5_RowsExactly4GiBWrapToNoData", HeaderWith(4, 0x40000000, 8, 54, 0), false));
  cases.push_back(Case("Check5_RowsWrapToOneRow", HeaderWith(4, 0x40000001, 8, 54, 4), false));
  // 5 (mended). Width x depth must fit the 32-bit row size: 24 x 0x0AAAAAAB
  // wraps to a 4-byte row for a row of 768 MiB.
  cases.push_back(Case("Check5_RowBitsWrapTo4Bytes", HeaderWith(0x0AAAAAAB, 1, 24, 54, 4), false));
  cases.push_back(Case("Check5_LargestRowBits24", HeaderWith(178956969, 0, 24, 54, 0), true));
  cases.push_back(Case("Check5_FirstTooLargeRowBits24", HeaderWith(178956970, 0, 24, 54, 0), false));
  cases.push_back(Case("Check5_LargestRowBits1", HeaderWith(0xFFFFFFE0u, 0, 1, 54, 0), true));
  cases.push_back(Case("Check5_FirstTooLargeRowBits1", HeaderWith(0xFFFFFFE1u, 0, 1, 54, 0), false));
  // 6. File size field equals the bytes read.
  cases.push_back(Case("Check6_FieldOneMore",
                       With(SmallPicture(), [](auto &b) { PutLe32(b, bmptest::kFileSizeField, 71); }), false));
  cases.push_back(Case("Check6_FieldOneLess",
                       With(SmallPicture(), [](auto &b) { PutLe32(b, bmptest::kFileSizeField, 69); }), false));
  cases.push_back(
      Case("Check6_SectionLongerThanFile", With(SmallPicture(), [](auto &b) { b.insert(b.end(), 3, 0); }), false));
  // The size is a native word: a size 4 GiB beyond the field must not match it.
  cases.push_back({"Check6_SizeBeyond32Bits", SmallPicture(), 0x100000000ull + 70, false});
  // 7. Pixel-data offset inside the file.
  cases.push_back(Case("Check7_OffsetAtFileEnd", HeaderWith(2, 0, 24, 60, 6), true));
  cases.push_back(Case("Check7_OffsetPastFileEnd", HeaderWith(2, 0, 24, 61, 6), false));
  // Past the end by 4 in a 58-byte file, so the 32-bit distance wraps to
  // 0xFFFFFFFC, which is exactly height x R of 0x3FFFFFFF rows of 4 bytes.
  cases.push_back(Case("Check7_OffsetPastEndWrapsToRows", HeaderWith(1, 0x3FFFFFFF, 24, 62, 4), false));
  // 8. Pixel data of exactly height x R bytes.
  cases.push_back(Case("Check8_OneByteShort",
                       With(SmallPicture(),
                            [](auto &b) {
                              b.pop_back();
                              PutLe32(b, bmptest::kFileSizeField, 69);
                            }),
                       false));
  cases.push_back(Case("Check8_OneByteLong",
                       With(SmallPicture(),
                            [](auto &b) {
                              b.push_back(0);
                              PutLe32(b, bmptest::kFileSizeField, 71);
                            }),
                       false));
  cases.push_back(Case("Check8_Exact", SmallPicture(), true));
  // 9. Pixel data after the header (the data size still matches).
  cases.push_back(Case("Check9_Offset53", HeaderWith(1, 1, 24, 53, 3), false));
  cases.push_back(Case("Check9_Offset54", HeaderWith(1, 1, 24, 54, 4), true));
  // 10. A gap before the pixel data holds the whole colour map.
  cases.push_back(Case("Check10_1Bit7Bytes", HeaderWith(1, 1, 1, 54 + 7, 7 + 4), false));
  cases.push_back(Case("Check10_1Bit8Bytes", HeaderWith(1, 1, 1, 54 + 8, 8 + 4), true));
  cases.push_back(Case("Check10_4Bit63Bytes", HeaderWith(1, 1, 4, 54 + 63, 63 + 4), false));
  cases.push_back(Case("Check10_4Bit64Bytes", HeaderWith(1, 1, 4, 54 + 64, 64 + 4), true));
  cases.push_back(Case("Check10_8Bit1023Bytes", HeaderWith(1, 1, 8, 54 + 1023, 1023 + 4), false));
  cases.push_back(Case("Check10_8Bit1024Bytes", HeaderWith(1, 1, 8, 54 + 1024, 1024 + 4), true));
  // The colours-used field does not lower the need.
  cases.push_back(Case("Check10_8BitAt60ColoursUsed1",
                       With(HeaderWith(1, 1, 8, 60, 6 + 4), [](auto &b) { PutLe32(b, 46, 1); }), false));
  cases.push_back(Case("Check10_24BitGapOfOne", HeaderWith(1, 1, 24, 55, 1 + 4), true));
  cases.push_back(Case("Check10_16BitGapOfOneEmpty", HeaderWith(0, 1, 16, 55, 1), true));
  // 11. Width x height x 4 must fit 64 bits; only depth 0 (rows of 0 bytes) gets this far.
  cases.push_back(Case("Check11_2To62Pixels", HeaderWith(0x80000000u, 0x80000000u, 0, 54, 0), false));
  cases.push_back(Case("Check11_JustBelow2To62Pixels", HeaderWith(0x80000000u, 0x7FFFFFFFu, 0, 54, 0), false));
  // Depths that are not converted fail when the picture has pixels, and pass empty.
  for (uint16_t depth : {0, 2, 16, 32}) {
    const uint32_t row = bmptest::RowSize(1, depth);
    cases.push_back(Case("Depth" + std::to_string(depth) + "_OnePixel", HeaderWith(1, 1, depth, 54, row), false));
    cases.push_back(Case("Depth" + std::to_string(depth) + "_WidthZero", HeaderWith(0, 5, depth, 54, 0), true));
    cases.push_back(Case("Depth" + std::to_string(depth) + "_HeightZero", HeaderWith(7, 0, depth, 54, 0), true));
  }
  // A picture of width 0 and a huge height has no pixels to convert.
  cases.push_back(Case("WidthZeroHugeHeight", HeaderWith(0, 0xFFFFFFFFu, 24, 54, 0), true));
  return cases;
}

class BmpCheckTest : public DisplayTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(BmpCheckTest, AcceptsOrRejects) {
  const CheckCase &c = GetParam();
  const Decoded decoded = DecodeSized(c.bytes, c.claimed_size);
  if (c.accepted) {
    EXPECT_FALSE(EFI_ERROR(decoded.status)) << std::hex << decoded.status;
    EXPECT_TRUE(decoded.buffer_handed_out);
  } else {
    EXPECT_TRUE(EFI_ERROR(decoded.status));
    EXPECT_FALSE(decoded.buffer_handed_out);
    // A rejected header never reaches the allocation.
    EXPECT_EQ(platform_.CallCount("AllocatePool"), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Checks, BmpCheckTest, ::testing::ValuesIn(CheckCases()),
                         [](const ::testing::TestParamInfo<CheckCase> &info) { return info.param.name; });

using BmpCheckEdgeTest = DisplayTest;

TEST_F(BmpCheckEdgeTest, AbsentPictureFails) {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = nullptr;
  UINT32 width = 0;
  UINT32 height = 0;
  EXPECT_TRUE(EFI_ERROR(ConvertBmpToGopBltofTarvex(nullptr, 100, &pixels, &width, &height)));
  EXPECT_EQ(pixels, nullptr);
  EXPECT_EQ(platform_.CallCount("AllocatePool"), 0u);
}

TEST_F(BmpCheckEdgeTest, AllocationFailureHandsOutNothing) {
  platform_.Inject(sim::Failure("AllocatePool").Call(1).Answers(EFI_OUT_OF_RESOURCES));
  const Decoded decoded = Decode(SmallPicture());
  EXPECT_TRUE(EFI_ERROR(decoded.status));
  EXPECT_FALSE(decoded.buffer_handed_out);
  EXPECT_EQ(platform_.CallCount("AllocatePool"), 1u);
}

TEST_F(BmpCheckEdgeTest, EmptyPictureYieldsEmptyBuffer) {
  const Decoded decoded = Decode(HeaderWith(0, 0, 24, 54, 0));
  ASSERT_FALSE(EFI_ERROR(decoded.status));
  EXPECT_TRUE(decoded.buffer_handed_out);
  EXPECT_EQ(decoded.width, 0u);
  EXPECT_EQ(decoded.height, 0u);
}

}  // namespace
