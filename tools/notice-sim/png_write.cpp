#include "png_write.h"

#include <png.h>

#include <csetjmp>
#include <new>

namespace preview {

namespace {

// What the libpng callbacks share: plain data only, since libpng leaves its
// calls by longjmp, which must not skip a destructor.
struct PngSink {
  std::vector<uint8_t> *bytes = nullptr;
  bool out_of_memory = false;
};

void WriteToMemory(png_structp png, png_bytep data, size_t length) {
  auto *sink = static_cast<PngSink *>(png_get_io_ptr(png));
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + length);
  } catch (const std::bad_alloc &) {
    sink->out_of_memory = true;
  }
  if (sink->out_of_memory) png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

// The write state, destroyed on every path out.
class PngWriteState {
 public:
  PngWriteState() {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  PngWriteState(const PngWriteState &) = delete;
  PngWriteState &operator=(const PngWriteState &) = delete;
  ~PngWriteState() {
    if (png_ != nullptr) png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr);
  }
  bool Ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// Calls into libpng under its own return point and holds nothing with a
// destructor; `row` has room for one row of RGB.
bool WriteImage(png_structp png, png_infop info, PngSink *sink, uint32_t width, uint32_t height,
                const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, sink, WriteToMemory, FlushNothing);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) {
    const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *src = pixels + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; ++x) {
      row[x * 3] = src[x].Red;
      row[x * 3 + 1] = src[x].Green;
      row[x * 3 + 2] = src[x].Blue;
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::string EncodePng(uint32_t width, uint32_t height, const std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> &pixels,
                      std::vector<uint8_t> *png) {
  if (pixels.size() != static_cast<size_t>(width) * height) return "framebuffer size does not match the screen";
  PngWriteState state;
  if (!state.Ready()) return "libpng could not start";
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  PngSink sink;
  png->clear();
  sink.bytes = png;
  if (!WriteImage(state.png(), state.info(), &sink, width, height, pixels.data(), row.data())) {
    return sink.out_of_memory ? "out of memory while encoding a PNG" : "libpng failed encoding a PNG";
  }
  return {};
}

}  // namespace preview
