#include "picture_files.h"

#include "demo_pictures.h"
#include "display/bmp_check.h"
#include "tools/common/input_file.h"
#include "tools/common/number_text.h"

namespace preview {

namespace {

// A picture the driver accepts but no simulated screen shows: its decoded
// pixels could take gigabytes, for nothing to see. What binds is the number of
// pixels the driver would convert, so a picture of no width, however tall,
// is simulated as the driver handles it.
std::string TooLargeToSimulate(const std::vector<uint8_t> &bytes) {
  BmpLayout layout;
  if (CheckBmp(bytes.data(), bytes.size(), &layout) != BmpFault::None) return {};
  const uint64_t pixels = uint64_t{layout.Width} * layout.Height;
  if (pixels <= uint64_t{kMaxScreenSide} * kMaxScreenSide) return {};
  return "a picture of " + picture_tools::GroupDigits(layout.Width) + " x " +
         picture_tools::GroupDigits(layout.Height) + " pixels holds more pixels than " +
         std::to_string(kMaxScreenSide) + "x" + std::to_string(kMaxScreenSide) +
         ", the largest screen notice-sim simulates: no screen shows it; make it at most that size";
}

// Reads each file, or says which option named it and what was found.
std::string ReadGiven(const std::string &option, unsigned mode, const std::string &path, PictureFiles &files) {
  const std::string label = option + " " + std::to_string(mode) + "=" + path;
  try {
    std::vector<uint8_t> bytes = picture_tools::ReadInputFile(path, label);
    if (std::string refusal = TooLargeToSimulate(bytes); !refusal.empty()) return label + ": " + refusal;
    files[mode] = std::move(bytes);
    return {};
  } catch (const picture_tools::InputFileError &error) {
    return error.what();
  }
}

}  // namespace

std::string LoadPictureFiles(const Options &options, PictureFiles &files) {
  files.clear();
  for (unsigned mode = demo::kFirstDemoMode; mode <= demo::kLastDemoMode; ++mode) {
    if (options.no_picture.count(mode)) continue;
    auto given = options.picture_files.find(mode);
    if (given == options.picture_files.end()) {
      files[mode] = demo::MakeDemoPicture(mode).bmp;
      continue;
    }
    if (std::string error = ReadGiven("--picture", mode, given->second, files); !error.empty()) return error;
  }
  return {};
}

std::string LoadSecondVolumeFiles(const Options &options, PictureFiles &files) {
  files.clear();
  for (const auto &[mode, path] : options.second_volume_files) {
    if (std::string error = ReadGiven("--second-volume", mode, path, files); !error.empty()) return error;
  }
  return {};
}

}  // namespace preview
