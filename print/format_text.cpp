// The formatted text engine: checks, the reading of a format and its
// conversions, and the emitting of each element with its width and precision.
#include "print/format_text.h"

#include "base/memory.h"
#include "print/format_element.h"

namespace {

constexpr CHAR8 kNullString[] = "<null string>";
constexpr CHAR8 kCarriageReturnLineFeed[] = "\r\n";
constexpr CHAR8 kCarriageReturn[] = "\r";
constexpr CHAR8 kEmpty[] = "";

constexpr UINT64 kNoLimit = ~0ULL;

// Reads one character of a text of the given character size, little-endian.
CHAR16 ReadCharacter(const UINT8 *Text, UINTN CharacterSize) {
  if (CharacterSize == 1) return Text[0];
  return ReadLe16(Text);
}

// Characters before the terminator, counting no further than Limit.
UINT64 TextLength(const UINT8 *Text, UINTN CharacterSize, UINT64 Limit) {
  UINT64 length = 0;
  while (length < Limit && ReadCharacter(Text + length * CharacterSize, CharacterSize) != 0) ++length;
  return length;
}

// The length of an 8-bit or 16-bit format, kFormatTextLimit + 1 once it
// passes the limit (for a 16-bit format the count WideStringLength gives).
UINTN FormatLength(const void *Format, bool Wide) {
  return TextLength(static_cast<const UINT8 *>(Format), Wide ? 2 : 1, kFormatTextLimit + 1);
}

// The caller's arguments, taken left to right; past the last one every slot reads 0.
class ArgumentReader {
 public:
  explicit ArgumentReader(FormatArgs Args) : slots_(Args.Slots), remaining_(Args.Slots ? Args.Count : 0) {}

  UINT64 Next() {
    if (remaining_ == 0) return 0;
    --remaining_;
    return *slots_++;
  }

 private:
  const UINT64 *slots_;
  UINTN remaining_;
};

class FormatReader {
 public:
  FormatReader(const void *Format, UINTN CharacterSize)
      : position_(static_cast<const UINT8 *>(Format)), size_(CharacterSize) {}

  CHAR16 Current() const { return ReadCharacter(position_, size_); }
  // Only called while the current character is not the terminator.
  CHAR16 Next() const { return ReadCharacter(position_ + size_, size_); }
  void Advance() { position_ += size_; }

 private:
  const UINT8 *position_;
  UINTN size_;
};

// Where the characters go: the caller's buffer, as many as it has room for
// before the terminator, or, with FMT_COUNT_ONLY, only a count (which
// saturates, so no width can wrap the result).
class Output {
 public:
  Output(UINT8 *Buffer, UINTN BufferSize, FormatFlags Flags)
      : position_(Buffer),
        wide_((Flags & FMT_OUT_WIDE) != 0),
        count_only_((Flags & FMT_COUNT_ONLY) != 0),
        room_(count_only_ ? ~0ULL : BufferSize - 1) {}

  // A saturated count is full too: nothing more can change it.
  bool Full() const { return counted_ >= room_; }

  void Put(CHAR16 Character) { Fill(1, Character); }

  // Character Count times, as far as there is room.
  void Fill(INT64 Count, CHAR16 Character) {
    if (Count <= 0) return;
    const UINT64 left = room_ - counted_;
    const UINT64 characters = static_cast<UINT64>(Count) < left ? static_cast<UINT64>(Count) : left;
    counted_ += characters;
    if (count_only_) return;
    for (UINT64 i = characters; i != 0; --i) Store(Character);
  }

  // Terminates the text and returns the characters before the terminator.
  UINTN Finish() {
    if (!count_only_) Store(0);
    return counted_;
  }

 private:
  // Writes one character and moves past it (room checked by the caller).
  void Store(CHAR16 Character) {
    *position_++ = static_cast<UINT8>(Character);
    if (wide_) *position_++ = static_cast<UINT8>(Character >> 8);
  }

  UINT8 *position_;
  bool wide_;
  bool count_only_;
  UINT64 room_;
  UINT64 counted_ = 0;
};

// One character as 16-bit text in the value buffer.
void UseCharacter(FormatElement &Element, CHAR16 Character, CHAR8 *ValueBuffer) {
  ValueBuffer[0] = static_cast<CHAR8>(Character & 0xFF);
  ValueBuffer[1] = static_cast<CHAR8>(Character >> 8);
  ValueBuffer[2] = 0;
  ValueBuffer[3] = 0;
  Element.Flags |= FMT_TEXT_WIDE;
  UseText(Element, ValueBuffer);
}

// "\n", "\n\r", "\r\n" give "\r\n"; a lone "\r" gives "\r".
void UseLineEnd(FormatElement &Element, FormatReader &Format) {
  const CHAR16 first = Format.Current();
  // The next character is the other one of the pair: the two add up to '\n' + '\r'.
  const bool paired = Format.Next() + first == '\n' + '\r';
  if (paired) Format.Advance();
  UseText(Element, paired || first == '\n' ? kCarriageReturnLineFeed : kCarriageReturn);
}

bool IsDigit(CHAR16 Character) { return Character >= '0' && Character <= '9'; }

// Out of line: inlined at its two uses, the image is larger.
__attribute__((noinline)) void SetWidthOrPrecision(FormatElement &Element, UINT64 Value) {
  if ((Element.Flags & FMT_PRECISION) != 0) {
    Element.Precision = Value;
    return;
  }
  Element.Width = Value;
  Element.Flags |= FMT_WIDTH;
}

// The text conversions 'a', 's' and 'S' (out of line: inlined, the image is larger).
__attribute__((noinline)) void UseArgumentText(FormatElement &Element, const UINT8 *Text, bool Wide) {
  if (Text == nullptr) {
    UseText(Element, kNullString);
  } else {
    Element.Text = Text;
    if (Wide) Element.Flags |= FMT_TEXT_WIDE;
  }
  if ((Element.Flags & FMT_PRECISION) == 0) Element.Precision = 0;
}

// The characters that only set a flag inside a conversion, and their flags.
constexpr CHAR8 kFlagCharacters[] = " +,-.lL";
constexpr UINT16 kFlagBits[] = {FMT_SPACE, FMT_PLUS, FMT_GROUP, FMT_LEFT, FMT_PRECISION, FMT_LONG, FMT_LONG};

FormatFlags FlagOf(CHAR16 Character) {
  for (UINTN i = 0; kFlagCharacters[i] != 0; ++i) {
    if (kFlagCharacters[i] == Character) return kFlagBits[i];
  }
  return 0;
}

// The conversion characters that take an argument.
constexpr CHAR8 kArgumentConversions[] = "asScduxXpgtr";

bool TakesArgument(CHAR16 Conversion) {
  for (const CHAR8 *c = kArgumentConversions; *c != 0; ++c) {
    if (*c == Conversion) return true;
  }
  return false;
}

// Prepares the element of one conversion character. Kept out of line: inlined
// into the conversion loop it makes the image larger.
__attribute__((noinline)) NOTICE_INTERNAL_CALL void UseConversion(FormatElement &Element, CHAR16 Conversion,
                                                                  FormatReader &Format, ArgumentReader &Args,
                                                                  CHAR8 *ValueBuffer) {
  const UINT64 slot = TakesArgument(Conversion) ? Args.Next() : 0;
  const UINT8 *pointer = reinterpret_cast<const UINT8 *>(static_cast<UINTN>(slot));
  switch (Conversion) {
    case 'a':
      return UseArgumentText(Element, pointer, false);
    case 's':
    case 'S':
      return UseArgumentText(Element, pointer, true);
    case 'c':
      return UseCharacter(Element, static_cast<CHAR16>(slot), ValueBuffer);
    case 'g':
      return PrepareGuid(Element, pointer, ValueBuffer);
    case 't':
      return PrepareTime(Element, pointer, ValueBuffer);
    case 'r':
      return PrepareStatus(Element, slot, ValueBuffer);
    case '\n':
    case '\r':
      return UseLineEnd(Element, Format);
    case '%':
      break;
    default:
      // Every other conversion that takes an argument is a number.
      if (TakesArgument(Conversion)) return PrepareNumber(Element, Conversion, slot, ValueBuffer);
      break;
  }
  // '%' and every unlisted character print themselves.
  UseCharacter(Element, Conversion, ValueBuffer);
}

// Reads one conversion, the reader standing on its '%'. Leaves the reader on
// the conversion's last character and returns false, or returns true when
// the format ended inside the conversion. Out of line: inlined, the image is larger.
__attribute__((noinline)) NOTICE_INTERNAL_CALL bool ReadConversion(FormatElement &Element, FormatReader &Format,
                                                                   ArgumentReader &Args, CHAR8 *ValueBuffer) {
  // The value of the run of digits being read; every digit stores the run so far.
  UINT64 number = 0;
  bool in_number = false;
  for (;;) {
    Format.Advance();
    const CHAR16 c = Format.Current();
    if (c == 0) {
      // Only the blanks that fill to a width remain.
      UseText(Element, kEmpty);
      Element.Precision = 0;
      return true;
    }
    if (IsDigit(c)) {
      // A leading '0' of a width also asks for zero fill.
      if (!in_number && c == '0' && (Element.Flags & FMT_PRECISION) == 0) Element.Flags |= FMT_ZERO;
      number = number * 10 + (c - '0');
      in_number = true;
      SetWidthOrPrecision(Element, number);
      continue;
    }
    number = 0;
    in_number = false;
    const FormatFlags flag = FlagOf(c);
    if (flag != 0) {
      Element.Flags |= flag;
    } else if (c == '*') {
      SetWidthOrPrecision(Element, Args.Next());
    } else {
      UseConversion(Element, c, Format, Args, ValueBuffer);
      return false;
    }
  }
}

// The element's text, with grouping commas. Characters past a full buffer
// are dropped by the output.
void EmitText(Output &Out, FormatElement &Element) {
  const UINTN size = (Element.Flags & FMT_TEXT_WIDE) != 0 ? 2 : 1;
  const INTN step = (Element.Flags & FMT_BACKWARD) != 0 ? -1 : static_cast<INTN>(size);
  const UINT8 *text = Element.Text;
  for (UINT64 index = Element.Prefix != 0 ? 1 : 0; index < Element.Count; text += step) {
    const CHAR16 c = ReadCharacter(text, size);
    if (c == 0) break;
    Out.Put(c);
    ++index;
    if (Element.Grouping && ++Element.GroupPhase == 3) {
      Element.GroupPhase = 0;
      ++index;
      if (index < Element.Count) Out.Put(',');
    }
  }
}

NOTICE_INTERNAL_CALL void EmitElement(Output &Out, FormatElement &Element) {
  const FormatFlags flags = Element.Flags;
  if (!Element.IsNumber) {
    const UINT64 limit = (flags & FMT_PRECISION) != 0 ? Element.Precision : kNoLimit;
    Element.Count = TextLength(Element.Text, (flags & FMT_TEXT_WIDE) != 0 ? 2 : 1, limit);
  }
  if (Element.Precision < Element.Count) Element.Precision = Element.Count;

  // Fill counts are differences taken as signed counts; 0 or less fills nothing.
  const INT64 width_fill = (flags & FMT_WIDTH) != 0 ? static_cast<INT64>(Element.Width - Element.Precision) : 0;
  const bool left = (flags & FMT_LEFT) != 0;

  if (!left) Out.Fill(width_fill, ' ');
  // Only numbers have a prefix.
  if (Element.Prefix != 0) Out.Put(static_cast<CHAR16>(Element.Prefix));
  Out.Fill(static_cast<INT64>(Element.Precision - Element.Count), Element.IsNumber ? '0' : ' ');
  EmitText(Out, Element);
  if (left) Out.Fill(width_fill, ' ');
}

// Refuses a call before any work: see FormatTextList in format_text.h.
bool CallIsAccepted(const void *Buffer, UINTN BufferSize, FormatFlags Flags, const void *Format) {
  if ((Flags & FMT_COUNT_ONLY) == 0 && (BufferSize == 0 || Buffer == nullptr)) return false;
  if (Format == nullptr || BufferSize > kFormatTextLimit) return false;
  return FormatLength(Format, (Flags & FMT_IN_WIDE) != 0) <= kFormatTextLimit;
}

}  // namespace

NOTICE_INTERNAL_CALL UINTN FormatTextList(void *Buffer, UINTN BufferSize, FormatFlags Flags, const void *Format,
                                          FormatArgs Args) {
  if (!CallIsAccepted(Buffer, BufferSize, Flags, Format)) return 0;

  const FormatFlags caller_flags = Flags & FMT_CALLER_FLAGS;
  Output out(static_cast<UINT8 *>(Buffer), BufferSize, caller_flags);
  FormatReader format(Format, (caller_flags & FMT_IN_WIDE) != 0 ? 2 : 1);
  ArgumentReader args(Args);
  CHAR8 value_buffer[kFormatValueBufferSize];

  for (CHAR16 c = format.Current(); c != 0; c = format.Current()) {
    if (out.Full()) break;

    // An ordinary character is an element of its own text alone: with no
    // width and a precision of 1 it emits exactly itself.
    if (c != '%' && c != '\n' && c != '\r') {
      out.Put(c);
      format.Advance();
      continue;
    }

    FormatElement element = {};
    element.Flags = caller_flags;
    element.Precision = 1;

    bool format_ended = false;
    switch (c) {
      case '\n':
      case '\r':
        UseLineEnd(element, format);
        break;
      default:
        format_ended = ReadConversion(element, format, args, value_buffer);
        break;
    }
    EmitElement(out, element);
    if (format_ended) break;
    format.Advance();
  }
  return out.Finish();
}
