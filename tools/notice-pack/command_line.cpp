#include "tools/notice-pack/command_line.h"

#include <algorithm>
#include <charconv>

#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {
namespace {

// "N=FILE" with N 1-6, or "GUID=FILE".
PictureInput ParsePicture(const std::string &value) {
  const size_t equals = value.find('=');
  if (equals == std::string::npos || equals + 1 == value.size()) {
    throw PackError("--picture wants N=FILE, got '" + value + "'");
  }
  const std::string key = value.substr(0, equals);
  std::optional<Guid> guid = ParseGuid(key);
  if (!guid) {
    int number = 0;
    const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), number);
    if (error == std::errc() && end == key.data() + key.size()) guid = NoticePictureGuid(number);
  }
  if (!guid) throw PackError("--picture: '" + key + "' is neither a picture number 1-6 nor a GUID");
  return {*guid, value.substr(equals + 1)};
}

}  // namespace

PackRequest ParseCommandLine(const std::vector<std::string> &args) {
  PackRequest request;
  request.DriverName = std::string(kNoticeDriverDefaultName);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &option = args[i];
    if (i + 1 >= args.size()) throw PackError("option '" + option + "' needs a value");
    const std::string &value = args[++i];
    if (option == "--driver") {
      request.DriverPath = value;
    } else if (option == "--name") {
      request.DriverName = value;
    } else if (option == "--picture") {
      request.Pictures.push_back(ParsePicture(value));
    } else if (option == "--ffs-out") {
      request.FfsOutDir = value;
    } else if (option == "--fv-out") {
      request.VolumeOut = value;
    } else {
      throw PackError("unknown option '" + option + "'");
    }
  }
  if (!request.DriverPath && request.Pictures.empty()) throw PackError("nothing to pack: give --driver or --picture");
  if (!request.FfsOutDir && !request.VolumeOut) throw PackError("no output: give --ffs-out or --fv-out");
  for (size_t i = 0; i < request.Pictures.size(); ++i) {
    const Guid &guid = request.Pictures[i].FileGuid;
    const bool duplicate = std::any_of(request.Pictures.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                       request.Pictures.end(),
                                       [&](const PictureInput &other) { return other.FileGuid == guid; });
    if (duplicate || (request.DriverPath && guid == kNoticeDriverFileGuid)) {
      throw PackError("file " + FormatGuid(guid) + " is given twice");
    }
  }
  return request;
}

}  // namespace notice_pack
