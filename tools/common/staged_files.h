// Writing output files so that a failure never leaves one half written: each
// file goes to a temporary file in its own folder, is flushed and synced, and
// only then renamed over its target. A set of files is staged as a whole
// first, so a failure while staging leaves every target as it was; the
// renames that follow replace each target whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace picture_tools {

class OutputFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class StagedFiles {
 public:
  StagedFiles() = default;
  StagedFiles(const StagedFiles &) = delete;
  StagedFiles &operator=(const StagedFiles &) = delete;
  // Removes the temporary files of a set that was not committed.
  ~StagedFiles();

  // Writes `bytes` to a new temporary file beside `target` and syncs it.
  // Throws OutputFileError, saying why and that the target was left as it
  // was, when the target is not a regular file (a folder, a device), its
  // folder is missing or not writable, or the write fails.
  void Stage(const std::filesystem::path &target, std::span<const uint8_t> bytes);

  // Renames every staged file over its target, in the order staged, and syncs
  // their folders. Throws OutputFileError naming the targets not replaced.
  void Commit();

 private:
  struct Entry {
    std::filesystem::path temporary;
    std::filesystem::path target;
  };
  std::vector<Entry> staged_;
};

// A folder made for outputs: `folder` and any missing parents are created;
// unless Keep() is called, those created are removed again (when empty), so
// a run that writes nothing leaves no new folder behind.
class NewFolder {
 public:
  // Throws OutputFileError when the folder cannot be made (a file is in the
  // way, no permission).
  explicit NewFolder(const std::filesystem::path &folder);
  NewFolder(const NewFolder &) = delete;
  NewFolder &operator=(const NewFolder &) = delete;
  ~NewFolder();
  void Keep() { created_.clear(); }

 private:
  std::vector<std::filesystem::path> created_;  // deepest first
};

// One file, staged and committed.
void WriteFileAtomically(const std::filesystem::path &target, std::span<const uint8_t> bytes);

inline std::span<const uint8_t> AsBytes(const std::string &text) {
  return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

}  // namespace picture_tools
