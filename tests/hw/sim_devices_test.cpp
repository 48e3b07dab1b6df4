// The simulated controller's and CMOS bank's own behaviour that the driver's
// tests and the preview tool rely on.
#include "sim/cmos.h"
#include "sim/embedded_controller.h"
#include "tests/hw/hw_fixture.h"

namespace {

using sim::EcRegisterSetting;

struct SettingCase {
  const char *text;
  bool valid;
  uint8_t reg;
  std::vector<uint8_t> values;
};

const SettingCase kSettingCases[] = {
    {"0x93=5,6", true, 0x93, {5, 6}},
    {"128=0x02", true, 0x80, {2}},
    {"0x0D=0XFF", true, 0x0D, {0xFF}},
    {"13=0,1,2,255", true, 0x0D, {0, 1, 2, 255}},
    {"0x93", false, 0, {}},
    {"0x93=", false, 0, {}},
    {"=5", false, 0, {}},
    {"0x93=256", false, 0, {}},
    {"0x100=1", false, 0, {}},
    {"0x93=5,", false, 0, {}},
    {"0x93=,5", false, 0, {}},
    {"0x=1", false, 0, {}},
    {"abc=1", false, 0, {}},
    {"0x93=-1", false, 0, {}},
    {"0x93=5 ", false, 0, {}},
};

class EcSettingParseTest : public ::testing::TestWithParam<SettingCase> {};

TEST_P(EcSettingParseTest, Parses) {
  const SettingCase &c = GetParam();
  const auto setting = sim::ParseEcRegisterSetting(c.text);
  ASSERT_EQ(setting.has_value(), c.valid) << c.text;
  if (!c.valid) return;
  EXPECT_EQ(setting->reg, c.reg);
  EXPECT_EQ(setting->values, c.values);
}

INSTANTIATE_TEST_SUITE_P(Texts, EcSettingParseTest, ::testing::ValuesIn(kSettingCases));

TEST(EcKindNames, RoundTripAndRejectUnknown) {
  for (auto kind : {sim::EcKind::kIdle, sim::EcKind::kAbsent, sim::EcKind::kStuckInput, sim::EcKind::kNoOutput}) {
    EXPECT_EQ(sim::ParseEcKind(sim::EcKindName(kind)), kind);
  }
  EXPECT_EQ(sim::ParseEcKind("stuck-input"), sim::EcKind::kStuckInput);
  EXPECT_FALSE(sim::ParseEcKind("Idle").has_value());
  EXPECT_FALSE(sim::ParseEcKind("").has_value());
}

TEST_F(HwTest, SimulatedEcIgnoresDataWithoutTheReadCommand) {
  sim::EmbeddedController ec;
  ec.Attach();
  ec.SetRegister(0x93, 7);
  IoWrite8(0x62, 0x93);  // no command first
  IoWrite8(0x66, 0x81);  // a command it does not answer
  IoWrite8(0x62, 0x93);
  EXPECT_EQ(IoRead8(0x66) & 0x01, 0) << "no output appears";
  EXPECT_TRUE(ec.served_reads().empty());
  EXPECT_EQ(ec.writes().size(), 3u);
}

TEST_F(HwTest, SimulatedEcDataPortClearsOutputFullAndKeepsTheByte) {
  sim::EmbeddedController ec;
  ec.Attach();
  ec.SetRegister(0x80, 0x42);
  IoWrite8(0x66, 0x80);
  IoWrite8(0x62, 0x80);
  EXPECT_EQ(IoRead8(0x66), 0x01);
  EXPECT_EQ(IoRead8(0x62), 0x42);
  EXPECT_EQ(IoRead8(0x66), 0x00);
  EXPECT_EQ(IoRead8(0x62), 0x42) << "a second data read gives the last byte again";
  ASSERT_EQ(ec.served_reads().size(), 1u);
  EXPECT_EQ(ec.served_reads()[0].reg, 0x80);
  EXPECT_EQ(ec.served_reads()[0].value, 0x42);
}

TEST_F(HwTest, SimulatedEcDetachesWhenDestroyed) {
  {
    sim::EmbeddedController ec;
    ec.Attach();
    ec.SetRegister(0x80, 0x00);
    EXPECT_EQ(IoRead8(0x66), 0x00);
  }
  EXPECT_EQ(IoRead8(0x66), 0xFF) << "nothing answers any more";
}

TEST_F(HwTest, SimulatedCmosKeepsBytesPerIndexAndLogsDataWrites) {
  sim::ExtendedCmos cmos(0x5A);
  cmos.Attach();
  IoWrite8(0x72, 0x30);
  IoWrite8(0x73, 0x00);
  IoWrite8(0x72, 0x31);
  IoWrite8(0x73, 0x11);
  IoWrite8(0x72, 0x30);
  IoWrite8(0x73, 0xAA);

  EXPECT_EQ(cmos.byte(0x30), 0xAA);
  EXPECT_EQ(cmos.byte(0x31), 0x11);
  EXPECT_EQ(cmos.byte(0x32), 0x5A);
  EXPECT_EQ(cmos.WritesTo(0x30), (std::vector<uint8_t>{0x00, 0xAA}));
  EXPECT_EQ(cmos.writes().size(), 3u);
  IoWrite8(0x72, 0x31);
  EXPECT_EQ(IoRead8(0x73), 0x11);
}

}  // namespace
