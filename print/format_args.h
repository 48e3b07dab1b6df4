// How arguments reach the formatting engine.
//
// Every argument travels in its own 64-bit slot: signed integers are
// sign-extended, unsigned integers, characters and enumerations zero-extended,
// pointers stored as their address. The engine takes the slots strictly left
// to right and knows how many it was given, so a format that asks for more
// reads 0 (an absent pointer) instead of memory past the list. The variadic
// front packs the slots on the caller's stack; nothing depends on the
// calling convention.
#pragma once

#include "efi/efi_types.h"

struct FormatArgs {
  const UINT64 *Slots;
  UINTN Count;
};

constexpr UINT64 FormatSlot(signed char Value) { return static_cast<UINT64>(static_cast<INT64>(Value)); }
constexpr UINT64 FormatSlot(short Value) { return static_cast<UINT64>(static_cast<INT64>(Value)); }
constexpr UINT64 FormatSlot(int Value) { return static_cast<UINT64>(static_cast<INT64>(Value)); }
constexpr UINT64 FormatSlot(long Value) { return static_cast<UINT64>(static_cast<INT64>(Value)); }
constexpr UINT64 FormatSlot(long long Value) { return static_cast<UINT64>(static_cast<INT64>(Value)); }
constexpr UINT64 FormatSlot(unsigned char Value) { return Value; }
constexpr UINT64 FormatSlot(unsigned short Value) { return Value; }
constexpr UINT64 FormatSlot(unsigned int Value) { return Value; }
constexpr UINT64 FormatSlot(unsigned long Value) { return Value; }
constexpr UINT64 FormatSlot(unsigned long long Value) { return Value; }
constexpr UINT64 FormatSlot(bool Value) { return Value ? 1 : 0; }
// A CHAR8 is a character code, whatever the signedness of plain char.
constexpr UINT64 FormatSlot(char Value) { return static_cast<unsigned char>(Value); }
constexpr UINT64 FormatSlot(char8_t Value) { return Value; }
constexpr UINT64 FormatSlot(char16_t Value) { return Value; }
constexpr UINT64 FormatSlot(char32_t Value) { return Value; }
constexpr UINT64 FormatSlot(decltype(nullptr)) { return 0; }

template <typename T>
inline UINT64 FormatSlot(T *Pointer) {
  return reinterpret_cast<UINTN>(Pointer);
}

template <typename E>
requires __is_enum(E) constexpr UINT64 FormatSlot(E Value) {
  return FormatSlot(static_cast<__underlying_type(E)>(Value));
}

// The slots of one call: one more than the arguments so that an empty list
// still has an array behind it.
template <typename... Args>
struct FormatSlots {
  UINT64 Slots[sizeof...(Args) + 1];

  explicit FormatSlots(Args... Arguments) : Slots{FormatSlot(Arguments)...} {}
  FormatArgs List() const { return FormatArgs{Slots, sizeof...(Args)}; }
};
