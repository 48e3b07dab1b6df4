// Binding the driver's globals to a simulated firmware's tables (as
// DriverEntry's first lines do), a loaded driver's record, and the pool-only
// firmware the decoder's benchmark and fuzzer run on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/driver_state.h"
#include "sim/driver_reload.h"
#include "sim/platform.h"
#include "sim/pool_only_firmware.h"

namespace {

TEST(PlatformBindDriver, HandsTheDriverWhatDriverEntryKeeps) {
  sim::Platform platform;
  EXPECT_EQ(gDriver.SystemTable, nullptr) << "a freshly loaded driver holds no tables";
  platform.BindDriver();
  EXPECT_EQ(gDriver.ImageHandle, platform.image_handle());
  EXPECT_EQ(gDriver.SystemTable, platform.system_table());
  EXPECT_EQ(gDriver.BootServices, platform.boot_services());
  EXPECT_EQ(gDriver.RuntimeServices, platform.runtime_services());
  EXPECT_EQ(gDriver.SecureBootState, 0xFF) << "a loaded driver has not read the variable yet";
  EXPECT_EQ(gDriver.StorageAbsent, 1) << "nor found storage";
  EXPECT_EQ(gDriver.HobList, nullptr) << "nothing beyond the first lines of DriverEntry";
  EXPECT_EQ(gDriver.TriggerEvent, nullptr);
  EXPECT_TRUE(platform.log().empty()) << "binding calls no service";
}

TEST(PlatformBindDriver, MatchesWhatDriverEntryKeeps) {
  sim::Platform platform;
  ASSERT_EQ(platform.RunDriverEntry(), EFI_SUCCESS);
  const DriverState after_entry = gDriver;
  sim::ReloadDriver();
  platform.BindDriver();
  EXPECT_EQ(gDriver.ImageHandle, after_entry.ImageHandle);
  EXPECT_EQ(gDriver.SystemTable, after_entry.SystemTable);
  EXPECT_EQ(gDriver.BootServices, after_entry.BootServices);
  EXPECT_EQ(gDriver.RuntimeServices, after_entry.RuntimeServices);
  EXPECT_EQ(gDriver.SecureBootState, after_entry.SecureBootState);
  EXPECT_EQ(gDriver.StorageAbsent, after_entry.StorageAbsent);
}

// The record tests take as a loaded driver's is what a real DriverEntry
// leaves in every value it does not take from the firmware or find there;
// the image's own record is not it.
TEST(LoadedDriverState, IsWhatDriverEntryLeaves) {
  sim::Platform platform;
  const DriverState loaded = sim::LoadedDriverState();
  EXPECT_EQ(loaded.SecureBootState, 0xFF);
  EXPECT_EQ(loaded.StorageAbsent, 1);
  EXPECT_NE(loaded.SecureBootState, DriverState{}.SecureBootState);
  EXPECT_NE(loaded.StorageAbsent, DriverState{}.StorageAbsent);

  ASSERT_EQ(platform.RunDriverEntry(), EFI_SUCCESS);  // no HOB list, no storage, no trigger yet
  EXPECT_EQ(gDriver.SecureBootState, loaded.SecureBootState);
  EXPECT_EQ(gDriver.StorageAbsent, loaded.StorageAbsent);
  EXPECT_EQ(gDriver.NoticeMode, loaded.NoticeMode);
  EXPECT_EQ(gDriver.NoticeImageBuffer, loaded.NoticeImageBuffer);
  EXPECT_EQ(gDriver.TraceHubBase, loaded.TraceHubBase);
  EXPECT_EQ(loaded.SystemTable, nullptr) << "no tables: those are the firmware's";
}

TEST(LoadedDriverState, LeavesTheDriverAsItWas) {
  sim::Platform platform;
  gDriver.NoticeMode = 3;
  gDriver.StorageAbsent = 0;
  const DriverState loaded = sim::LoadedDriverState();
  EXPECT_EQ(loaded.NoticeMode, 0);
  EXPECT_EQ(gDriver.NoticeMode, 3);
  EXPECT_EQ(gDriver.StorageAbsent, 0);
  EXPECT_EQ(gDriver.SecureBootState, DriverState{}.SecureBootState);
}

class PoolOnlyFirmwareTest : public ::testing::Test {
 protected:
  EFI_STATUS Allocate(EFI_MEMORY_TYPE type, UINTN size, void **buffer) {
    return firmware_.boot_services()->AllocatePool(type, size, buffer);
  }
  sim::PoolOnlyFirmware firmware_;
};

TEST_F(PoolOnlyFirmwareTest, BindsOnlyBootServices) {
  firmware_.BindDriver();
  EXPECT_EQ(gDriver.SystemTable, firmware_.system_table());
  EXPECT_EQ(gDriver.BootServices, firmware_.boot_services());
  EXPECT_EQ(gDriver.SystemTable->BootServices, firmware_.boot_services());
  EXPECT_EQ(gDriver.RuntimeServices, nullptr);
  EXPECT_EQ(gDriver.StorageAbsent, sim::LoadedDriverState().StorageAbsent);
  EXPECT_EQ(firmware_.boot_services()->Stall, nullptr) << "no service but the pool";
  EXPECT_EQ(firmware_.boot_services()->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
}

TEST_F(PoolOnlyFirmwareTest, HandsOutExactlySizedBlocksAndTakesThemBack) {
  void *a = nullptr;
  void *b = nullptr;
  ASSERT_EQ(Allocate(EfiBootServicesData, 24, &a), EFI_SUCCESS);
  ASSERT_EQ(Allocate(EfiBootServicesData, 0, &b), EFI_SUCCESS);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  std::memset(a, 0x11, 24);
  EXPECT_EQ(firmware_.blocks().size(), 2u);
  EXPECT_EQ(firmware_.blocks().at(a), 24u);
  EXPECT_EQ(firmware_.blocks().at(b), 0u);
  EXPECT_EQ(firmware_.boot_services()->FreePool(a), EFI_SUCCESS);
  EXPECT_EQ(firmware_.blocks().count(a), 0u);
  EXPECT_TRUE(firmware_.faults().empty());
}  // b is released by the destructor (the leak checker would see it otherwise)

struct MisuseCase {
  const char *name;
  EFI_MEMORY_TYPE type;
  UINTN size;
  bool null_slot;
  EFI_STATUS expected;
};

const MisuseCase kMisuseCases[] = {
    {"RuntimeData", EfiRuntimeServicesData, 8, false, EFI_INVALID_PARAMETER},
    {"LoaderData", EfiLoaderData, 8, false, EFI_INVALID_PARAMETER},
    {"NullSlot", EfiBootServicesData, 8, true, EFI_INVALID_PARAMETER},
    {"AboveTheLimit", EfiBootServicesData, 4097, false, EFI_OUT_OF_RESOURCES},
};

class PoolOnlyMisuseTest : public PoolOnlyFirmwareTest, public ::testing::WithParamInterface<MisuseCase> {};

TEST_P(PoolOnlyMisuseTest, IsRefusedAndListed) {
  const MisuseCase &c = GetParam();
  firmware_.set_allocation_limit(4096);
  void *buffer = nullptr;
  EXPECT_EQ(Allocate(c.type, c.size, c.null_slot ? nullptr : &buffer), c.expected);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_TRUE(firmware_.blocks().empty());
  EXPECT_EQ(firmware_.faults().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Requests, PoolOnlyMisuseTest, ::testing::ValuesIn(kMisuseCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PoolOnlyFirmwareTest, TheLimitItselfIsAllowed) {
  firmware_.set_allocation_limit(4096);
  void *buffer = nullptr;
  EXPECT_EQ(Allocate(EfiBootServicesData, 4096, &buffer), EFI_SUCCESS);
  EXPECT_TRUE(firmware_.faults().empty());
}

TEST_F(PoolOnlyFirmwareTest, FreeingWhatItDidNotHandOutIsRefused) {
  int not_a_block = 0;
  void *buffer = nullptr;
  ASSERT_EQ(Allocate(EfiBootServicesData, 4, &buffer), EFI_SUCCESS);
  EXPECT_EQ(firmware_.boot_services()->FreePool(&not_a_block), EFI_INVALID_PARAMETER);
  EXPECT_EQ(firmware_.boot_services()->FreePool(buffer), EFI_SUCCESS);
  EXPECT_EQ(firmware_.boot_services()->FreePool(buffer), EFI_INVALID_PARAMETER) << "freed twice";
  EXPECT_EQ(firmware_.faults().size(), 2u);
}

}  // namespace
