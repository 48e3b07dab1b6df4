#include "tools/common/driver_decode.h"

#include "display/bmp_decode.h"

namespace picture_tools {

std::optional<DecodedPicture> DecodeWithDriver(std::span<const uint8_t> bmp) {
  BmpLayout layout;
  if (CheckBmp(bmp.data(), bmp.size(), &layout) != BmpFault::None) return std::nullopt;
  DecodedPicture decoded{layout.Width, layout.Height, {}};
  decoded.Pixels.resize(static_cast<size_t>(layout.Width) * layout.Height);
  FillGopBlt(bmp.data(), bmp.size(), layout, decoded.Pixels.data());
  return decoded;
}

}  // namespace picture_tools
