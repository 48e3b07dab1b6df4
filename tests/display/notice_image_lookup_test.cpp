// The notice picture table and the read from the firmware volumes.
#include "display/notice_image_lookup.h"

#include "tests/display/display_fixture.h"

namespace {

using displaytest::DisplayTest;

// The file GUIDs as the platform's volumes name them.
constexpr EFI_GUID kPicture1 = {0x2F1FF10D, 0xA01F, 0x48D8, {0xAE, 0xFA, 0xA5, 0xDF, 0x02, 0x7B, 0xFB, 0xF6}};
constexpr EFI_GUID kPicture2 = {0xD667348E, 0x1827, 0x4DF0, {0x8D, 0x56, 0x84, 0x72, 0x11, 0x25, 0x7F, 0x85}};
constexpr EFI_GUID kPicture3 = {0x8CCA080A, 0x4A46, 0x4E16, {0x9A, 0xA7, 0x57, 0xD6, 0x85, 0x30, 0x71, 0xBB}};
constexpr EFI_GUID kPicture4 = {0xE98CCA77, 0x61E4, 0x474C, {0x86, 0x60, 0x5B, 0x10, 0xB8, 0xA0, 0xF1, 0x28}};
constexpr EFI_GUID kPicture5 = {0xC6E37D95, 0xA12F, 0x4321, {0xAB, 0x6C, 0xA0, 0xEB, 0x97, 0x08, 0x10, 0x0A}};
constexpr EFI_GUID kPicture6 = {0x748A836A, 0xD16D, 0x43DC, {0x99, 0x7C, 0x98, 0xB3, 0x22, 0x0A, 0x09, 0x6B}};

TEST(NoticeImageTable, EachModeNamesItsPictureAndEveryOtherValueTheFirst) {
  const struct {
    UINT8 mode;
    const EFI_GUID &picture;
  } table[] = {{0, kPicture1}, {1, kPicture1}, {2, kPicture2}, {3, kPicture3},   {4, kPicture4},
               {5, kPicture5}, {6, kPicture6}, {7, kPicture1}, {200, kPicture1}, {255, kPicture1}};
  for (const auto &row : table) {
    EXPECT_TRUE(GuidEquals(NoticeImageGuid(row.mode), row.picture)) << "mode " << int(row.mode);
  }
}

class GetBitMapFromFVTest : public DisplayTest {
 protected:
  struct Result {
    EFI_STATUS status;
    std::vector<uint8_t> bytes;  // the picture handed back, if any
    bool has_picture;
  };

  // Reads kPicture3 and releases what it got; then nothing may be left in pool.
  Result Read() {
    void *picture = nullptr;
    UINTN size = 0;
    Result result{GetBitMapFromFV(&kPicture3, &picture, &size), {}, picture != nullptr};
    if (picture != nullptr) {
      EXPECT_TRUE(platform_.IsPoolBlock(picture));
      const uint8_t *bytes = static_cast<const uint8_t *>(picture);
      result.bytes.assign(bytes, bytes + size);
      gDriver.BootServices->FreePool(picture);
    }
    EXPECT_EQ(platform_.LeakReport(), "") << "the handle buffer or the picture was left behind";
    EXPECT_TRUE(platform_.faults().empty());
    return result;
  }
};

TEST_F(GetBitMapFromFVTest, NoVolumeIsNotFoundAndFreesNoHandleBuffer) {
  const Result result = Read();
  EXPECT_EQ(result.status, EFI_NOT_FOUND);
  EXPECT_FALSE(result.has_picture);
  EXPECT_EQ(platform_.CallCount("FreePool"), 0u);
}

TEST_F(GetBitMapFromFVTest, HandleListFailureIsNotFoundWhateverTheServiceSaid) {
  platform_.AddFirmwareVolume("fv0").AddRawFile(kPicture3, {1, 2, 3});
  platform_.Inject(sim::Failure("LocateHandleBuffer").Answers(EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(Read().status, EFI_NOT_FOUND);
}

// A success without a handle buffer counts as no volumes.
TEST_F(GetBitMapFromFVTest, HandleListSuccessWithoutBufferIsNoVolumes) {
  platform_.AddFirmwareVolume("fv0").AddRawFile(kPicture3, {1});
  platform_.Inject(sim::Failure("LocateHandleBuffer")
                       .For(EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID)
                       .Answers(EFI_SUCCESS)
                       .Leaving("NoHandles", 3)
                       .Leaving("Buffer", nullptr));
  const Result result = Read();
  EXPECT_EQ(result.status, EFI_NOT_FOUND);
  EXPECT_FALSE(result.has_picture);
  EXPECT_EQ(platform_.CallCount("HandleProtocol"), 0u);
  EXPECT_EQ(platform_.CallCount("FreePool"), 0u);
}

TEST_F(GetBitMapFromFVTest, FileInTheSecondOfThreeVolumes) {
  sim::FirmwareVolume &first = platform_.AddFirmwareVolume("fv0");
  sim::FirmwareVolume &second = platform_.AddFirmwareVolume("fv1");
  sim::FirmwareVolume &third = platform_.AddFirmwareVolume("fv2");
  first.AddRawFile(kPicture1, {9, 9});
  second.AddRawFile(kPicture3, {1, 2, 3, 4});
  third.AddRawFile(kPicture3, {5, 6});
  const Result result = Read();
  EXPECT_EQ(result.status, EFI_SUCCESS);
  EXPECT_EQ(result.bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(first.read_section_calls(), 1u);
  EXPECT_EQ(third.read_section_calls(), 0u);
}

TEST(GetBitMapFromFVErrors, AnyOtherErrorMovesOnToTheNextVolume) {
  for (EFI_STATUS error : {EFI_NOT_FOUND, EFI_DEVICE_ERROR, EFI_ACCESS_DENIED, EFI_OUT_OF_RESOURCES}) {
    sim::Platform platform;  // a fresh platform and driver for each status
    platform.BindDriver();
    platform.Inject(sim::Failure("ReadSection").On(platform.AddFirmwareVolume("fv0")).Answers(error));
    platform.AddFirmwareVolume("fv1").AddRawFile(kPicture3, {7});
    void *picture = nullptr;
    UINTN size = 0;
    EXPECT_EQ(GetBitMapFromFV(&kPicture3, &picture, &size), EFI_SUCCESS) << std::hex << error;
    EXPECT_EQ(size, 1u);
    if (picture != nullptr) gDriver.BootServices->FreePool(picture);
    EXPECT_EQ(platform.LeakReport(), "");
  }
}

TEST_F(GetBitMapFromFVTest, BufferTooSmallEndsTheSearch) {
  sim::FirmwareVolume &first = platform_.AddFirmwareVolume("fv0");
  sim::FirmwareVolume &second = platform_.AddFirmwareVolume("fv1");
  platform_.Inject(sim::Failure("ReadSection").On(first).For(kPicture3).Answers(EFI_BUFFER_TOO_SMALL));
  first.AddRawFile(kPicture3, {1});
  second.AddRawFile(kPicture3, {2});
  const Result result = Read();
  EXPECT_EQ(result.status, EFI_BUFFER_TOO_SMALL);
  EXPECT_FALSE(result.has_picture);
  EXPECT_EQ(second.read_section_calls(), 0u);
}

TEST_F(GetBitMapFromFVTest, VolumeWhoseInterfaceCannotBeHadIsSkipped) {
  sim::FirmwareVolume &first = platform_.AddFirmwareVolume("fv0");
  first.AddRawFile(kPicture3, {1});
  platform_.AddFirmwareVolume("fv1").AddRawFile(kPicture3, {2});
  platform_.Inject(sim::Failure("HandleProtocol").On(first.handle()).Answers(EFI_UNSUPPORTED));
  const Result result = Read();
  EXPECT_EQ(result.status, EFI_SUCCESS);
  EXPECT_EQ(result.bytes, (std::vector<uint8_t>{2}));
  EXPECT_EQ(first.read_section_calls(), 0u);
}

TEST_F(GetBitMapFromFVTest, NoVolumeYieldingTheFileIsNotFoundWhateverTheyAnswered) {
  platform_.AddFirmwareVolume("fv0").AddRawFile(kPicture1, {1});
  platform_.Inject(sim::Failure("ReadSection").On(platform_.AddFirmwareVolume("fv1")).Answers(EFI_DEVICE_ERROR));
  const Result result = Read();
  EXPECT_EQ(result.status, EFI_NOT_FOUND);
  EXPECT_FALSE(result.has_picture);
}

// --- volumes and handle lists that break their contract -----------------------

// A first volume that fails but leaves a 102-byte buffer in the slot: the
// second, conforming volume must get empty slots (so it allocates the whole
// picture) rather than copy into that buffer and warn.
TEST_F(GetBitMapFromFVTest, FailedVolumeLeftoversDoNotReachTheNextVolume) {
  const std::vector<uint8_t> picture(3654, 0x5C);
  sim::FirmwareVolume &first = platform_.AddFirmwareVolume("fv0");
  platform_.Inject(sim::Failure("ReadSection")
                       .On(first)
                       .For(kPicture3)
                       .Answers(EFI_DEVICE_ERROR)
                       .Leaving("Buffer", sim::PoolHolding{std::vector<uint8_t>(102, 0x11)})
                       .Leaving("BufferSize", 102));
  platform_.AddFirmwareVolume("fv1").AddRawFile(kPicture3, picture);

  void *read = nullptr;
  UINTN size = 0;
  EXPECT_EQ(GetBitMapFromFV(&kPicture3, &read, &size), EFI_SUCCESS);
  ASSERT_EQ(size, picture.size());
  ASSERT_TRUE(platform_.IsPoolBlock(read));
  ASSERT_EQ(platform_.live_pool().at(read).size, size) << "the picture's block must hold every byte its size claims";
  EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t *>(read), static_cast<uint8_t *>(read) + size), picture);
  const auto reads = platform_.LogOf("ReadSection");
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[1].Field("Buffer"), sim::HexText(0));
  EXPECT_EQ(reads[1].Field("BufferSize"), "0");
  gDriver.BootServices->FreePool(read);
  // The failing volume's own block is all that is left (the driver never saw it as a picture).
  ASSERT_EQ(platform_.live_pool().size(), 1u);
  EXPECT_EQ(platform_.live_pool().begin()->second.size, 102u);
  EXPECT_TRUE(platform_.faults().empty());
}

// Only EFI_SUCCESS delivers a picture: a warning is a volume that did not.
TEST_F(GetBitMapFromFVTest, WarningIsNoSuccess) {
  sim::FirmwareVolume &first = platform_.AddFirmwareVolume("fv0");
  platform_.Inject(sim::Failure("ReadSection").On(first).For(kPicture3).Answers(EFI_WARN_BUFFER_TOO_SMALL));
  EXPECT_EQ(Read().status, EFI_NOT_FOUND);

  platform_.AddFirmwareVolume("fv1").AddRawFile(kPicture3, {4, 5});
  const Result result = Read();
  EXPECT_EQ(result.status, EFI_SUCCESS);
  EXPECT_EQ(result.bytes, (std::vector<uint8_t>{4, 5}));
}

TEST_F(GetBitMapFromFVTest, ReadsWithTheFileGuidRawTypeAndInstanceZero) {
  platform_.AddFirmwareVolume("fv0").AddRawFile(kPicture3, {1});
  Read();
  const std::vector<sim::CallRecord> reads = platform_.LogOf("ReadSection");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].Field("NameGuid"), sim::GuidText(kPicture3));
  EXPECT_EQ(reads[0].Field("SectionType"), sim::HexText(0x19));
  EXPECT_EQ(reads[0].Field("SectionInstance"), sim::DecText(0));
}

}  // namespace
