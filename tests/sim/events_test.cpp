// Events, event groups and protocol notifications of the simulated platform,
// as the driver relies on them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/platform.h"

namespace {

constexpr EFI_GUID kGroup = {0x02CE967A, 0xDD7E, 0x4FFC, {0x9E, 0xE7, 0x81, 0x0C, 0xF0, 0x47, 0x08, 0x80}};
constexpr EFI_GUID kOtherGroup = {0x13FA7698, 0xC831, 0x49C7, {0x87, 0xEA, 0x8F, 0x43, 0xFC, 0xC2, 0x51, 0x96}};
constexpr EFI_GUID kProtocol = {0xEF9A3971, 0xC1A0, 0x4A93, {0xBD, 0x40, 0x5A, 0xA1, 0x65, 0xF2, 0xDC, 0x3A}};

// What each notify function saw, in the order they ran.
struct Seen {
  std::string who;
  EFI_TPL tpl;
  unsigned installs_so_far;
};
std::vector<Seen> g_seen;

void Note(void *context) {
  sim::Platform &p = sim::Platform::Active();
  g_seen.push_back({static_cast<const char *>(context), p.current_tpl(), p.CallCount("InstallProtocolInterface")});
}
void EFIAPI Notify(EFI_EVENT, void *context) { Note(context); }

class Events : public ::testing::Test {
 protected:
  void SetUp() override { g_seen.clear(); }
  EFI_EVENT Create(EFI_TPL tpl, const char *who, const EFI_GUID *group = nullptr) {
    EFI_EVENT event = nullptr;
    EFI_STATUS status = bs_->CreateEventEx(EVT_NOTIFY_SIGNAL, tpl, Notify, who, group, &event);
    EXPECT_EQ(status, EFI_SUCCESS);
    return event;
  }
  std::vector<std::string> Order() const {
    std::vector<std::string> out;
    for (const Seen &s : g_seen) out.push_back(s.who);
    return out;
  }

  sim::Platform platform_;
  EFI_BOOT_SERVICES *bs_ = platform_.boot_services();
};

TEST_F(Events, GroupSignalRunsEveryMemberHighestTplFirst) {
  Create(TPL_CALLBACK, "a", &kGroup);
  Create(TPL_NOTIFY, "b", &kGroup);
  Create(TPL_CALLBACK, "c", &kGroup);
  Create(TPL_CALLBACK, "other", &kOtherGroup);
  platform_.SignalEventGroup(kGroup);
  EXPECT_EQ(Order(), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(g_seen[0].tpl, TPL_NOTIFY);
  EXPECT_EQ(g_seen[1].tpl, TPL_CALLBACK);
  EXPECT_EQ(platform_.current_tpl(), TPL_APPLICATION);
}

TEST_F(Events, SignallingOneMemberSignalsTheGroup) {
  EFI_EVENT a = Create(TPL_CALLBACK, "a", &kGroup);
  Create(TPL_CALLBACK, "b", &kGroup);
  ASSERT_EQ(bs_->SignalEvent(a), EFI_SUCCESS);
  EXPECT_EQ(Order(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(Events, ClosedEventIsNotNotifiedAndCannotBeClosedTwice) {
  EFI_EVENT a = Create(TPL_CALLBACK, "a", &kGroup);
  Create(TPL_CALLBACK, "b", &kGroup);
  ASSERT_EQ(bs_->CloseEvent(a), EFI_SUCCESS);
  platform_.SignalEventGroup(kGroup);
  EXPECT_EQ(Order(), std::vector<std::string>{"b"});
  EXPECT_EQ(bs_->CloseEvent(a), EFI_INVALID_PARAMETER);
  EXPECT_EQ(platform_.faults().size(), 1u);
}

TEST_F(Events, CreateChecksItsArguments) {
  EFI_EVENT event = nullptr;
  EXPECT_EQ(bs_->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, &event), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs_->CreateEvent(EVT_NOTIFY_SIGNAL, 5, Notify, nullptr, &event), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs_->CreateEvent(EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT, TPL_CALLBACK, Notify, nullptr, &event),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(event, nullptr);
  EXPECT_EQ(platform_.events().size(), 0u);
}

TEST_F(Events, ProtocolNotifyRunsInsideTheInstallCall) {
  EFI_EVENT event = Create(TPL_CALLBACK, "trigger");
  void *registration = nullptr;
  ASSERT_EQ(bs_->RegisterProtocolNotify(&kProtocol, event, &registration), EFI_SUCCESS);
  EXPECT_TRUE(g_seen.empty()) << "registration must not signal";

  EFI_HANDLE handle = nullptr;
  int interface = 0;
  ASSERT_EQ(bs_->InstallProtocolInterface(&handle, &kProtocol, EFI_NATIVE_INTERFACE, &interface), EFI_SUCCESS);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].tpl, TPL_CALLBACK);
  EXPECT_EQ(g_seen[0].installs_so_far, 1u);
  // The log shows the notification nested in the install.
  const std::vector<sim::CallRecord> &log = platform_.log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].name, "InstallProtocolInterface");
  EXPECT_EQ(log.back().name, "Notify");
  EXPECT_EQ(log.back().depth, log[log.size() - 2].depth + 1);

  // The registration reports the new handle, once.
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  ASSERT_EQ(bs_->LocateHandleBuffer(ByRegisterNotify, nullptr, registration, &count, &handles), EFI_SUCCESS);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(handles[0], handle);
  bs_->FreePool(handles);
  EXPECT_EQ(bs_->LocateHandleBuffer(ByRegisterNotify, nullptr, registration, &count, &handles), EFI_NOT_FOUND);
}

TEST_F(Events, InstallOnExistingHandleNotifiesAndDuplicateIsRefused) {
  EFI_EVENT event = Create(TPL_CALLBACK, "trigger");
  void *registration = nullptr;
  ASSERT_EQ(bs_->RegisterProtocolNotify(&kProtocol, event, &registration), EFI_SUCCESS);
  EFI_HANDLE handle = platform_.CreateHandle("dev");
  int interface = 0;
  ASSERT_EQ(bs_->InstallProtocolInterface(&handle, &kProtocol, EFI_NATIVE_INTERFACE, &interface), EFI_SUCCESS);
  EXPECT_EQ(platform_.HandleName(handle), "dev");
  EXPECT_EQ(bs_->InstallProtocolInterface(&handle, &kProtocol, EFI_NATIVE_INTERFACE, &interface),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(g_seen.size(), 1u);
}

// An install made from inside a notify function at the same level is
// notified after that function returns, as firmware dispatches at TPL_CALLBACK.
void EFIAPI InstallAgain(EFI_EVENT, void *context) {
  Note(context);
  static int second_interface;
  if (g_seen.size() == 1) sim::Platform::Active().InstallProtocol(kProtocol, &second_interface);
  g_seen.push_back({"after-install", sim::Platform::Active().current_tpl(), 0});
}

TEST_F(Events, NestedInstallIsNotifiedAfterTheRunningNotifyReturns) {
  EFI_EVENT event = nullptr;
  ASSERT_EQ(bs_->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, InstallAgain, const_cast<char *>("n"), &event),
            EFI_SUCCESS);
  void *registration = nullptr;
  ASSERT_EQ(bs_->RegisterProtocolNotify(&kProtocol, event, &registration), EFI_SUCCESS);
  platform_.InstallTrigger();
  EXPECT_EQ(Order(), (std::vector<std::string>{"n", "after-install", "n", "after-install"}));
}

TEST_F(Events, RaiseTplDefersNotificationUntilRestore) {
  Create(TPL_CALLBACK, "a", &kGroup);
  const EFI_TPL old = bs_->RaiseTPL(TPL_NOTIFY);
  EXPECT_EQ(old, TPL_APPLICATION);
  EFI_EVENT b = Create(TPL_CALLBACK, "b", &kGroup);
  bs_->SignalEvent(b);
  EXPECT_TRUE(g_seen.empty());
  bs_->RestoreTPL(old);
  EXPECT_EQ(Order(), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
