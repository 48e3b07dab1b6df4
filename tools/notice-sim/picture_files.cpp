#include "picture_files.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "demo_pictures.h"

namespace preview {

namespace {

std::string ReadFile(const std::string &path, std::vector<uint8_t> &bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::strerror(errno);
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) return "read error";
  return {};
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
    std::vector<uint8_t> bytes;
    if (std::string error = ReadFile(given->second, bytes); !error.empty()) {
      return "cannot read the picture for mode " + std::to_string(mode) + " from " + given->second + ": " + error;
    }
    files[mode] = std::move(bytes);
  }
  return {};
}

std::string LoadSecondVolumeFiles(const Options &options, PictureFiles &files) {
  files.clear();
  for (const auto &[mode, path] : options.second_volume_files) {
    std::vector<uint8_t> bytes;
    if (std::string error = ReadFile(path, bytes); !error.empty()) {
      return "cannot read the second volume's picture for mode " + std::to_string(mode) + " from " + path + ": " +
             error;
    }
    files[mode] = std::move(bytes);
  }
  return {};
}

}  // namespace preview
