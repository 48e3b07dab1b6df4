// Fuzzes FormatTextList with arbitrary formats, flags, buffer sizes and
// argument slots.
//
// Input layout, front to back (a short input simply ends early):
//   byte 0      bit 0 16-bit output, bit 1 16-bit format, bit 2 count only,
//               bit 3 absent buffer, bit 4 absent format
//   bytes 1-2   buffer size, little-endian: 0xFFFF is 1,000,001, 0xFFFE is
//               1,000,000, anything else is taken modulo 1025
//   byte 3      number of argument slots handed over (0-31)
//   8 bytes     per slot, little-endian
//   byte        length of the text pool, then that many bytes
//   the rest    the format (terminated by the harness)
//
// Slots that the format takes as pointers ('a', 's', 'S', 'g', 't') never
// carry the raw value: they point into the text pool (or are absent), which
// ends in enough zero bytes to terminate either text kind and to hold a GUID
// or a time. Only the engine is fuzzed, never the memory behind a pointer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "print/format_text.h"

namespace {

constexpr size_t kPoolPadding = 18;
constexpr uint8_t kPattern = 0xA5;

class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return offset_ >= size_; }
  uint8_t Byte() { return Empty() ? 0 : data_[offset_++]; }
  uint64_t Le(unsigned bytes) {
    uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(Byte()) << (8 * i);
    return value;
  }
  std::vector<uint8_t> Bytes(size_t count) {
    const size_t take = count < size_ - offset_ ? count : size_ - offset_;
    std::vector<uint8_t> bytes(data_ + offset_, data_ + offset_ + take);
    offset_ += take;
    return bytes;
  }
  std::vector<uint8_t> Rest() { return Bytes(size_ - offset_); }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t offset_ = 0;
};

// Which slots the format takes as pointers, by walking its conversions the
// way the engine reads them.
std::vector<bool> PointerSlots(const std::vector<uint8_t> &format, bool wide) {
  std::vector<bool> pointers;
  const size_t step = wide ? 2 : 1;
  auto at = [&](size_t i) -> uint16_t {
    return wide ? static_cast<uint16_t>(format[i] | (format[i + 1] << 8)) : format[i];
  };
  for (size_t i = 0; at(i) != 0; i += step) {
    if (at(i) != '%') continue;
    for (i += step;; i += step) {
      const uint16_t c = at(i);
      if (c == 0) return pointers;
      if (c == '*') {
        pointers.push_back(false);
        continue;
      }
      if (c == ' ' || c == '+' || c == ',' || c == '-' || c == '.' || c == 'l' || c == 'L' || (c >= '0' && c <= '9')) {
        continue;
      }
      if (c == 'a' || c == 's' || c == 'S' || c == 'g' || c == 't') pointers.push_back(true);
      if (c == 'c' || c == 'd' || c == 'u' || c == 'x' || c == 'X' || c == 'p' || c == 'r') {
        pointers.push_back(false);
      }
      break;
    }
  }
  return pointers;
}

void Check(bool condition) {
  if (!condition) abort();
}

uint16_t CharacterAt(const std::vector<uint8_t> &buffer, size_t index, size_t charSize) {
  return charSize == 2 ? static_cast<uint16_t>(buffer[2 * index] | (buffer[2 * index + 1] << 8)) : buffer[index];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input input(data, size);
  const uint8_t mode = input.Byte();
  const uint64_t sizeField = input.Le(2);
  const size_t slotCount = input.Byte() % 32;
  std::vector<uint64_t> raw;
  for (size_t i = 0; i < slotCount && !input.Empty(); ++i) raw.push_back(input.Le(8));
  std::vector<uint8_t> pool = input.Bytes(input.Byte());
  pool.resize(pool.size() + kPoolPadding, 0);
  std::vector<uint8_t> format = input.Rest();

  FormatFlags flags = 0;
  if (mode & 1) flags |= FMT_OUT_WIDE;
  if (mode & 2) flags |= FMT_IN_WIDE;
  if (mode & 4) flags |= FMT_COUNT_ONLY;
  const bool absentBuffer = (mode & 8) != 0;
  const bool absentFormat = (mode & 16) != 0;
  const bool wideFormat = (flags & FMT_IN_WIDE) != 0;
  const size_t charSize = (flags & FMT_OUT_WIDE) ? 2 : 1;
  const UINTN bufferSize = sizeField == 0xFFFF ? 1000001 : sizeField == 0xFFFE ? 1000000 : sizeField % 1025;

  if (wideFormat && format.size() % 2 != 0) format.push_back(0);
  format.push_back(0);
  format.push_back(0);

  const std::vector<bool> pointers = PointerSlots(format, wideFormat);
  std::vector<uint64_t> slots = raw;
  const size_t poolText = pool.size() - kPoolPadding;
  for (size_t i = 0; i < slots.size() && i < pointers.size(); ++i) {
    if (!pointers[i]) continue;
    slots[i] = (raw[i] & 0xFF) == 0 ? 0 : reinterpret_cast<uintptr_t>(pool.data() + (raw[i] >> 8) % (poolText + 1));
  }
  const FormatArgs args{slots.data(), slots.size()};
  const void *formatText = absentFormat ? nullptr : format.data();

  // The buffer is exactly its size, so AddressSanitizer sees any write past it.
  const size_t capacity = bufferSize > 1000000 ? 1 : bufferSize * charSize;
  std::vector<uint8_t> buffer(capacity, kPattern);
  void *target = absentBuffer ? nullptr : buffer.data();
  const UINTN result = FormatTextList(target, bufferSize, flags, formatText, args);

  const bool countOnly = (flags & FMT_COUNT_ONLY) != 0;
  const bool refused = bufferSize > 1000000 || absentFormat || (!countOnly && (absentBuffer || bufferSize == 0));
  if (refused) Check(result == 0);

  if (countOnly || refused) {
    // Nothing may be written.
    for (size_t i = 0; i < buffer.size() && i < 4096; ++i) Check(buffer[i] == kPattern);
  }
  if (countOnly && !refused && result < 100000) {
    // The count is what the same call writes when there is room for all of it.
    std::vector<uint8_t> roomy((result + 1) * charSize, kPattern);
    const UINTN written = FormatTextList(roomy.data(), result + 1, flags & ~FMT_COUNT_ONLY, formatText, args);
    Check(written == result);
    Check(CharacterAt(roomy, written, charSize) == 0);
  }
  if (!countOnly && !refused) {
    // Terminated inside the buffer, at the result; nothing written after it.
    Check(result < bufferSize);
    Check(CharacterAt(buffer, result, charSize) == 0);
    const size_t after = (result + 1) * charSize;
    const size_t checked = buffer.size() - after < 4096 ? buffer.size() - after : 4096;
    for (size_t i = after; i < after + checked; ++i) Check(buffer[i] == kPattern);
    // In 16-bit output no character before the terminator is zero. In 8-bit
    // output a 16-bit character keeps only its low byte, which may be zero.
    if (charSize == 2) {
      for (size_t i = 0; i < result; ++i) Check(CharacterAt(buffer, i, charSize) != 0);
    }
  }
  return 0;
}
