// notice-pack convert: artwork in, the smallest BMP the driver accepts out
// (tools/common/artwork_conversion.h does the work).
#pragma once

#include <string>
#include <vector>

namespace notice_pack {

// The usage text of `notice-pack convert --help`.
extern const char *const kConvertUsage;

// `args` after "convert": ARTWORK OUT.bmp [--colours N], or --help. On success
// prints one summary line on standard output and one warning line on standard
// error for each change made to the artwork's pixels; a refusal is one line
// on standard error. Returns the exit status: 0 written, 1 refused (nothing
// written), 2 usage error.
int RunConvertCommand(const std::vector<std::string> &args);

}  // namespace notice_pack
