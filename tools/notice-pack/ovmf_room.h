// Whether the packed files fit Debian's OVMF 4 MiB code images, the firmware
// `make run` and the e2e runs put them into with notice-insert. There the DXE
// volume sits LZMA-compressed inside a volume-image file; notice-insert adds
// the files to the volume, compresses it again, and the result must fit the
// room the image's outer volume has from that file's start. So two bounds hold
// for each image: the files' LZMA size against that room less what the stock
// volume takes compressed, and the files themselves against the DXE volume's
// free space. Both were measured with notice-insert on Debian 12's OVMF
// (2022.11); e2e/firmware/check_flash_room.py checks them against
// notice-insert on the installed images, so they cannot drift unseen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/notice-pack/flash_cost.h"

namespace notice_pack {

struct FirmwareRoom {
  const char *Image;        // the file under /usr/share/OVMF
  uint64_t CompressedRoom;  // LZMA bytes the files may add to the compressed DXE volume
  uint64_t VolumeFree;      // bytes free in the DXE volume itself
};

inline constexpr FirmwareRoom kOvmf4MiBImages[] = {
    {"OVMF_CODE_4M.fd", 1930846, 7293704},
    {"OVMF_CODE_4M.secboot.fd", 1881044, 7048040},
};

// The start of the warning line, for scripts that look for it.
inline constexpr const char *kDoesNotFitWarning = "the files will not fit Debian's OVMF 4 MiB image";

struct RoomReport {
  std::optional<std::string> Warning;  // when some image has no room for the files
  std::string Note;                    // when every image has room: the room that binds
};

// Files that cost `cost` against each image's two bounds.
RoomReport CheckOvmfRoom(const FlashCost &cost);

}  // namespace notice_pack
