#include "tools/notice-pack/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

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
  return {*guid, value.substr(equals + 1), false, "--picture " + value};
}

constexpr std::array<std::string_view, 7> kOptions = {"--driver", "--name",     "--picture", "--ffs-out",
                                                      "--fv-out", "--compress", "--screen"};

// "WxH", each side 1 to 65535.
ScreenSize ParseScreenSize(const std::string &value) {
  unsigned width = 0, height = 0;
  const size_t x = value.find_first_of("xX");
  const auto parse = [](std::string_view text, unsigned &out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && out >= 1 && out <= 65535;
  };
  if (x == std::string::npos || !parse(std::string_view(value).substr(0, x), width) ||
      !parse(std::string_view(value).substr(x + 1), height)) {
    throw UsageError("--screen wants WIDTHxHEIGHT, such as 1920x1080, not '" + value + "'");
  }
  return {width, height};
}

// Marks the pictures --compress names: "all", a picture number or a GUID.
void MarkCompressed(PackRequest &request, const std::vector<std::string> &keys) {
  for (const std::string &key : keys) {
    std::optional<Guid> guid = ParseGuid(key);
    if (!guid && key.size() == 1) guid = NoticePictureGuid(key[0] - '0');
    bool found = false;
    for (PictureInput &picture : request.Pictures) {
      if (key == "all" || (guid && picture.FileGuid == *guid)) picture.Compress = found = true;
    }
    if (!found) throw UsageError("--compress " + key + ": no such --picture (give 1-6, its GUID or all)");
  }
}

}  // namespace

PackRequest ParseCommandLine(const std::vector<std::string> &args) {
  PackRequest request;
  request.DriverName = std::string(kNoticeDriverDefaultName);
  std::vector<std::string> compressKeys;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &option = args[i];
    if (option == "--allow-invalid") {
      request.AllowInvalid = true;
      continue;
    }
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
    } else if (option == "--compress") {
      compressKeys.push_back(value);
    } else if (option == "--screen") {
      request.Screens.push_back(ParseScreenSize(value));
    } else {
      request.VolumeOut = value;
    }
  }
  if (!request.DriverPath && request.Pictures.empty()) throw UsageError("nothing to pack: give --driver or --picture");
  MarkCompressed(request, compressKeys);
  if (!request.FfsOutDir && !request.VolumeOut) throw UsageError("no output: give --ffs-out or --fv-out");
  for (size_t i = 0; i < request.Pictures.size(); ++i) {
    const Guid &guid = request.Pictures[i].FileGuid;
    const bool duplicate =
        std::any_of(request.Pictures.begin() + static_cast<std::ptrdiff_t>(i) + 1, request.Pictures.end(),
                    [&](const PictureInput &other) { return other.FileGuid == guid; });
    if (duplicate || (request.DriverPath && guid == kNoticeDriverFileGuid)) {
      throw UsageError("file " + FormatGuid(guid) + " is given twice");
    }
  }
  return request;
}

}  // namespace notice_pack
