// The simulated controller's and CMOS bank's own behaviour that the driver's
// tests and the preview tool rely on, and how port devices come and go on a
// machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/cmos.h"
#include "sim/embedded_controller.h"
#include "sim/machine/hardware.h"
#include "sim/platform.h"

namespace {

// A fresh simulated platform, and with it a fresh machine behind the seam.
class PortDeviceTest : public ::testing::Test {
 protected:
  sim::Platform platform_;
};

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

TEST_F(PortDeviceTest, SimulatedEcIgnoresDataWithoutTheReadCommand) {
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

TEST_F(PortDeviceTest, SimulatedEcDataPortClearsOutputFullAndKeepsTheByte) {
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

TEST_F(PortDeviceTest, SimulatedEcDetachesWhenDestroyed) {
  {
    sim::EmbeddedController ec;
    ec.Attach();
    ec.SetRegister(0x80, 0x00);
    EXPECT_EQ(IoRead8(0x66), 0x00);
  }
  EXPECT_EQ(IoRead8(0x66), 0xFF) << "nothing answers any more";
}

TEST_F(PortDeviceTest, SimulatedCmosKeepsBytesPerIndexAndLogsDataWrites) {
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

// --- attaching and detaching ----------------------------------------------------

// Both ports of a device answer while it is attached and float (0xFF) before
// and after; the index port of the CMOS bank reads back the index written.
struct AttachCase {
  const char *name;
  bool cmos;  // false: the embedded controller
  uint16_t first_port, second_port;
  uint8_t first_attached, second_attached;  // what the ports read while attached
};

const AttachCase kAttachCases[] = {
    {"EmbeddedController", false, 0x62, 0x66, 0x00, 0x00},
    {"ExtendedCmos", true, 0x72, 0x73, 0x00, 0x5A},
};

class PortDeviceAttachTest : public PortDeviceTest, public ::testing::WithParamInterface<AttachCase> {
 protected:
  sim::PortDevice &Device() {
    if (GetParam().cmos) return cmos_;
    return ec_;
  }
  void ExpectPorts(uint8_t first, uint8_t second, const char *when) {
    EXPECT_EQ(IoRead8(GetParam().first_port), first) << when;
    EXPECT_EQ(IoRead8(GetParam().second_port), second) << when;
  }
  sim::EmbeddedController ec_;
  sim::ExtendedCmos cmos_{0x5A};
};

TEST_P(PortDeviceAttachTest, AnswersOnlyWhileAttached) {
  const AttachCase &c = GetParam();
  ExpectPorts(0xFF, 0xFF, "before");
  EXPECT_FALSE(Device().attached());
  Device().Attach();
  EXPECT_TRUE(Device().attached());
  ExpectPorts(c.first_attached, c.second_attached, "attached");
  Device().Detach();
  EXPECT_FALSE(Device().attached());
  ExpectPorts(0xFF, 0xFF, "detached");
  Device().Detach();  // a second detach changes nothing
  Device().Attach();
  Device().Attach();  // attaching again keeps one attachment
  ExpectPorts(c.first_attached, c.second_attached, "attached again");
  Device().Detach();
  ExpectPorts(0xFF, 0xFF, "detached again");
}

TEST_P(PortDeviceAttachTest, APlatformResetLeavesItDetached) {
  Device().Attach();
  platform_.Reset();  // replaces the machine the device was attached to
  EXPECT_FALSE(Device().attached());
  ExpectPorts(0xFF, 0xFF, "on the new machine");
  Device().Attach();
  ExpectPorts(GetParam().first_attached, GetParam().second_attached, "attached to the new machine");
}  // destroying the device then detaches it from the new machine only

TEST_P(PortDeviceAttachTest, AttachingToAnotherMachineLeavesTheFirst) {
  sim::Hardware other;
  Device().Attach();
  Device().Attach(other);
  EXPECT_TRUE(Device().attached());
  ExpectPorts(0xFF, 0xFF, "the current machine");
  EXPECT_EQ(other.PortRead(GetParam().second_port), GetParam().second_attached);
  Device().Detach();
  EXPECT_EQ(other.PortRead(GetParam().second_port), 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Devices, PortDeviceAttachTest, ::testing::ValuesIn(kAttachCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PortDeviceTest, AMachineDestroyedFirstLeavesItsDevicesDetached) {
  sim::EmbeddedController ec;
  {
    sim::Hardware other;
    ec.Attach(other);
  }
  EXPECT_FALSE(ec.attached());
  ec.Detach();  // refers to nothing gone (the sanitizers would see it)
}

TEST_F(PortDeviceTest, DetachingKeepsAPortAnotherDeviceTookOver) {
  sim::EmbeddedController first;
  sim::EmbeddedController second;
  first.Attach();
  first.SetRegister(0x80, 0x11);
  second.Attach();  // takes ports 0x62 and 0x66 over
  second.SetRegister(0x80, 0x22);
  first.Detach();
  IoWrite8(0x66, 0x80);
  IoWrite8(0x62, 0x80);
  EXPECT_EQ(IoRead8(0x66), 0x01) << "the second controller still answers";
  EXPECT_EQ(IoRead8(0x62), 0x22);
  EXPECT_TRUE(first.writes().empty());
}

}  // namespace
