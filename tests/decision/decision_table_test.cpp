// One notification on a machine in a given state: the mode chosen, the
// picture drawn, the console calls, the CMOS marker writes, the time held,
// the variable reads and whether the machine is powered off.
#include <optional>

#include "efi/efi_guids.h"
#include "tests/decision/decision_fixture.h"

namespace decisiontest {
namespace {

enum class SecureBoot { kOn, kOff, kMissing, kOversized, kReadFails };

struct Machine {
  bool storage = true;
  SecureBoot secure_boot = SecureBoot::kOn;
  bool console = true;
  bool ec_present = true;
  std::vector<uint8_t> state = {0x00};
  std::vector<uint8_t> level = {100};
  std::vector<uint8_t> flag = {0x00};
  bool pictures = true;
};

struct Outcome {
  uint8_t mode;
  unsigned drawn;  // picture on screen, 0 none
  uint64_t stall_us;
  bool level_rechecked;
  bool shutdown;
  uint8_t secure_boot_state;
};

struct Case {
  const char *name;
  Machine machine;
  Outcome outcome;
};

constexpr uint64_t kHold = 4'000'000;
constexpr uint64_t kRecheck = 1'000'000;

Machine With(std::vector<uint8_t> state, std::vector<uint8_t> level, std::vector<uint8_t> flag = {0x00}) {
  Machine m;
  m.state = std::move(state);
  m.level = std::move(level);
  m.flag = std::move(flag);
  return m;
}

Machine Modify(Machine m, void (*change)(Machine &)) {
  change(m);
  return m;
}

const Case kCases[] = {
    // Nothing to show: the console is only cleared and the marker stays 0x00.
    {"QuietMachine", Machine{}, {0, 0, 0, false, false, 1}},
    {"StateCode1", With({0x01}, {100}), {1, 1, kHold, false, false, 1}},
    {"StateCode1AmongOtherBits", With({0xFD}, {100}), {1, 1, kHold, false, false, 1}},
    {"StateCode3ChangesNothing", With({0x03}, {0}), {0, 0, 0, false, false, 1}},
    {"StateCode0WithUpperBits", With({0xFC}, {0}), {0, 0, 0, false, false, 1}},
    // The critical-level check: both readings at 5 or below.
    {"CriticalLevel", With({0x02}, {4, 3}), {3, 3, kRecheck + kHold, true, true, 1}},
    {"CriticalLevelAtFive", With({0x02}, {5, 5}), {3, 3, kRecheck + kHold, true, true, 1}},
    {"CriticalLevelAtZero", With({0x02}, {0, 0}), {3, 3, kRecheck + kHold, true, true, 1}},
    {"CriticalCodeAmongOtherBits", With({0xFE}, {1, 1}), {3, 3, kRecheck + kHold, true, true, 1}},
    {"LevelSixIsNotCritical", With({0x02}, {6}), {0, 0, 0, false, false, 1}},
    {"LevelRecoversWithinTheSecond", With({0x02}, {5, 6}), {0, 0, kRecheck, true, false, 1}},
    {"LevelRecoversToHighByte", With({0x02}, {5, 0x80}), {0, 0, kRecheck, true, false, 1}},
    {"Level0x80IsAboveFive", With({0x02}, {0x80}), {0, 0, 0, false, false, 1}},
    {"Level0xFFIsAboveFive", With({0x02}, {0xFF}), {0, 0, 0, false, false, 1}},
    {"LowLevelWithoutCode2", With({0x01}, {0}), {1, 1, kHold, false, false, 1}},
    // Register 0x0D bit 1 overrides the state code and the critical level.
    {"FlagBit1", With({0x00}, {100}, {0x02}), {2, 2, kHold, false, false, 1}},
    {"FlagOtherBitsOnly", With({0x00}, {100}, {0xFD}), {0, 0, 0, false, false, 1}},
    {"FlagOverStateCode1", With({0x01}, {100}, {0x02}), {2, 2, kHold, false, false, 1}},
    {"FlagOverCriticalLevelNoPowerOff", With({0x02}, {4, 3}, {0x02}), {2, 2, kRecheck + kHold, true, false, 1}},
    // Secure Boot not enabled (5) overrides the controller's conditions.
    {"SecureBootOff",
     Modify(Machine{}, [](Machine &m) { m.secure_boot = SecureBoot::kOff; }),
     {5, 5, kHold, false, false, 0}},
    {"SecureBootVariableMissing",
     Modify(Machine{}, [](Machine &m) { m.secure_boot = SecureBoot::kMissing; }),
     {5, 5, kHold, false, false, 0}},
    {"SecureBootVariableOversized",
     Modify(Machine{}, [](Machine &m) { m.secure_boot = SecureBoot::kOversized; }),
     {5, 5, kHold, false, false, 0}},
    {"SecureBootReadFails",
     Modify(Machine{}, [](Machine &m) { m.secure_boot = SecureBoot::kReadFails; }),
     {5, 5, kHold, false, false, 0}},
    {"SecureBootOffOverCriticalLevel",
     Modify(With({0x02}, {1, 1}, {0x02}), [](Machine &m) { m.secure_boot = SecureBoot::kOff; }),
     {5, 5, kRecheck + kHold, true, false, 0}},
    // No storage controller (4) overrides everything.
    {"NoStorage", Modify(Machine{}, [](Machine &m) { m.storage = false; }), {4, 4, kHold, false, false, 1}},
    {"NoStorageOverAll",
     Modify(With({0x02}, {1, 1}, {0x02}),
            [](Machine &m) {
              m.storage = false;
              m.secure_boot = SecureBoot::kOff;
            }),
     {4, 4, kRecheck + kHold, true, false, 0}},
    // Absent controller: every read gives 0xFF, so code 3 and flag bit 1.
    {"AbsentController", Modify(Machine{}, [](Machine &m) { m.ec_present = false; }), {2, 2, kHold, false, false, 1}},
    {"AbsentControllerSecureBootOff",
     Modify(Machine{},
            [](Machine &m) {
              m.ec_present = false;
              m.secure_boot = SecureBoot::kOff;
            }),
     {5, 5, kHold, false, false, 0}},
    // Without a console the notice goes on as before, with no console calls.
    {"NoConsole", Modify(With({0x01}, {100}), [](Machine &m) { m.console = false; }), {1, 1, kHold, false, false, 1}},
    {"NoConsoleQuiet", Modify(Machine{}, [](Machine &m) { m.console = false; }), {0, 0, 0, false, false, 1}},
    // Power-off in mode 3 follows even when no picture could be drawn.
    {"CriticalLevelWithoutPictures",
     Modify(With({0x02}, {2, 2}), [](Machine &m) { m.pictures = false; }),
     {3, 0, kRecheck + kHold, true, true, 1}},
};

class DecisionTableTest : public DecisionTest, public ::testing::WithParamInterface<Case> {
 protected:
  void Arrange(const Machine &m) {
    if (!m.ec_present) ec_.Detach();
    ec_.SetRegisterSequence(kEcStateRegister, m.state);
    ec_.SetRegisterSequence(kEcLevelRegister, m.level);
    ec_.SetRegisterSequence(kEcFlagRegister, m.flag);
    if (!m.console) platform_.RemoveConsole();
    if (!m.pictures) platform_.Inject(sim::Failure("ReadSection").On(*volume_).Answers(EFI_NOT_FOUND));
    switch (m.secure_boot) {
      case SecureBoot::kOn:
        platform_.SetSecureBoot(1);
        break;
      case SecureBoot::kOff:
        platform_.SetSecureBoot(0);
        break;
      case SecureBoot::kMissing:
        break;
      case SecureBoot::kOversized:
        platform_.SetVariable(u"SecureBoot", EFI_GLOBAL_VARIABLE, 6, {1, 0});
        break;
      case SecureBoot::kReadFails:
        platform_.SetSecureBoot(1);
        platform_.Inject(sim::Failure("GetVariable").Answers(EFI_DEVICE_ERROR));
        break;
    }
  }
};

TEST_P(DecisionTableTest, OneNotification) {
  const Case &c = GetParam();
  Arrange(c.machine);
  Boot(c.machine.storage);
  ASSERT_FALSE(HasFatalFailure());

  const uint64_t stall_us = Trigger();

  const Outcome &want = c.outcome;
  EXPECT_EQ(gDriver.NoticeMode, want.mode);
  EXPECT_EQ(DrawnPicture(), want.drawn);
  EXPECT_EQ(stall_us, want.stall_us);
  EXPECT_EQ(gDriver.SecureBootState, want.secure_boot_state);
  EXPECT_EQ(ShutdownCalls(), want.shutdown ? 1u : 0u);
  EXPECT_EQ(platform_.is_off(), want.shutdown);

  // Registers 0x80, 0x93 (twice when the level is checked again), 0x0D.
  std::vector<uint8_t> asked = {0x80, 0x93};
  if (want.level_rechecked) asked.push_back(0x93);
  asked.push_back(0x0D);
  EXPECT_EQ(EcRegistersAsked(), asked);

  // The variable is asked for once, by name, for one byte.
  const std::vector<sim::CallRecord> reads = platform_.LogOf("GetVariable");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].Field("VariableName"), "SecureBoot");
  EXPECT_EQ(reads[0].Field("VendorGuid"), sim::GuidText(EFI_GLOBAL_VARIABLE));
  EXPECT_EQ(reads[0].Field("DataSize"), "1");

  // The marker: 0x00 at the start, 0xAA once a notice is done; only byte 0x30.
  const std::vector<uint8_t> marker = want.mode == 0 ? std::vector<uint8_t>{0x00} : std::vector<uint8_t>{0x00, 0xAA};
  EXPECT_EQ(cmos_.WritesTo(kMarkerIndex), marker);
  EXPECT_EQ(cmos_.writes().size(), marker.size());
  EXPECT_EQ(cmos_.byte(kMarkerIndex), marker.back());

  std::string console;
  if (c.machine.console) {
    console = "EnableCursor(0) ClearScreen";
    if (want.mode != 0) {
      // A picture that cannot be read prints ShowNotice's two failure lines
      // before the attribute is set.
      if (!c.machine.pictures) console += " OutputString OutputString";
      console += " SetAttribute(4) SetCursorPosition(0,0)";
    }
  }
  EXPECT_EQ(ConsoleCalls(), console);
}

INSTANTIATE_TEST_SUITE_P(Machines, DecisionTableTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace decisiontest
