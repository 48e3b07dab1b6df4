// ReadSection of the simulated firmware volumes, by the PI rules.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/platform.h"

namespace {

constexpr EFI_GUID kPicture = {0x2F1FF10D, 0xA01F, 0x48D8, {0xAE, 0xFA, 0xA5, 0xDF, 0x02, 0x7B, 0xFB, 0xF6}};
constexpr EFI_GUID kMissing = {0xD667348E, 0x1827, 0x4DF0, {0x8D, 0x56, 0x84, 0x72, 0x11, 0x25, 0x7F, 0x85}};

class FirmwareVolumeRead : public ::testing::Test {
 protected:
  void SetUp() override {
    fv_ = &platform_.AddFirmwareVolume("fv0");
    fv_->AddFile(kPicture, {{EFI_SECTION_USER_INTERFACE, {'n', 0}},
                            {EFI_SECTION_RAW, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
                            {EFI_SECTION_RAW, {42}}});
  }

  EFI_STATUS Read(const EFI_GUID &file, EFI_SECTION_TYPE type, UINTN instance, void **buffer, UINTN *size) {
    UINT32 auth = 0xFFFFFFFF;
    EFI_FIRMWARE_VOLUME2_PROTOCOL *p = fv_->protocol();
    return p->ReadSection(p, &file, type, instance, buffer, size, &auth);
  }

  sim::Platform platform_;
  sim::FirmwareVolume *fv_ = nullptr;
};

TEST_F(FirmwareVolumeRead, NullBufferIsAllocatedFromBootServicesPool) {
  void *buffer = nullptr;
  UINTN size = 0;
  ASSERT_EQ(Read(kPicture, EFI_SECTION_RAW, 0, &buffer, &size), EFI_SUCCESS);
  ASSERT_EQ(size, 10u);
  EXPECT_EQ(std::memcmp(buffer, "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A", 10), 0);
  ASSERT_TRUE(platform_.IsPoolBlock(buffer));
  EXPECT_EQ(platform_.live_pool().at(buffer).type, EfiBootServicesData);
  EXPECT_EQ(platform_.live_pool().at(buffer).size, 10u);
  EXPECT_EQ(platform_.boot_services()->FreePool(buffer), EFI_SUCCESS);
  EXPECT_EQ(platform_.pool_usage().blocks, 0u);
}

TEST_F(FirmwareVolumeRead, SmallCallerBufferIsTruncatedWithAWarning) {
  uint8_t data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  void *buffer = data;
  UINTN size = 3;
  EXPECT_EQ(Read(kPicture, EFI_SECTION_RAW, 0, &buffer, &size), EFI_WARN_BUFFER_TOO_SMALL);
  EXPECT_FALSE(EFI_ERROR(EFI_WARN_BUFFER_TOO_SMALL));
  EXPECT_EQ(size, 10u);  // the full size
  EXPECT_EQ(buffer, data);
  EXPECT_EQ(data[0], 1);
  EXPECT_EQ(data[2], 3);
  EXPECT_EQ(data[3], 0xEE);  // nothing past *BufferSize
  EXPECT_EQ(platform_.pool_usage().blocks, 0u);
}

TEST_F(FirmwareVolumeRead, LargeEnoughCallerBufferGetsTheData) {
  uint8_t data[16] = {};
  void *buffer = data;
  UINTN size = sizeof(data);
  EXPECT_EQ(Read(kPicture, EFI_SECTION_RAW, 0, &buffer, &size), EFI_SUCCESS);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(data[9], 10);
}

TEST_F(FirmwareVolumeRead, InstanceSelectsAmongSectionsOfTheType) {
  void *buffer = nullptr;
  UINTN size = 0;
  ASSERT_EQ(Read(kPicture, EFI_SECTION_RAW, 1, &buffer, &size), EFI_SUCCESS);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(*static_cast<uint8_t *>(buffer), 42);
  platform_.boot_services()->FreePool(buffer);
}

TEST_F(FirmwareVolumeRead, MissingFileSectionOrInstanceIsNotFound) {
  void *buffer = nullptr;
  UINTN size = 0;
  EXPECT_EQ(Read(kMissing, EFI_SECTION_RAW, 0, &buffer, &size), EFI_NOT_FOUND);
  EXPECT_EQ(Read(kPicture, EFI_SECTION_PE32, 0, &buffer, &size), EFI_NOT_FOUND);
  EXPECT_EQ(Read(kPicture, EFI_SECTION_RAW, 2, &buffer, &size), EFI_NOT_FOUND);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(platform_.pool_usage().blocks, 0u);
  EXPECT_EQ(fv_->read_section_calls(), 3u);
}

TEST_F(FirmwareVolumeRead, InjectedFailuresTouchNothing) {
  void *buffer = nullptr;
  UINTN size = 5;
  platform_.Inject(sim::Failure("ReadSection").On(*fv_).For(kPicture).Answers(EFI_ACCESS_DENIED));
  EXPECT_EQ(Read(kPicture, EFI_SECTION_RAW, 0, &buffer, &size), EFI_ACCESS_DENIED);
  EXPECT_EQ(Read(kMissing, EFI_SECTION_RAW, 0, &buffer, &size), EFI_NOT_FOUND) << "another file is served";
  platform_.Inject(sim::Failure("ReadSection").On(*fv_).Answers(EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Read(kMissing, EFI_SECTION_RAW, 0, &buffer, &size), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(fv_->read_section_calls(), 1u) << "only the call no failure picked reached the volume";
  EXPECT_EQ(platform_.CallCount("ReadSection"), 3u);
}

TEST_F(FirmwareVolumeRead, VolumesAreFoundInCreationOrder) {
  sim::FirmwareVolume &second = platform_.AddFirmwareVolume("fv1");
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  ASSERT_EQ(platform_.boot_services()->LocateHandleBuffer(ByProtocol, &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, nullptr,
                                                          &count, &handles),
            EFI_SUCCESS);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(handles[0], fv_->handle());
  EXPECT_EQ(handles[1], second.handle());
  void *interface = nullptr;
  ASSERT_EQ(platform_.boot_services()->HandleProtocol(handles[1], &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, &interface),
            EFI_SUCCESS);
  EXPECT_EQ(interface, second.protocol());
  platform_.boot_services()->FreePool(handles);
}

}  // namespace
