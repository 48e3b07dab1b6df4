// The check step names the first check a picture fails, and keeps the header
// fields it read so a tool can say why. One picture per fault, each failing
// exactly one check, and the order: a picture failing two checks reports the
// earlier one.
#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "display/bmp_check.h"
#include "tests/display/bmp_writer.h"

namespace {

using bmptest::HeaderWith;
using bmptest::PutLe16;
using bmptest::PutLe32;

struct FaultCase {
  std::string name;
  std::vector<uint8_t> bytes;
  size_t size;
  BmpFault fault;
};

// A valid 24-bit 2 x 2 picture: 54 + 2 rows of 8 bytes.
std::vector<uint8_t> Valid() { return HeaderWith(2, 2, 24, 54, 16); }

template <typename Change>
FaultCase Make(std::string name, BmpFault fault, Change change) {
  std::vector<uint8_t> bytes = Valid();
  change(bytes);
  const size_t size = bytes.size();
  return {std::move(name), std::move(bytes), size, fault};
}

std::vector<FaultCase> Cases() {
  std::vector<FaultCase> cases;
  cases.push_back(Make("Accepted", BmpFault::None, [](auto &) {}));
  cases.push_back({"TooSmall", HeaderWith(0, 0, 24, 54, 0), 53, BmpFault::TooSmall});
  cases.push_back(Make("NoSignature", BmpFault::NoSignature, [](auto &b) { b[1] = 'X'; }));
  cases.push_back(Make("Compressed", BmpFault::Compressed, [](auto &b) { PutLe32(b, bmptest::kCompressionField, 3); }));
  cases.push_back(
      Make("InfoHeader124", BmpFault::InfoHeaderSize, [](auto &b) { PutLe32(b, bmptest::kInfoSizeField, 124); }));
  cases.push_back({"RowTooWide", HeaderWith(0x0AAAAAAB, 1, 24, 54, 4), 58, BmpFault::RowTooWide});
  cases.push_back({"PixelDataTooLarge", HeaderWith(4, 0x40000000, 8, 54, 0), 54, BmpFault::PixelDataTooLarge});
  cases.push_back(Make("FileSizeMismatch", BmpFault::FileSizeMismatch, [](auto &b) { b.push_back(0); }));
  cases.push_back(Make("PixelOffsetPastEnd", BmpFault::PixelOffsetPastEnd,
                       [](auto &b) { PutLe32(b, bmptest::kPixelOffsetField, 71); }));
  cases.push_back(
      Make("PixelDataSize", BmpFault::PixelDataSize, [](auto &b) { PutLe32(b, bmptest::kPixelOffsetField, 58); }));
  // Pixel offset 38 with 16 bytes of data ahead: the sizes agree, the data overlaps the header.
  cases.push_back({"PixelOffsetInHeader", HeaderWith(2, 2, 24, 38, 0), 54, BmpFault::PixelOffsetInHeader});
  // An 8-bit picture with only a 16-entry map in the gap.
  cases.push_back({"ColourMapShort", HeaderWith(4, 1, 8, 54 + 64, 64 + 4), 54 + 68, BmpFault::ColourMapShort});
  cases.push_back({"UnsupportedDepth32", HeaderWith(1, 1, 32, 54, 4), 58, BmpFault::UnsupportedDepth});
  // Depth 0 gives rows of 0 bytes: the pixel count, not the data, is what is refused.
  cases.push_back({"TooManyPixels", HeaderWith(0xFFFFFFFFu, 0xFFFFFFFFu, 0, 54, 0), 54, BmpFault::TooManyPixels});
  // Signature and compression both wrong: the signature is checked first.
  cases.push_back(Make("OrderSignatureBeforeCompression", BmpFault::NoSignature, [](auto &b) {
    b[0] = 'X';
    PutLe32(b, bmptest::kCompressionField, 1);
  }));
  // A top-down picture (negative height) is caught by the size checks.
  cases.push_back(Make("TopDown", BmpFault::PixelDataTooLarge,
                       [](auto &b) { PutLe32(b, bmptest::kHeightField, static_cast<uint32_t>(-2)); }));
  return cases;
}

void PrintTo(const FaultCase &c, std::ostream *out) { *out << c.name; }

class BmpFaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(BmpFaultTest, NamesTheFirstFailedCheck) {
  const FaultCase &c = GetParam();
  BmpLayout layout;
  EXPECT_EQ(CheckBmp(c.bytes.data(), c.size, &layout), c.fault);
}

INSTANTIATE_TEST_SUITE_P(Faults, BmpFaultTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<FaultCase> &info) { return info.param.name; });

TEST(BmpCheckLayoutTest, KeepsHeaderFieldsOfARejectedPicture) {
  std::vector<uint8_t> bytes = HeaderWith(3, 5, 8, 54 + 64, 64 + 20);
  PutLe32(bytes, bmptest::kInfoSizeField, 124);
  BmpLayout layout;
  ASSERT_EQ(CheckBmp(bytes.data(), bytes.size(), &layout), BmpFault::InfoHeaderSize);
  EXPECT_EQ(layout.InfoHeaderSize, 124u);
  EXPECT_EQ(layout.Width, 3u);
  EXPECT_EQ(layout.Height, 5u);
  EXPECT_EQ(layout.BitsPerPixel, 8);
  EXPECT_EQ(layout.PixelOffset, 54u + 64);
  EXPECT_EQ(layout.FileSize, bytes.size());
  EXPECT_EQ(layout.ColourMapEntries, 256u);
}

TEST(BmpCheckLayoutTest, DerivesRowAndDataSize) {
  const std::vector<uint8_t> bytes = HeaderWith(3, 2, 24, 54, 24);
  BmpLayout layout;
  ASSERT_EQ(CheckBmp(bytes.data(), bytes.size(), &layout), BmpFault::None);
  EXPECT_EQ(layout.RowSize, 12u);  // 9 bytes of pixels, 3 of padding
  EXPECT_EQ(layout.PixelDataSize, 24u);
  EXPECT_EQ(layout.ColourMapEntries, 0u);
}

TEST(BmpCheckLayoutTest, AbsentPictureLeavesAnEmptyLayout) {
  BmpLayout layout;
  layout.Width = 7;
  EXPECT_EQ(CheckBmp(nullptr, 100, &layout), BmpFault::TooSmall);
  EXPECT_EQ(layout.Width, 0u);
}

}  // namespace
