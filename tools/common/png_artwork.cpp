// PNG through libpng's own reader, under explicit limits: the size of the
// largest screen, a cap on each chunk's memory and on the chunks kept, and
// every chunk but the picture's own (IHDR, PLTE, tRNS, IDAT) skipped unread.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "tools/common/artwork_formats.h"
#include "tools/common/input_limits.h"

namespace picture_tools {
namespace {

// What the libpng callbacks share: plain data only, since libpng leaves its
// calls by longjmp, which must not skip a destructor.
struct PngSource {
  const uint8_t *bytes = nullptr;
  size_t size = 0;
  size_t at = 0;
  char error[256] = {};
  bool over_size_limit = false;  // libpng warned that IHDR exceeds the user limits
  char first_warning[256] = {};  // what libpng found wrong before an error that says less
};

void OnPngError(png_structp png, png_const_charp message) {
  auto *source = static_cast<PngSource *>(png_get_error_ptr(png));
  std::snprintf(source->error, sizeof(source->error), "%s", message);
  png_longjmp(png, 1);
}

// Warnings are about chunks libpng skips (a bad checksum in an ancillary
// chunk, say); the picture itself is read or refused with an error. Only the
// size check warns before its error ("Invalid IHDR data"), which then says less.
void OnPngWarning(png_structp png, png_const_charp message) {
  auto *source = static_cast<PngSource *>(png_get_error_ptr(png));
  if (std::strstr(message, "exceeds user limit") != nullptr) source->over_size_limit = true;
  if (source->first_warning[0] == '\0')
    std::snprintf(source->first_warning, sizeof(source->first_warning), "%s", message);
}

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
  auto *source = static_cast<PngSource *>(png_get_io_ptr(png));
  if (length > source->size - source->at) png_error(png, "the file ends inside a chunk: it is cut short");
  std::memcpy(out, source->bytes + source->at, length);
  source->at += length;
}

// Ancillary chunks the conversion has no use for: colour management, text,
// time, histograms. Skipped as unknown chunks are, without being held in memory.
constexpr png_byte kSkippedChunks[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0"
    "sRGB\0sTER\0tEXt\0tIME\0zTXt";
constexpr int kSkippedChunkCount = sizeof(kSkippedChunks) / 5;

// The read state, destroyed on every path out.
class PngReadState {
 public:
  explicit PngReadState(PngSource *source) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, source, OnPngError, OnPngWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
    if (png_ != nullptr) png_set_read_fn(png_, source, ReadFromMemory);
  }
  PngReadState(const PngReadState &) = delete;
  PngReadState &operator=(const PngReadState &) = delete;
  ~PngReadState() {
    if (png_ != nullptr) png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr);
  }
  bool Ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// The three steps that call into libpng. Each sets its own return point and
// holds nothing with a destructor, so an error comes back as false with
// libpng's message in the source.
bool ReadHeader(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, kLargestScreenWidth, kLargestScreenHeight);
  png_set_chunk_cache_max(png, kMaxPngCachedChunks);
  png_set_chunk_malloc_max(png, kMaxPngChunkBytes);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, kSkippedChunkCount);
  png_read_info(png, info);
  return true;
}

// Every colour type to red, green, blue and alpha at the file's depth (8 or 16).
bool SetRgbaOutput(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool ReadRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

// IHDR's width and height as stored, for the message when libpng refuses
// them (it names only the limit). Zero when the file has no IHDR first.
std::pair<uint32_t, uint32_t> DeclaredSize(std::span<const uint8_t> bytes) {
  if (bytes.size() < 24 || std::memcmp(bytes.data() + 12, "IHDR", 4) != 0) return {0, 0};
  const auto be32 = [&](size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
  };
  return {be32(16), be32(20)};
}

std::string ColourTypeName(int type) {
  switch (type) {
    case PNG_COLOR_TYPE_GRAY:
      return "grey";
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return "grey and alpha";
    case PNG_COLOR_TYPE_PALETTE:
      return "palette";
    case PNG_COLOR_TYPE_RGB:
      return "RGB";
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return "RGBA";
    default:
      return "colour type " + std::to_string(type);
  }
}

ArtworkError LibpngError(const PngSource &source, std::span<const uint8_t> bytes) {
  if (source.over_size_limit) {
    const auto [width, height] = DeclaredSize(bytes);
    CheckArtworkSize(width, height, "PNG");  // throws, naming the size and the limit
  }
  // libpng checks every IHDR field with a warning, then fails with "Invalid
  // IHDR data": the warning says which field.
  if (std::strcmp(source.error, "Invalid IHDR data") == 0 && source.first_warning[0] != '\0') {
    return ArtworkError(std::string("unreadable PNG: ") + source.first_warning);
  }
  return ArtworkError(std::string("unreadable PNG: ") + source.error);
}

// 16-bit channels (big-endian, as libpng gives them) rounded to 8 bits;
// counts the pixels where any channel was not an 8-bit value widened.
uint64_t NarrowTo8Bits(const std::vector<uint8_t> &wide, std::vector<Rgba> &pixels) {
  uint64_t changed = 0;
  for (size_t i = 0; i < pixels.size(); ++i) {
    uint8_t channel[4];
    bool exact = true;
    for (size_t c = 0; c < 4; ++c) {
      const uint32_t value = uint32_t{wide[8 * i + 2 * c]} << 8 | wide[8 * i + 2 * c + 1];
      channel[c] = static_cast<uint8_t>((value * 255 + 32767) / 65535);
      exact = exact && value == channel[c] * 257u;
    }
    pixels[i] = {channel[0], channel[1], channel[2], channel[3]};
    changed += exact ? 0 : 1;
  }
  return changed;
}

}  // namespace

Artwork ReadPngArtwork(std::span<const uint8_t> bytes) {
  PngSource source;
  source.bytes = bytes.data();
  source.size = bytes.size();
  PngReadState state(&source);
  if (!state.Ready()) throw ArtworkError("libpng could not start");
  if (!ReadHeader(state.png(), state.info())) throw LibpngError(source, bytes);

  const uint32_t width = png_get_image_width(state.png(), state.info());
  const uint32_t height = png_get_image_height(state.png(), state.info());
  const int depth = png_get_bit_depth(state.png(), state.info());
  const int type = png_get_color_type(state.png(), state.info());
  const bool interlaced = png_get_interlace_type(state.png(), state.info()) != PNG_INTERLACE_NONE;
  const bool transparency = png_get_valid(state.png(), state.info(), PNG_INFO_tRNS) != 0;
  CheckArtworkSize(width, height, "PNG");
  if (!SetRgbaOutput(state.png(), state.info())) throw LibpngError(source, bytes);

  const size_t channel_bytes = depth == 16 ? 2 : 1;
  const size_t row_bytes = size_t{width} * 4 * channel_bytes;
  if (png_get_rowbytes(state.png(), state.info()) != row_bytes) {
    throw ArtworkError("libpng gives rows of " + std::to_string(png_get_rowbytes(state.png(), state.info())) +
                       " bytes, not " + std::to_string(row_bytes));
  }
  std::vector<uint8_t> samples(row_bytes * height);
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y) rows[y] = samples.data() + y * row_bytes;
  if (!ReadRows(state.png(), rows.data())) throw LibpngError(source, bytes);

  Artwork art;
  art.Width = width;
  art.Height = height;
  art.BitsPerChannel = depth == 16 ? 16 : 8;
  art.Kind = "PNG, " + std::to_string(depth) + "-bit " + ColourTypeName(type) +
             (transparency ? " with transparency" : "") + (interlaced ? ", interlaced" : "");
  art.Pixels.resize(size_t{width} * height);
  if (depth == 16) {
    art.PrecisionLostPixels = NarrowTo8Bits(samples, art.Pixels);
  } else {
    std::memcpy(art.Pixels.data(), samples.data(), samples.size());
  }
  return art;
}

}  // namespace picture_tools
