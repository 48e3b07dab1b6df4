// Runs the formatting engine over a guarded buffer and returns every byte of
// it, so a test compares the whole buffer: text, terminator and the bytes
// that must stay untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "print/format_text.h"

namespace print_test {

constexpr uint8_t kUntouched = 0xCC;
constexpr size_t kGuardBytes = 8;

struct Outcome {
  UINTN result;
  std::vector<uint8_t> bytes;  // the whole buffer, guard included
};

template <typename T>
UINT64 Slot(T value) {
  return FormatSlot(value);
}

inline Outcome RunFormat(FormatFlags flags, const void *format, const std::vector<UINT64> &slots, UINTN size,
                         bool absentBuffer = false) {
  const size_t charSize = (flags & FMT_OUT_WIDE) ? 2 : 1;
  const size_t capacity = (size > 1000000 ? 1 : size) * charSize + kGuardBytes;
  Outcome outcome{0, std::vector<uint8_t>(capacity, kUntouched)};
  outcome.result = FormatTextList(absentBuffer ? nullptr : outcome.bytes.data(), size, flags, format,
                                  FormatArgs{slots.data(), slots.size()});
  return outcome;
}

// The buffer a call that writes `text` (already in the output kind's bytes) must leave.
inline std::vector<uint8_t> Expected(const std::string &textBytes, size_t charSize, size_t capacity) {
  std::vector<uint8_t> bytes(capacity, kUntouched);
  for (size_t i = 0; i < textBytes.size(); ++i) bytes[i] = static_cast<uint8_t>(textBytes[i]);
  for (size_t i = 0; i < charSize; ++i) bytes[textBytes.size() + i] = 0;
  return bytes;
}

// 8-bit text as the bytes of 16-bit output.
inline std::string Widen(const std::string &text) {
  std::string bytes;
  for (char c : text) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

// A 16-bit format or argument text, terminated, as little-endian units.
inline std::vector<uint16_t> WideText(const std::u16string &text) {
  std::vector<uint16_t> units(text.begin(), text.end());
  units.push_back(0);
  return units;
}

}  // namespace print_test
