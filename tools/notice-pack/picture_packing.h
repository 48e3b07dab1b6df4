// One picture from its file to its FFS file: checked with the driver's own
// checks, refused with the reason unless invalid pictures are allowed, stored
// raw or LZMA-compressed.
#pragma once

#include <iosfwd>

#include "tools/notice-pack/command_line.h"
#include "tools/notice-pack/flash_cost.h"
#include "tools/notice-pack/picture_report.h"

namespace notice_pack {

struct PackedPicture {
  CheckedPicture Checked;
  PackedFile File;
};

// Throws PackError naming the picture and the driver's reason when the
// driver would refuse it and `allowInvalid` is false; with it, writes a
// warning to `warnings` and packs the bytes as they are.
PackedPicture PackPicture(const PictureInput &input, ByteView bmp, bool allowInvalid, std::ostream &warnings);

}  // namespace notice_pack
