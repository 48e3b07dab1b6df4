#include "tools/common/placement_reason.h"

#include "display/notice_placement.h"
#include "tools/common/number_text.h"

namespace picture_tools {

ScreenFit FitOnScreen(uint32_t ScreenWidth, uint32_t ScreenHeight, uint32_t Width, uint32_t Height) {
  const NoticePlacement place = PlaceNotice(ScreenWidth, ScreenHeight, Width, Height);
  ScreenFit fit;
  if (!place.Fits) {
    fit.Reason = GroupDigits(Width) + " pixels wide: needs a screen at least " +
                 GroupDigits(uint64_t{Width} + 2 * kNoticeLeftShift) + " wide; this screen is " +
                 GroupDigits(ScreenWidth) + ", so nothing is drawn and no line is printed" +
                 (ScreenWidth > 2 * kNoticeLeftShift
                      ? "; make it at most " + GroupDigits(ScreenWidth - 2 * kNoticeLeftShift) + " wide"
                      : std::string());
    return fit;
  }
  if (place.Y + Height > ScreenHeight) {
    fit.Reason = GroupDigits(Height) + " pixels tall on a screen " + GroupDigits(ScreenHeight) +
                 " high: the picture would start above the top edge, so the graphics output refuses it and the "
                 "driver prints \"GraphicsOutput->Blt failure...\"; make it at most " +
                 GroupDigits(ScreenHeight) + " tall";
    return fit;
  }
  fit.Drawn = true;
  fit.X = place.X;
  fit.Y = place.Y;
  return fit;
}

}  // namespace picture_tools
