#include "contact_sheet.h"

#include "png_write.h"
#include "tools/common/bmp_reason.h"
#include "tools/common/driver_decode.h"
#include "tools/common/placement_reason.h"

namespace preview {

namespace {

constexpr uint32_t kColumns = 3;
constexpr uint32_t kRows = 2;
constexpr uint32_t kGutter = 16;
constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL kGutterColour = {0x40, 0x40, 0x40, 0};

// Copies the decoded picture onto tile (left, top) of the sheet at (x, y).
void Place(std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> &sheet, uint32_t sheet_width, uint64_t left, uint64_t top,
           const picture_tools::DecodedPicture &picture) {
  for (uint32_t row = 0; row < picture.Height; ++row) {
    const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *source = picture.Pixels.data() + static_cast<size_t>(row) * picture.Width;
    std::copy(source, source + picture.Width, sheet.begin() + static_cast<ptrdiff_t>((top + row) * sheet_width + left));
  }
}

}  // namespace

std::string DrawContactSheet(uint32_t screen_width, uint32_t screen_height, const PictureFiles &pictures,
                             std::vector<uint8_t> *png, std::string *report) {
  const uint32_t width = kColumns * screen_width + (kColumns - 1) * kGutter;
  const uint32_t height = kRows * screen_height + (kRows - 1) * kGutter;
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> sheet(static_cast<size_t>(width) * height, kGutterColour);
  for (unsigned mode = 1; mode <= kColumns * kRows; ++mode) {
    const uint64_t left = ((mode - 1) % kColumns) * (screen_width + kGutter);
    const uint64_t top = ((mode - 1) / kColumns) * (screen_height + kGutter);
    for (uint32_t y = 0; y < screen_height; ++y) {  // the cleared screen
      std::fill_n(sheet.begin() + static_cast<ptrdiff_t>((top + y) * width + left), screen_width,
                  EFI_GRAPHICS_OUTPUT_BLT_PIXEL{0, 0, 0, 0});
    }
    std::string line = "notice " + std::to_string(mode) + ": ";
    const auto file = pictures.find(mode);
    if (file == pictures.end()) {
      *report += line + "no picture file\n";
      continue;
    }
    // Placed before it is decoded: a picture that is not drawn costs no memory.
    BmpLayout layout;
    if (auto refusal = picture_tools::BmpRefusal(file->second, &layout)) {
      *report += line + "not drawn: " + *refusal + "\n";
      continue;
    }
    const picture_tools::ScreenFit fit =
        picture_tools::FitOnScreen(screen_width, screen_height, layout.Width, layout.Height);
    if (!fit.Drawn) {
      *report += line + "not drawn: " + fit.Reason + "\n";
      continue;
    }
    const auto decoded = picture_tools::DecodeWithDriver(file->second);
    if (!decoded) {
      *report += line + "not drawn: the driver's decoder refuses it\n";
      continue;
    }
    Place(sheet, width, left + fit.X, top + fit.Y, *decoded);
    *report += line + std::to_string(decoded->Width) + "x" + std::to_string(decoded->Height) +
               " at x=" + std::to_string(fit.X) + ", y=" + std::to_string(fit.Y) + "\n";
  }
  return EncodePng(width, height, sheet, png);
}

}  // namespace preview
