// Trace set-up on the simulated platform: the records it allocates, its
// allocation failures and retries, and what start-up leaves behind.
#include "trace/trace_setup.h"

#include <cstring>

#include "sim/hob_list_builder.h"
#include "sim/platform.h"
#include "trace/trace_state.h"
#include "trace/trace_writer.h"
#include "trace_test_support.h"

namespace {

using trace_test::kChannel;
using trace_test::kHubBase;

class TraceSetupTest : public ::testing::Test {
 protected:
  // The platform makes a fresh machine and a freshly loaded driver.
  void SetUp() override {
    platform_.BindDriver();
    gDriver.TraceHubBase = kHubBase;
  }

  EFI_STATUS RunSetup() { return TraceSetup(platform_.image_handle(), platform_.system_table()); }
  unsigned Allocations() const { return platform_.CallCount("AllocatePool"); }
  size_t RuntimeBlocks() const { return platform_.pool_usage(EfiRuntimeServicesData).blocks; }

  sim::Platform platform_;
};

void ExpectDriverHandle(const TraceHandle *handle, uint64_t channel) {
  ASSERT_NE(handle, nullptr);
  const TraceHeader *header = handle->Header;
  ASSERT_NE(header, nullptr);
  EXPECT_NE(header, &gTrace.DefaultTraceHeader);
  EXPECT_EQ(header->Version, 0x10000u);
  EXPECT_EQ(header->Writer, &TraceScatterWrite);
  EXPECT_EQ(header->InitHandle, &TraceHandleInitHook);
  EXPECT_EQ(header->ReleaseHandle, &TraceHandleReleaseHook);
  EXPECT_EQ(header->Write32Stamped, &TraceWrite32Stamped);
  EXPECT_EQ(header->WriteEndFlag, &TraceWriteEndFlag);
  EXPECT_EQ(handle->Flags, 1u);
  EXPECT_EQ(handle->Tag, 0u);
  const uint8_t zero[16] = {};
  EXPECT_EQ(std::memcmp(&handle->OriginGuid, zero, sizeof(zero)), 0);
  EXPECT_EQ(handle->Master, 72u);
  EXPECT_EQ(handle->Channel, 14u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(handle->ChannelMmio), channel);
}

TEST_F(TraceSetupTest, MakesHeaderAndHandleInRuntimePoolWithoutTouchingRegisters) {
  EXPECT_EQ(RunSetup(), EFI_SUCCESS);
  const TraceHandle *handle = gTrace.DriverTraceHandle;
  ExpectDriverHandle(handle, kChannel);

  EXPECT_EQ(Allocations(), 2u);
  ASSERT_TRUE(platform_.IsPoolBlock(handle));
  ASSERT_TRUE(platform_.IsPoolBlock(handle->Header));
  EXPECT_EQ(platform_.live_pool().at(const_cast<TraceHandle *>(handle)).type, EfiRuntimeServicesData);
  EXPECT_EQ(platform_.live_pool().at(const_cast<TraceHandle *>(handle)).size, sizeof(TraceHandle));
  EXPECT_EQ(platform_.live_pool().at(handle->Header).type, EfiRuntimeServicesData);
  EXPECT_EQ(platform_.live_pool().at(handle->Header).size, sizeof(TraceHeader));
  EXPECT_TRUE(trace_test::Stores().empty());
  // The default header is not the one start-up uses, and stays zero.
  EXPECT_EQ(gTrace.DefaultTraceHeader.Version, 0u);
  EXPECT_TRUE(platform_.faults().empty());
}

TEST_F(TraceSetupTest, SecondCallAfterSuccessAllocatesNothing) {
  ASSERT_EQ(RunSetup(), EFI_SUCCESS);
  TraceHandle *first = gTrace.DriverTraceHandle;
  EXPECT_EQ(RunSetup(), EFI_SUCCESS);
  EXPECT_EQ(gTrace.DriverTraceHandle, first);
  EXPECT_EQ(Allocations(), 2u);
}

TEST_F(TraceSetupTest, FailedHeaderAllocationIsOutOfResourcesAndALaterCallStartsAgain) {
  platform_.Inject(sim::Failure("AllocatePool").Call(1).Answers(EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(RunSetup(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(gTrace.DriverTraceHandle, nullptr);
  EXPECT_EQ(Allocations(), 1u);
  EXPECT_EQ(RuntimeBlocks(), 0u);

  EXPECT_EQ(RunSetup(), EFI_SUCCESS);
  ExpectDriverHandle(gTrace.DriverTraceHandle, kChannel);
  EXPECT_EQ(Allocations(), 3u);
  EXPECT_EQ(RuntimeBlocks(), 2u);
}

TEST_F(TraceSetupTest, FailedHandleAllocationStillSucceedsAndKeepsTheHeader) {
  platform_.Inject(sim::Failure("AllocatePool").Call(2).Answers(EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(RunSetup(), EFI_SUCCESS);
  EXPECT_EQ(gTrace.DriverTraceHandle, nullptr);
  EXPECT_EQ(RuntimeBlocks(), 1u);  // the header, never released
  EXPECT_TRUE(platform_.LogOf("FreePool").empty());

  // The next call makes a new header as well.
  EXPECT_EQ(RunSetup(), EFI_SUCCESS);
  ExpectDriverHandle(gTrace.DriverTraceHandle, kChannel);
  EXPECT_EQ(Allocations(), 4u);
  EXPECT_EQ(RuntimeBlocks(), 3u);
}

TEST_F(TraceSetupTest, DriverEntryBindsTheHandleToTheTraceHubChannel) {
  platform_.InstallHobList(sim::HobListBuilder().TraceHub(0xFE000000u).End().bytes());
  EXPECT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gDriver.TraceHubBase, 0xFE000000u);
  ExpectDriverHandle(gTrace.DriverTraceHandle, 0xFE000000u + 0x70380u);
  EXPECT_TRUE(trace_test::Stores().empty());
}

TEST_F(TraceSetupTest, DriverEntryWithoutTraceHobLeavesTheHandleOnNoChannel) {
  platform_.InstallHobList(sim::HobListBuilder().End().bytes());
  EXPECT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gDriver.TraceHubBase, 0u);
  ExpectDriverHandle(gTrace.DriverTraceHandle, 0);
  EXPECT_TRUE(trace_test::Stores().empty());
}

TEST_F(TraceSetupTest, DriverEntryIgnoresAFailedSetUp) {
  platform_.InstallHobList(sim::HobListBuilder().TraceHub(kHubBase).End().bytes());
  platform_.Inject(sim::Failure("AllocatePool").Call(1).Answers(EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gTrace.DriverTraceHandle, nullptr);
  // Start-up went on to register its notifications.
  EXPECT_EQ(platform_.CallCount("CreateEvent"), 1u);
}

}  // namespace
