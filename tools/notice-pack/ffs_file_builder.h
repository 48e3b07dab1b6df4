// Builds FFS2 files for a volume with erase polarity 1.
#pragma once

#include <vector>

#include "tools/notice-pack/byte_buffer.h"
#include "tools/notice-pack/guid.h"

namespace notice_pack {

// A complete file: header (checksummed, no file checksum, no attributes,
// state "complete" stored inverted) followed by `sections`, each starting on
// a 4-byte boundary of the file. Gaps between sections are zero; the file
// ends with the last section. Throws PackError when the file would not fit
// the 24-bit size field.
Bytes BuildFfsFile(const Guid &name, uint8_t type, const std::vector<Bytes> &sections);

}  // namespace notice_pack
