// Console print: formats an 8-bit message with its arguments and writes it to
// the firmware console as 16-bit text. Every "\n" reaches the console as
// "\r\n"; a line holds at most kConsoleLineCharacters characters.
#pragma once

#include "base/driver_state.h"
#include "efi/efi.h"
#include "print/format_args.h"

// Characters of one console line, terminator excluded.
constexpr UINTN kConsoleLineCharacters = 320;

// Formats Format into a fresh pool buffer and hands it to Console (which may
// be absent: the text is then formatted and dropped). Returns the characters
// formatted; 0 when the console refuses the text or no buffer was available.
UINTN ConsolePrintList(const CHAR8 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, FormatArgs Args);

// ConsolePrintList on the system table's ConOut with the arguments inline.
template <typename... Args>
inline UINTN ConsolePrint(const CHAR8 *Format, Args... Arguments) {
  const FormatSlots<Args...> slots{Arguments...};
  return ConsolePrintList(Format, gDriver.SystemTable->ConOut, slots.List());
}
