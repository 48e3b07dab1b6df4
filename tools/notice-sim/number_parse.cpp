#include "number_parse.h"

namespace preview {

namespace {

std::optional<unsigned> DigitValue(char c, unsigned base) {
  unsigned v;
  if (c >= '0' && c <= '9') {
    v = static_cast<unsigned>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    v = static_cast<unsigned>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    v = static_cast<unsigned>(c - 'A' + 10);
  } else {
    return std::nullopt;
  }
  if (v >= base) return std::nullopt;
  return v;
}

std::optional<uint64_t> ParseDigits(std::string_view digits, unsigned base, uint64_t max) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    auto d = DigitValue(c, base);
    if (!d) return std::nullopt;
    if (*d > max || value > (max - *d) / base) return std::nullopt;
    value = value * base + *d;
  }
  return value;
}

bool HasHexPrefix(std::string_view text) {
  return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

}  // namespace

std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  if (HasHexPrefix(text)) return ParseDigits(text.substr(2), 16, max);
  return ParseDigits(text, 10, max);
}

std::optional<uint64_t> ParseHex(std::string_view text, uint64_t max) {
  if (HasHexPrefix(text)) text.remove_prefix(2);
  return ParseDigits(text, 16, max);
}

}  // namespace preview
