// What notice-pack says about the pictures it packs: whether the driver
// accepts each one (its own checks), and where each lands on common screens
// or why it would not be drawn (its own placement).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "display/bmp_check.h"
#include "tools/common/input_limits.h"
#include "tools/notice-pack/byte_buffer.h"
#include "tools/notice-pack/command_line.h"

namespace notice_pack {

// Screens every fit report lists, the largest last: no picture larger than
// it is read (tools/common/input_limits.h).
inline const std::vector<ScreenSize> kCommonScreens = {
    {800, 600},
    {1024, 768},
    {1280, 800},
    {1366, 768},
    {1920, 1080},
    {2560, 1440},
    {picture_tools::kLargestScreenWidth, picture_tools::kLargestScreenHeight}};

struct CheckedPicture {
  std::string Label;  // "picture 5 (notice5.bmp)"
  BmpLayout Layout{};
  std::optional<std::string> Refusal;  // the driver's reason to refuse it, in words
};

CheckedPicture CheckPicture(const PictureInput &input, ByteView bytes);

// "picture 5" for the six notice GUIDs, else the GUID.
std::string PictureName(const Guid &fileGuid);

// "24-bit 640x200", or "refused" for a picture the driver refuses.
std::string PictureKind(const CheckedPicture &picture);

// One row per picture, one column per screen (the common ones, then
// `extraScreens`): the top-left corner, or "not drawn" with the reasons below.
std::string FitReport(const std::vector<CheckedPicture> &pictures, const std::vector<ScreenSize> &extraScreens);

}  // namespace notice_pack
