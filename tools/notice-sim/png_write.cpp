#include "png_write.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace preview {

namespace {

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};

}  // namespace

std::string WritePng(const std::string &path, uint32_t width, uint32_t height,
                     const std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> &pixels) {
  if (pixels.size() != static_cast<size_t>(width) * height) return "framebuffer size does not match the screen";
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return "cannot create " + path + ": " + std::strerror(errno);

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return "libpng could not start";
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return "libpng could not start";
  }
  // Rows are converted one at a time into this buffer, which lives outside
  // the setjmp frame so a libpng error cannot leave it half-built.
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "libpng failed writing " + path;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) {
    const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *src = pixels.data() + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; ++x) {
      row[x * 3] = src[x].Red;
      row[x * 3 + 1] = src[x].Green;
      row[x * 3 + 2] = src[x].Blue;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) return "cannot write " + path + ": " + std::strerror(errno);
  return {};
}

}  // namespace preview
