#include "base/memory.h"
#include "print/format_text.h"

UINT8 *FillCharacters(UINT8 *Position, const UINT8 *End, INT64 Count, CHAR16 Character, UINTN CharacterSize) {
  if (Count <= 0 || Position >= End) return Position;

  // Only whole characters before End are written, so a count of any size
  // costs at most the room that is left.
  const UINT64 room = static_cast<UINT64>(End - Position) / CharacterSize;
  const UINT64 count = static_cast<UINT64>(Count) < room ? static_cast<UINT64>(Count) : room;

  if (CharacterSize == 1) {
    FillBytes(Position, static_cast<UINT8>(Character), count);
    return Position + count;
  }
  const UINT8 low = static_cast<UINT8>(Character);
  const UINT8 high = static_cast<UINT8>(Character >> 8);
  for (UINT64 i = 0; i < count; ++i) {
    Position[0] = low;
    Position[1] = high;
    Position += 2;
  }
  return Position;
}
