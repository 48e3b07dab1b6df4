// Several notifications in one boot: the driver-wide values carry over.
#include "efi/efi_guids.h"
#include "tests/decision/decision_fixture.h"

namespace decisiontest {
namespace {

TEST_F(DecisionTest, SecondNotificationRepeatsTheFirstNotice) {
  platform_.SetSecureBoot(1);
  ec_.SetRegisterSequence(kEcStateRegister, {0x01, 0x00});  // code 1, then nothing
  Boot(true);

  EXPECT_EQ(Trigger(), 4'000'000u);
  EXPECT_EQ(DrawnPicture(), 1u);
  EXPECT_EQ(Trigger(), 4'000'000u);

  EXPECT_EQ(gDriver.NoticeMode, 1);
  EXPECT_EQ(platform_.blt_calls().size(), 2u);
  EXPECT_EQ(DrawnPicture(), 1u);
  EXPECT_EQ(cmos_.WritesTo(kMarkerIndex), (std::vector<uint8_t>{0x00, 0xAA, 0x00, 0xAA}));
  EXPECT_EQ(platform_.LogOf("GetVariable").size(), 1u) << "the variable is read once per boot";
}

TEST_F(DecisionTest, LaterConditionReplacesAnEarlierNotice) {
  platform_.SetSecureBoot(1);
  ec_.SetRegisterSequence(kEcStateRegister, {0x01});
  ec_.SetRegisterSequence(kEcFlagRegister, {0x00, 0x02});
  Boot(true);

  Trigger();
  EXPECT_EQ(gDriver.NoticeMode, 1);
  Trigger();
  EXPECT_EQ(gDriver.NoticeMode, 2);
  EXPECT_EQ(DrawnPicture(), 2u);
}

TEST_F(DecisionTest, SecureBootByteOf0xFFIsReadAgainNextTime) {
  platform_.SetSecureBoot(0xFF);
  Boot(true);

  Trigger();
  EXPECT_EQ(gDriver.SecureBootState, 0xFF);
  EXPECT_EQ(gDriver.NoticeMode, 5) << "0xFF is not 1: Secure Boot counts as not enabled";

  platform_.SetSecureBoot(1);
  Trigger();
  EXPECT_EQ(platform_.LogOf("GetVariable").size(), 2u);
  EXPECT_EQ(gDriver.SecureBootState, 1);
  EXPECT_EQ(gDriver.NoticeMode, 5) << "nothing lowers a notice once chosen";

  Trigger();
  EXPECT_EQ(platform_.LogOf("GetVariable").size(), 2u);
}

// A variable store that answers success but delivers no byte: the read
// counts as failed, so the variable is not asked again at every trigger.
TEST_F(DecisionTest, SecureBootReadWithoutItsByteCountsAsFailed) {
  platform_.SetVariable(u"SecureBoot", EFI_GLOBAL_VARIABLE, 0x6, {});
  Boot(true);

  Trigger();
  Trigger();

  const auto reads = platform_.LogOf("GetVariable");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].status, EFI_SUCCESS);
  EXPECT_EQ(reads[0].Field("DataSizeOut"), "0");
  EXPECT_EQ(gDriver.SecureBootState, 0);
  EXPECT_EQ(gDriver.NoticeMode, 5);
}

TEST_F(DecisionTest, FailedSecureBootReadStaysForTheBoot) {
  platform_.SetSecureBoot(1);
  platform_.Inject(sim::Failure("GetVariable").Call(1).Answers(EFI_DEVICE_ERROR));
  Boot(true);

  Trigger();
  Trigger();

  EXPECT_EQ(platform_.LogOf("GetVariable").size(), 1u);
  EXPECT_EQ(gDriver.SecureBootState, 0);
  EXPECT_EQ(gDriver.NoticeMode, 5);
}

TEST_F(DecisionTest, TriggerBeforeEndOfDxeShowsNoStorageNoticeAndItStays) {
  platform_.SetSecureBoot(1);
  platform_.AddPciDevice("nvme0", 0x01, 0x08, 0x02);
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);

  Trigger();
  EXPECT_EQ(gDriver.NoticeMode, 4);
  EXPECT_EQ(DrawnPicture(), 4u);

  platform_.SignalEndOfDxe();
  ASSERT_EQ(gDriver.StorageAbsent, 0);
  Trigger();
  EXPECT_EQ(gDriver.NoticeMode, 4) << "the previous notice carries over";
  EXPECT_EQ(platform_.blt_calls().size(), 2u);
}

// The hold and the power-off come after the picture: nothing is drawn after
// the power-off request, and the marker reads 0xAA before it.
TEST_F(DecisionTest, PowerOffIsTheLastThingDone) {
  platform_.SetSecureBoot(1);
  ec_.SetRegisterSequence(kEcStateRegister, {0x02});
  ec_.SetRegisterSequence(kEcLevelRegister, {0});
  Boot(true);

  Trigger();

  const std::vector<sim::CallRecord> &log = platform_.log();
  ASSERT_FALSE(log.empty());
  size_t reset = log.size();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].name == "ResetSystem") reset = i;
  }
  ASSERT_LT(reset, log.size());
  for (size_t i = reset + 1; i < log.size(); ++i)
    EXPECT_EQ(log[i].name, "Notify") << "after power-off: " << log[i].name;
  size_t stalls_before_reset = 0;
  for (size_t i = 0; i < reset; ++i) stalls_before_reset += log[i].name == "Stall";
  EXPECT_EQ(stalls_before_reset, 5u);
  const auto &ports = sim::CurrentHardware().port_log();
  ASSERT_GE(ports.size(), 2u);
  EXPECT_EQ(ports.back().port, 0x73);
  EXPECT_EQ(ports.back().value, 0xAA);
}

// The whole boot on a processor that does not report its counter frequency:
// every status poll of the controller waits through Stall(1000).
TEST(DecisionBoot, WholeBootOnTheStallFallback) {
  sim::Platform platform;
  sim::EmbeddedController ec;
  sim::ExtendedCmos cmos;
  ec.Attach();
  cmos.Attach();
  ec.SetRegister(kEcFlagRegister, 0x02);
  ec.SetRegister(kEcLevelRegister, 100);
  platform.SetSecureBoot(1);
  platform.AddFirmwareVolume("pictures").AddRawFile(NoticeImage2Guid, SolidBmp(400, 300, 0x3366CC));
  platform.AddPciDevice("sata0", 0x01, 0x06, 0x01);

  ASSERT_EQ(platform.RunDriverEntry(), EFI_SUCCESS);
  platform.SignalEndOfDxe();
  platform.InstallTrigger();

  EXPECT_EQ(gDriver.NoticeMode, 2);
  ASSERT_EQ(platform.blt_calls().size(), 1u);
  EXPECT_EQ(platform.blt_calls()[0].destination_x, 302u);
  EXPECT_EQ(platform.blt_calls()[0].destination_y, 234u);
  EXPECT_EQ(platform.Pixel(302, 234).Blue, 0xCC);

  // Three register reads of three polls each on an idle controller, then the hold.
  unsigned millisecond_stalls = 0, second_stalls = 0;
  for (const sim::StallCall &s : platform.stalls()) {
    millisecond_stalls += s.microseconds == 1000;
    second_stalls += s.microseconds == 1'000'000;
  }
  EXPECT_EQ(millisecond_stalls, 9u);
  EXPECT_EQ(second_stalls, 4u);
  EXPECT_EQ(platform.stalls().size(), 13u);
  EXPECT_EQ(cmos.byte(0x30), 0xAA);
  EXPECT_EQ(platform.pool_usage(EfiBootServicesData).blocks, 0u) << platform.LeakReport(EfiBootServicesData);
  EXPECT_TRUE(platform.faults().empty());
  EXPECT_TRUE(platform.unexpected_calls().empty());
}

}  // namespace
}  // namespace decisiontest
