// The decision over readings alone, with literal values as the oracle.
#include <gtest/gtest.h>

#include <ostream>

#include "core/notice_decision.h"

namespace {

struct RuleCase {
  const char *name;
  NoticeReadings readings;  // state, level, level again, flag, SecureBoot, storage absent, previous
  bool wait_due;
  NoticeRule rule;
  UINT8 mode;
};

void PrintTo(const RuleCase &c, std::ostream *out) { *out << c.name; }

class NoticeDecisionTest : public testing::TestWithParam<RuleCase> {};

TEST_P(NoticeDecisionTest, ChoosesTheNotice) {
  const RuleCase &c = GetParam();
  EXPECT_EQ(CriticalWaitDue(c.readings.State, c.readings.Level), c.wait_due);
  EXPECT_EQ(DecidingRule(c.readings), c.rule);
  EXPECT_EQ(DecideNotice(c.readings), c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, NoticeDecisionTest,
    testing::Values(
        RuleCase{"Quiet", {0, 100, 0, 0, 1, 0, 0}, false, NoticeRule::PreviousNotice, 0},
        RuleCase{"QuietKeepsPrevious", {0, 100, 0, 0, 1, 0, 3}, false, NoticeRule::PreviousNotice, 3},
        RuleCase{"StateCode1", {0x01, 100, 0, 0, 1, 0, 0}, false, NoticeRule::EcStateCode1, 1},
        RuleCase{"StateCodeUsesLowBitsOnly", {0xFD, 100, 0, 0, 1, 0, 0}, false, NoticeRule::EcStateCode1, 1},
        RuleCase{"CriticalConfirmed", {0x02, 5, 4, 0, 1, 0, 0}, true, NoticeRule::CriticalLevel, 3},
        RuleCase{"CriticalNotConfirmedKeepsPrevious", {0x02, 5, 6, 0, 1, 0, 1}, true, NoticeRule::PreviousNotice, 1},
        RuleCase{"LevelSixNotCritical", {0x02, 6, 0, 0, 1, 0, 0}, false, NoticeRule::PreviousNotice, 0},
        RuleCase{"StateCode3NoWait", {0x03, 0, 0, 0, 1, 0, 0}, false, NoticeRule::PreviousNotice, 0},
        RuleCase{"FlagOverCritical", {0x02, 0, 0, 0x02, 1, 0, 0}, true, NoticeRule::EcFlag, 2},
        RuleCase{"FlagOtherBitsIgnored", {0, 100, 0, 0xFD, 1, 0, 0}, false, NoticeRule::PreviousNotice, 0},
        RuleCase{"SecureBootOffOverFlag", {0x01, 100, 0, 0x02, 0, 0, 0}, false, NoticeRule::SecureBootOff, 5},
        RuleCase{"SecureBootByteTwoIsNotEnabled", {0, 100, 0, 0, 2, 0, 0}, false, NoticeRule::SecureBootOff, 5},
        RuleCase{"NoStorageOverAll", {0x02, 0, 0, 0x02, 0, 1, 6}, true, NoticeRule::NoStorage, 4}),
    [](const testing::TestParamInfo<RuleCase> &info) { return info.param.name; });

}  // namespace
