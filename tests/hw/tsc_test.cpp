#include "hw/tsc.h"

#include "tests/hw/hw_fixture.h"

namespace {

struct FrequencyCase {
  const char *name;
  uint32_t max_leaf;
  uint32_t eax, ebx, ecx;
  uint64_t hz;
};

const FrequencyCase kFrequencyCases[] = {
    {"DefaultCrystal", 0x16, 2, 176, 0, 2'112'000'000},
    {"GivenCrystal", 0x16, 3, 250, 38'400'000, 3'200'000'000},
    {"HighestLeafIsExactly15", 0x15, 2, 176, 0, 2'112'000'000},
    {"ZeroDenominator", 0x16, 0, 176, 24'000'000, 0},
    {"ZeroNumerator", 0x16, 2, 0, 24'000'000, 0},
    {"RoundsHalfUp", 0x16, 3, 2, 1, 1},       // 0.667 Hz -> 1
    {"RoundsDown", 0x16, 3, 1, 1, 0},         // 0.333 Hz -> 0
    {"ExactHalfRoundsUp", 0x16, 2, 1, 1, 1},  // 0.5 Hz -> 1
    {"LargestFactorsDoNotOverflow", 0x16, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE00000001},
};

class TscFrequencyTest : public HwTest, public ::testing::WithParamInterface<FrequencyCase> {};

TEST_P(TscFrequencyTest, FromLeaf15) {
  const FrequencyCase &c = GetParam();
  hw().SetMaxBasicLeaf(c.max_leaf);
  hw().SetCpuidLeaf(0x15, CpuidResult{c.eax, c.ebx, c.ecx, 0});
  EXPECT_EQ(TscFrequency(), c.hz);
}

INSTANTIATE_TEST_SUITE_P(Cases, TscFrequencyTest, ::testing::ValuesIn(kFrequencyCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A processor whose highest basic leaf is 0xD answers leaf 0x15 with leaf
// 0xD's data; that data must not be taken for a frequency.
TEST_F(HwTest, MissingLeaf15GivesZeroEvenWhenTheHighestLeafLooksLikeARatio) {
  hw().SetMaxBasicLeaf(0xD);
  hw().SetCpuidLeaf(0xD, CpuidResult{2, 176, 0, 0});
  ASSERT_EQ(hw().CpuidQuery(0x15).Ebx, 176u) << "the machine should repeat leaf 0xD for leaf 0x15";
  EXPECT_EQ(TscFrequency(), 0u);
}

TEST_F(HwTest, DelaySpinsOneMillisecondOfCounterTicks) {
  SetTscLeaf(2, 176, 0);
  hw().set_tsc_hz(2'112'000'000);
  const uint64_t start = hw().ReadTsc();

  EXPECT_EQ(TscDelay(), 1000u);

  // It ends at the first counter reading past start + 2,112,000; each pause
  // moves the counter 2,112 ticks, so that reading is 1001 pauses later.
  const uint64_t elapsed = hw().ReadTsc() - start;
  EXPECT_GT(elapsed, 2'112'000u);
  EXPECT_LE(elapsed, 2'112'000u + 2'112u);
  EXPECT_EQ(hw().pause_count(), 1001u);
  EXPECT_TRUE(stalls().empty());
}

// The tick count comes from CPUID, not from how fast the counter really runs.
TEST_F(HwTest, DelayTicksFollowTheReportedFrequency) {
  SetTscLeaf(3, 250, 38'400'000);  // reports 3.2 GHz
  hw().set_tsc_hz(1'000'000'000);  // counter runs at 1 GHz: 1000 ticks a pause
  const uint64_t start = hw().ReadTsc();

  TscDelay();

  const uint64_t elapsed = hw().ReadTsc() - start;
  EXPECT_GT(elapsed, 3'200'000u);
  EXPECT_LE(elapsed, 3'201'000u);
}

TEST_F(HwTest, DelayAsksCpuidEveryTime) {
  SetTscLeaf(2, 176, 0);
  const unsigned before = hw().cpuid_calls();
  TscDelay();
  const unsigned one = hw().cpuid_calls() - before;
  TscDelay();
  EXPECT_GT(one, 0u);
  EXPECT_EQ(hw().cpuid_calls() - before, 2 * one);
}

TEST_F(HwTest, DelayWithoutFrequencyFallsBackToOneMillisecondStall) {
  // The default machine's highest basic leaf is 0xD.
  const uint64_t start_ns = hw().now_ns();

  EXPECT_EQ(TscDelay(), 1000u);

  EXPECT_EQ(stalls(), std::vector<UINTN>{1000});
  EXPECT_EQ(hw().pause_count(), 0u);
  EXPECT_EQ(hw().now_ns() - start_ns, 1'000'000u);
}

struct PlausibleCase {
  const char *name;
  uint32_t eax, ebx, ecx;
  bool falls_back;
};

// Frequencies above kTscMaxPlausibleHz (2^37 Hz, about 137 GHz) count as unknown. Each pause
// lets 1000 virtual seconds pass, so a delay that wrongly spins on an absurd
// frequency still ends (after thousands of pauses) instead of hanging the test.
const PlausibleCase kPlausibleCases[] = {
    {"Real2112MHz", 2, 176, 0, false},
    {"ExactlyTheBound", 1, 2048, 1u << 26, false},  // 2^11 x 2^26 Hz
    {"JustAboveTheBound", 1, 2049, 1u << 26, true},
    {"LargestLeafValues", 1, 0xFFFFFFFF, 0xFFFFFFFF, true},  // about 1.8e19 Hz
};

class TscPlausibleTest : public HwTest, public ::testing::WithParamInterface<PlausibleCase> {};

TEST_P(TscPlausibleTest, AbsurdFrequencyFallsBackToStall) {
  const PlausibleCase &c = GetParam();
  SetTscLeaf(c.eax, c.ebx, c.ecx);
  hw().set_pause_ns(1'000'000'000'000);

  EXPECT_EQ(TscDelay(), 1000u);

  if (c.falls_back) {
    EXPECT_EQ(stalls(), std::vector<UINTN>{1000});
    EXPECT_EQ(hw().pause_count(), 0u);
  } else {
    EXPECT_TRUE(stalls().empty());
    EXPECT_GT(hw().pause_count(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TscPlausibleTest, ::testing::ValuesIn(kPlausibleCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(HwTest, DelayWithZeroRatioFallsBackToStall) {
  SetTscLeaf(0, 0, 0);  // what a default TCG processor reports
  EXPECT_EQ(TscDelay(), 1000u);
  EXPECT_EQ(stalls(), std::vector<UINTN>{1000});
}

}  // namespace
