// The thunks that fill the simulated tables: what each logs (keys, values and
// order), how a misused protocol call is answered and listed, how injected
// answers meet checks, out-slots and services returning nothing, and that
// every slot the driver has no business calling is refused and counted.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/platform.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields FieldsOf(const sim::CallRecord &record) {
  Fields fields;
  for (const sim::LogField &f : record.fields) fields.emplace_back(f.key, f.value);
  return fields;
}

std::string Ptr(const void *pointer) { return sim::HexText(reinterpret_cast<uintptr_t>(pointer)); }

class Thunks : public ::testing::Test {
 protected:
  const sim::CallRecord &Last() const { return platform_.log().back(); }

  sim::Platform platform_;
  EFI_BOOT_SERVICES *bs_ = platform_.boot_services();
  EFI_RUNTIME_SERVICES *rt_ = platform_.runtime_services();
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con_ = platform_.console();
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop_ = platform_.gop();
};

// --- what is logged ---------------------------------------------------------------------

TEST_F(Thunks, ArgumentsAreLoggedInOrderAndOutSlotsOnlyAfterSuccess) {
  void *buffer = nullptr;
  ASSERT_EQ(bs_->AllocatePool(EfiBootServicesData, 24, &buffer), EFI_SUCCESS);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"PoolType", "4"}, {"Size", "24"}, {"Buffer", Ptr(buffer)}}));

  EXPECT_EQ(bs_->AllocatePool(static_cast<EFI_MEMORY_TYPE>(99), 24, &buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"PoolType", "99"}, {"Size", "24"}}));

  EFI_EVENT event = nullptr;
  int context = 0;
  ASSERT_EQ(bs_->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, &context, nullptr, &event),
            EFI_INVALID_PARAMETER);  // a signal event needs a notify function
  EXPECT_EQ(FieldsOf(Last()),
            (Fields{{"Type", "0x200"}, {"NotifyTpl", "8"}, {"NotifyContext", Ptr(&context)}, {"EventGroup", "null"}}));

  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(bs_->InstallProtocolInterface(&handle, &EFI_PCI_IO_PROTOCOL_GUID, EFI_NATIVE_INTERFACE, &context),
            EFI_SUCCESS);
  EXPECT_EQ(
      FieldsOf(Last()),
      (Fields{{"Handle", "0x0"}, {"Protocol", sim::GuidText(EFI_PCI_IO_PROTOCOL_GUID)}, {"Interface", Ptr(&context)}}));
  EXPECT_EQ(bs_->InstallProtocolInterface(nullptr, &EFI_PCI_IO_PROTOCOL_GUID, EFI_NATIVE_INTERFACE, &context),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Last().Field("Handle"), "null");
  EXPECT_EQ(
      bs_->InstallProtocolInterface(&handle, &EFI_PCI_IO_PROTOCOL_GUID, static_cast<EFI_INTERFACE_TYPE>(1), &context),
      EFI_INVALID_PARAMETER);
}

TEST_F(Thunks, HandleArgumentsCarryTheHandleName) {
  sim::PciDevice &device = platform_.AddPciDevice("sata0", 1, 6);
  void *interface = nullptr;
  ASSERT_EQ(bs_->HandleProtocol(device.handle(), &EFI_PCI_IO_PROTOCOL_GUID, &interface), EFI_SUCCESS);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"Handle", Ptr(device.handle())},
                                      {"HandleName", "sata0"},
                                      {"Protocol", sim::GuidText(EFI_PCI_IO_PROTOCOL_GUID)}}));
}

TEST_F(Thunks, SizeSlotsAreLoggedAsGivenAndAsLeftWhateverTheStatus) {
  platform_.SetSecureBoot(1);
  uint8_t data[4] = {};
  UINTN size = 0;
  ASSERT_EQ(rt_->GetVariable(u"SecureBoot", &EFI_GLOBAL_VARIABLE, nullptr, &size, data), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"VariableName", "SecureBoot"},
                                      {"VendorGuid", sim::GuidText(EFI_GLOBAL_VARIABLE)},
                                      {"DataSize", "0"},
                                      {"DataSizeOut", "1"}}));
  EXPECT_EQ(rt_->GetVariable(nullptr, nullptr, nullptr, nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"VariableName", ""}, {"VendorGuid", "null"}, {"DataSize", "null"}}));
}

// --- injected failures -------------------------------------------------------------------

TEST_F(Thunks, AnInjectedAnswerLeavesOutSlotsUnloggedAndTheServiceUntouched) {
  platform_.Inject(sim::Failure("AllocatePool").Call(1).Answers(EFI_OUT_OF_RESOURCES));
  void *buffer = nullptr;
  EXPECT_EQ(bs_->AllocatePool(EfiBootServicesData, 24, &buffer), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"PoolType", "4"}, {"Size", "24"}, {"Injected", "yes"}}));
  EXPECT_EQ(platform_.pool_usage().blocks, 0u);

  platform_.SetSecureBoot(1);
  platform_.Inject(sim::Failure("GetVariable").Call(1).Answers(EFI_DEVICE_ERROR));
  UINTN size = 0;
  EXPECT_EQ(rt_->GetVariable(u"SecureBoot", &EFI_GLOBAL_VARIABLE, nullptr, &size, nullptr), EFI_DEVICE_ERROR);
  EXPECT_EQ(Last().Field("DataSizeOut"), "");
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(platform_.get_variable_calls().empty());
}

TEST_F(Thunks, ServicesReturningNothingAreNeverFailed) {
  platform_.Inject(sim::Failure("CopyMem").Answers(EFI_DEVICE_ERROR));
  platform_.Inject(sim::Failure("RestoreTPL").Answers(EFI_DEVICE_ERROR));
  char source[4] = "abc";
  char destination[4] = {};
  bs_->CopyMem(destination, source, sizeof(source));
  EXPECT_STREQ(destination, "abc");
  EXPECT_FALSE(Last().has_status);
  EXPECT_EQ(Last().Field("Length"), "4");

  const EFI_TPL old = bs_->RaiseTPL(TPL_NOTIFY);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"NewTpl", "16"}, {"OldTpl", "4"}}));
  bs_->RestoreTPL(old);
  EXPECT_EQ(platform_.current_tpl(), old);
  EXPECT_FALSE(Last().has_status);
}

// --- misused protocol calls ------------------------------------------------------------------

struct MisusedCall {
  const char *service;
  const char *fault;
  std::function<EFI_STATUS(sim::Platform &, bool own_this)> call;
};

void PrintTo(const MisusedCall &misuse, std::ostream *out) { *out << misuse.service; }

class MisusedThis : public ::testing::TestWithParam<MisusedCall> {};

// A This that is not the protocol's own is a fault answered EFI_INVALID_PARAMETER,
// even when the call was to be failed otherwise, and reaches nothing behind it.
TEST_P(MisusedThis, IsAFaultBeforeAnyInjectedAnswer) {
  const MisusedCall &misuse = GetParam();
  sim::Platform platform;
  platform.Inject(sim::Failure(misuse.service).Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(misuse.call(platform, false), EFI_INVALID_PARAMETER);
  EXPECT_EQ(platform.faults(), (std::vector<std::string>{misuse.fault}));
  EXPECT_TRUE(platform.console_calls().empty());
  EXPECT_TRUE(platform.blt_calls().empty());
  ASSERT_EQ(platform.LogOf(misuse.service).size(), 1u);
  EXPECT_EQ(platform.LogOf(misuse.service)[0].status, EFI_INVALID_PARAMETER);

  EXPECT_EQ(misuse.call(platform, true), EFI_DEVICE_ERROR);
  EXPECT_EQ(platform.faults().size(), 1u);
}

EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConsoleThis(sim::Platform &platform, bool own) {
  return own ? platform.console() : nullptr;
}

const MisusedCall kMisusedCalls[] = {
    {"Reset", "Reset called with a This that is not the console",
     [](sim::Platform &p, bool own) { return p.console()->Reset(ConsoleThis(p, own), 0); }},
    {"OutputString", "OutputString called with a This that is not the console",
     [](sim::Platform &p, bool own) { return p.console()->OutputString(ConsoleThis(p, own), u"x"); }},
    {"SetAttribute", "SetAttribute called with a This that is not the console",
     [](sim::Platform &p, bool own) { return p.console()->SetAttribute(ConsoleThis(p, own), 0x1F); }},
    {"ClearScreen", "ClearScreen called with a This that is not the console",
     [](sim::Platform &p, bool own) { return p.console()->ClearScreen(ConsoleThis(p, own)); }},
    {"SetCursorPosition", "SetCursorPosition called with a This that is not the console",
     [](sim::Platform &p, bool own) { return p.console()->SetCursorPosition(ConsoleThis(p, own), 1, 2); }},
    {"EnableCursor", "EnableCursor called with a This that is not the console",
     [](sim::Platform &p, bool own) { return p.console()->EnableCursor(ConsoleThis(p, own), 1); }},
    {"Blt", "Blt called with a This that is not the graphics output",
     [](sim::Platform &p, bool own) {
       EFI_GRAPHICS_OUTPUT_BLT_PIXEL pixel{};
       return p.gop()->Blt(own ? p.gop() : nullptr, &pixel, EfiBltVideoFill, 0, 0, 0, 0, 1, 1, 0);
     }},
};

INSTANTIATE_TEST_SUITE_P(Protocols, MisusedThis, ::testing::ValuesIn(kMisusedCalls),
                         [](const ::testing::TestParamInfo<MisusedCall> &info) { return info.param.service; });

TEST_F(Thunks, OutputStringLogsItsStringOnlyOnceTheCallIsSound) {
  EXPECT_EQ(con_->OutputString(con_, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(platform_.faults(), (std::vector<std::string>{"OutputString with a null string"}));
  EXPECT_TRUE(FieldsOf(Last()).empty());

  EXPECT_EQ(con_->OutputString(nullptr, u"x"), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(FieldsOf(Last()).empty());

  platform_.Inject(sim::Failure("OutputString").Call(3).Answers(EFI_DEVICE_ERROR));
  EXPECT_EQ(con_->OutputString(con_, u"caf\u00e9"), EFI_DEVICE_ERROR);
  EXPECT_EQ(FieldsOf(Last()), (Fields{{"Injected", "yes"}, {"String", "caf\xC3\xA9"}}));
  EXPECT_TRUE(platform_.console_calls().empty());
}

// --- services the driver never calls ------------------------------------------------------------

struct RefusedSlot {
  const char *service;
  std::function<EFI_STATUS(sim::Platform &)> call;
};

void PrintTo(const RefusedSlot &slot, std::ostream *out) { *out << slot.service; }

class Refused : public ::testing::TestWithParam<RefusedSlot> {};

TEST_P(Refused, AnswersUnsupportedAndIsCountedByName) {
  const RefusedSlot &slot = GetParam();
  sim::Platform platform;
  EXPECT_EQ(slot.call(platform), EFI_UNSUPPORTED);
  EXPECT_EQ(platform.unexpected_calls(), (std::vector<std::string>{slot.service}));
  ASSERT_EQ(platform.log().size(), 1u);
  EXPECT_EQ(platform.log()[0].name, slot.service);
  EXPECT_EQ(FieldsOf(platform.log()[0]), (Fields{{"Unexpected", "yes"}}));
  EXPECT_EQ(platform.log()[0].status, EFI_UNSUPPORTED);
}

EFI_BOOT_SERVICES *Bs(sim::Platform &platform) { return platform.boot_services(); }
EFI_RUNTIME_SERVICES *Rt(sim::Platform &platform) { return platform.runtime_services(); }

using PlainSlot = EFI_STATUS(EFIAPI *)();
EFI_STATUS CallPlain(void *slot) { return reinterpret_cast<PlainSlot>(slot)(); }

const RefusedSlot kRefusedSlots[] = {
    {"AllocatePages", [](sim::Platform &p) { return Bs(p)->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, nullptr); }},
    {"FreePages", [](sim::Platform &p) { return Bs(p)->FreePages(0, 1); }},
    {"GetMemoryMap", [](sim::Platform &p) { return Bs(p)->GetMemoryMap(nullptr, nullptr, nullptr, nullptr, nullptr); }},
    {"WaitForEvent", [](sim::Platform &p) { return Bs(p)->WaitForEvent(0, nullptr, nullptr); }},
    {"CheckEvent", [](sim::Platform &p) { return Bs(p)->CheckEvent(nullptr); }},
    {"ReinstallProtocolInterface", [](sim::Platform &p) { return Bs(p)->ReinstallProtocolInterface(nullptr, nullptr, nullptr, nullptr); }},
    {"LocateHandle", [](sim::Platform &p) { return Bs(p)->LocateHandle(ByProtocol, nullptr, nullptr, nullptr, nullptr); }},
    {"LocateDevicePath", [](sim::Platform &p) { return Bs(p)->LocateDevicePath(nullptr, nullptr, nullptr); }},
    {"InstallConfigurationTable", [](sim::Platform &p) { return Bs(p)->InstallConfigurationTable(nullptr, nullptr); }},
    {"LoadImage", [](sim::Platform &p) { return Bs(p)->LoadImage(0, nullptr, nullptr, nullptr, 0, nullptr); }},
    {"StartImage", [](sim::Platform &p) { return Bs(p)->StartImage(nullptr, nullptr, nullptr); }},
    {"Exit", [](sim::Platform &p) { return Bs(p)->Exit(nullptr, EFI_SUCCESS, 0, nullptr); }},
    {"UnloadImage", [](sim::Platform &p) { return Bs(p)->UnloadImage(nullptr); }},
    {"ExitBootServices", [](sim::Platform &p) { return Bs(p)->ExitBootServices(nullptr, 0); }},
    {"GetNextMonotonicCount", [](sim::Platform &p) { return Bs(p)->GetNextMonotonicCount(nullptr); }},
    {"DisconnectController", [](sim::Platform &p) { return Bs(p)->DisconnectController(nullptr, nullptr, nullptr); }},
    {"OpenProtocol", [](sim::Platform &p) { return Bs(p)->OpenProtocol(nullptr, nullptr, nullptr, nullptr, nullptr, 0); }},
    {"CloseProtocol", [](sim::Platform &p) { return Bs(p)->CloseProtocol(nullptr, nullptr, nullptr, nullptr); }},
    {"OpenProtocolInformation", [](sim::Platform &p) { return Bs(p)->OpenProtocolInformation(nullptr, nullptr, nullptr, nullptr); }},
    {"ProtocolsPerHandle", [](sim::Platform &p) { return Bs(p)->ProtocolsPerHandle(nullptr, nullptr, nullptr); }},
    {"CalculateCrc32", [](sim::Platform &p) { return Bs(p)->CalculateCrc32(nullptr, 0, nullptr); }},
    {"InstallMultipleProtocolInterfaces", [](sim::Platform &p) { return CallPlain(Bs(p)->InstallMultipleProtocolInterfaces); }},
    {"InstallMultipleProtocolInterfaces", [](sim::Platform &p) { return CallPlain(Bs(p)->UninstallMultipleProtocolInterfaces); }},
    {"GetTime", [](sim::Platform &p) { return Rt(p)->GetTime(nullptr, nullptr); }},
    {"SetTime", [](sim::Platform &p) { return Rt(p)->SetTime(nullptr); }},
    {"GetWakeupTime", [](sim::Platform &p) { return Rt(p)->GetWakeupTime(nullptr, nullptr, nullptr); }},
    {"SetWakeupTime", [](sim::Platform &p) { return Rt(p)->SetWakeupTime(0, nullptr); }},
    {"SetVirtualAddressMap", [](sim::Platform &p) { return Rt(p)->SetVirtualAddressMap(0, 0, 0, nullptr); }},
    {"ConvertPointer", [](sim::Platform &p) { return Rt(p)->ConvertPointer(0, nullptr); }},
    {"GetNextVariableName", [](sim::Platform &p) { return Rt(p)->GetNextVariableName(nullptr, nullptr, nullptr); }},
    {"GetNextHighMonotonicCount", [](sim::Platform &p) { return Rt(p)->GetNextHighMonotonicCount(nullptr); }},
    {"UpdateCapsule", [](sim::Platform &p) { return Rt(p)->UpdateCapsule(nullptr, 0, 0); }},
    {"QueryCapsuleCapabilities", [](sim::Platform &p) { return Rt(p)->QueryCapsuleCapabilities(nullptr, 0, nullptr, nullptr); }},
    {"QueryVariableInfo", [](sim::Platform &p) { return Rt(p)->QueryVariableInfo(0, nullptr, nullptr, nullptr); }},
    {"TestString", [](sim::Platform &p) { return p.console()->TestString(p.console(), u"x"); }},
    {"QueryMode", [](sim::Platform &p) { return p.console()->QueryMode(p.console(), 0, nullptr, nullptr); }},
    {"SetMode", [](sim::Platform &p) { return p.console()->SetMode(p.console(), 0); }},
    {"GraphicsOutput.QueryMode", [](sim::Platform &p) { return p.gop()->QueryMode(p.gop(), 0, nullptr, nullptr); }},
    {"GraphicsOutput.SetMode", [](sim::Platform &p) { return p.gop()->SetMode(p.gop(), 0); }},
    {"PciIo.Poll", [](sim::Platform &p) {
       EFI_PCI_IO_PROTOCOL *pci = p.AddPciDevice("nvme0", 1, 8).protocol();
       return pci->PollIo(pci, EfiPciIoWidthUint8, 0, 0, 0, 0, 0, nullptr);
     }},
    {"PciIo.Mem/Io", [](sim::Platform &p) {
       EFI_PCI_IO_PROTOCOL *pci = p.AddPciDevice("nvme0", 1, 8).protocol();
       return pci->Io.Write(pci, EfiPciIoWidthUint8, 0, 0, 1, nullptr);
     }},
    {"PciIo.other", [](sim::Platform &p) { return CallPlain(p.AddPciDevice("nvme0", 1, 8).protocol()->Flush); }},
    {"FirmwareVolume2.VolumeAttributes", [](sim::Platform &p) {
       EFI_FIRMWARE_VOLUME2_PROTOCOL *fv = p.AddFirmwareVolume("fv0").protocol();
       return fv->SetVolumeAttributes(fv, nullptr);
     }},
    {"FirmwareVolume2.ReadFile", [](sim::Platform &p) {
       EFI_FIRMWARE_VOLUME2_PROTOCOL *fv = p.AddFirmwareVolume("fv0").protocol();
       return fv->ReadFile(fv, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
     }},
    {"FirmwareVolume2.other", [](sim::Platform &p) { return CallPlain(p.AddFirmwareVolume("fv0").protocol()->GetInfo); }},
};

INSTANTIATE_TEST_SUITE_P(Tables, Refused, ::testing::ValuesIn(kRefusedSlots),
                         [](const ::testing::TestParamInfo<RefusedSlot> &info) {
                           std::string name = info.param.service;
                           for (char &c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name + "_" + std::to_string(info.index);
                         });

}  // namespace
