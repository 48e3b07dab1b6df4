// BMP header checks.
//
// The picture comes from flash and is not trusted. Every size and offset is
// formed so that it cannot wrap, and together the checks prove, before any
// pixel is read, that each row of pixel data lies inside the bytes given:
//   - the row size R covers the bytes a row's pixels take (the width x depth
//     product must fit the 32-bit row size, or the header is rejected);
//   - the pixel data is exactly height x R bytes and ends at the picture's end.
#include "display/bmp_check.h"

#include "base/memory.h"

namespace {

// Entries of the colour map a depth indexes: 2, 16 and 256 for depths 1, 4
// and 8 (0 for the direct-colour depths).
UINT32 ColourMapEntries(UINT16 BitsPerPixel) {
  if (BitsPerPixel == 1 || BitsPerPixel == 4 || BitsPerPixel == 8) return 1u << BitsPerPixel;
  return 0;
}

bool IsConvertedDepth(UINT16 BitsPerPixel) {
  return BitsPerPixel == 1 || BitsPerPixel == 4 || BitsPerPixel == 8 || BitsPerPixel == 24;
}

}  // namespace

BmpFault CheckBmp(const void *Bmp, UINTN BmpSize, BmpLayout *Layout) {
  *Layout = BmpLayout{};
  const UINT8 *bmp = static_cast<const UINT8 *>(Bmp);

  // 1. A picture large enough for the header.
  if (bmp == nullptr || BmpSize < kBmpHeaderSize) return BmpFault::TooSmall;
  BmpLayout &layout = *Layout;
  layout.FileSize = ReadLe32(bmp + 2);
  layout.PixelOffset = ReadLe32(bmp + 10);
  layout.InfoHeaderSize = ReadLe32(bmp + 14);
  layout.Width = ReadLe32(bmp + 18);
  layout.Height = ReadLe32(bmp + 22);
  layout.BitsPerPixel = ReadLe16(bmp + 28);
  layout.Compression = ReadLe32(bmp + 30);
  layout.ColourMapEntries = ColourMapEntries(layout.BitsPerPixel);

  // 2. The "BM" signature.
  if (bmp[0] != 0x42 || bmp[1] != 0x4D) return BmpFault::NoSignature;
  // 3. Uncompressed.
  if (layout.Compression != 0) return BmpFault::Compressed;
  // 4. The 40-byte information header.
  if (layout.InfoHeaderSize != kBmpInfoHeaderSize) return BmpFault::InfoHeaderSize;

  // 5. Row size R: the row's bits rounded up to whole 32-bit words. A width
  // whose bits do not fit 32 bits would give a row size shorter than the row,
  // so such a header is rejected rather than wrapped.
  const UINT64 row_bits = static_cast<UINT64>(layout.Width) * layout.BitsPerPixel + 31;
  if (row_bits > 0xFFFFFFFFu) return BmpFault::RowTooWide;
  layout.RowSize = (static_cast<UINT32>(row_bits) / 8) & ~3u;
  layout.PixelDataSize = static_cast<UINT64>(layout.RowSize) * layout.Height;
  if (layout.PixelDataSize > 0xFFFFFFFFu) return BmpFault::PixelDataTooLarge;

  // 6. The file size field names exactly the bytes read.
  if (layout.FileSize != BmpSize) return BmpFault::FileSizeMismatch;
  // 7. The pixel data starts inside the file.
  if (layout.PixelOffset > layout.FileSize) return BmpFault::PixelOffsetPastEnd;
  // 8. The pixel data is exactly height rows of R bytes, up to the file's end.
  if (layout.FileSize - layout.PixelOffset != layout.PixelDataSize) return BmpFault::PixelDataSize;
  // 9. The pixel data does not overlap the header.
  if (layout.PixelOffset < kBmpHeaderSize) return BmpFault::PixelOffsetInHeader;
  // 10. A gap between the header and the pixel data holds the whole colour map.
  if (layout.PixelOffset > kBmpHeaderSize &&
      layout.PixelOffset - kBmpHeaderSize < layout.ColourMapEntries * kBmpColourMapEntrySize) {
    return BmpFault::ColourMapShort;
  }
  // 11. The pixel count times 4 cannot overflow.
  const UINT64 pixel_count = static_cast<UINT64>(layout.Width) * layout.Height;
  if (pixel_count > 0x3FFFFFFFFFFFFFFFull) return BmpFault::TooManyPixels;
  // A depth that is not converted fails at its first pixel; a picture that has
  // pixels is refused before its output is allocated (a 54-byte file of depth 0
  // could otherwise ask for gigabytes).
  if (pixel_count != 0 && !IsConvertedDepth(layout.BitsPerPixel)) return BmpFault::UnsupportedDepth;
  return BmpFault::None;
}
