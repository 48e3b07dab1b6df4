// Boot and runtime services of the simulated platform that the driver's
// callers rely on: handle lookups, variables, reset, PCI configuration reads,
// the console, virtual time and the interaction log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/platform.h"

namespace {

class Services : public ::testing::Test {
 protected:
  sim::Platform platform_;
  EFI_BOOT_SERVICES *bs_ = platform_.boot_services();
  EFI_RUNTIME_SERVICES *rt_ = platform_.runtime_services();
};

// --- handle database ---------------------------------------------------------------

TEST_F(Services, LocateHandleBufferWithoutMatchIsNotFoundAndAllocatesNothing) {
  UINTN count = 5;
  EFI_HANDLE *handles = nullptr;
  EXPECT_EQ(bs_->LocateHandleBuffer(ByProtocol, &EFI_PCI_IO_PROTOCOL_GUID, nullptr, &count, &handles), EFI_NOT_FOUND);
  EXPECT_EQ(platform_.pool_usage().blocks, 0u);
}

TEST_F(Services, LocateHandleBufferIsAccountedPool) {
  platform_.AddPciDevice("a", 1, 8);
  platform_.AddPciDevice("b", 1, 6);
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  ASSERT_EQ(bs_->LocateHandleBuffer(ByProtocol, &EFI_PCI_IO_PROTOCOL_GUID, nullptr, &count, &handles), EFI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(platform_.pool_usage(EfiBootServicesData).bytes, 2 * sizeof(EFI_HANDLE));
  EXPECT_NE(platform_.LeakReport().find("LocateHandleBuffer"), std::string::npos);
  ASSERT_EQ(bs_->FreePool(handles), EFI_SUCCESS);
  EXPECT_EQ(platform_.LeakReport(), "");
}

TEST_F(Services, HandleProtocolAnswers) {
  sim::PciDevice &device = platform_.AddPciDevice("nvme0", 1, 8);
  sim::PciDevice &other = platform_.AddPciDevice("sata0", 1, 6);
  void *interface = nullptr;
  EXPECT_EQ(bs_->HandleProtocol(device.handle(), &EFI_PCI_IO_PROTOCOL_GUID, &interface), EFI_SUCCESS);
  EXPECT_EQ(interface, device.protocol());
  EXPECT_EQ(bs_->HandleProtocol(device.handle(), &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, &interface), EFI_UNSUPPORTED);
  platform_.Inject(sim::Failure("HandleProtocol").On(device).Answers(EFI_ACCESS_DENIED));
  EXPECT_EQ(bs_->HandleProtocol(device.handle(), &EFI_PCI_IO_PROTOCOL_GUID, &interface), EFI_ACCESS_DENIED);
  EXPECT_EQ(bs_->HandleProtocol(other.handle(), &EFI_PCI_IO_PROTOCOL_GUID, &interface), EFI_SUCCESS);
  EXPECT_EQ(interface, other.protocol());
}

TEST_F(Services, LocateProtocolFindsTheGopUntilRemoved) {
  void *interface = nullptr;
  ASSERT_EQ(bs_->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, &interface), EFI_SUCCESS);
  EXPECT_EQ(interface, platform_.gop());
  platform_.RemoveGop();
  EXPECT_EQ(bs_->LocateProtocol(&EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, nullptr, &interface), EFI_NOT_FOUND);
  EXPECT_EQ(interface, nullptr);
}

TEST_F(Services, ConnectControllerIsRecordedByName) {
  sim::PciDevice &device = platform_.AddPciDevice("sata0", 1, 6);
  EXPECT_EQ(bs_->ConnectController(device.handle(), nullptr, nullptr, 1), EFI_SUCCESS);
  EXPECT_EQ(bs_->ConnectController(device.handle(), nullptr, nullptr, 0), EFI_SUCCESS);
  ASSERT_EQ(platform_.connect_calls().size(), 2u);
  EXPECT_EQ(platform_.connect_calls()[1].recursive, 0);
  EXPECT_EQ(platform_.connected_names(), (std::vector<std::string>{"sata0", "sata0"}));

  // A refused connection reaches no controller: only the log has it.
  platform_.Inject(sim::Failure("ConnectController").Answers(EFI_NOT_FOUND));
  EXPECT_EQ(bs_->ConnectController(device.handle(), nullptr, nullptr, 1), EFI_NOT_FOUND);
  EXPECT_EQ(platform_.connect_calls().size(), 2u);
  ASSERT_EQ(platform_.LogOf("ConnectController").size(), 3u);
  EXPECT_EQ(platform_.LogOf("ConnectController")[2].Field("HandleName"), "sata0");
  EXPECT_EQ(platform_.LogOf("ConnectController")[2].status, EFI_NOT_FOUND);
}

// --- variables ------------------------------------------------------------------------

TEST_F(Services, GetVariableFollowsTheSizeRules) {
  platform_.SetVariable(u"Blob", EFI_GLOBAL_VARIABLE, 6, {1, 2, 3});
  uint8_t data[4] = {};
  UINT32 attributes = 0;

  UINTN size = 2;
  EXPECT_EQ(rt_->GetVariable(u"Blob", &EFI_GLOBAL_VARIABLE, nullptr, &size, data), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(data[0], 0);

  size = sizeof(data);
  EXPECT_EQ(rt_->GetVariable(u"Blob", &EFI_GLOBAL_VARIABLE, &attributes, &size, data), EFI_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(data[2], 3);
  EXPECT_EQ(attributes, 6u);

  EFI_GUID other = EFI_GLOBAL_VARIABLE;
  other.Data1 ^= 1;
  EXPECT_EQ(rt_->GetVariable(u"Blob", &other, nullptr, &size, data), EFI_NOT_FOUND);
  EXPECT_EQ(rt_->GetVariable(u"Blo", &EFI_GLOBAL_VARIABLE, nullptr, &size, data), EFI_NOT_FOUND);

  platform_.Inject(sim::Failure("GetVariable").Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(rt_->GetVariable(u"Blob", &EFI_GLOBAL_VARIABLE, nullptr, &size, data), EFI_DEVICE_ERROR);
  EXPECT_EQ(platform_.CallCount("GetVariable"), 5u);
  ASSERT_EQ(platform_.get_variable_calls().size(), 4u);  // the injected one never reached the store
  EXPECT_EQ(platform_.get_variable_calls()[0].name, u"Blob");
  EXPECT_EQ(platform_.get_variable_calls()[0].data_size_in, 2u);
}

TEST_F(Services, SecureBootIsOneByteUnderTheGlobalVendor) {
  platform_.SetSecureBoot(1);
  UINT8 value = 0;
  UINTN size = 1;
  ASSERT_EQ(rt_->GetVariable(u"SecureBoot", &EFI_GLOBAL_VARIABLE, nullptr, &size, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 1);
}

// --- reset -----------------------------------------------------------------------------

TEST_F(Services, ResetSystemReturnsAndMarksThePlatformOff) {
  EXPECT_FALSE(platform_.is_off());
  rt_->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  EXPECT_TRUE(platform_.is_off());
  ASSERT_EQ(platform_.reset_calls().size(), 1u);
  EXPECT_EQ(platform_.reset_calls()[0].type, EfiResetShutdown);
  bs_->Stall(1);
  EXPECT_EQ(platform_.log().back().Field("AfterReset"), "yes");
}

// --- PCI configuration reads --------------------------------------------------------------

struct PciReadCase {
  std::string name;
  EFI_PCI_IO_PROTOCOL_WIDTH width;
  UINT32 offset;
  UINTN count;
  EFI_STATUS expected;
};

class PciRead : public Services, public ::testing::WithParamInterface<PciReadCase> {};

TEST_P(PciRead, ChecksWidthOffsetAndCount) {
  sim::PciDevice &device = platform_.AddPciDevice("dev", 0x01, 0x08, 0x02, 0x10);
  for (UINT32 i = 0x10; i < 0x100; ++i) device.config()[i] = static_cast<uint8_t>(i);
  uint8_t buffer[512] = {};
  EFI_PCI_IO_PROTOCOL *io = device.protocol();
  const PciReadCase &c = GetParam();
  EXPECT_EQ(io->Pci.Read(io, c.width, c.offset, c.count, buffer), c.expected);
  if (c.expected == EFI_SUCCESS) {
    const UINTN length = c.count << c.width;
    for (UINTN i = 0; i < length; ++i) ASSERT_EQ(buffer[i], device.config()[c.offset + i]) << i;
    EXPECT_EQ(buffer[length], 0) << "read past the requested range";
  }
}

const PciReadCase kPciReadCases[] = {
    {"ClassDword", EfiPciIoWidthUint32, 0x08, 1, EFI_SUCCESS},
    {"BytesToTheEnd", EfiPciIoWidthUint8, 0xF0, 16, EFI_SUCCESS},
    {"WholeSpaceAsQwords", EfiPciIoWidthUint64, 0, 32, EFI_SUCCESS},
    {"OnePastTheEnd", EfiPciIoWidthUint32, 0xFC, 2, EFI_UNSUPPORTED},
    {"OffsetPastTheEnd", EfiPciIoWidthUint8, 0x100, 1, EFI_UNSUPPORTED},
    {"CountThatWouldWrap", EfiPciIoWidthUint32, 0, UINTN{1} << 62, EFI_UNSUPPORTED},
    {"Unaligned", EfiPciIoWidthUint32, 0x09, 1, EFI_INVALID_PARAMETER},
    {"BadWidth", static_cast<EFI_PCI_IO_PROTOCOL_WIDTH>(12), 0, 1, EFI_INVALID_PARAMETER},
};

INSTANTIATE_TEST_SUITE_P(Ranges, PciRead, ::testing::ValuesIn(kPciReadCases),
                         [](const ::testing::TestParamInfo<PciReadCase> &info) { return info.param.name; });

TEST_F(Services, ClassCodeDwordHoldsRevisionProgIfSubclassBaseClass) {
  sim::PciDevice &device = platform_.AddPciDevice("dev", 0x01, 0x06, 0x01, 0x31);
  UINT32 value = 0;
  EFI_PCI_IO_PROTOCOL *io = device.protocol();
  ASSERT_EQ(io->Pci.Read(io, EfiPciIoWidthUint32, kPciClassCodeOffset, 1, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 0x01060131u);
  EXPECT_EQ(device.config_reads(), 1u);

  // A read failed on this device reaches neither its space nor its count; another device still reads.
  sim::PciDevice &other = platform_.AddPciDevice("other", 0x02, 0x00);
  platform_.Inject(sim::Failure("PciIo.Pci.Read").On(device).Answers(EFI_DEVICE_ERROR));
  value = 0;
  EXPECT_EQ(io->Pci.Read(io, EfiPciIoWidthUint32, kPciClassCodeOffset, 1, &value), EFI_DEVICE_ERROR);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(device.config_reads(), 1u);
  EXPECT_EQ(platform_.CallCount("PciIo.Pci.Read"), 2u);
  EFI_PCI_IO_PROTOCOL *other_io = other.protocol();
  EXPECT_EQ(other_io->Pci.Read(other_io, EfiPciIoWidthUint32, kPciClassCodeOffset, 1, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 0x02000000u);
}

// --- console --------------------------------------------------------------------------------

TEST_F(Services, ConsoleRecordsEveryCallInOrder) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con = platform_.system_table()->ConOut;
  ASSERT_EQ(con, platform_.console());
  con->EnableCursor(con, 0);
  con->ClearScreen(con);
  con->OutputString(con, u"one\r\n");
  con->SetAttribute(con, EFI_RED);
  con->SetCursorPosition(con, 3, 4);
  EXPECT_EQ(con->OutputString(con, u"two"), EFI_SUCCESS);
  // A refused string is in the log with its text, and on no console.
  platform_.Inject(sim::Failure("OutputString").Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(con->OutputString(con, u"three"), EFI_DEVICE_ERROR);

  const std::vector<sim::ConsoleCall> &calls = platform_.console_calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[0].kind, sim::ConsoleCall::EnableCursor);
  EXPECT_EQ(calls[0].first, 0u);
  EXPECT_EQ(calls[1].kind, sim::ConsoleCall::ClearScreen);
  EXPECT_EQ(calls[3].kind, sim::ConsoleCall::SetAttribute);
  EXPECT_EQ(calls[3].first, EFI_RED);
  EXPECT_EQ(calls[4].second, 4u);
  EXPECT_EQ(calls[5].text, u"two");
  ASSERT_EQ(platform_.LogOf("OutputString").size(), 3u);
  EXPECT_EQ(platform_.LogOf("OutputString")[2].status, EFI_DEVICE_ERROR);
  EXPECT_EQ(platform_.LogOf("OutputString")[2].Field("String"), "three");
  EXPECT_EQ(platform_.console_strings(), (std::vector<std::u16string>{u"one\r\n", u"two"}));
  EXPECT_EQ(platform_.console_text(), u"one\r\ntwo");
  EXPECT_EQ(platform_.console_mode().Attribute, static_cast<INT32>(EFI_RED));
  EXPECT_EQ(platform_.console_mode().CursorRow, 4);
  EXPECT_FALSE(platform_.console_mode().CursorVisible);

  platform_.RemoveConsole();
  EXPECT_EQ(platform_.system_table()->ConOut, nullptr);
}

// --- time, log and unexpected calls ------------------------------------------------------------

TEST_F(Services, StallAdvancesVirtualTimeAndTheLogCarriesIt) {
  bs_->Stall(1500);
  bs_->Stall(1'000'000);
  EXPECT_EQ(platform_.total_stall_us(), 1'001'500u);
  ASSERT_EQ(platform_.stalls().size(), 2u);
  EXPECT_EQ(platform_.stalls()[1].at_ns, 1'500'000u);
  EXPECT_EQ(platform_.now_ns(), 1'001'500'000u);
  std::vector<sim::CallRecord> stalls = platform_.LogOf("Stall");
  ASSERT_EQ(stalls.size(), 2u);
  EXPECT_EQ(stalls[1].time_ns, 1'500'000u);
  EXPECT_EQ(stalls[1].Field("Microseconds"), "1000000");
  EXPECT_TRUE(stalls[1].has_status);
}

TEST_F(Services, UnusedServicesAnswerUnsupportedAndAreCounted) {
  EXPECT_EQ(bs_->SetTimer(nullptr, TimerCancel, 0), EFI_UNSUPPORTED);
  EXPECT_EQ(rt_->SetVariable(u"x", &EFI_GLOBAL_VARIABLE, 0, 0, nullptr), EFI_UNSUPPORTED);
  EXPECT_EQ(platform_.unexpected_calls(), (std::vector<std::string>{"SetTimer", "SetVariable"}));
}

TEST_F(Services, InjectedFailureIsMarkedInTheLog) {
  platform_.Inject(sim::Failure("Stall").Call(2).Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(bs_->Stall(1), EFI_SUCCESS);
  EXPECT_EQ(bs_->Stall(1), EFI_DEVICE_ERROR);
  EXPECT_EQ(bs_->Stall(1), EFI_SUCCESS);
  EXPECT_EQ(platform_.total_stall_us(), 2u);
  EXPECT_EQ(platform_.LogOf("Stall")[1].Field("Injected"), "yes");
}

}  // namespace
