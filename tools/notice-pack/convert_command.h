// notice-pack convert: artwork in, the smallest BMP the driver accepts out.
#pragma once

#include <string>
#include <vector>

#include "tools/common/smallest_bmp.h"
#include "tools/notice-pack/byte_buffer.h"

namespace notice_pack {

struct Conversion {
  picture_tools::EncodedBmp Bmp;
  std::string SourceKind;   // what the artwork was
  bool Transparent = false;  // some pixels were laid over black
};

// Reads the artwork, lays it over black and encodes it; then decodes the
// result with the driver's own code and throws PackError unless it gives
// back exactly the pixels read. Throws PackError for unreadable artwork.
Conversion ConvertArtwork(ByteView artwork);

// `args` after "convert": ARTWORK OUT.bmp. Prints a summary; returns the exit status.
int RunConvertCommand(const std::vector<std::string> &args);

}  // namespace notice_pack
