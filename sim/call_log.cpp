#include "sim/call_log.h"

#include <cstdio>

namespace sim {

std::string CallRecord::Field(std::string_view key) const {
  for (const LogField &f : fields) {
    if (f.key == key) return f.value;
  }
  return {};
}

std::string HexText(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string DecText(uint64_t value) { return std::to_string(value); }

std::string GuidText(const EFI_GUID &g) {
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::string StatusText(EFI_STATUS status) {
  switch (status) {
    case EFI_SUCCESS:
      return "EFI_SUCCESS";
    case EFI_INVALID_PARAMETER:
      return "EFI_INVALID_PARAMETER";
    case EFI_UNSUPPORTED:
      return "EFI_UNSUPPORTED";
    case EFI_BUFFER_TOO_SMALL:
      return "EFI_BUFFER_TOO_SMALL";
    case EFI_DEVICE_ERROR:
      return "EFI_DEVICE_ERROR";
    case EFI_OUT_OF_RESOURCES:
      return "EFI_OUT_OF_RESOURCES";
    case EFI_NOT_FOUND:
      return "EFI_NOT_FOUND";
    case EFI_ACCESS_DENIED:
      return "EFI_ACCESS_DENIED";
    case EFI_TIMEOUT:
      return "EFI_TIMEOUT";
    case EFI_WARN_BUFFER_TOO_SMALL:
      return "EFI_WARN_BUFFER_TOO_SMALL";
    default:
      return HexText(status);
  }
}

// UCS-2 to UTF-8; unpaired surrogates come out as U+FFFD.
std::string Utf8Text(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    uint32_t cp = (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace sim
