#include "tools/notice-pack/ovmf_room.h"

#include <vector>

#include "tools/common/number_text.h"

namespace notice_pack {
namespace {

using picture_tools::GroupDigits;

struct Bound {
  const char *Image;
  bool Compressed;  // the LZMA room, else the volume's free space
  uint64_t Need;
  uint64_t Room;
};

std::string Describe(const Bound &bound) {
  return std::string(bound.Image) + " has room for " + GroupDigits(bound.Room) +
         (bound.Compressed ? " LZMA bytes in its compressed DXE volume" : " bytes in its DXE volume");
}

}  // namespace

RoomReport CheckOvmfRoom(const FlashCost &cost) {
  std::vector<Bound> bounds;
  for (const FirmwareRoom &image : kOvmf4MiBImages) {
    bounds.push_back({image.Image, true, cost.LzmaBytes, image.CompressedRoom});
    bounds.push_back({image.Image, false, cost.PlacedBytes, image.VolumeFree});
  }
  RoomReport report;
  std::string failed;
  const Bound *binding = &bounds.front();
  for (const Bound &bound : bounds) {
    if (bound.Need > bound.Room) {
      failed += (failed.empty() ? "" : "; ") + Describe(bound) + ", these take " + GroupDigits(bound.Need) + " (" +
                GroupDigits(bound.Need - bound.Room) + " too many)";
    }
    // The bound with the least room to spare, as a share of its room.
    if (static_cast<double>(bound.Need) / bound.Room > static_cast<double>(binding->Need) / binding->Room) {
      binding = &bound;
    }
  }
  if (!failed.empty()) {
    report.Warning = std::string(kDoesNotFitWarning) + ": " + failed +
                     "; notice-insert (and make run) will refuse them: make the pictures smaller or give them fewer "
                     "colours (notice-pack convert --colours 256 gives 8 bits per pixel)";
    return report;
  }
  report.Note =
      "Room in Debian's OVMF 4 MiB images: the files fit; the tightest is " + std::string(binding->Image) +
      (binding->Compressed ? "'s compressed DXE volume, where they take about " : "'s DXE volume, where they take ") +
      GroupDigits(binding->Need) + " of the " + GroupDigits(binding->Room) + " bytes left\n";
  return report;
}

}  // namespace notice_pack
