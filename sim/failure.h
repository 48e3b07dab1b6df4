// A failure of the simulated firmware: which calls it picks, what they answer
// and what they leave in the caller's slots. Platform::Inject arms one:
//
//   platform.Inject(sim::Failure("AllocatePool").Call(3).Answers(EFI_OUT_OF_RESOURCES));
//   platform.Inject(sim::Failure("HandleProtocol").On(device).Answers(EFI_UNSUPPORTED));
//   platform.Inject(sim::Failure("ReadSection").On(volume).For(file).Answers(EFI_DEVICE_ERROR)
//                       .Leaving("Buffer", sim::PoolHolding{bytes}).Leaving("BufferSize", 900));
//   platform.Inject(sim::Failure("LocateHandleBuffer").For(EFI_PCI_IO_PROTOCOL_GUID).Answers(EFI_SUCCESS)
//                       .Leaving("NoHandles", 3).Leaving("Buffer", nullptr));
//
// Which calls: those of one service, by the name the log gives it; every one,
// or one call number or those from one on (numbers count from 1 per service,
// over every call of it, as Platform::CallCount does); and, when asked, only
// those for one object (On: the handle or protocol instance a call is made on
// or for) or one GUID (For: the GUID argument, such as ReadSection's file or
// the protocol of HandleProtocol and LocateHandleBuffer).
//
// A picked call is answered in the thunk (sim/thunk.h): the service behind it
// never runs, so it is in the log (marked Injected) and in none of the
// service's own records (Blt, console, connect and variable calls, stalls,
// pool, a volume's or device's counters). Its slots keep what the caller put
// there, except those the failure leaves something in, by the parameter's
// name as UEFI writes it: a number, a pointer, or a fresh boot-services pool
// block holding given bytes (then the caller's to release). The slots it
// leaves are logged as the service's results would be. Checks that make a
// call a fault (a This that is not the protocol's) come first; services
// returning nothing are never picked.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "efi/efi_types.h"

namespace sim {

// What a call is made on or for, as a failure picks it; what a service does
// not have stays empty.
struct CallSubject {
  const void *instance = nullptr;  // the protocol instance called (This)
  const void *handle = nullptr;    // the handle argument
  std::optional<EFI_GUID> guid;    // the GUID argument: a file's name, a protocol, a vendor
};

// A fresh boot-services-data pool block holding these bytes.
struct PoolHolding {
  std::vector<uint8_t> bytes;
};

// What a failure leaves in one slot.
struct Leftover {
  enum class Kind { kNumber, kPointer, kPoolBlock };
  std::string slot;  // the parameter's name: "Buffer", "BufferSize", "NoHandles"
  Kind kind = Kind::kNumber;
  uint64_t number = 0;
  const void *pointer = nullptr;
  std::vector<uint8_t> bytes;
};

class Failure {
 public:
  // Every call of the service, until narrowed.
  explicit Failure(std::string_view service) : service_(service) {}

  Failure &Call(unsigned number);
  Failure &CallsFrom(unsigned first);
  // Calls made on or for this handle or protocol instance.
  Failure &On(const void *handle_or_instance);
  // Calls made on or for a device or volume: its handle or its protocol.
  template <typename Object>
  requires requires(Object &o) {
    o.handle();
    o.protocol();
  }
  Failure &On(Object &object) {
    objects_ = {object.handle(), object.protocol()};
    return *this;
  }
  Failure &For(const EFI_GUID &guid);

  Failure &Answers(EFI_STATUS status);

  template <std::integral Number>
  Failure &Leaving(std::string slot, Number number) {
    return Leave({std::move(slot), Leftover::Kind::kNumber, static_cast<uint64_t>(number), nullptr, {}});
  }
  Failure &Leaving(std::string slot, const void *pointer);
  Failure &Leaving(std::string slot, PoolHolding block);

  const std::string &service() const { return service_; }
  // The answer; only a failure that has one can be injected.
  std::optional<EFI_STATUS> answer() const { return answer_; }
  const std::vector<Leftover> &leftovers() const { return leftovers_; }
  // Whether the call_number-th call of the service, made on or for `subject`, is picked.
  bool Picks(unsigned call_number, const CallSubject &subject) const;

 private:
  Failure &Leave(Leftover leftover);

  std::string service_;
  unsigned first_call_ = 1;
  unsigned last_call_ = ~0u;
  std::vector<const void *> objects_;  // empty: any
  std::optional<EFI_GUID> guid_;
  std::optional<EFI_STATUS> answer_;
  std::vector<Leftover> leftovers_;
};

}  // namespace sim
