// GUIDs as the 16 bytes firmware stores: a 32-bit and two 16-bit
// little-endian fields, then eight bytes in order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace notice_pack {

struct Guid {
  std::array<uint8_t, 16> Bytes{};
  bool operator==(const Guid &) const = default;
};

namespace guid_detail {

constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text position of each stored byte's two hex digits: the first three
// fields are little-endian, so their bytes are read from the right.
inline constexpr std::array<size_t, 16> kDigitPosition = {6, 4, 2, 0, 11, 9, 16, 14, 19, 21, 24, 26, 28, 30, 32, 34};

}  // namespace guid_detail

// Parses the registry form "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (either case).
constexpr std::optional<Guid> ParseGuid(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  for (size_t dash : {8u, 13u, 18u, 23u}) {
    if (text[dash] != '-') return std::nullopt;
  }
  Guid guid;
  for (size_t i = 0; i < guid.Bytes.size(); ++i) {
    const size_t at = guid_detail::kDigitPosition[i];
    const int high = guid_detail::HexValue(text[at]);
    const int low = guid_detail::HexValue(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    guid.Bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return guid;
}

// For fixed values in the source: a malformed literal fails to compile.
consteval Guid GuidLiteral(std::string_view text) { return ParseGuid(text).value(); }

// Formats in upper-case registry form.
std::string FormatGuid(const Guid &guid);

}  // namespace notice_pack
