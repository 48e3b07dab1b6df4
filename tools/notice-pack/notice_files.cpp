#include "tools/notice-pack/notice_files.h"

#include "tools/notice-pack/ffs_file_builder.h"
#include "tools/notice-pack/ffs_layout.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/pe_image_check.h"
#include "tools/notice-pack/section_builder.h"

namespace notice_pack {

std::optional<Guid> NoticePictureGuid(int number) {
  if (number < 1 || number > static_cast<int>(kNoticePictureGuids.size())) return std::nullopt;
  return kNoticePictureGuids[static_cast<size_t>(number - 1)];
}

Bytes BuildDriverFile(ByteView image, std::string_view name, const Guid &fileGuid) {
  if (auto problem = FindDriverImageProblem(image)) throw PackError("driver image: " + *problem);
  return BuildFfsFile(fileGuid, kFileTypeDriver, {BuildSection(kSectionPe32, image), BuildUserInterfaceSection(name)});
}

Bytes BuildPictureFile(const Guid &fileGuid, ByteView picture) {
  return BuildFfsFile(fileGuid, kFileTypeFreeform, {BuildSection(kSectionRaw, picture)});
}

}  // namespace notice_pack
