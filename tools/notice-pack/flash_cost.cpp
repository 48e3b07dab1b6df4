#include "tools/notice-pack/flash_cost.h"

#include "tools/common/lzma_alone.h"
#include "tools/common/number_text.h"
#include "tools/notice-pack/ffs_layout.h"
#include "tools/notice-pack/text_table.h"

namespace notice_pack {

FlashCost MeasureFlashCost(const std::vector<PackedFile> &files, const Bytes *volume) {
  using picture_tools::GroupDigits;
  std::vector<std::vector<std::string>> rows = {{"file", "GUID", "kind", "raw bytes", "FFS bytes", "LZMA bytes"}};
  FlashCost cost;
  size_t raw = 0, ffs = 0;
  for (const PackedFile &file : files) {
    const size_t packed = picture_tools::CompressLzmaAlone(file.Ffs).size();
    rows.push_back({file.Label, FormatGuid(file.Name), file.Kind, GroupDigits(file.RawBytes),
                    GroupDigits(file.Ffs.size()), GroupDigits(packed)});
    raw += file.RawBytes;
    ffs += file.Ffs.size();
    cost.PlacedBytes += AlignUp(file.Ffs.size(), kFileAlignment);
    cost.LzmaBytes += packed;
  }
  rows.push_back({"total", "", std::to_string(files.size()) + (files.size() == 1 ? " file" : " files"),
                  GroupDigits(raw), GroupDigits(ffs), GroupDigits(cost.LzmaBytes)});
  cost.Table = "Flash cost (LZMA: each file compressed alone, as a compressed volume would store it):\n" +
               FormatTable(rows, {3, 4, 5});
  if (volume != nullptr) {
    cost.Table += "volume: " + GroupDigits(volume->size()) + " bytes; LZMA-compressed as a whole: " +
                  GroupDigits(picture_tools::CompressLzmaAlone(*volume).size()) + " bytes\n";
  }
  return cost;
}

}  // namespace notice_pack
