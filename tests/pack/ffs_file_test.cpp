#include <gtest/gtest.h>

#include "tests/pack/pack_test_support.h"
#include "tools/notice-pack/ffs_file_builder.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/section_builder.h"

namespace {

using namespace notice_pack;
using pack_test::ReadSections;
using pack_test::Sum8;

constexpr Guid kSomeName = GuidLiteral("00112233-4455-6677-8899-AABBCCDDEEFF");

// The firmware's header check: the 8-bit sum of the header, with the state and
// file checksum bytes taken as zero, is zero.
uint8_t HeaderSumWithoutStateAndFileCheck(ByteView file) {
  Bytes header(file.begin(), file.begin() + kFileHeaderSize);
  header[kFileStateOffset] = 0;
  header[kFileDataChecksumOffset] = 0;
  return Sum8(header);
}

struct FileCase {
  const char *Label;
  Bytes File;
  uint8_t Type;
};

std::vector<FileCase> SampleFiles() {
  return {
      {"empty freeform", BuildFfsFile(kSomeName, kFileTypeFreeform, {}), kFileTypeFreeform},
      {"picture", BuildPictureFile(kSomeName, Bytes{'B', 'M', 1, 2, 3}), kFileTypeFreeform},
      {"driver", BuildDriverFile(pack_test::MakeDriverImage(), "NoticeDxe", kSomeName), kFileTypeDriver},
      {"odd picture", BuildPictureFile(kSomeName, Bytes(0x1001, 0x5A)), kFileTypeFreeform},
  };
}

TEST(FfsFile, HeaderIsValidForAVolumeWithErasePolarityOne) {
  for (const FileCase &c : SampleFiles()) {
    SCOPED_TRACE(c.Label);
    ASSERT_GE(c.File.size(), kFileHeaderSize);
    EXPECT_EQ(Bytes(c.File.begin(), c.File.begin() + 16), Bytes(kSomeName.Bytes.begin(), kSomeName.Bytes.end()));
    EXPECT_EQ(HeaderSumWithoutStateAndFileCheck(c.File), 0);
    EXPECT_EQ(c.File[kFileDataChecksumOffset], 0xAA);
    EXPECT_EQ(c.File[kFileTypeOffset], c.Type);
    EXPECT_EQ(c.File[kFileAttributesOffset], 0);
    EXPECT_EQ(GetLe(c.File, kFileSizeOffset, 3), c.File.size());
    EXPECT_EQ(c.File[kFileStateOffset], 0xF8);
  }
}

TEST(FfsFile, SectionsStartOnFourByteBoundariesWithZeroGaps) {
  const Bytes first = BuildSection(kSectionRaw, Bytes{1, 2, 3});         // 7 bytes
  const Bytes second = BuildSection(kSectionRaw, Bytes{4, 5, 6, 7, 8});  // 9 bytes
  const Bytes file = BuildFfsFile(kSomeName, kFileTypeFreeform, {first, second});
  // 24 header + 7 + 1 gap + 9; nothing after the last section.
  ASSERT_EQ(file.size(), 41u);
  EXPECT_EQ(file[31], 0);
  const auto sections = ReadSections(file);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].Offset, 24u);
  EXPECT_EQ(sections[1].Offset, 32u);
  EXPECT_EQ(Bytes(sections[1].Body.begin(), sections[1].Body.end()), (Bytes{4, 5, 6, 7, 8}));
}

TEST(FfsFile, RefusesAFileBeyondThe24BitSize) {
  const Bytes big = BuildSection(kSectionRaw, Bytes(kMaxSize24 - kFileHeaderSize - kSectionHeaderSize));
  EXPECT_EQ(BuildFfsFile(kSomeName, kFileTypeFreeform, {big}).size(), kMaxSize24);
  const Bytes tooBig = BuildSection(kSectionRaw, Bytes(kMaxSize24 - kFileHeaderSize - kSectionHeaderSize + 1));
  EXPECT_THROW(BuildFfsFile(kSomeName, kFileTypeFreeform, {tooBig}), PackError);
}

TEST(DriverFile, HoldsTheImageThenTheNameAndNoDependencySection) {
  const Bytes image = pack_test::MakeDriverImage(0x8664, 0x20B, 11, 0x20D);
  const Bytes file = BuildDriverFile(image, "NoticeDxe");
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16),
            Bytes(kNoticeDriverFileGuid.Bytes.begin(), kNoticeDriverFileGuid.Bytes.end()));
  const auto sections = ReadSections(file);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].Type, kSectionPe32);
  EXPECT_EQ(Bytes(sections[0].Body.begin(), sections[0].Body.end()), image);
  EXPECT_EQ(sections[1].Type, kSectionUserInterface);
  EXPECT_EQ(sections[1].Offset % 4, 0u);
  EXPECT_EQ(GetLe(file, kFileSizeOffset, 3), sections[1].Offset + 4 + 20);
}

TEST(DriverFile, RefusesImagesTheFirmwareWouldNotRunAsADriver) {
  Bytes farPeOffset = pack_test::MakeDriverImage();
  PutLe(farPeOffset, 0x3C, 0xFFFFFFF0, 4);
  Bytes cutShort = pack_test::MakeDriverImage();
  cutShort.resize(0x58 + 68 + 1);
  Bytes noSignature = pack_test::MakeDriverImage();
  noSignature[0x41] = 'X';
  const struct {
    const char *Label;
    Bytes Image;
  } cases[] = {
      {"empty", {}},
      {"short", Bytes{'M', 'Z', 0, 0}},
      {"no MZ", Bytes(0x200, 0)},
      {"PE offset beyond the file", farPeOffset},
      {"PE header cut short", cutShort},
      {"no PE signature", noSignature},
      {"32-bit machine", pack_test::MakeDriverImage(0x014C)},
      {"PE32 optional header", pack_test::MakeDriverImage(0x8664, 0x10B)},
      {"application", pack_test::MakeDriverImage(0x8664, 0x20B, 10)},
      {"runtime driver", pack_test::MakeDriverImage(0x8664, 0x20B, 12)},
  };
  for (const auto &c : cases) {
    EXPECT_THROW(BuildDriverFile(c.Image, "NoticeDxe"), PackError) << c.Label;
  }
  Bytes justLongEnough = pack_test::MakeDriverImage();
  justLongEnough.resize(0x58 + 70);
  EXPECT_NO_THROW(BuildDriverFile(justLongEnough, "NoticeDxe"));
}

TEST(PictureFile, HoldsThePictureBytesInOneRawSection) {
  Bytes picture(1001);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i);
  const Bytes file = BuildPictureFile(kNoticePictureGuids[2], picture);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16),
            Bytes(kNoticePictureGuids[2].Bytes.begin(), kNoticePictureGuids[2].Bytes.end()));
  const auto sections = ReadSections(file);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].Type, kSectionRaw);
  EXPECT_EQ(Bytes(sections[0].Body.begin(), sections[0].Body.end()), picture);
}

TEST(PictureFile, NumbersOneToSixNameTheNoticeFiles) {
  EXPECT_EQ(FormatGuid(*NoticePictureGuid(1)), "2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6");
  EXPECT_EQ(FormatGuid(*NoticePictureGuid(4)), "E98CCA77-61E4-474C-8660-5B10B8A0F128");
  EXPECT_EQ(FormatGuid(*NoticePictureGuid(6)), "748A836A-D16D-43DC-997C-98B3220A096B");
  for (int number : {0, 7, -1}) EXPECT_FALSE(NoticePictureGuid(number)) << number;
}

}  // namespace
