// The EFIAPI thunks that fill the simulated firmware tables, generated from
// one template: a table slot is bound to what serves it (a Platform member,
// or a small function taking the Platform first) and to a description of each
// of its parameters, in order:
//
//   Bind<"FreePool", &Platform::DoFreePool, Arg<"Buffer", Ptr>>(bs.FreePool);
//
// The generated thunk has the slot's own type, so the EFIAPI calling
// convention and the parameter types are checked by the compiler. On a call it
//   1. logs the service under its name, with the fields the parameters give
//      at entry, and what the call is made on or for (Platform::BeginCall
//      counts the call and finds the injected failure that picks it);
//   2. runs the parameters' checks in order: the first to reject a call (a
//      This that is not the protocol's, a null string, ...) has listed a fault
//      and finishes the call with its status;
//   3. when a failure picks the call, leaves in the slots what the failure
//      says, logs those slots as results and finishes the call with the
//      failure's answer (sim/failure.h);
//   4. otherwise forwards the parameters that are forwarded to the service,
//      adds the result fields and finishes the call with the service's status.
// A slot returning nothing is logged, served and finished without a status;
// checks, failures and result fields do not apply to it. A slot returning
// anything but a status or nothing (RaiseTPL) needs its own thunk.
//
// BindUnexpected<"Name">(slot) fills a slot the driver has no business
// calling: it answers EFI_UNSUPPORTED and counts the call as unexpected
// (UnexpectedPlainSlot<"Name">() for a slot declared as a plain pointer).
//
// Parameter descriptions (each may log, name what the call is for, check,
// forward, take a failure's leftover and report):
//   Arg<"Key", Format>    logs Key = Format(value) at entry; forwarded
//   GuidArg<"Key">        logs Key = the GUID (or "null"); the GUID the call is for; forwarded
//   HandleArg<"Key">      logs Key = the handle and HandleName = its name; the
//                         handle the call is for; forwarded
//   Instance              the protocol instance called; forwarded, not logged
//   Out<"Key", Format>    forwarded; after success logs Key = Format(*value)
//   SizeArg<"Key">        logs Key = *value (or "null") at entry and KeyOut =
//                         *value after the service, whatever its status; forwarded
//   OutSlot<"Key">        an out-slot that is forwarded, not logged
//   Unlogged              forwarded only
//   Unused                neither logged nor forwarded
//   This<Getter, "what">  the protocol's own instance, or the call is a fault
//                         answered EFI_INVALID_PARAMETER; not forwarded
// A failure can leave something in a keyed parameter that is an out-slot (a
// pointer to a number or a pointer): Arg, Out, SizeArg, OutSlot.
// A file may describe a parameter of its own by deriving from Unlogged and
// hiding Log, Pick, Check, Forward, Leave or Result.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "sim/platform.h"

namespace sim {

// A string given as a template argument: a service's name or a field's key.
template <size_t N>
struct FixedString {
  char text[N];
  constexpr FixedString(const char (&literal)[N]) {
    for (size_t i = 0; i < N; ++i) text[i] = literal[i];
  }
  constexpr std::string_view view() const { return {text, N - 1}; }
};

// --- text forms of arguments ------------------------------------------------------

inline std::string Ptr(const void *pointer) { return HexText(reinterpret_cast<uintptr_t>(pointer)); }
inline std::string GuidOrNull(const EFI_GUID *guid) { return guid == nullptr ? "null" : GuidText(*guid); }
// The pointer an out-slot holds on entry (a handle, a buffer), or "null" for no slot.
inline std::string PtrAtOrNull(void *const *slot) { return slot == nullptr ? "null" : Ptr(*slot); }

// --- what a failure leaves in an out-slot ----------------------------------------------

// A failure that is wrong for the service it picked (a leftover for an out-slot it
// does not have, or of the wrong kind) is a mistake of the test: it stops the
// run, naming both.
[[noreturn]] inline void WrongLeftover(const Failure &failure, const Leftover &leftover, const char *what) {
  std::fprintf(stderr, "sim::Failure of %s: the leftover for \"%s\" %s\n", failure.service().c_str(),
               leftover.slot.c_str(), what);
  std::abort();
}

// Puts the leftover into the out-slot (a pointer to a number or a pointer); a null one is left alone.
template <typename Value>
void PutLeftover(Platform &platform, const Failure &failure, const Leftover &leftover, Value value) {
  using Target = std::remove_pointer_t<Value>;
  constexpr bool kSlot =
      std::is_pointer_v<Value> && !std::is_const_v<Target> && (std::is_integral_v<Target> || std::is_pointer_v<Target>);
  if constexpr (!kSlot) {
    WrongLeftover(failure, leftover, "names a parameter that is no out-slot");
  } else {
    if (value == nullptr) return;
    if constexpr (std::is_integral_v<Target>) {
      if (leftover.kind != Leftover::Kind::kNumber) WrongLeftover(failure, leftover, "must be a number");
      *value = static_cast<Target>(leftover.number);
    } else {
      if (leftover.kind == Leftover::Kind::kNumber) WrongLeftover(failure, leftover, "must be a pointer or a block");
      void *pointer = leftover.kind == Leftover::Kind::kPointer
                          ? const_cast<void *>(leftover.pointer)
                          : platform.HandOutPoolBlock(leftover.bytes, failure.service());
      *value = static_cast<Target>(pointer);
    }
  }
}

// The leftover the failure names for the parameter Key, if any, put into its out-slot.
template <FixedString Key>
bool LeaveIn(Platform &platform, const Failure &failure, auto value) {
  for (const Leftover &leftover : failure.leftovers()) {
    if (leftover.slot != Key.view()) continue;
    PutLeftover(platform, failure, leftover, value);
    return true;
  }
  return false;
}

// --- parameter descriptions ---------------------------------------------------------

struct Unlogged {
  static constexpr std::string_view kKey{};  // the name a failure's leftover uses; none
  static void Log(std::vector<LogField> &, auto) {}
  static void Pick(CallSubject &, auto) {}
  static std::optional<EFI_STATUS> Check(Platform &, Platform::Call &, std::string_view, auto) { return std::nullopt; }
  static auto Forward(auto value) { return std::tuple(value); }
  static bool Leave(Platform &, const Failure &, auto) { return false; }
  static void Result(Platform::Call &, EFI_STATUS, auto) {}
};

struct Unused : Unlogged {
  static std::tuple<> Forward(auto) { return {}; }
};

// A parameter a failure can leave something in, by its name.
template <FixedString Key>
struct Keyed : Unlogged {
  static constexpr std::string_view kKey = Key.view();
  static bool Leave(Platform &platform, const Failure &failure, auto value) {
    return LeaveIn<Key>(platform, failure, value);
  }
};

template <FixedString Key, auto Format>
struct Arg : Keyed<Key> {
  static void Log(std::vector<LogField> &fields, auto value) {
    fields.push_back({std::string(Key.view()), Format(value)});
  }
};

template <FixedString Key>
struct GuidArg : Arg<Key, GuidOrNull> {
  static void Pick(CallSubject &subject, const EFI_GUID *guid) {
    if (guid != nullptr) subject.guid = *guid;
  }
};

template <FixedString Key>
struct HandleArg : Unlogged {
  static void Log(std::vector<LogField> &fields, EFI_HANDLE handle) {
    fields.push_back({std::string(Key.view()), Ptr(handle)});
    fields.push_back({"HandleName", Platform::Active().HandleName(handle)});
  }
  static void Pick(CallSubject &subject, EFI_HANDLE handle) { subject.handle = handle; }
};

struct Instance : Unlogged {
  static void Pick(CallSubject &subject, const void *self) { subject.instance = self; }
};

template <FixedString Key>
struct OutSlot : Keyed<Key> {};

template <FixedString Key, auto Format>
struct Out : Keyed<Key> {
  static void Result(Platform::Call &call, EFI_STATUS status, auto *value) {
    if (!EFI_ERROR(status) && value != nullptr) call.AddField(std::string(Key.view()), Format(*value));
  }
};

// A size slot (UINTN *): Key = the size given, or "null"; KeyOut = the size
// left, whatever the status, when there is a slot.
template <FixedString Key>
struct SizeArg : Keyed<Key> {
  static void Log(std::vector<LogField> &fields, UINTN *size) {
    fields.push_back({std::string(Key.view()), size != nullptr ? DecText(*size) : "null"});
  }
  static void Result(Platform::Call &call, EFI_STATUS, UINTN *size) {
    if (size != nullptr) call.AddField(std::string(Key.view()) + "Out", DecText(*size));
  }
};

template <auto Getter, FixedString What>
struct This : Unused {
  static void Pick(CallSubject &subject, const void *self) { subject.instance = self; }
  static std::optional<EFI_STATUS> Check(Platform &platform, Platform::Call &, std::string_view service,
                                         const void *self) {
    if (self == std::invoke(Getter, platform)) return std::nullopt;
    platform.Fault(std::string(service) + " called with a This that is not " + std::string(What.view()));
    return EFI_INVALID_PARAMETER;
  }
};

// --- the generated thunks ---------------------------------------------------------------

template <typename Slot>
struct SlotThunk;

template <typename R, typename... A>
struct SlotThunk<R(EFIAPI *)(A...)> {
  template <FixedString Name, auto Serve, typename... Params>
  static R EFIAPI Served(A... args) {
    static_assert(sizeof...(Params) == sizeof...(A), "describe every parameter of the slot, in order");
    Platform &platform = Platform::Active();
    std::vector<LogField> fields;
    (Params::Log(fields, args), ...);
    CallSubject subject;
    (Params::Pick(subject, args), ...);
    Platform::Call call = platform.BeginCall(Name.view(), std::move(fields), subject);
    auto serve = [&] {
      return std::apply([&](auto... forwarded) { return std::invoke(Serve, platform, forwarded...); },
                        std::tuple_cat(Params::Forward(args)...));
    };
    if constexpr (std::is_void_v<R>) {
      serve();
      call.FinishVoid();
    } else {
      static_assert(std::is_same_v<R, EFI_STATUS>, "a slot returning other than a status needs its own thunk");
      std::optional<EFI_STATUS> rejected;
      if ((... || (rejected = Params::Check(platform, call, Name.view(), args)).has_value())) {
        return call.Finish(*rejected);
      }
      if (const Failure *failure = call.injected()) return Answer<Params...>(platform, call, *failure, args...);
      const EFI_STATUS status = serve();
      (Params::Result(call, status, args), ...);
      return call.Finish(status);
    }
  }

  // The failure's answer, after its leftovers are put into their slots and logged.
  template <typename... Params>
  static EFI_STATUS Answer(Platform &platform, Platform::Call &call, const Failure &failure, A... args) {
    const EFI_STATUS status = *failure.answer();
    for (const Leftover &leftover : failure.leftovers()) {
      if (!(... || (leftover.slot == Params::kKey))) WrongLeftover(failure, leftover, "names no parameter");
    }
    ((Params::Leave(platform, failure, args) ? Params::Result(call, status, args) : void()), ...);
    return call.Finish(status);
  }

  template <FixedString Name>
  static R EFIAPI Refused(A...) {
    Platform::Active().Unexpected(Name.view());
    return EFI_UNSUPPORTED;
  }
};

template <FixedString Name, auto Serve, typename... Params, typename Slot>
void Bind(Slot &slot) {
  slot = &SlotThunk<Slot>::template Served<Name, Serve, Params...>;
}

template <FixedString Name, typename Slot>
void BindUnexpected(Slot &slot) {
  slot = &SlotThunk<Slot>::template Refused<Name>;
}

// The same for a slot declared as a plain pointer (a variadic service, or one
// the driver's declarations leave untyped): only keeps it from being null.
template <FixedString Name>
void *UnexpectedPlainSlot() {
  return reinterpret_cast<void *>(&SlotThunk<EFI_STATUS(EFIAPI *)()>::template Refused<Name>);
}

// A services table's header: its signature, the system table's revision and its own size.
template <typename Table>
void FillHeader(Table &table, UINT64 signature, UINT32 revision) {
  table.Hdr.Signature = signature;
  table.Hdr.Revision = revision;
  table.Hdr.HeaderSize = sizeof(Table);
}

}  // namespace sim
