// Addresses of the trace hub's channel register blocks.
#include "trace/trace_channel.h"

#include <string>

#include "trace_test_support.h"

namespace {

using trace_test::kHubBase;
using trace_test::TraceTest;

struct ChannelCase {
  const char *name;
  uint32_t base;
  uint32_t master;
  uint32_t channel;
  uint64_t expected;
};

class ChannelAddress : public TraceTest, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(ChannelAddress, IsBasePlusBlockOffset) {
  const ChannelCase &c = GetParam();
  gDriver.TraceHubBase = c.base;
  uint64_t address = 0x5A5A;
  EXPECT_EQ(TraceChannelAddress(c.master, c.channel, &address), EFI_SUCCESS);
  EXPECT_EQ(address, c.expected);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(TraceChannelMmio(c.master, c.channel)), c.expected);
  EXPECT_TRUE(trace_test::Stores().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Map, ChannelAddress,
    ::testing::Values(ChannelCase{"DriverChannel", kHubBase, 72, 14, uint64_t{kHubBase} + 0x70380},
                      ChannelCase{"DriverChannelWithoutHub", 0, 72, 14, 0x70380},  // no trace hub: plain offset from 0
                      ChannelCase{"FirstBlock", kHubBase, 16, 0, kHubBase},
                      ChannelCase{"LastChannelOfFirstMaster", kHubBase, 16, 127, uint64_t{kHubBase} + 0x1FC0},
                      ChannelCase{"FirstChannelOfSecondMaster", kHubBase, 17, 0, uint64_t{kHubBase} + 0x2000},
                      // The sum is taken in 64 bits: a base near the top of 4 GiB carries past it.
                      ChannelCase{"CarryPast4GiB", 0xFFFFFFC0u, 16, 1, 0x100000000ull},
                      // Outside the map the arithmetic is kept: master 15 wraps the 32-bit
                      // block number, which is then zero-extended.
                      ChannelCase{"MasterBelow16Wraps", 0, 15, 0, uint64_t{0xFFFFFF80u} * 64},
                      ChannelCase{"ChannelAbove127", 0, 16, 128, 0x2000}),
    [](const ::testing::TestParamInfo<ChannelCase> &info) { return std::string(info.param.name); });

TEST_F(TraceTest, EmptyOutSlotIsInvalidParameter) {
  EXPECT_EQ(TraceChannelAddress(72, 14, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(gDriver.TraceHubBase, kHubBase);
  EXPECT_TRUE(trace_test::Stores().empty());
}

}  // namespace
