#include "tools/common/lzma_alone.h"

#include <lzma.h>

#include <stdexcept>
#include <string>

namespace picture_tools {
namespace {

// Runs `stream` over all of `input` to its end.
std::vector<uint8_t> RunStream(lzma_stream &stream, std::span<const uint8_t> input, size_t expected) {
  std::vector<uint8_t> out(expected + 1024);
  stream.next_in = input.data();
  stream.avail_in = input.size();
  for (;;) {
    if (stream.total_out == out.size()) out.resize(out.size() * 2);
    stream.next_out = out.data() + stream.total_out;
    stream.avail_out = out.size() - stream.total_out;
    const lzma_ret ret = lzma_code(&stream, LZMA_FINISH);
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) {
      lzma_end(&stream);
      throw std::runtime_error("liblzma failed (code " + std::to_string(ret) + ")");
    }
  }
  out.resize(stream.total_out);
  lzma_end(&stream);
  return out;
}

}  // namespace

std::vector<uint8_t> CompressLzmaAlone(std::span<const uint8_t> data) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, 9) != 0) throw std::runtime_error("liblzma has no preset 9");
  options.dict_size = kFirmwareLzmaDictionary;
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_alone_encoder(&stream, &options) != LZMA_OK) throw std::runtime_error("liblzma encoder did not start");
  std::vector<uint8_t> packed = RunStream(stream, data, data.size() / 2);
  // The encoder writes "size unknown" (all ones); firmware wants the size.
  const uint64_t size = data.size();
  for (size_t i = 0; i < 8; ++i) packed.at(5 + i) = static_cast<uint8_t>(size >> (8 * i));
  return packed;
}

std::vector<uint8_t> DecompressLzmaAlone(std::span<const uint8_t> packed) {
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_alone_decoder(&stream, UINT64_MAX) != LZMA_OK) throw std::runtime_error("liblzma decoder did not start");
  return RunStream(stream, packed, packed.size() * 4);
}

}  // namespace picture_tools
