// FindHobList: the HOB list from the configuration table, cached once found.
#include <gtest/gtest.h>

#include "base/driver_state.h"
#include "core/hob_walk.h"
#include "sim/hob_list_builder.h"
#include "sim/platform.h"

namespace {

constexpr EFI_GUID kOtherTable = {0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};

class HobListLookup : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(platform_.LeakReport(EfiBootServicesData), "");
    EXPECT_TRUE(platform_.faults().empty()) << platform_.faults().front();
  }
  sim::Platform platform_;
  int other_table_ = 0;
};

TEST_F(HobListLookup, FoundAfterOtherEntriesAndCached) {
  platform_.AddConfigurationTable(kOtherTable, &other_table_);
  void *list = platform_.InstallHobList(sim::HobListBuilder().TraceHub(0x1000).End().bytes());
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gDriver.HobList, list);
  EXPECT_EQ(gDriver.TraceHubBase, 0x1000u);

  // Once cached, the configuration table is not scanned again.
  platform_.system_table()->NumberOfTableEntries = 0;
  EXPECT_EQ(FindHobList(), list);
}

TEST_F(HobListLookup, FirstMatchingEntryWins) {
  void *first = platform_.InstallHobList(sim::HobListBuilder().TraceHub(0x1111).End().bytes());
  platform_.InstallHobList(sim::HobListBuilder().TraceHub(0x2222).End().bytes());
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(FindHobList(), first);
  EXPECT_EQ(gDriver.TraceHubBase, 0x1111u);
}

TEST_F(HobListLookup, MissIsNotCachedSoALaterCallScansAgain) {
  platform_.AddConfigurationTable(kOtherTable, &other_table_);
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gDriver.TraceHubBase, 0u);
  EXPECT_EQ(gDriver.HobList, nullptr);
  EXPECT_EQ(FindHobList(), nullptr);

  void *list = platform_.InstallHobList(sim::HobListBuilder().End().bytes());
  EXPECT_EQ(FindHobList(), list);
  EXPECT_EQ(gDriver.HobList, list);
}

TEST_F(HobListLookup, NoConfigurationTableAtAll) {
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(FindHobList(), nullptr);
  EXPECT_EQ(gDriver.TraceHubBase, 0u);
}

TEST_F(HobListLookup, EntryWithEmptyPointerCountsAsNoTraceHob) {
  platform_.AddConfigurationTable(EFI_HOB_LIST_GUID, nullptr);
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gDriver.TraceHubBase, 0u);
  // Start-up goes on: both notifications are registered.
  EXPECT_EQ(platform_.CallCount("RegisterProtocolNotify"), 1u);
}

}  // namespace
