#include "tools/notice-pack/picture_report.h"

#include "tools/common/bmp_reason.h"
#include "tools/common/placement_reason.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/text_table.h"

namespace notice_pack {
namespace {

std::string SizeText(uint32_t width, uint32_t height) { return std::to_string(width) + "x" + std::to_string(height); }

}  // namespace

std::string PictureName(const Guid &fileGuid) {
  for (size_t i = 0; i < kNoticePictureGuids.size(); ++i) {
    if (kNoticePictureGuids[i] == fileGuid) return "picture " + std::to_string(i + 1);
  }
  return FormatGuid(fileGuid);
}

CheckedPicture CheckPicture(const PictureInput &input, ByteView bytes) {
  CheckedPicture checked;
  checked.Label = PictureName(input.FileGuid) + " (" + input.Path.filename().string() + ")";
  checked.Refusal = picture_tools::BmpRefusal(bytes, &checked.Layout);
  return checked;
}

std::string PictureKind(const CheckedPicture &picture) {
  if (picture.Refusal) return "refused by the driver";
  return std::to_string(picture.Layout.BitsPerPixel) + "-bit " + SizeText(picture.Layout.Width, picture.Layout.Height);
}

std::string FitReport(const std::vector<CheckedPicture> &pictures, const std::vector<ScreenSize> &extraScreens) {
  std::vector<ScreenSize> screens = kCommonScreens;
  screens.insert(screens.end(), extraScreens.begin(), extraScreens.end());
  std::vector<std::vector<std::string>> rows(1, {"picture", "size"});
  for (const ScreenSize &screen : screens) rows[0].push_back(SizeText(screen.Width, screen.Height));
  std::string notes;
  for (const CheckedPicture &picture : pictures) {
    if (picture.Refusal) continue;
    std::vector<std::string> row = {picture.Label, SizeText(picture.Layout.Width, picture.Layout.Height)};
    for (const ScreenSize &screen : screens) {
      const picture_tools::ScreenFit fit =
          picture_tools::FitOnScreen(screen.Width, screen.Height, picture.Layout.Width, picture.Layout.Height);
      row.push_back(fit.Drawn ? std::to_string(fit.X) + "," + std::to_string(fit.Y) : "not drawn");
      if (!fit.Drawn)
        notes += "  " + picture.Label + " on " + SizeText(screen.Width, screen.Height) + ": " + fit.Reason + "\n";
    }
    rows.push_back(std::move(row));
  }
  if (rows.size() == 1) return "";
  return "Where each picture lands (x,y of its top-left corner; centred, 10 pixels left of centre):\n" +
         FormatTable(rows) + (notes.empty() ? "" : "Not drawn:\n" + notes);
}

}  // namespace notice_pack
