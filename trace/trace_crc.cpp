#include "trace/trace_crc.h"

#include "trace/trace_state.h"

namespace {
constexpr UINT32 kCrc32cReflected = 0x82F63B78u;
}

void TraceCrcPrepareTable() {
  // Entry 1 of a built table is never 0, so it marks the table as built.
  UINT32 *table = gTrace.CrcTable;
  if (table[1] != 0) return;

  for (UINT32 index = 0; index < kTraceCrcTableEntries; ++index) {
    UINT32 value = index;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1) ? kCrc32cReflected : 0);
    table[index] = value;
  }
}

UINT32 TraceCrcAdd(UINT32 Crc, UINT64 Value, UINTN Bytes) {
  for (UINTN i = 0; i < Bytes; ++i) {
    Crc = gTrace.CrcTable[(Crc ^ static_cast<UINT8>(Value)) & 0xFF] ^ (Crc >> 8);
    Value >>= 8;
  }
  return Crc;
}
