// The simulated pool: accounting by type, failure injection by call number,
// and the faults real firmware would not survive.
#include <gtest/gtest.h>

#include "sim/platform.h"

namespace {

class PoolTest : public ::testing::Test {
 protected:
  void *Allocate(EFI_MEMORY_TYPE type, UINTN size, EFI_STATUS *status = nullptr) {
    void *buffer = nullptr;
    EFI_STATUS s = platform.boot_services()->AllocatePool(type, size, &buffer);
    if (status != nullptr) *status = s;
    return buffer;
  }
  sim::Platform platform;
};

TEST_F(PoolTest, CountsBytesAndBlocksPerType) {
  void *a = Allocate(EfiBootServicesData, 100);
  void *b = Allocate(EfiRuntimeServicesData, 40);
  void *c = Allocate(EfiBootServicesData, 8);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(platform.pool_usage(EfiBootServicesData).bytes, 108u);
  EXPECT_EQ(platform.pool_usage(EfiBootServicesData).blocks, 2u);
  EXPECT_EQ(platform.pool_usage(EfiRuntimeServicesData).bytes, 40u);

  EXPECT_EQ(platform.boot_services()->FreePool(a), EFI_SUCCESS);
  EXPECT_EQ(platform.pool_usage(EfiBootServicesData).bytes, 8u);
  EXPECT_EQ(platform.pool_usage().blocks, 2u);
  EXPECT_EQ(platform.peak_pool_bytes(), 148u);
  EXPECT_NE(platform.LeakReport(EfiRuntimeServicesData).find("40 bytes"), std::string::npos);
  EXPECT_EQ(platform.LeakReport(EfiLoaderData), "");
}

TEST_F(PoolTest, NthAllocationFailsAndOnlyThatOne) {
  platform.Inject(sim::Failure("AllocatePool").Call(2).Answers(EFI_OUT_OF_RESOURCES));
  EFI_STATUS first, second, third;
  void *a = Allocate(EfiBootServicesData, 16, &first);
  void *b = Allocate(EfiBootServicesData, 16, &second);
  void *c = Allocate(EfiBootServicesData, 16, &third);
  EXPECT_EQ(first, EFI_SUCCESS);
  EXPECT_EQ(second, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(third, EFI_SUCCESS);
  EXPECT_EQ(platform.pool_usage().blocks, 2u);
  EXPECT_EQ(platform.CallCount("AllocatePool"), 3u);
  platform.boot_services()->FreePool(a);
  platform.boot_services()->FreePool(c);
}

TEST_F(PoolTest, FreeOfUnknownOrFreedBufferIsRejectedAndReported) {
  void *a = Allocate(EfiBootServicesData, 4);
  ASSERT_EQ(platform.boot_services()->FreePool(a), EFI_SUCCESS);
  EXPECT_EQ(platform.boot_services()->FreePool(a), EFI_INVALID_PARAMETER);
  int local = 0;
  EXPECT_EQ(platform.boot_services()->FreePool(&local), EFI_INVALID_PARAMETER);
  EXPECT_EQ(platform.faults().size(), 2u);
}

TEST_F(PoolTest, NonPoolTypeIsRejected) {
  EFI_STATUS status;
  EXPECT_EQ(Allocate(EfiReservedMemoryType, 4, &status), nullptr);
  EXPECT_EQ(status, EFI_INVALID_PARAMETER);
  EXPECT_EQ(platform.pool_usage().blocks, 0u);
}

}  // namespace
