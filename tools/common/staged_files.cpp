#include "tools/common/staged_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>

#include "tools/common/input_file.h"

namespace picture_tools {
namespace {

namespace fs = std::filesystem;

constexpr int kNameAttempts = 100;

std::string Unchanged(const fs::path &target, const std::string &why) {
  return "cannot write " + target.string() + ": " + why + "; it was left as it was";
}

// The file a write to `target` replaces: a symbolic link's final target, so
// that the link itself stays.
fs::path ResolveTarget(const fs::path &target) {
  std::error_code error;
  const fs::file_status link = fs::symlink_status(target, error);
  if (error || !fs::is_symlink(link)) return target;
  const fs::path resolved = fs::weakly_canonical(target, error);
  return error ? target : resolved;
}

fs::path FolderOf(const fs::path &target) { return target.has_parent_path() ? target.parent_path() : fs::path("."); }

// Checks that `target` may be replaced and its folder written; returns the
// mode a new file should keep (the old file's, or 0666 under the umask).
mode_t CheckTarget(const fs::path &target, bool *exists) {
  struct stat status {};
  *exists = false;
  if (stat(target.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) {
      throw OutputFileError(Unchanged(target, "it is " + FileKindName(status.st_mode) + ", not a file"));
    }
    if (access(target.c_str(), W_OK) != 0) throw OutputFileError(Unchanged(target, "it is read-only"));
    *exists = true;
    return status.st_mode & 07777;
  }
  if (const int error = errno; error != ENOENT) throw OutputFileError(Unchanged(target, std::strerror(error)));
  const fs::path folder = FolderOf(target);
  struct stat folder_status {};
  if (stat(folder.c_str(), &folder_status) != 0) {
    throw OutputFileError("cannot write " + target.string() + ": the folder " + folder.string() + " does not exist");
  }
  if (!S_ISDIR(folder_status.st_mode)) {
    throw OutputFileError("cannot write " + target.string() + ": " + folder.string() + " is not a folder");
  }
  return 0666;
}

// Opens a new file with an unused name beside `target`.
int CreateTemporary(const fs::path &target, fs::path *temporary) {
  std::random_device random;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), ".%08x.tmp", static_cast<unsigned>(random()));
    std::string name(1, '.');
    name.append(target.filename().string()).append(suffix);
    *temporary = FolderOf(target) / name;
    const int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) return fd;
    const int error = errno;
    if (error == EEXIST) continue;
    const std::string folder = FolderOf(target).string();
    const std::string why = error == EACCES || error == EROFS
                                ? "its folder " + folder + " is not writable"
                                : "cannot create a file in " + folder + ": " + std::strerror(error);
    throw OutputFileError(Unchanged(target, why));
  }
  throw OutputFileError(Unchanged(target, "no free temporary name in its folder"));
}

// Writes all of `bytes` and syncs; false with errno set on failure.
bool WriteAndSync(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return fsync(fd) == 0;
}

void SyncFolder(const fs::path &folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);  // the rename is done; a folder that cannot be synced loses nothing now
  close(fd);
}

}  // namespace

StagedFiles::~StagedFiles() {
  for (const Entry &entry : staged_) unlink(entry.temporary.c_str());
}

void StagedFiles::Stage(const fs::path &given, std::span<const uint8_t> bytes) {
  const fs::path target = ResolveTarget(given);
  bool exists = false;
  const mode_t mode = CheckTarget(target, &exists);
  fs::path temporary;
  const int fd = CreateTemporary(target, &temporary);
  // A replaced file keeps its permissions; a new one gets 0666 under the umask.
  const bool written = (!exists || fchmod(fd, mode) == 0) && WriteAndSync(fd, bytes);
  int error = errno;
  const bool closed = close(fd) == 0;
  if (written && !closed) error = errno;
  if (!written || !closed) {
    unlink(temporary.c_str());
    const std::string why = error == EFBIG    ? "the file size limit was reached (ulimit -f)"
                            : error == ENOSPC ? "no space left on the device"
                                              : std::strerror(error);
    throw OutputFileError(Unchanged(given, why));
  }
  staged_.push_back({temporary, target});
}

void StagedFiles::Commit() {
  std::set<fs::path> folders;
  for (size_t i = 0; i < staged_.size(); ++i) {
    if (rename(staged_[i].temporary.c_str(), staged_[i].target.c_str()) != 0) {
      const std::string why = std::strerror(errno);
      std::string left;
      for (size_t j = i; j < staged_.size(); ++j) left += (j > i ? ", " : "") + staged_[j].target.string();
      const bool several = i + 1 < staged_.size();
      staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(i));
      throw OutputFileError("cannot replace " + left + ": " + why + "; " + (several ? "they were" : "it was") +
                            " left as before");
    }
    folders.insert(FolderOf(staged_[i].target));
  }
  staged_.clear();
  for (const fs::path &folder : folders) SyncFolder(folder);
}

NewFolder::NewFolder(const fs::path &folder) {
  std::error_code error;
  fs::path start = folder.lexically_normal();
  if (start.filename().empty()) start = start.parent_path();  // "ffs/" is "ffs"
  for (fs::path at = start; !at.empty() && !fs::exists(fs::symlink_status(at, error)); at = at.parent_path()) {
    created_.push_back(at);
    if (!at.has_parent_path() || at.parent_path() == at) break;
  }
  if (fs::is_directory(folder, error)) return;
  struct stat status {};
  if (stat(folder.c_str(), &status) == 0) {
    throw OutputFileError("cannot make the folder " + folder.string() + ": it is " + FileKindName(status.st_mode));
  }
  fs::create_directories(folder, error);
  if (error) {
    const std::string why = error.message();
    for (const fs::path &made : created_) fs::remove(made, error);
    created_.clear();
    throw OutputFileError("cannot make the folder " + folder.string() + ": " + why);
  }
}

NewFolder::~NewFolder() {
  std::error_code error;
  for (const fs::path &made : created_) fs::remove(made, error);  // only when empty
}

void WriteFileAtomically(const fs::path &target, std::span<const uint8_t> bytes) {
  StagedFiles files;
  files.Stage(target, bytes);
  files.Commit();
}

}  // namespace picture_tools
