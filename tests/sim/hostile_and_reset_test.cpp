// What the simulated platform offers for firmware that breaks its contract,
// the empty inputs it must take without undefined behaviour, and its reset.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/driver_state.h"
#include "core/driver_guids.h"
#include "display/notice_image_lookup.h"
#include "efi/efi_hob.h"
#include "sim/driver_reload.h"
#include "sim/embedded_controller.h"
#include "sim/hob_list_builder.h"
#include "sim/platform.h"
#include "tests/display/bmp_writer.h"

namespace {

class Hostile : public ::testing::Test {
 protected:
  sim::Platform platform_;
  EFI_BOOT_SERVICES *bs_ = platform_.boot_services();
  EFI_RUNTIME_SERVICES *rt_ = platform_.runtime_services();
};

// An empty variable and an empty HOB list have no data pointer: the platform
// must not hand one to memcpy (the sanitizer build reports a null source).
TEST_F(Hostile, EmptyVariableReadsAsZeroBytes) {
  platform_.SetVariable(u"SecureBoot", EFI_GLOBAL_VARIABLE, 0x6, {});
  uint8_t byte = 0x5A;
  UINTN size = 1;
  EXPECT_EQ(rt_->GetVariable(u"SecureBoot", &EFI_GLOBAL_VARIABLE, nullptr, &size, &byte), EFI_SUCCESS);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(byte, 0x5A);
}

TEST_F(Hostile, EmptyHobListIsPublished) {
  void *list = platform_.InstallHobList({});
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(platform_.system_table()->NumberOfTableEntries, 1u);
  EXPECT_EQ(platform_.system_table()->ConfigurationTable[0].VendorTable, list);
}

TEST_F(Hostile, HandoffEndBecomesTheAddressInTheInstalledList) {
  const std::vector<uint8_t> bytes = sim::HobListBuilder().Handoff().TraceHub(1).End().bytes();
  ASSERT_EQ(bytes.size(), 56u + 48u + 8u);
  uint64_t offset = 0;
  std::memcpy(&offset, bytes.data() + 48, sizeof(offset));
  EXPECT_EQ(offset, 56u + 48u) << "the builder records where the end HOB starts";

  const uint8_t *list = static_cast<const uint8_t *>(platform_.InstallHobList(bytes));
  uint64_t end = 0;
  std::memcpy(&end, list + 48, sizeof(end));
  EXPECT_EQ(end, reinterpret_cast<uintptr_t>(list) + 56u + 48u);

  // Without a leading hand-off HOB nothing is rewritten.
  const std::vector<uint8_t> plain = sim::HobListBuilder().TraceHub(7).End().bytes();
  const uint8_t *copy = static_cast<const uint8_t *>(platform_.InstallHobList(plain));
  EXPECT_EQ(std::vector<uint8_t>(copy, copy + plain.size()), plain);
}

TEST_F(Hostile, HandleListWithoutBufferForOneProtocolOnly) {
  platform_.AddPciDevice("nvme0", 1, 8);
  platform_.AddFirmwareVolume("fv0");
  platform_.Inject(sim::Failure("LocateHandleBuffer")
                       .For(EFI_PCI_IO_PROTOCOL_GUID)
                       .Answers(EFI_SUCCESS)
                       .Leaving("NoHandles", 3)
                       .Leaving("Buffer", nullptr));
  UINTN count = 0;
  EFI_HANDLE *handles = reinterpret_cast<EFI_HANDLE *>(uintptr_t{8});
  EXPECT_EQ(bs_->LocateHandleBuffer(ByProtocol, &EFI_PCI_IO_PROTOCOL_GUID, nullptr, &count, &handles), EFI_SUCCESS);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(handles, nullptr);
  // What the failure left is logged as the service's results would be.
  EXPECT_EQ(platform_.log().back().Field("NoHandles"), "3");
  EXPECT_EQ(platform_.log().back().Field("Buffer"), sim::HexText(0));
  EXPECT_EQ(platform_.pool_usage().blocks, 0u);
  EXPECT_EQ(bs_->LocateHandleBuffer(ByProtocol, &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, nullptr, &count, &handles),
            EFI_SUCCESS);
  EXPECT_EQ(count, 1u);
  ASSERT_NE(handles, nullptr);
  bs_->FreePool(handles);
  EXPECT_EQ(platform_.LeakReport(), "");
}

TEST_F(Hostile, FailingReadSectionCanLeaveABufferBehind) {
  const EFI_GUID file = NoticeImage2Guid;
  sim::FirmwareVolume &volume = platform_.AddFirmwareVolume("fv0");
  platform_.Inject(sim::Failure("ReadSection")
                       .On(volume)
                       .For(file)
                       .Answers(EFI_DEVICE_ERROR)
                       .Leaving("Buffer", sim::PoolHolding{{1, 2, 3}})
                       .Leaving("BufferSize", 900));
  void *buffer = nullptr;
  UINTN size = 0;
  UINT32 authentication = 0;
  EXPECT_EQ(
      volume.protocol()->ReadSection(volume.protocol(), &file, EFI_SECTION_RAW, 0, &buffer, &size, &authentication),
      EFI_DEVICE_ERROR);
  ASSERT_TRUE(platform_.IsPoolBlock(buffer));
  EXPECT_EQ(platform_.live_pool().at(buffer).size, 3u);
  EXPECT_EQ(size, 900u);
  bs_->FreePool(buffer);
}

// --- reset ---------------------------------------------------------------------

// A whole boot: entry, end of DXE with an NVM Express controller, a trigger
// with Secure Boot off and the notice picture in a volume; the controller
// answers at once.
struct BootRecord {
  std::vector<std::string> calls;  // "Name=status" per call, in order
  std::vector<std::u16string> console;
  std::vector<std::string> connected;
  size_t blts = 0;
  uint32_t centre_pixel = 0;
};

BootRecord Boot(sim::Platform &platform) {
  sim::EmbeddedController ec;
  ec.Attach();
  platform.AddPciDevice("nvme0", 0x01, 0x08, 0x02);
  platform.SetSecureBoot(0);
  bmptest::Picture picture;
  picture.width = 8;
  picture.height = 2;
  picture.pixels.assign(16, 0x336699);
  platform.AddFirmwareVolume("fv0").AddRawFile(NoticeImage5Guid, bmptest::Encode(picture));
  platform.InstallHobList(sim::HobListBuilder().Handoff().TraceHub(0xFE000000).End().bytes());
  EXPECT_EQ(platform.RunDriverEntry(), EFI_SUCCESS);
  platform.SignalEndOfDxe();
  platform.InstallTrigger();

  BootRecord record;
  for (const sim::CallRecord &call : platform.log()) {
    record.calls.push_back(call.name + "=" + (call.has_status ? sim::HexText(call.status) : "-"));
  }
  record.console = platform.console_strings();
  record.connected = platform.connected_names();
  record.blts = platform.blt_calls().size();
  const EFI_GRAPHICS_OUTPUT_BLT_PIXEL p = platform.Pixel(sim::Platform::kDefaultWidth / 2 - 10, 384);
  record.centre_pixel = static_cast<uint32_t>(p.Red) << 16 | static_cast<uint32_t>(p.Green) << 8 | p.Blue;
  return record;
}

TEST(PlatformReset, GivesWhatAFreshPlatformGives) {
  BootRecord fresh;
  {
    sim::Platform platform;
    fresh = Boot(platform);
  }
  ASSERT_EQ(fresh.blts, 1u);
  ASSERT_EQ(fresh.centre_pixel, 0x336699u);
  ASSERT_EQ(fresh.connected, std::vector<std::string>{"nvme0"});

  sim::Platform platform;
  // A boot that leaves every kind of state behind: records, injected failures
  // of every kind, a missing console and graphics output, a fault, pool.
  Boot(platform);
  platform.Inject(sim::Failure("AllocatePool").Answers(EFI_OUT_OF_RESOURCES));
  platform.Inject(sim::Failure("Blt").Answers(EFI_DEVICE_ERROR));
  platform.Inject(sim::Failure("OutputString").Answers(EFI_DEVICE_ERROR));
  platform.Inject(sim::Failure("ConnectController").Answers(EFI_DEVICE_ERROR));
  platform.Inject(sim::Failure("PciIo.Pci.Read").Answers(EFI_DEVICE_ERROR));
  platform.Inject(sim::Failure("HandleProtocol").Answers(EFI_UNSUPPORTED));
  platform.Inject(sim::Failure("ReadSection").For(NoticeImage5Guid).Answers(EFI_NOT_FOUND));
  platform.Inject(sim::Failure("LocateHandleBuffer")
                      .For(EFI_PCI_IO_PROTOCOL_GUID)
                      .Answers(EFI_SUCCESS)
                      .Leaving("NoHandles", 2)
                      .Leaving("Buffer", nullptr));
  platform.gop()->Mode->Info = nullptr;
  platform.RemoveGop();
  platform.RemoveConsole();
  platform.boot_services()->FreePool(&platform);
  void *kept = nullptr;
  platform.ClearFailures("AllocatePool");
  platform.boot_services()->AllocatePool(EfiBootServicesData, 64, &kept);
  ASSERT_FALSE(platform.faults().empty());

  platform.Reset();

  EXPECT_TRUE(platform.log().empty());
  EXPECT_TRUE(platform.faults().empty());
  EXPECT_TRUE(platform.unexpected_calls().empty());
  EXPECT_EQ(platform.pool_usage().blocks, 0u);
  EXPECT_EQ(platform.CallCount("AllocatePool"), 0u);
  EXPECT_EQ(platform.system_table()->NumberOfTableEntries, 0u);
  EXPECT_EQ(platform.Pixel(sim::Platform::kDefaultWidth / 2 - 10, 384).Blue, 0u) << "the screen is cleared";
  EXPECT_EQ(gDriver.NoticeMode, 0);
  // Reloaded: every driver-wide value as the image file holds it, not yet a
  // loaded driver's (DriverEntry's first step makes it one).
  EXPECT_EQ(gDriver.SecureBootState, DriverState{}.SecureBootState);
  EXPECT_EQ(gDriver.StorageAbsent, DriverState{}.StorageAbsent);
  EXPECT_EQ(gDriver.SystemTable, nullptr);
  platform.BindDriver();
  EXPECT_EQ(gDriver.SecureBootState, sim::LoadedDriverState().SecureBootState);
  EXPECT_EQ(gDriver.StorageAbsent, sim::LoadedDriverState().StorageAbsent);

  const BootRecord again = Boot(platform);
  EXPECT_EQ(again.calls, fresh.calls);
  EXPECT_EQ(again.console, fresh.console);
  EXPECT_EQ(again.connected, fresh.connected);
  EXPECT_EQ(again.blts, fresh.blts);
  EXPECT_EQ(again.centre_pixel, fresh.centre_pixel);
}

}  // namespace
