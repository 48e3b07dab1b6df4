// The conversions that prepare numbers, GUIDs, times and status values as
// elements of the engine. The GUID, time and unlisted-status texts are
// formatted by the engine itself, one level deep, into the value buffer.
#include "base/calling_convention.h"
#include "base/memory.h"
#include "print/format_element.h"
#include "print/status_text.h"

namespace {

// alignas(1) on the longer texts: left to itself the compiler starts each
// array of 16 bytes or more on a 16-byte boundary, which only pads the image.
alignas(1) constexpr CHAR8 kDigits[] = "0123456789ABCDEF";
constexpr CHAR8 kNullGuid[] = "<null guid>";
constexpr CHAR8 kNullTime[] = "<null time>";
alignas(1) constexpr CHAR8 kGuidLayout[] = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
alignas(1) constexpr CHAR8 kTimeLayout[] = "%02d/%02d/%04d  %02d:%02d";
constexpr CHAR8 kUnlistedStatusLayout[] = "%08X";

// Stores a zero byte and then the digits of Value, least significant first;
// always at least one digit. Returns the digit count.
UINT64 StoreDigits(UINT64 Value, bool Hex, CHAR8 *ValueBuffer) {
  const UINT64 radix = Hex ? 16 : 10;
  UINT64 count = 0;
  ValueBuffer[0] = 0;
  do {
    ValueBuffer[++count] = kDigits[Value % radix];
    Value /= radix;
  } while (Value != 0);
  return count;
}

// The conversion's own flag changes: 'p' is 'X' with a 64-bit argument and
// no sign prefix, 'X' is 'x' with zero fill, and only 'u' is unsigned decimal.
FormatFlags AdjustNumberFlags(FormatFlags Flags, CHAR16 Conversion) {
  switch (Conversion) {
    case 'p':
      return (Flags & ~(FMT_PLUS | FMT_SPACE)) | FMT_LONG | FMT_ZERO | FMT_HEX;
    case 'X':
      return Flags | FMT_ZERO | FMT_HEX;
    case 'x':
      return Flags | FMT_HEX;
    case 'u':
      return (Flags & ~FMT_PLUS) | FMT_UNSIGNED;
    default:
      return Flags;
  }
}

}  // namespace

void PrepareNumber(FormatElement &Element, CHAR16 Conversion, UINT64 Slot, CHAR8 *ValueBuffer) {
  FormatFlags flags = AdjustNumberFlags(Element.Flags, Conversion);
  const bool is_long = (flags & FMT_LONG) != 0;
  const bool is_hex = (flags & FMT_HEX) != 0;
  const bool is_signed = (flags & (FMT_HEX | FMT_UNSIGNED)) == 0;

  // A 32-bit argument is the low half of its slot, sign-extended for 'd'.
  UINT64 value = is_long     ? Slot
                 : is_signed ? static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(Slot)))
                             : static_cast<UINT32>(Slot);

  if ((flags & FMT_PLUS) != 0) {
    Element.Prefix = '+';
  } else if ((flags & FMT_SPACE) != 0) {
    Element.Prefix = ' ';
  }
  // Only decimal digits are grouped; grouped digits are never zero-filled.
  Element.Grouping = (flags & (FMT_GROUP | FMT_HEX)) == FMT_GROUP;
  if (Element.Grouping) {
    flags &= ~FMT_ZERO;
    Element.Precision = 1;
  }
  if (is_signed && static_cast<INT64>(value) < 0) {
    // Negated in unsigned arithmetic, so the most negative value prints in full.
    Element.Prefix = '-';
    value = 0 - value;
  }

  const bool is_zero = value == 0;
  const UINT64 digit_count = StoreDigits(value, is_hex, ValueBuffer);

  // A zero with a precision of 0 has no digit at all.
  const UINT64 shown = is_zero && Element.Precision == 0 ? 0 : digit_count;
  // (3 - shown % 3) % 3, in one remainder.
  Element.GroupPhase = static_cast<UINT8>(shown * 2 % 3);

  Element.Count = shown;
  if (Element.Grouping && shown > 0) Element.Count += (shown - 1) / 3;
  if (Element.Prefix != 0) {
    Element.Precision += 1;
    Element.Count += 1;
  }
  if ((flags & (FMT_WIDTH | FMT_ZERO | FMT_LEFT | FMT_PRECISION)) == (FMT_WIDTH | FMT_ZERO)) {
    Element.Precision = Element.Width;
  }

  Element.Flags = flags | FMT_BACKWARD;
  Element.IsNumber = true;
  UseText(Element, ValueBuffer + shown);
}

namespace {

// Formats Slots with Layout into the value buffer and makes that the element's text.
NOTICE_INTERNAL_CALL void UseFormattedText(FormatElement &Element, const CHAR8 *Layout, const UINT64 *Slots,
                                           UINTN Count, CHAR8 *ValueBuffer) {
  FormatTextList(ValueBuffer, kFormatValueBufferSize, 0, Layout, FormatArgs{Slots, Count});
  UseText(Element, ValueBuffer);
}

}  // namespace

void PrepareGuid(FormatElement &Element, const UINT8 *Guid, CHAR8 *ValueBuffer) {
  if (Guid == nullptr) return UseText(Element, kNullGuid);

  // The 32-bit field, the two 16-bit fields, then the eight bytes.
  UINT64 slots[11];
  slots[0] = ReadLe32(Guid);
  slots[1] = ReadLe16(Guid + 4);
  slots[2] = ReadLe16(Guid + 6);
  for (UINTN i = 0; i < 8; ++i) slots[3 + i] = Guid[8 + i];
  UseFormattedText(Element, kGuidLayout, slots, 11, ValueBuffer);
}

void PrepareTime(FormatElement &Element, const UINT8 *Time, CHAR8 *ValueBuffer) {
  if (Time == nullptr) return UseText(Element, kNullTime);

  // Month, day, year, hour, minute; nothing after the minute is read.
  const UINT64 slots[5] = {Time[2], Time[3], ReadLe16(Time), Time[4], Time[5]};
  UseFormattedText(Element, kTimeLayout, slots, 5, ValueBuffer);
}

void PrepareStatus(FormatElement &Element, UINT64 Status, CHAR8 *ValueBuffer) {
  const CHAR8 *listed = FindStatusText(Status);
  if (listed != nullptr) return UseText(Element, listed);
  UseFormattedText(Element, kUnlistedStatusLayout, &Status, 1, ValueBuffer);
}
