#include "ec_read_tracker.h"

namespace preview {

namespace {
constexpr uint16_t kDataPort = 0x62;
constexpr uint16_t kCommandPort = 0x66;
constexpr uint8_t kReadCommand = 0x80;
}  // namespace

void EcReadTracker::Observe(const sim::PortAccess &access) {
  if (access.write && access.port == kCommandPort) {
    stage_ = access.value == kReadCommand ? Stage::kAwaitRegister : Stage::kIdle;
    return;
  }
  if (access.write && access.port == kDataPort) {
    if (stage_ == Stage::kAwaitRegister) {
      reg_ = access.value;
      stage_ = Stage::kAwaitData;
    } else {
      stage_ = Stage::kIdle;
    }
    return;
  }
  if (!access.write && access.port == kDataPort && stage_ == Stage::kAwaitData) {
    reads_.push_back({reg_, access.value});
    stage_ = Stage::kIdle;
  }
}

}  // namespace preview
