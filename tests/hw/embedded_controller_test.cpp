#include "hw/embedded_controller.h"

#include "sim/embedded_controller.h"
#include "tests/hw/hw_fixture.h"

namespace {

using sim::EcKind;
using sim::EmbeddedController;

// The delays below run on the Stall fallback (the default machine reports no
// timestamp-counter frequency), so each delay is one counted Stall(1000).

struct SequenceCase {
  const char *name;
  bool attach;  // false: nothing behind the ports at all
  EcKind kind;
  unsigned latency;
  uint8_t expected_value;
  size_t expected_polls;
  // Status reads seen before the command byte and before the register byte.
  size_t polls_before_command;
  size_t polls_before_register;
};

// Register 0x93 holds 0x05 on every controller that answers.
const SequenceCase kSequenceCases[] = {
    {"Idle", true, EcKind::kIdle, 0, 0x05, 3, 1, 2},
    {"IdleSlow", true, EcKind::kIdle, 4, 0x05, 1 + 5 + 5, 1, 6},
    {"IdleAt510Polls", true, EcKind::kIdle, 510, 0x05, 1 + 511 + 511, 1, 512},
    {"NothingAttached", false, EcKind::kIdle, 0, 0xFF, 512 + 512 + 1, 512, 1024},
    {"AbsentDevice", true, EcKind::kAbsent, 0, 0xFF, 512 + 512 + 1, 512, 1024},
    {"StuckInput", true, EcKind::kStuckInput, 0, 0x00, 3 * 512, 512, 1024},
    {"NoOutput", true, EcKind::kNoOutput, 0, 0x00, 1 + 1 + 512, 1, 2},
    // A slowness at the poll limit times the waits out, yet the bytes are
    // taken in the end and the value is delivered.
    {"IdleAtThePollLimit", true, EcKind::kIdle, 511, 0x05, 1 + 512 + 512, 1, 513},
};

class EcSequenceTest : public HwTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(EcSequenceTest, ReadsRegister) {
  const SequenceCase &c = GetParam();
  EmbeddedController ec(c.kind);
  ec.set_latency_polls(c.latency);
  ec.SetRegister(0x93, 0x05);
  if (c.attach) ec.Attach();

  UINT8 value = 0xA5;
  EXPECT_EQ(EcRead(0x93, &value), EFI_SUCCESS);
  EXPECT_EQ(value, c.expected_value);

  // Port traffic: status polls, the command, more polls, the register number,
  // more polls, one data read; all of it 8-bit on 0x66 and 0x62 only.
  size_t polls = 0, polls_at_command = 0, polls_at_register = 0;
  std::vector<sim::PortAccess> writes;
  size_t data_reads = 0;
  for (const auto &a : hw().port_log()) {
    ASSERT_TRUE(a.port == 0x66 || a.port == 0x62) << "port " << a.port;
    if (a.port == 0x66 && !a.write) ++polls;
    if (a.port == 0x62 && !a.write) ++data_reads;
    if (a.write) {
      if (writes.empty())
        polls_at_command = polls;
      else
        polls_at_register = polls;
      writes.push_back(a);
    }
  }
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].port, 0x66);
  EXPECT_EQ(writes[0].value, 0x80);
  EXPECT_EQ(writes[1].port, 0x62);
  EXPECT_EQ(writes[1].value, 0x93);
  EXPECT_EQ(polls_at_command, c.polls_before_command);
  EXPECT_EQ(polls_at_register, c.polls_before_register);
  EXPECT_EQ(polls, c.expected_polls);
  EXPECT_EQ(data_reads, 1u);
  EXPECT_EQ(hw().port_log().back().port, 0x62) << "the data read comes last";

  // One delay after every status poll, none elsewhere.
  EXPECT_EQ(stalls().size(), c.expected_polls);
  if (c.attach) {
    ASSERT_EQ(ec.writes().size(), 2u);
    EXPECT_TRUE(ec.writes()[0].command);
    EXPECT_FALSE(ec.writes()[1].command);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EcSequenceTest, ::testing::ValuesIn(kSequenceCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The wait's result: success only when the awaited state shows within the
// first 511 polls; seeing it at the 512th still counts as a time-out.
struct WaitCase {
  unsigned latency;
  EFI_STATUS status;
  size_t polls;
};

const WaitCase kWaitCases[] = {
    {0, EFI_SUCCESS, 1},     {1, EFI_SUCCESS, 2},     {510, EFI_SUCCESS, 511},
    {511, EFI_TIMEOUT, 512}, {512, EFI_TIMEOUT, 512}, {2000, EFI_TIMEOUT, 512},
};

class EcWaitTest : public HwTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(EcWaitTest, InputEmpty) {
  const WaitCase &c = GetParam();
  EmbeddedController ec;
  ec.Attach();
  ec.set_latency_polls(c.latency);
  IoWrite8(0x66, 0x80);  // leaves the input buffer full for `latency` polls

  EXPECT_EQ(EcWaitInputEmpty(), c.status);
  EXPECT_EQ(StatusReads(), c.polls);
  EXPECT_EQ(stalls().size(), c.polls);
}

TEST_P(EcWaitTest, OutputFull) {
  const WaitCase &c = GetParam();
  EmbeddedController ec;
  ec.Attach();
  IoWrite8(0x66, 0x80);  // taken at once
  ec.set_latency_polls(c.latency);
  IoWrite8(0x62, 0x0D);  // the output shows after `latency` polls

  EXPECT_EQ(EcWaitOutputFull(), c.status);
  EXPECT_EQ(StatusReads(), c.polls);
  EXPECT_EQ(stalls().size(), c.polls);
}

INSTANTIATE_TEST_SUITE_P(Latencies, EcWaitTest, ::testing::ValuesIn(kWaitCases));

TEST_F(HwTest, EcWaitInputEmptyOnAnIdleControllerPollsOnceAndSleepsOnce) {
  EmbeddedController ec;
  ec.Attach();
  EXPECT_EQ(EcWaitInputEmpty(), EFI_SUCCESS);
  EXPECT_EQ(StatusReads(), 1u);
  EXPECT_EQ(stalls(), std::vector<UINTN>{1000});
}

TEST_F(HwTest, EcWaitOutputFullWithNothingPendingTimesOut) {
  EmbeddedController ec;
  ec.Attach();
  EXPECT_EQ(EcWaitOutputFull(), EFI_TIMEOUT);
  EXPECT_EQ(StatusReads(), 512u);
}

TEST_F(HwTest, EcReadDeliversSuccessiveValuesOfARegister) {
  EmbeddedController ec;
  ec.Attach();
  ec.SetRegisterSequence(0x93, {5, 6});
  ec.SetRegister(0x80, 0x02);

  UINT8 values[4] = {};
  EcRead(0x93, &values[0]);
  EcRead(0x80, &values[1]);
  EcRead(0x93, &values[2]);
  EcRead(0x93, &values[3]);

  EXPECT_EQ(values[0], 5);
  EXPECT_EQ(values[1], 2);
  EXPECT_EQ(values[2], 6);
  EXPECT_EQ(values[3], 6) << "the last value repeats";
  EXPECT_EQ(ec.ReadsOf(0x93), 3u);
  EXPECT_EQ(ec.ReadsOf(0x80), 1u);
}

TEST_F(HwTest, EcReadOnTimestampCounterCostsThreeMillisecondsWhenIdle) {
  SetTscLeaf(2, 176, 0);
  hw().set_tsc_hz(2'112'000'000);
  EmbeddedController ec;
  ec.Attach();
  ec.SetRegister(0x0D, 0x02);

  UINT8 value = 0;
  EcRead(0x0D, &value);

  EXPECT_EQ(value, 0x02);
  EXPECT_TRUE(stalls().empty());
  EXPECT_EQ(hw().pause_count(), 3 * 1001u);
}

}  // namespace
