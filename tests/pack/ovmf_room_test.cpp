// The warning that a set of files will not fit Debian's OVMF 4 MiB images:
// each image's two bounds, and the room that binds named when all fit. (The
// bounds themselves are checked against notice-insert on the real images by
// e2e/firmware/check_flash_room.py.)
#include <gtest/gtest.h>

#include "tools/notice-pack/ovmf_room.h"

namespace {

using notice_pack::CheckOvmfRoom;
using notice_pack::FlashCost;
using notice_pack::kOvmf4MiBImages;

FlashCost Cost(uint64_t placed, uint64_t lzma) {
  FlashCost cost;
  cost.PlacedBytes = placed;
  cost.LzmaBytes = lzma;
  return cost;
}

const notice_pack::FirmwareRoom &Plain() { return kOvmf4MiBImages[0]; }
const notice_pack::FirmwareRoom &Secure() { return kOvmf4MiBImages[1]; }

TEST(OvmfRoom, WarnsForEachBoundExceededAndOnlyThose) {
  struct RoomCase {
    const char *name;
    FlashCost cost;
    std::vector<std::string> named;      // in the warning
    std::vector<std::string> not_named;  // absent from it
  };
  const std::vector<RoomCase> cases = {
      {"exactly the secure image's room", Cost(100, Secure().CompressedRoom), {}, {}},
      {"one byte over the secure image's room",
       Cost(100, Secure().CompressedRoom + 1),
       {"OVMF_CODE_4M.secboot.fd has room for 1,881,044 LZMA bytes in its compressed DXE volume, these take "
        "1,881,045 (1 too many)"},
       {"OVMF_CODE_4M.fd has"}},
      {"over both compressed rooms",
       Cost(100, Plain().CompressedRoom + 10),
       {"OVMF_CODE_4M.fd has room for 1,930,846 LZMA bytes", "(10 too many)",
        "OVMF_CODE_4M.secboot.fd has room for 1,881,044 LZMA bytes"},
       {"in its DXE volume,"}},
      {"more than the secure volume's free space, compressing well",
       Cost(Secure().VolumeFree + 8, 1000),
       {"OVMF_CODE_4M.secboot.fd has room for 7,048,040 bytes in its DXE volume, these take 7,048,048 (8 too many)"},
       {"LZMA bytes"}},
  };
  for (const RoomCase &c : cases) {
    SCOPED_TRACE(c.name);
    const notice_pack::RoomReport report = CheckOvmfRoom(c.cost);
    if (c.named.empty()) {
      EXPECT_FALSE(report.Warning.has_value()) << *report.Warning;
      continue;
    }
    ASSERT_TRUE(report.Warning.has_value());
    EXPECT_EQ(report.Warning->find(notice_pack::kDoesNotFitWarning), 0u) << *report.Warning;
    EXPECT_NE(report.Warning->find("make the pictures smaller"), std::string::npos);
    EXPECT_TRUE(report.Note.empty());
    for (const std::string &text : c.named) EXPECT_NE(report.Warning->find(text), std::string::npos) << text;
    for (const std::string &text : c.not_named) EXPECT_EQ(report.Warning->find(text), std::string::npos) << text;
  }
}

TEST(OvmfRoom, WhenAllFitTheTightestRoomIsNamed) {
  const notice_pack::RoomReport compressed = CheckOvmfRoom(Cost(1000, 188104));
  EXPECT_EQ(compressed.Note,
            "Room in Debian's OVMF 4 MiB images: the files fit; the tightest is OVMF_CODE_4M.secboot.fd's compressed "
            "DXE volume, where they take about 188,104 of the 1,881,044 bytes left\n");
  // Pictures that compress to almost nothing are bound by the volume itself.
  const notice_pack::RoomReport raw = CheckOvmfRoom(Cost(7000000, 1000));
  EXPECT_NE(raw.Note.find("OVMF_CODE_4M.secboot.fd's DXE volume, where they take 7,000,000 of the 7,048,040"),
            std::string::npos)
      << raw.Note;
}

}  // namespace
