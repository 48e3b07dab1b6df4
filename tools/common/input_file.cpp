#include "tools/common/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/common/number_text.h"

namespace picture_tools {
namespace {

// Closes the descriptor on every path out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string OpenFailure(int error) {
  switch (error) {
    case ENOENT:
      return "does not exist";
    case ENOTDIR:
      return "does not exist (a part of the path is not a folder)";
    case EACCES:
      return "cannot be read: permission denied";
    default:
      return std::string("cannot be opened: ") + std::strerror(error);
  }
}

std::string TooLarge(uint64_t size, uint64_t limit) {
  return "is " + GroupDigits(size) + " bytes, more than the " +
         (limit == kMaxInputFileBytes ? std::string(kMaxInputFileText) + " (" + GroupDigits(limit) + " bytes)"
                                      : GroupDigits(limit) + " bytes") +
         " a tool reads; no notice picture is that large";
}

}  // namespace

std::string FileKindName(unsigned mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISREG(mode)) return "a file";
  return "not a regular file";
}

std::vector<uint8_t> ReadInputFile(const std::filesystem::path &path, const std::string &label, uint64_t limit) {
  const auto refuse = [&](const std::string &finding) { return InputFileError(label + ": " + finding); };
  // Non-blocking, so that opening a FIFO without a writer returns at once; it
  // is then refused as what it is.
  const Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) throw refuse(OpenFailure(errno));
  struct stat status {};
  if (fstat(file.get(), &status) != 0) throw refuse(std::string("cannot be read: ") + std::strerror(errno));
  if (!S_ISREG(status.st_mode)) throw refuse("is " + FileKindName(status.st_mode) + ", not a file");
  if (static_cast<uint64_t>(status.st_size) > limit)
    throw refuse(TooLarge(static_cast<uint64_t>(status.st_size), limit));

  // The size may change while it is read: read at most one byte past the limit.
  std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() > limit) throw refuse(TooLarge(bytes.size(), limit));
      bytes.resize(std::min<uint64_t>(limit + 1, bytes.size() + 65536));
    }
    const ssize_t got = read(file.get(), bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw refuse(std::string("cannot be read: ") + std::strerror(errno));
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  if (used > limit) throw refuse(TooLarge(used, limit));
  bytes.resize(used);
  return bytes;
}

bool IsSameFile(const std::filesystem::path &a, const std::filesystem::path &b) {
  struct stat first {
  }, second{};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace picture_tools
