#include "tools/notice-pack/compressed_section.h"

#include "tools/common/lzma_alone.h"
#include "tools/notice-pack/ffs_file_builder.h"
#include "tools/notice-pack/ffs_layout.h"
#include "tools/notice-pack/section_builder.h"

namespace notice_pack {

Bytes BuildLzmaGuidedSection(ByteView sections) {
  const Bytes packed = picture_tools::CompressLzmaAlone(sections);
  Bytes body(kGuidDefinedHeaderSize - kSectionHeaderSize, 0);
  std::copy(kLzmaSectionGuid.Bytes.begin(), kLzmaSectionGuid.Bytes.end(), body.begin());
  PutLe(body, 16, kGuidDefinedHeaderSize, 2);
  PutLe(body, 18, kGuidedSectionProcessingRequired, 2);
  Append(body, packed);
  return BuildSection(kSectionGuidDefined, body);
}

Bytes BuildCompressedPictureFile(const Guid &fileGuid, ByteView picture) {
  return BuildFfsFile(fileGuid, kFileTypeFreeform, {BuildLzmaGuidedSection(BuildSection(kSectionRaw, picture))});
}

}  // namespace notice_pack
