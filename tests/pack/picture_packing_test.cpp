// Pictures on their way into FFS files: refused with the driver's reason
// unless allowed, stored raw or in an LZMA GUID-defined section, converted
// from artwork, reported for fit and flash cost.
#include <gtest/gtest.h>

#include <sstream>

#include "pack_test_support.h"
#include "tests/display/bmp_writer.h"
#include "tools/common/driver_decode.h"
#include "tools/common/lzma_alone.h"
#include "tools/common/number_text.h"
#include "tools/notice-pack/command_line.h"
#include "tools/notice-pack/compressed_section.h"
#include "tools/notice-pack/flash_cost.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/picture_packing.h"

namespace {

using namespace notice_pack;
using pack_test::ReadSections;

Bytes Picture(uint32_t width, uint32_t height) {
  bmptest::Picture picture;
  picture.width = width;
  picture.height = height;
  for (uint32_t i = 0; i < width * height; ++i) picture.pixels.push_back(i * 0x010203);
  return bmptest::Encode(picture);
}

Bytes TopDown(Bytes bmp) {
  const uint32_t height = static_cast<uint32_t>(GetLe(bmp, bmptest::kHeightField, 4));
  PutLe(bmp, bmptest::kHeightField, static_cast<uint32_t>(-static_cast<int32_t>(height)), 4);
  return bmp;
}

TEST(PackPicture, RefusesWhatTheDriverRefusesUnlessAllowed) {
  const PictureInput input{kNoticePictureGuids[4], "notice5.bmp"};
  const Bytes bad = TopDown(Picture(5, 3));
  std::ostringstream warnings;
  try {
    PackPicture(input, bad, false, warnings);
    ADD_FAILURE() << "packed a picture the driver refuses";
  } catch (const PackError &error) {
    EXPECT_STREQ(error.what(),
                 "picture 5 (notice5.bmp) would not be shown: top-down BMP (negative height) is not accepted: store "
                 "rows bottom-up (notice-pack convert writes an accepted BMP) (--allow-invalid packs it anyway)");
  }
  const PackedPicture packed = PackPicture(input, bad, true, warnings);
  EXPECT_NE(warnings.str().find("warning: picture 5 (notice5.bmp) would not be shown: top-down"), std::string::npos);
  EXPECT_EQ(packed.File.Ffs, BuildPictureFile(input.FileGuid, bad));
  EXPECT_EQ(packed.File.Kind, "refused by the driver");

  std::ostringstream none;
  const PackedPicture good = PackPicture(input, Picture(5, 3), false, none);
  EXPECT_TRUE(none.str().empty());
  EXPECT_EQ(good.File.Kind, "24-bit 5x3");
}

TEST(CompressedSection, HoldsTheRawSectionAsLzmaBehindTheFirmwareGuid) {
  const Bytes bmp = Picture(33, 7);
  const Bytes file = BuildCompressedPictureFile(kNoticePictureGuids[0], bmp);
  EXPECT_EQ(file[kFileTypeOffset], kFileTypeFreeform);
  const auto sections = ReadSections(file);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].Type, 0x02);
  const ByteView body = sections[0].Body;
  // SectionDefinitionGuid, DataOffset (from the section's start), Attributes.
  EXPECT_TRUE(std::equal(kLzmaSectionGuid.Bytes.begin(), kLzmaSectionGuid.Bytes.end(), body.begin()));
  EXPECT_EQ(FormatGuid(kLzmaSectionGuid), "EE4E5898-3914-4259-9D6E-DC7BD79403CF");
  EXPECT_EQ(GetLe(body, 16, 2), 24u);
  EXPECT_EQ(GetLe(body, 18, 2), 0x01u);
  const Bytes inner = picture_tools::DecompressLzmaAlone(body.subspan(20));
  // The decompressed data is the RAW section the plain file would carry.
  const Bytes plain = BuildPictureFile(kNoticePictureGuids[0], bmp);
  EXPECT_EQ(inner, Bytes(plain.begin() + kFileHeaderSize, plain.end()));
}

TEST(CommandLine, CompressAllowInvalidAndScreens) {
  const PackRequest request = ParseCommandLine({"--picture", "1=a.bmp", "--picture", "5=b.bmp", "--allow-invalid",
                                                "--compress", "5", "--screen", "1600x900", "--fv-out", "x.fv"});
  EXPECT_TRUE(request.AllowInvalid);
  EXPECT_FALSE(request.Pictures[0].Compress);
  EXPECT_TRUE(request.Pictures[1].Compress);
  ASSERT_EQ(request.Screens.size(), 1u);
  EXPECT_EQ(request.Screens[0].Width, 1600u);
  EXPECT_EQ(request.Screens[0].Height, 900u);
  const PackRequest all =
      ParseCommandLine({"--picture", "1=a.bmp", "--picture", "2=b.bmp", "--compress", "all", "--ffs-out", "d"});
  EXPECT_TRUE(all.Pictures[0].Compress && all.Pictures[1].Compress);
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{"--picture", "1=a.bmp", "--compress", "2", "--ffs-out", "d"},
                                             {"--picture", "1=a.bmp", "--compress", "12", "--ffs-out", "d"},
                                             {"--picture", "1=a.bmp", "--screen", "0x600", "--ffs-out", "d"},
                                             {"--picture", "1=a.bmp", "--screen", "800", "--ffs-out", "d"}}) {
    EXPECT_THROW(ParseCommandLine(args), PackError) << args[3];
  }
}

TEST(FitReport, NamesEachScreenAndWhyAPictureIsNotDrawn) {
  CheckedPicture wide{"picture 2 (wide.bmp)", {}, std::nullopt};
  wide.Layout.Width = 1100;
  wide.Layout.Height = 300;
  wide.Layout.BitsPerPixel = 8;
  const CheckedPicture refused{"picture 3 (bad.bmp)", {}, "refused"};
  const std::string report = FitReport({wide, refused}, {{1600, 900}});
  EXPECT_NE(report.find("1600x900"), std::string::npos);
  EXPECT_NE(report.find("picture 2 (wide.bmp) on 1024x768: 1,100 pixels wide: needs a screen at least 1,120 wide; "
                        "this screen is 1,024"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("240,300"), std::string::npos) << report;  // on 1600x900
  EXPECT_EQ(report.find("bad.bmp"), std::string::npos);
}

TEST(FlashCost, TotalsRawFfsAndCompressedBytes) {
  const Bytes bmp = Picture(64, 64);
  const std::vector<PackedFile> files = {
      {"a.bmp", kNoticePictureGuids[0], "24-bit 64x64", bmp.size(), BuildPictureFile(kNoticePictureGuids[0], bmp)},
      {"b.bmp", kNoticePictureGuids[1], "24-bit 64x64", bmp.size(), BuildPictureFile(kNoticePictureGuids[1], bmp)}};
  const FlashCost cost = MeasureFlashCost(files, nullptr);
  const std::string &table = cost.Table;
  const size_t lzma = picture_tools::CompressLzmaAlone(files[0].Ffs).size();
  // Each BMP is 12,342 bytes; its FFS file adds a 24-byte file and a 4-byte section header.
  EXPECT_NE(table.find("2 files"), std::string::npos) << table;
  EXPECT_NE(table.find("24,684     24,740"), std::string::npos) << table;
  EXPECT_NE(table.find(picture_tools::GroupDigits(lzma)), std::string::npos) << table;
  // Each 12,370-byte file is placed on an 8-byte boundary.
  EXPECT_EQ(cost.PlacedBytes, 2u * 12376);
  EXPECT_EQ(cost.LzmaBytes, lzma + picture_tools::CompressLzmaAlone(files[1].Ffs).size());
}

}  // namespace
