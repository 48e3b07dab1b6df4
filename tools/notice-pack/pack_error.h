// Error raised when an input cannot be packed into a valid FFS file or volume.
#pragma once

#include <stdexcept>

namespace notice_pack {

class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line that cannot be understood (exit status 2).
class UsageError : public PackError {
 public:
  using PackError::PackError;
};

}  // namespace notice_pack
