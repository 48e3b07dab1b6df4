// Driver start-up: the table pointers kept, the two notifications registered,
// failures kept silent, and what each notification then starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/driver_state.h"
#include "core/driver.h"
#include "core/driver_guids.h"
#include "sim/platform.h"

namespace {

class DriverInit : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(platform_.unexpected_calls().empty()) << platform_.unexpected_calls().front();
    EXPECT_TRUE(platform_.faults().empty()) << platform_.faults().front();
    // Start-up keeps nothing in boot-services pool (the trace records are runtime pool).
    EXPECT_EQ(platform_.LeakReport(EfiBootServicesData), "");
  }

  std::vector<std::string> EventCallNames() const {
    std::vector<std::string> names;
    for (const sim::CallRecord &r : platform_.log()) {
      if (r.name == "CreateEvent" || r.name == "CreateEventEx" || r.name == "RegisterProtocolNotify") {
        names.push_back(r.name);
      }
    }
    return names;
  }

  sim::Platform platform_;
};

TEST_F(DriverInit, KeepsTheFirmwareTables) {
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(gDriver.SystemTable, platform_.system_table());
  EXPECT_EQ(gDriver.BootServices, platform_.boot_services());
  EXPECT_EQ(gDriver.RuntimeServices, platform_.runtime_services());
}

TEST_F(DriverInit, RegistersEndOfDxeGroupThenTriggerNotification) {
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(EventCallNames(), (std::vector<std::string>{"CreateEventEx", "CreateEvent", "RegisterProtocolNotify"}));

  std::vector<const sim::SimEvent *> events = platform_.events();
  ASSERT_EQ(events.size(), 2u);
  const sim::SimEvent &end_of_dxe = *events[0];
  EXPECT_EQ(end_of_dxe.type, EVT_NOTIFY_SIGNAL);
  EXPECT_EQ(end_of_dxe.tpl, TPL_CALLBACK);
  EXPECT_EQ(end_of_dxe.notify, &OnEndOfDxe);
  EXPECT_EQ(end_of_dxe.context, nullptr);
  ASSERT_TRUE(end_of_dxe.in_group);
  EXPECT_TRUE(GuidEquals(end_of_dxe.group, EFI_END_OF_DXE_EVENT_GROUP_GUID));

  const sim::SimEvent &trigger = *events[1];
  EXPECT_EQ(static_cast<const void *>(&trigger), gDriver.TriggerEvent);
  EXPECT_EQ(trigger.type, EVT_NOTIFY_SIGNAL);
  EXPECT_EQ(trigger.tpl, TPL_CALLBACK);
  EXPECT_EQ(trigger.notify, &OnNoticeTrigger);
  EXPECT_EQ(trigger.context, nullptr);
  EXPECT_FALSE(trigger.in_group);

  std::vector<sim::SimRegistration *> registrations = platform_.registrations();
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_TRUE(GuidEquals(registrations[0]->protocol, NoticeTriggerProtocolGuid));
  EXPECT_EQ(static_cast<const void *>(registrations[0]->event), gDriver.TriggerEvent);
  EXPECT_EQ(gDriver.TriggerRegistration, registrations[0]);
}

// Every start-up failure is silent: the entry succeeds whatever failed.
struct FailureCase {
  const char *service;
  bool trigger_registered;
  unsigned events_created;
};

class DriverInitFailure : public DriverInit, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DriverInitFailure, EntryStillSucceeds) {
  platform_.Inject(sim::Failure(GetParam().service).Answers(EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(platform_.events().size(), GetParam().events_created);
  EXPECT_EQ(platform_.registrations().size(), GetParam().trigger_registered ? 1u : 0u);
}

const FailureCase kFailureCases[] = {
    {"CreateEventEx", true, 1},
    {"CreateEvent", false, 1},
    {"RegisterProtocolNotify", false, 2},
};

INSTANTIATE_TEST_SUITE_P(Services, DriverInitFailure, ::testing::ValuesIn(kFailureCases),
                         [](const ::testing::TestParamInfo<FailureCase> &info) { return info.param.service; });

TEST_F(DriverInit, FailedTriggerEventMeansNoRegistrationCall) {
  platform_.Inject(sim::Failure("CreateEvent").Answers(EFI_OUT_OF_RESOURCES));
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(platform_.CallCount("RegisterProtocolNotify"), 0u);
  EXPECT_EQ(gDriver.TriggerRegistration, nullptr);

  // Without a trigger notification an installation starts nothing.
  platform_.InstallTrigger();
  EXPECT_EQ(platform_.console_calls().size(), 0u);
}

TEST_F(DriverInit, TriggerInstalledBeforeRegistrationStartsNoNotice) {
  platform_.InstallTrigger();
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  const sim::SimEvent *trigger = platform_.FindEvent(gDriver.TriggerEvent);
  ASSERT_NE(trigger, nullptr);
  EXPECT_EQ(trigger->signal_count, 0u);
  EXPECT_EQ(trigger->notify_count, 0u);

  // Each later installation runs the notification, inside the install call.
  platform_.InstallTrigger();
  EXPECT_EQ(trigger->notify_count, 1u);
  platform_.InstallTrigger();
  EXPECT_EQ(trigger->notify_count, 2u);
}

TEST_F(DriverInit, EndOfDxeSignalRunsTheStorageProbe) {
  platform_.AddPciDevice("nvme0", kPciClassMassStorage, kPciSubclassNvm, 0x02);
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(platform_.connect_calls().size(), 0u);
  EXPECT_EQ(gDriver.StorageAbsent, 1);

  platform_.SignalEndOfDxe();
  EXPECT_EQ(platform_.connected_names(), std::vector<std::string>{"nvme0"});
  EXPECT_EQ(gDriver.StorageAbsent, 0);
  // The probe ran as the notify function, at the callback level.
  std::vector<sim::CallRecord> notifies = platform_.LogOf("Notify");
  ASSERT_EQ(notifies.size(), 1u);
  EXPECT_EQ(notifies[0].Field("NotifyTpl"), "8");
}

TEST_F(DriverInit, EndOfDxeBeforeEntryIsMissed) {
  platform_.AddPciDevice("nvme0", kPciClassMassStorage, kPciSubclassNvm);
  platform_.SignalEndOfDxe();
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  EXPECT_EQ(platform_.connect_calls().size(), 0u);
  EXPECT_EQ(gDriver.StorageAbsent, 1);
}

}  // namespace
