// One element of a format, between reading its conversion and emitting it.
//
// Shared by the engine (format_text.cpp) and the conversions that prepare
// numbers, GUIDs, times and status values (format_conversions.cpp).
#pragma once

#include "efi/efi_types.h"
#include "print/format_text.h"

// The value buffer in the engine's frame: a number is stored as a zero byte
// followed by its digits, least significant first; the GUID, time and
// unlisted-status texts are formatted into it with room for their terminator.
constexpr UINTN kFormatValueBufferSize = 38;

struct FormatElement {
  FormatFlags Flags;
  CHAR8 Prefix;  // 0 for none
  bool Grouping;
  bool IsNumber;
  UINT8 GroupPhase;  // 0 to 2
  UINT64 Width;
  UINT64 Precision;
  UINT64 Count;
  // The first character to emit: 8-bit text, 16-bit text with FMT_TEXT_WIDE,
  // or the most significant digit of a number, read backwards.
  const UINT8 *Text;
};

// Makes an 8-bit text the element's text.
inline void UseText(FormatElement &Element, const CHAR8 *Text) { Element.Text = reinterpret_cast<const UINT8 *>(Text); }

// Number conversions 'd', 'u', 'x', 'X' and 'p' of the 64-bit argument Slot.
void PrepareNumber(FormatElement &Element, CHAR16 Conversion, UINT64 Slot, CHAR8 *ValueBuffer);

// 'g': the GUID at Guid (16 bytes, may be absent).
void PrepareGuid(FormatElement &Element, const UINT8 *Guid, CHAR8 *ValueBuffer);

// 't': month, day, year, hour and minute of the EFI_TIME at Time (may be absent).
void PrepareTime(FormatElement &Element, const UINT8 *Time, CHAR8 *ValueBuffer);

// 'r': the text of a status value.
void PrepareStatus(FormatElement &Element, UINT64 Status, CHAR8 *ValueBuffer);
