// Little-endian stores and alignment helpers over byte vectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace notice_pack {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline void PutLe(Bytes &out, size_t offset, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint64_t GetLe(ByteView in, size_t offset, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(in[offset + i]) << (8 * i);
  return value;
}

inline size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Grows `out` with `fill` bytes until its size is a multiple of `alignment`.
inline void PadTo(Bytes &out, size_t alignment, uint8_t fill) { out.resize(AlignUp(out.size(), alignment), fill); }

inline void Append(Bytes &out, ByteView data) { out.insert(out.end(), data.begin(), data.end()); }

}  // namespace notice_pack
