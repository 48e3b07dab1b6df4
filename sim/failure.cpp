#include "sim/failure.h"

#include <algorithm>
#include <utility>

namespace sim {

Failure &Failure::Call(unsigned number) {
  first_call_ = last_call_ = number;
  return *this;
}

Failure &Failure::CallsFrom(unsigned first) {
  first_call_ = first;
  last_call_ = ~0u;
  return *this;
}

Failure &Failure::On(const void *handle_or_instance) {
  objects_ = {handle_or_instance};
  return *this;
}

Failure &Failure::For(const EFI_GUID &guid) {
  guid_ = guid;
  return *this;
}

Failure &Failure::Answers(EFI_STATUS status) {
  answer_ = status;
  return *this;
}

Failure &Failure::Leaving(std::string slot, const void *pointer) {
  return Leave({std::move(slot), Leftover::Kind::kPointer, 0, pointer, {}});
}

Failure &Failure::Leaving(std::string slot, PoolHolding block) {
  return Leave({std::move(slot), Leftover::Kind::kPoolBlock, 0, nullptr, std::move(block.bytes)});
}

Failure &Failure::Leave(Leftover leftover) {
  // A slot named again takes the later leftover.
  std::erase_if(leftovers_, [&](const Leftover &l) { return l.slot == leftover.slot; });
  leftovers_.push_back(std::move(leftover));
  return *this;
}

bool Failure::Picks(unsigned call_number, const CallSubject &subject) const {
  if (call_number < first_call_ || call_number > last_call_) return false;
  if (!objects_.empty()) {
    const bool on_object = std::any_of(objects_.begin(), objects_.end(), [&](const void *object) {
      return object != nullptr && (object == subject.instance || object == subject.handle);
    });
    if (!on_object) return false;
  }
  if (guid_ && !(subject.guid && GuidEquals(*subject.guid, *guid_))) return false;
  return true;
}

}  // namespace sim
