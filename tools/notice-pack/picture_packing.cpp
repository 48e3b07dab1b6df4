#include "tools/notice-pack/picture_packing.h"

#include <ostream>

#include "tools/notice-pack/compressed_section.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {

PackedPicture PackPicture(const PictureInput &input, ByteView bmp, bool allowInvalid, std::ostream &warnings) {
  PackedPicture packed;
  packed.Checked = CheckPicture(input, bmp);
  if (packed.Checked.Refusal) {
    const std::string message = packed.Checked.Label + " would not be shown: " + *packed.Checked.Refusal;
    if (!allowInvalid) throw PackError(message + " (--allow-invalid packs it anyway)");
    warnings << "notice-pack: warning: " << message << "; packed anyway (--allow-invalid)\n";
  }
  packed.File.Label = input.Path.filename().string();
  packed.File.Name = input.FileGuid;
  packed.File.Kind = PictureKind(packed.Checked) + (input.Compress ? ", LZMA section" : "");
  packed.File.RawBytes = bmp.size();
  packed.File.Ffs =
      input.Compress ? BuildCompressedPictureFile(input.FileGuid, bmp) : BuildPictureFile(input.FileGuid, bmp);
  return packed;
}

}  // namespace notice_pack
