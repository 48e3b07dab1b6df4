// Every GUID the driver names, checked against its registry text, and the
// in-memory byte order of the UEFI GUID layout. A one-digit slip in a
// constant would make the driver miss a protocol without any other symptom.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/driver_guids.h"
#include "efi/efi.h"
#include "sim/call_log.h"

namespace {

struct GuidCase {
  const char *name;
  const EFI_GUID *guid;
  const char *text;
};

const GuidCase kGuids[] = {
    {"GraphicsOutput", &EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID, "9042A9DE-23DC-4A38-96FB-7ADED080516A"},
    {"FirmwareVolume2", &EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID, "220E73B6-6BDB-4413-8405-B974B108619A"},
    {"PciIo", &EFI_PCI_IO_PROTOCOL_GUID, "4CF5B200-68B8-4CA5-9EEC-B23E3F50029A"},
    {"GlobalVariable", &EFI_GLOBAL_VARIABLE, "8BE4DF61-93CA-11D2-AA0D-00E098032B8C"},
    {"EndOfDxeGroup", &EFI_END_OF_DXE_EVENT_GROUP_GUID, "02CE967A-DD7E-4FFC-9EE7-810CF0470880"},
    {"HobList", &EFI_HOB_LIST_GUID, "7739F24C-93D7-11D4-9A3A-0090273FC14D"},
    {"NoticeTrigger", &NoticeTriggerProtocolGuid, "EF9A3971-C1A0-4A93-BD40-5AA165F2DC3A"},
    {"TraceHubInfoHob", &TraceHubInfoHobGuid, "F1187E54-995F-49D9-ACEE-C534F45A18C7"},
};

class GuidText : public ::testing::TestWithParam<GuidCase> {};

TEST_P(GuidText, MatchesItsRegistryText) { EXPECT_EQ(sim::GuidText(*GetParam().guid), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Driver, GuidText, ::testing::ValuesIn(kGuids),
                         [](const ::testing::TestParamInfo<GuidCase> &info) { return info.param.name; });

TEST(GuidLayout, FirstThreeFieldsAreLittleEndianThenEightBytesInOrder) {
  // 7739F24C-93D7-11D4-9A3A-0090273FC14D as it lies in a configuration table.
  const uint8_t expected[16] = {0x4C, 0xF2, 0x39, 0x77, 0xD7, 0x93, 0xD4, 0x11,
                                0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D};
  EXPECT_EQ(std::memcmp(&EFI_HOB_LIST_GUID, expected, sizeof(expected)), 0);
}

TEST(GuidLayout, EqualityLooksAtEveryByte) {
  for (unsigned i = 0; i < sizeof(EFI_GUID); ++i) {
    EFI_GUID changed = EFI_PCI_IO_PROTOCOL_GUID;
    reinterpret_cast<uint8_t *>(&changed)[i] ^= 0x01;
    EXPECT_FALSE(GuidEquals(changed, EFI_PCI_IO_PROTOCOL_GUID)) << "byte " << i;
  }
  EXPECT_TRUE(GuidEquals(EFI_PCI_IO_PROTOCOL_GUID, EFI_PCI_IO_PROTOCOL_GUID));
}

}  // namespace
