#include "ec_read_tracker.h"

#include "hw/embedded_controller.h"

namespace preview {

void EcReadTracker::Observe(const sim::PortAccess &access) {
  if (access.write && access.port == kEcCommandPort) {
    stage_ = access.value == kEcReadCommand ? Stage::kAwaitRegister : Stage::kIdle;
    return;
  }
  if (access.write && access.port == kEcDataPort) {
    if (stage_ == Stage::kAwaitRegister) {
      reg_ = access.value;
      stage_ = Stage::kAwaitData;
    } else {
      stage_ = Stage::kIdle;
    }
    return;
  }
  if (!access.write && access.port == kEcDataPort && stage_ == Stage::kAwaitData) {
    reads_.push_back({reg_, access.value});
    stage_ = Stage::kIdle;
  }
}

}  // namespace preview
