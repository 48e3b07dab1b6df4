#include "tools/notice-pack/ffs_file_builder.h"

#include "tools/notice-pack/checksum.h"
#include "tools/notice-pack/ffs_layout.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {

Bytes BuildFfsFile(const Guid &name, uint8_t type, const std::vector<Bytes> &sections) {
  Bytes file(kFileHeaderSize, 0);
  for (const Bytes &section : sections) {
    PadTo(file, kSectionAlignment, 0);
    Append(file, section);
    if (file.size() > kMaxSize24) {
      throw PackError("file " + FormatGuid(name) + " exceeds the 24-bit file size");
    }
  }
  std::copy(name.Bytes.begin(), name.Bytes.end(), file.begin());
  file[kFileTypeOffset] = type;
  file[kFileAttributesOffset] = 0;
  PutLe(file, kFileSizeOffset, file.size(), 3);
  // The header sum is taken with the file checksum and state bytes as zero.
  file[kFileHeaderChecksumOffset] = Checksum8(ByteView(file.data(), kFileHeaderSize));
  file[kFileDataChecksumOffset] = kFileChecksumNotUsed;
  // Erase polarity 1: state bits are set by clearing them.
  file[kFileStateOffset] = static_cast<uint8_t>(~kFileStateComplete);
  return file;
}

}  // namespace notice_pack
