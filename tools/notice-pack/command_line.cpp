#include "tools/notice-pack/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <charconv>

#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {
namespace {

// "N=FILE" with N 1-6, or "GUID=FILE".
PictureInput ParsePicture(const std::string &value) {
  const size_t equals = value.find('=');
  if (equals == std::string::npos || equals + 1 == value.size()) {
    throw UsageError("--picture wants N=FILE, got '" + value + "'");
  }
  const std::string key = value.substr(0, equals);
  std::optional<Guid> guid = ParseGuid(key);
  if (!guid) {
    int number = 0;
    const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), number);
    if (error == std::errc() && end == key.data() + key.size()) guid = NoticePictureGuid(number);
  }
  if (!guid) throw UsageError("--picture: '" + key + "' is neither a picture number 1-6 nor a GUID");
  return {*guid, value.substr(equals + 1)};
}

constexpr std::array<std::string_view, 5> kOptions = {"--driver", "--name", "--picture", "--ffs-out", "--fv-out"};

}  // namespace

PackRequest ParseCommandLine(const std::vector<std::string> &args) {
  PackRequest request;
  request.DriverName = std::string(kNoticeDriverDefaultName);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &option = args[i];
    if (std::find(kOptions.begin(), kOptions.end(), option) == kOptions.end()) {
      throw UsageError("unknown option '" + option + "'");
    }
    if (i + 1 >= args.size() || args[i + 1].starts_with("--")) {
      throw UsageError("option '" + option + "' needs a value");
    }
    const std::string &value = args[++i];
    if (option == "--driver") {
      request.DriverPath = value;
    } else if (option == "--name") {
      request.DriverName = value;
    } else if (option == "--picture") {
      request.Pictures.push_back(ParsePicture(value));
    } else if (option == "--ffs-out") {
      request.FfsOutDir = value;
    } else {
      request.VolumeOut = value;
    }
  }
  if (!request.DriverPath && request.Pictures.empty()) throw UsageError("nothing to pack: give --driver or --picture");
  if (!request.FfsOutDir && !request.VolumeOut) throw UsageError("no output: give --ffs-out or --fv-out");
  for (size_t i = 0; i < request.Pictures.size(); ++i) {
    const Guid &guid = request.Pictures[i].FileGuid;
    const bool duplicate = std::any_of(request.Pictures.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                       request.Pictures.end(),
                                       [&](const PictureInput &other) { return other.FileGuid == guid; });
    if (duplicate || (request.DriverPath && guid == kNoticeDriverFileGuid)) {
      throw UsageError("file " + FormatGuid(guid) + " is given twice");
    }
  }
  return request;
}

}  // namespace notice_pack
