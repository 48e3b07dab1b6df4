// Reading a file a user named: only a regular file, at most a set number of
// bytes, never blocking on a FIFO or reading a device forever. Each refusal
// is one line naming the option, the path and what was found there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/common/input_limits.h"

namespace picture_tools {

class InputFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole file at `path`. `label` is how the user named it, shown before the
// reason: "--picture 5=art/n5.bmp", or the path itself. Throws InputFileError
// ("LABEL: is a folder, not a file") for anything but a regular file of at
// most `limit` bytes that can be read.
std::vector<uint8_t> ReadInputFile(const std::filesystem::path &path, const std::string &label,
                                   uint64_t limit = kMaxInputFileBytes);

// Whether both paths name one existing file (the same device and inode).
bool IsSameFile(const std::filesystem::path &a, const std::filesystem::path &b);

// What sits at `mode` when it is not a regular file: "a folder", "a FIFO
// (named pipe)", "a character device", ...
std::string FileKindName(unsigned mode);

}  // namespace picture_tools
