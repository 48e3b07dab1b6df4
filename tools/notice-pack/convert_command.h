// notice-pack convert: artwork in, the smallest BMP the driver accepts out.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/common/smallest_bmp.h"
#include "tools/notice-pack/byte_buffer.h"

namespace notice_pack {

struct Conversion {
  picture_tools::EncodedBmp Bmp;
  std::string SourceKind;    // what the artwork was
  bool Transparent = false;  // some pixels were laid over black
  size_t SourceColours = 0;  // distinct colours before any reduction
};

// Reads the artwork, lays it over black, reduces it to at most `colours`
// colours when asked (lossy) and encodes it; then decodes the result with
// the driver's own code and throws PackError unless it gives back exactly
// those pixels. Throws PackError for unreadable artwork.
Conversion ConvertArtwork(ByteView artwork, std::optional<unsigned> colours = std::nullopt);

// `args` after "convert": ARTWORK OUT.bmp [--colours N]. Prints a summary;
// returns the exit status (2 for usage errors).
int RunConvertCommand(const std::vector<std::string> &args);

}  // namespace notice_pack
