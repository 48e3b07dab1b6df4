#include "tools/common/artwork_read.h"

#include "tools/common/artwork_formats.h"
#include "tools/common/bmp_reason.h"
#include "tools/common/input_limits.h"
#include "tools/common/number_text.h"

namespace picture_tools {

void CheckArtworkSize(uint64_t width, uint64_t height, const char *format) {
  if (width == 0 || height == 0) {
    throw ArtworkError(std::string("the ") + format + " has no pixels (" + GroupDigits(width) + " x " +
                       GroupDigits(height) + ")");
  }
  if (width > kLargestScreenWidth || height > kLargestScreenHeight) {
    throw ArtworkError(std::string("a ") + format + " of " + GroupDigits(width) + " x " + GroupDigits(height) +
                       " pixels is larger than " + std::to_string(kLargestScreenWidth) + "x" +
                       std::to_string(kLargestScreenHeight) +
                       ", the largest screen these tools know: no screen shows it; make it at most that size");
  }
}

Artwork ReadArtwork(std::span<const uint8_t> bytes) {
  if (bytes.empty()) throw ArtworkError(kEmptyFileReason);
  if (bytes.size() > kMaxInputFileBytes) {
    throw ArtworkError("the file is " + GroupDigits(bytes.size()) + " bytes, more than the " + kMaxInputFileText +
                       " a tool reads");
  }
  if (OtherFormatName(bytes) == "PNG") return ReadPngArtwork(bytes);
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ReadBmpArtwork(bytes);
  if (const std::string format = OtherFormatName(bytes); !format.empty()) {
    throw ArtworkError(format + " files are not read: export the artwork as PNG or BMP");
  }
  throw ArtworkError("neither a PNG nor a BMP file");
}

}  // namespace picture_tools
