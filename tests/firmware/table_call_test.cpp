// The firmware tables as the driver receives them: no empty slot it could
// jump through, and arguments passed intact through the EFIAPI convention,
// including those that travel on the stack.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/platform.h"

namespace {

// Every pointer-sized slot after the table header must be filled.
template <typename Table>
unsigned EmptySlots(const Table &table, size_t first, size_t end, size_t skip = ~size_t{0}) {
  unsigned empty = 0;
  for (size_t offset = first; offset < end; offset += sizeof(void *)) {
    if (offset == skip) continue;
    void *slot = nullptr;
    std::memcpy(&slot, reinterpret_cast<const uint8_t *>(&table) + offset, sizeof(slot));
    if (slot == nullptr) ++empty;
  }
  return empty;
}

TEST(FirmwareTables, EveryServiceSlotIsFilled) {
  sim::Platform platform;
  EXPECT_EQ(EmptySlots(*platform.boot_services(), sizeof(EFI_TABLE_HEADER), sizeof(EFI_BOOT_SERVICES),
                       offsetof(EFI_BOOT_SERVICES, Reserved)),
            0u);
  EXPECT_EQ(EmptySlots(*platform.runtime_services(), sizeof(EFI_TABLE_HEADER), sizeof(EFI_RUNTIME_SERVICES)), 0u);
  EXPECT_EQ(EmptySlots(*platform.console(), 0, sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL)), 0u);
  EXPECT_EQ(EmptySlots(*platform.gop(), 0, sizeof(EFI_GRAPHICS_OUTPUT_PROTOCOL)), 0u);
  sim::PciDevice &pci = platform.AddPciDevice("dev", 1, 8);
  EXPECT_EQ(EmptySlots(*pci.protocol(), 0, offsetof(EFI_PCI_IO_PROTOCOL, RomSize)), 0u);
  sim::FirmwareVolume &fv = platform.AddFirmwareVolume("fv");
  EXPECT_EQ(EmptySlots(*fv.protocol(), 0, offsetof(EFI_FIRMWARE_VOLUME2_PROTOCOL, KeySize)), 0u);
}

TEST(FirmwareTables, HeadersCarrySignaturesAndSizes) {
  sim::Platform platform;
  const EFI_SYSTEM_TABLE &st = *platform.system_table();
  EXPECT_EQ(st.Hdr.Signature, EFI_SYSTEM_TABLE_SIGNATURE);
  EXPECT_EQ(st.BootServices->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
  EXPECT_EQ(st.BootServices->Hdr.HeaderSize, sizeof(EFI_BOOT_SERVICES));
  EXPECT_EQ(st.RuntimeServices->Hdr.Signature, EFI_RUNTIME_SERVICES_SIGNATURE);
  EXPECT_EQ(st.RuntimeServices->Hdr.HeaderSize, sizeof(EFI_RUNTIME_SERVICES));
}

TEST(FirmwareTables, TenArgumentCallArrivesIntact) {
  // Blt takes ten arguments: six of them are passed on the stack under EFIAPI.
  sim::Platform platform;
  platform.SetScreenSize(100, 100);
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL pixels[64] = {};
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop = platform.gop();
  gop->Blt(gop, pixels, EfiBltBufferToVideo, 1, 2, 30, 40, 5, 6, 0x1C);
  const sim::BltCall &call = platform.blt_calls().at(0);
  EXPECT_EQ(call.buffer, pixels);
  EXPECT_EQ(call.operation, EfiBltBufferToVideo);
  EXPECT_EQ(call.source_x, 1u);
  EXPECT_EQ(call.source_y, 2u);
  EXPECT_EQ(call.destination_x, 30u);
  EXPECT_EQ(call.destination_y, 40u);
  EXPECT_EQ(call.width, 5u);
  EXPECT_EQ(call.height, 6u);
  EXPECT_EQ(call.delta, 0x1Cu);
}

TEST(FirmwareTables, BooleanAndSmallArgumentsArriveIntact) {
  sim::Platform platform;
  sim::PciDevice &pci = platform.AddPciDevice("dev", 1, 8);
  EFI_BOOT_SERVICES *bs = platform.boot_services();
  bs->ConnectController(pci.handle(), nullptr, nullptr, 1);
  UINT8 bytes[3] = {};
  bs->SetMem(bytes, 2, 0xA5);
  EXPECT_EQ(platform.connect_calls().at(0).recursive, 1);
  EXPECT_EQ(bytes[1], 0xA5);
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(platform.LogOf("SetMem").at(0).Field("Value"), "0xA5");
}

}  // namespace
