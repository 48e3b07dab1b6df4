#include <gtest/gtest.h>

#include "tests/pack/pack_test_support.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/volume_builder.h"

namespace {

using namespace notice_pack;
using pack_test::ReadFiles;

uint16_t Sum16(ByteView data) {
  uint16_t sum = 0;
  for (size_t i = 0; i + 1 < data.size(); i += 2) sum = static_cast<uint16_t>(sum + GetLe(data, i, 2));
  return sum;
}

// Files of awkward sizes so that the 8-byte placement matters.
std::vector<Bytes> SampleFiles() {
  return {BuildDriverFile(pack_test::MakeDriverImage(0x8664, 0x20B, 11, 0x203), "NoticeDxe"),
          BuildPictureFile(kNoticePictureGuids[0], Bytes(0x35, 0x11)),
          BuildPictureFile(kNoticePictureGuids[5], Bytes(0x1000, 0x22))};
}

TEST(Volume, HeaderDescribesAnFfs2VolumeWithErasePolarityOne) {
  const Bytes volume = BuildVolume(SampleFiles());
  EXPECT_EQ(Bytes(volume.begin(), volume.begin() + 16), Bytes(16, 0));
  EXPECT_EQ(Bytes(volume.begin() + 16, volume.begin() + 32),
            Bytes(kFfs2FileSystemGuid.Bytes.begin(), kFfs2FileSystemGuid.Bytes.end()));
  EXPECT_EQ(GetLe(volume, kVolumeLengthOffset, 8), volume.size());
  EXPECT_EQ(std::string(volume.begin() + 40, volume.begin() + 44), "_FVH");
  EXPECT_NE(GetLe(volume, kVolumeAttributesOffset, 4) & 0x800, 0u);
  EXPECT_EQ(GetLe(volume, kVolumeHeaderLengthOffset, 2), 0x48u);
  EXPECT_EQ(GetLe(volume, 52, 2), 0u);  // no extended header
  EXPECT_EQ(volume[kVolumeRevisionOffset], 2);
  EXPECT_EQ(Sum16(ByteView(volume.data(), 0x48)), 0);
}

TEST(Volume, BlockMapCoversTheWholeVolume) {
  for (uint32_t blockSize : {0x1000u, 0x200u, 0x10000u}) {
    VolumeOptions options;
    options.BlockSize = blockSize;
    const Bytes volume = BuildVolume(SampleFiles(), options);
    SCOPED_TRACE(blockSize);
    EXPECT_EQ(volume.size() % blockSize, 0u);
    EXPECT_EQ(GetLe(volume, 56, 4) * GetLe(volume, 60, 4), volume.size());
    EXPECT_EQ(GetLe(volume, 60, 4), blockSize);
    EXPECT_EQ(GetLe(volume, 64, 8), 0u);
    EXPECT_EQ(Sum16(ByteView(volume.data(), 0x48)), 0);
  }
}

TEST(Volume, FilesFollowEachOtherOnEightByteBoundariesWithErasedGaps) {
  const std::vector<Bytes> files = SampleFiles();
  const Bytes volume = BuildVolume(files);
  const auto found = ReadFiles(volume);
  ASSERT_EQ(found.size(), files.size());
  size_t expectedOffset = 0x48;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(found[i].Offset, expectedOffset);
    EXPECT_EQ(Bytes(found[i].Bytes.begin(), found[i].Bytes.end()), files[i]);
    const size_t end = found[i].Offset + files[i].size();
    expectedOffset = AlignUp(end, 8);
    for (size_t at = end; at < expectedOffset; ++at) EXPECT_EQ(volume[at], 0xFF) << at;
  }
  for (size_t at = expectedOffset; at < volume.size(); ++at) ASSERT_EQ(volume[at], 0xFF) << at;
}

TEST(Volume, AnEmptyVolumeIsOneErasedBlock) {
  const Bytes volume = BuildVolume({});
  ASSERT_EQ(volume.size(), 0x1000u);
  EXPECT_TRUE(ReadFiles(volume).empty());
  EXPECT_EQ(Sum16(ByteView(volume.data(), 0x48)), 0);
}

TEST(Volume, AGivenLengthIsKeptWhenTheFilesFit) {
  VolumeOptions options;
  options.Length = 0x8000;
  EXPECT_EQ(BuildVolume(SampleFiles(), options).size(), 0x8000u);
}

TEST(Volume, RefusesInconsistentOptions) {
  const struct {
    const char *Label;
    VolumeOptions Options;
  } cases[] = {
      {"too small for the files", {0x1000, 0x1000, kVolumeDefaultAttributes}},
      {"length not whole blocks", {0x1000, 0x2800, kVolumeDefaultAttributes}},
      {"zero block size", {0, 0, kVolumeDefaultAttributes}},
      {"block size not a multiple of 8", {0x1004 - 1, 0, kVolumeDefaultAttributes}},
      {"erase polarity 0", {0x1000, 0, kVolumeDefaultAttributes & ~0x800u}},
  };
  for (const auto &c : cases) EXPECT_THROW(BuildVolume(SampleFiles(), c.Options), PackError) << c.Label;
}

}  // namespace
