// The artwork path of notice-pack convert over arbitrary bytes, PNG or BMP:
// a file is refused with a reason or converted, and the driver's own decoder
// gives back exactly the pixels of the BMP written. Run with a memory limit
// (scripts/fuzz-smoke.sh), so a small file that costs much memory is a finding.
#include <cstdint>
#include <cstdlib>

#include "tools/common/artwork_conversion.h"
#include "tools/common/driver_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  picture_tools::ArtworkConversion conversion;
  try {
    conversion = picture_tools::ConvertArtwork({data, size});
  } catch (const picture_tools::ArtworkError &) {
    return 0;  // refused, with a reason
  }
  const auto decoded = picture_tools::DecodeWithDriver(conversion.Bmp.Bytes);
  if (!decoded || decoded->Width != conversion.Pixels.Width || decoded->Height != conversion.Pixels.Height)
    std::abort();
  for (size_t i = 0; i < decoded->Pixels.size(); ++i) {
    if (picture_tools::RgbOf(decoded->Pixels[i]) != conversion.Pixels.Pixels[i]) std::abort();
  }
  return 0;
}
