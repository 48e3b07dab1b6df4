// The end-of-DXE storage probe: which controllers are connected, in which
// order, and what the handle search hands back and releases.
#include "core/storage_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/driver_state.h"
#include "sim/platform.h"

namespace {

struct Device {
  std::string name;
  uint8_t base_class;
  uint8_t subclass;
  uint8_t prog_if = 0;
  EFI_STATUS handle_protocol_status = EFI_SUCCESS;
  EFI_STATUS read_status = EFI_SUCCESS;
};

class StorageProbe : public ::testing::Test {
 protected:
  void AddDevices(const std::vector<Device> &devices) {
    for (const Device &d : devices) {
      sim::PciDevice &device = platform_.AddPciDevice(d.name, d.base_class, d.subclass, d.prog_if);
      if (d.handle_protocol_status != EFI_SUCCESS) {
        platform_.Inject(sim::Failure("HandleProtocol").On(device).Answers(d.handle_protocol_status));
      }
      if (d.read_status != EFI_SUCCESS) {
        platform_.Inject(sim::Failure("PciIo.Pci.Read").On(device).Answers(d.read_status));
      }
    }
  }

  void TearDown() override {
    EXPECT_TRUE(platform_.unexpected_calls().empty()) << platform_.unexpected_calls().front();
    EXPECT_TRUE(platform_.faults().empty()) << platform_.faults().front();
  }

  sim::Platform platform_;
};

// --- the probe at end of DXE ------------------------------------------------------

struct ProbeCase {
  std::string name;
  std::vector<Device> devices;
  std::vector<std::string> connected;
  uint8_t storage_absent;
};

class EndOfDxeProbe : public StorageProbe, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(EndOfDxeProbe, ConnectsTheRightControllers) {
  AddDevices(GetParam().devices);
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  platform_.SignalEndOfDxe();

  EXPECT_EQ(platform_.connected_names(), GetParam().connected);
  EXPECT_EQ(gDriver.StorageAbsent, GetParam().storage_absent);
  for (const sim::ConnectCall &c : platform_.connect_calls()) {
    EXPECT_EQ(c.driver_image, nullptr);
    EXPECT_EQ(c.remaining_path, nullptr);
    EXPECT_EQ(c.recursive, 1);
  }
  // Every handle buffer the probe was given has been released.
  EXPECT_EQ(platform_.LeakReport(EfiBootServicesData), "");
}

const uint8_t kStorage = kPciClassMassStorage;
const uint8_t kNvm = kPciSubclassNvm;
const uint8_t kSata = kPciSubclassSata;

const ProbeCase kProbeCases[] = {
    {"NvmeAndSataConnectsOnlyNvme", {{"sata0", kStorage, kSata, 0x01}, {"nvme0", kStorage, kNvm, 0x02}}, {"nvme0"}, 0},
    {"OnlySataConnectsAll",
     {{"sata0", kStorage, kSata, 0x01}, {"sata1", kStorage, kSata, 0x01}},
     {"sata0", "sata1"},
     0},
    {"IdeAndRaidDoNotCount", {{"ide0", kStorage, kPciSubclassIde, 0x8A}, {"raid0", kStorage, kPciSubclassRaid}}, {}, 1},
    {"SataWithAnyProgIf",
     {{"sata-vendor", kStorage, kSata, 0x00},
      {"sata-ahci", kStorage, kSata, 0x01},
      {"sata-odd", kStorage, kSata, 0xFF}},
     {"sata-vendor", "sata-ahci", "sata-odd"},
     0},
    {"NvmeWithAnyProgIf", {{"nvme-odd", kStorage, kNvm, 0x7F}}, {"nvme-odd"}, 0},
    {"NoPciDevices", {}, {}, 1},
    {"SubclassUnderAnotherBaseClassDoesNotCount",
     {{"net0", 0x02, kNvm}, {"bridge0", 0x06, kSata}, {"usb0", 0x0C, 0x03, 0x30}},
     {},
     1},
    {"NvmeWhoseInterfaceFailsFallsBackToSata",
     {{"nvme0", kStorage, kNvm, 0x02, EFI_UNSUPPORTED}, {"sata0", kStorage, kSata, 0x01}},
     {"sata0"},
     0},
    {"NvmeWhoseConfigReadFailsIsSkipped",
     {{"nvme0", kStorage, kNvm, 0x02, EFI_SUCCESS, EFI_DEVICE_ERROR}, {"nvme1", kStorage, kNvm, 0x02}},
     {"nvme1"},
     0},
    {"EveryCandidateFailingLeavesStorageAbsent",
     {{"nvme0", kStorage, kNvm, 0x02, EFI_ACCESS_DENIED}, {"sata0", kStorage, kSata, 0x01, EFI_SUCCESS, EFI_TIMEOUT}},
     {},
     1},
    {"FirmwareOrderKeptAmongOthers",
     {{"sata0", kStorage, kSata, 0x01},
      {"nvme0", kStorage, kNvm, 0x02},
      {"gpu0", 0x03, 0x00},
      {"nvme1", kStorage, kNvm, 0x02},
      {"ide0", kStorage, kPciSubclassIde},
      {"nvme2", kStorage, kNvm, 0x02}},
     {"nvme0", "nvme1", "nvme2"},
     0},
};

INSTANTIATE_TEST_SUITE_P(Machines, EndOfDxeProbe, ::testing::ValuesIn(kProbeCases),
                         [](const ::testing::TestParamInfo<ProbeCase> &info) { return info.param.name; });

// A handle search that answers success with a count but no buffer counts as
// no handles: nothing is read from the absent buffer, released or connected.
TEST_F(StorageProbe, HandleListSuccessWithoutBufferIsNoHandles) {
  AddDevices({{"nvme0", kStorage, kNvm, 0x02}});
  platform_.Inject(sim::Failure("LocateHandleBuffer")
                       .For(EFI_PCI_IO_PROTOCOL_GUID)
                       .Answers(EFI_SUCCESS)
                       .Leaving("NoHandles", 4)
                       .Leaving("Buffer", nullptr));
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);

  UINTN count = 99;
  EFI_HANDLE *handles = nullptr;
  EXPECT_EQ(FindMassStorageControllers(kNvm, &count, &handles), EFI_NOT_FOUND);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(handles, nullptr);

  platform_.SignalEndOfDxe();
  EXPECT_TRUE(platform_.connect_calls().empty());
  EXPECT_EQ(gDriver.StorageAbsent, 1);
  EXPECT_EQ(platform_.CallCount("HandleProtocol"), 0u);
  EXPECT_EQ(platform_.CallCount("FreePool"), 0u);
}

TEST_F(StorageProbe, NoPciHandlesSearchesTwiceAndReleasesNothing) {
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  platform_.SignalEndOfDxe();
  EXPECT_EQ(platform_.CallCount("LocateHandleBuffer"), 2u);
  EXPECT_EQ(platform_.CallCount("FreePool"), 0u);
  EXPECT_EQ(gDriver.StorageAbsent, 1);
}

TEST_F(StorageProbe, NvmeFoundMeansNoSataSearch) {
  AddDevices({{"nvme0", kStorage, kNvm}, {"sata0", kStorage, kSata}});
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  platform_.SignalEndOfDxe();
  EXPECT_EQ(platform_.CallCount("LocateHandleBuffer"), 1u);
  EXPECT_EQ(platform_.FindPciDevice("sata0")->config_reads(), 1u);
}

// --- FindMassStorageControllers ------------------------------------------------------

class FindControllers : public StorageProbe {
 protected:
  void SetUp() override { ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS); }
  EFI_HANDLE Handle(const char *name) { return platform_.FindPciDevice(name)->handle(); }

  // Sentinels: a slot the routine must not touch keeps them.
  UINTN count_ = 77;
  EFI_HANDLE *handles_ = reinterpret_cast<EFI_HANDLE *>(0x1234);
};

TEST_F(FindControllers, MatchesArePackedAtTheFrontInFirmwareOrder) {
  AddDevices({{"nvme0", kStorage, kNvm}, {"sata0", kStorage, kSata}, {"nvme1", kStorage, kNvm}});
  ASSERT_EQ(FindMassStorageControllers(kNvm, &count_, &handles_), EFI_SUCCESS);
  ASSERT_EQ(count_, 2u);
  EXPECT_EQ(handles_[0], Handle("nvme0"));
  EXPECT_EQ(handles_[1], Handle("nvme1"));
  // The buffer is the firmware's own, handed to the caller.
  ASSERT_TRUE(platform_.IsPoolBlock(handles_));
  EXPECT_EQ(platform_.live_pool().at(handles_).origin, "LocateHandleBuffer");
  EXPECT_EQ(platform_.boot_services()->FreePool(handles_), EFI_SUCCESS);
}

TEST_F(FindControllers, NoMatchReleasesTheBufferAndLeavesTheHandlesSlot) {
  AddDevices({{"sata0", kStorage, kSata}, {"gpu0", 0x03, 0x00}});
  EXPECT_EQ(FindMassStorageControllers(kNvm, &count_, &handles_), EFI_NOT_FOUND);
  EXPECT_EQ(count_, 0u);
  EXPECT_EQ(handles_, reinterpret_cast<EFI_HANDLE *>(0x1234));
  EXPECT_EQ(platform_.CallCount("FreePool"), 1u);
  EXPECT_EQ(platform_.LeakReport(EfiBootServicesData), "");
}

TEST_F(FindControllers, SearchFailureIsPassedOnAndNoSlotTouched) {
  AddDevices({{"nvme0", kStorage, kNvm}});
  platform_.Inject(sim::Failure("LocateHandleBuffer").Answers(EFI_OUT_OF_RESOURCES));
  EXPECT_EQ(FindMassStorageControllers(kNvm, &count_, &handles_), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(count_, 77u);
  EXPECT_EQ(handles_, reinterpret_cast<EFI_HANDLE *>(0x1234));
}

TEST_F(FindControllers, NoPciHandlesGivesTheSearchStatus) {
  EXPECT_EQ(FindMassStorageControllers(kSata, &count_, &handles_), EFI_NOT_FOUND);
  EXPECT_EQ(count_, 77u);
  EXPECT_EQ(handles_, reinterpret_cast<EFI_HANDLE *>(0x1234));
}

TEST_F(FindControllers, EmptySlotsAreInvalidAndNothingIsAsked) {
  AddDevices({{"nvme0", kStorage, kNvm}});
  const unsigned searches = platform_.CallCount("LocateHandleBuffer");
  EXPECT_EQ(FindMassStorageControllers(kNvm, nullptr, &handles_), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FindMassStorageControllers(kNvm, &count_, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(platform_.CallCount("LocateHandleBuffer"), searches);
  EXPECT_EQ(handles_, reinterpret_cast<EFI_HANDLE *>(0x1234));
}

TEST_F(FindControllers, ReadsTheClassDwordAsOne32BitRead) {
  AddDevices({{"nvme0", kStorage, kNvm, 0x02}});
  ASSERT_EQ(FindMassStorageControllers(kNvm, &count_, &handles_), EFI_SUCCESS);
  std::vector<sim::CallRecord> reads = platform_.LogOf("PciIo.Pci.Read");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].Field("Width"), "2");
  EXPECT_EQ(reads[0].Field("Offset"), "0x8");
  EXPECT_EQ(reads[0].Field("Count"), "1");
  platform_.boot_services()->FreePool(handles_);
}

}  // namespace
