#include "picture_reason.h"

#include "tools/common/bmp_reason.h"
#include "tools/common/placement_reason.h"

namespace preview {

std::optional<std::string> NotShownReason(const Options &options, const PictureFiles &pictures, uint32_t screen_width,
                                          uint32_t screen_height, const Notification &n) {
  if (!n.notified || n.notice_mode == 0 || n.blt) return std::nullopt;
  if (options.no_gop) return "the firmware has no graphics output protocol, so nothing can be drawn";
  const auto picture = pictures.find(n.notice_mode);
  if (picture == pictures.end()) {
    return "no firmware volume holds a picture file for notice " + std::to_string(n.notice_mode) +
           ": pack one (notice-pack --picture " + std::to_string(n.notice_mode) + "=FILE)";
  }
  BmpLayout layout;
  if (auto refusal = picture_tools::BmpRefusal(picture->second, &layout)) return refusal;
  const picture_tools::ScreenFit fit =
      picture_tools::FitOnScreen(screen_width, screen_height, layout.Width, layout.Height);
  if (!fit.Drawn) return fit.Reason;
  if (options.fail_alloc) return "the memory for the decoded picture could not be allocated (--fail-alloc)";
  return "the picture passes the driver's checks and fits the screen, yet was not drawn";
}

}  // namespace preview
