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
//      at entry (Platform::BeginCall counts the call and finds a forced answer);
//   2. runs the parameters' checks in order: the first to reject a call (a
//      This that is not the protocol's, a null string, ...) has listed a fault
//      and finishes the call with its status;
//   3. answers the forced status, when the call is to fail;
//   4. forwards the parameters that are forwarded to the service;
//   5. adds the result fields and finishes the call with the service's status.
// A slot returning nothing is logged, served and finished without a status;
// checks, forced answers and result fields do not apply to it. A slot
// returning anything but a status or nothing (RaiseTPL) needs its own thunk.
//
// BindUnexpected<"Name">(slot) fills a slot the driver has no business
// calling: it answers EFI_UNSUPPORTED and counts the call as unexpected
// (UnexpectedPlainSlot<"Name">() for a slot declared as a plain pointer).
//
// Parameter descriptions (each may log, check, forward and report):
//   Arg<"Key", Format>    logs Key = Format(value) at entry; forwarded
//   HandleArg<"Key">      logs Key = the handle and HandleName = its name; forwarded
//   Out<"Key", Format>    forwarded; after success logs Key = Format(*value)
//   SizeArg<"Key">        logs Key = *value (or "null") at entry and KeyOut =
//                         *value after the service, whatever its status; forwarded
//   Unlogged              forwarded only
//   Unused                neither logged nor forwarded
//   This<Getter, "what">  the protocol's own instance, or the call is a fault
//                         answered EFI_INVALID_PARAMETER; not forwarded
// A file may describe a parameter of its own by deriving from Unlogged and
// hiding Log, Check, Forward or Result.
#pragma once

#include <cstddef>
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

// --- parameter descriptions ---------------------------------------------------------

struct Unlogged {
  static void Log(std::vector<LogField> &, auto) {}
  static std::optional<EFI_STATUS> Check(Platform &, Platform::Call &, std::string_view, auto) { return std::nullopt; }
  static auto Forward(auto value) { return std::tuple(value); }
  static void Result(Platform::Call &, EFI_STATUS, auto) {}
};

struct Unused : Unlogged {
  static std::tuple<> Forward(auto) { return {}; }
};

template <FixedString Key, auto Format>
struct Arg : Unlogged {
  static void Log(std::vector<LogField> &fields, auto value) {
    fields.push_back({std::string(Key.view()), Format(value)});
  }
};

template <FixedString Key>
struct HandleArg : Unlogged {
  static void Log(std::vector<LogField> &fields, EFI_HANDLE handle) {
    fields.push_back({std::string(Key.view()), Ptr(handle)});
    fields.push_back({"HandleName", Platform::Active().HandleName(handle)});
  }
};

template <FixedString Key, auto Format>
struct Out : Unlogged {
  static void Result(Platform::Call &call, EFI_STATUS status, auto *value) {
    if (!EFI_ERROR(status)) call.AddField(std::string(Key.view()), Format(*value));
  }
};

// A size slot (UINTN *): Key = the size given, or "null"; KeyOut = the size
// left, whatever the status, when there is a slot.
template <FixedString Key>
struct SizeArg : Unlogged {
  static void Log(std::vector<LogField> &fields, UINTN *size) {
    fields.push_back({std::string(Key.view()), size != nullptr ? DecText(*size) : "null"});
  }
  static void Result(Platform::Call &call, EFI_STATUS, UINTN *size) {
    if (size != nullptr) call.AddField(std::string(Key.view()) + "Out", DecText(*size));
  }
};

template <auto Getter, FixedString What>
struct This : Unused {
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
    Platform::Call call = platform.BeginCall(Name.view(), std::move(fields));
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
      if (call.forced()) return call.Finish(*call.forced());
      const EFI_STATUS status = serve();
      (Params::Result(call, status, args), ...);
      return call.Finish(status);
    }
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
