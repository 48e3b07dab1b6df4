// The formatted text engine: a format text and its arguments become 8-bit or
// 16-bit (UCS-2, little-endian) text in a caller's buffer.
//
// It keeps no state between calls, allocates nothing and calls no firmware
// service. Buffer sizes are in characters of the output kind, terminator
// included; the output is always terminated and the result counts the
// characters before the terminator.
#pragma once

#include "base/calling_convention.h"
#include "efi/efi_types.h"
#include "print/format_args.h"

using FormatFlags = UINT32;

constexpr FormatFlags FMT_LEFT = 0x0001;        // '-': fill blanks after the field
constexpr FormatFlags FMT_PLUS = 0x0002;        // '+': numbers get a '+' prefix
constexpr FormatFlags FMT_SPACE = 0x0004;       // ' ': numbers get a blank prefix without FMT_PLUS
constexpr FormatFlags FMT_GROUP = 0x0008;       // ',': decimal digits in groups of three
constexpr FormatFlags FMT_LONG = 0x0010;        // 'l', 'L', 'p': 64-bit integer argument
constexpr FormatFlags FMT_ZERO = 0x0020;        // '0', 'X', 'p': fill numbers with '0' to the width
constexpr FormatFlags FMT_OUT_WIDE = 0x0040;    // caller: the output is 16-bit text
constexpr FormatFlags FMT_HEX = 0x0080;         // 'x', 'X', 'p': radix 16
constexpr FormatFlags FMT_IN_WIDE = 0x0100;     // caller: the format is 16-bit text
constexpr FormatFlags FMT_WIDTH = 0x0200;       // a width was given
constexpr FormatFlags FMT_TEXT_WIDE = 0x0400;   // the text being emitted is 16-bit
constexpr FormatFlags FMT_PRECISION = 0x0800;   // a precision was given
constexpr FormatFlags FMT_BACKWARD = 0x1000;    // the text being emitted is stored last character first
constexpr FormatFlags FMT_COUNT_ONLY = 0x2000;  // caller: write nothing, return the length
constexpr FormatFlags FMT_UNSIGNED = 0x4000;    // 'u': the decimal argument is unsigned

// The flags a caller may pass; every other bit belongs to one element.
constexpr FormatFlags FMT_CALLER_FLAGS = FMT_OUT_WIDE | FMT_IN_WIDE | FMT_COUNT_ONLY;

// Buffer sizes and format lengths above this are refused.
constexpr UINTN kFormatTextLimit = 1000000;

// Formats into Buffer (may be absent with FMT_COUNT_ONLY or a size of 0).
// Format is 8-bit text, or 16-bit text with FMT_IN_WIDE; it may be absent.
// Returns the characters produced before the terminator, or 0 when the call
// is refused (nothing is written then).
NOTICE_INTERNAL_CALL UINTN FormatTextList(void *Buffer, UINTN BufferSize, FormatFlags Flags, const void *Format,
                                          FormatArgs Args);

// FormatTextList with the arguments inline.
template <typename... Args>
inline UINTN FormatText(void *Buffer, UINTN BufferSize, FormatFlags Flags, const void *Format, Args... Arguments) {
  const FormatSlots<Args...> slots{Arguments...};
  return FormatTextList(Buffer, BufferSize, Flags, Format, slots.List());
}

// Writes Character Count times (nothing for a count of 0 or less), each as
// CharacterSize bytes (1: low byte; 2: low byte, then high byte), stopping
// as soon as Position has reached End. Returns the position after the last
// character written.
UINT8 *FillCharacters(UINT8 *Position, const UINT8 *End, INT64 Count, CHAR16 Character, UINTN CharacterSize);

// Characters before the terminator of a 16-bit text: 0 for an absent text,
// kFormatTextLimit + 1 once it passes kFormatTextLimit (counting stops there).
UINTN WideStringLength(const CHAR16 *Text);
