// BMP conversion.
//
// The checks in display/bmp_check.cpp have proved, before any pixel is read,
// that each row of pixel data lies inside the picture, so the row loops below
// need no per-pixel bounds checks. Every colour-map lookup goes through a
// local copy of the map whose entries beyond the picture read as black.
//
// The reserved byte of every output pixel is written as 0, so no stale pool
// contents reach the screen.
#include "display/bmp_decode.h"

#include "core/driver_state.h"
#include "core/memory.h"
#include "display/streaming_store.h"

namespace {

constexpr UINT32 kLargestColourMap = 256;

// A pixel's blue, green and red as one little-endian word, reserved byte 0:
// the byte order of EFI_GRAPHICS_OUTPUT_BLT_PIXEL.
UINT32 PackColour(const UINT8 *BlueGreenRed) {
  return static_cast<UINT32>(BlueGreenRed[0]) | (static_cast<UINT32>(BlueGreenRed[1]) << 8) |
         (static_cast<UINT32>(BlueGreenRed[2]) << 16);
}

// Copies the colour map, which starts at byte 54, into Map. An entry whose
// blue, green and red bytes do not all lie inside the picture reads as black:
// when the pixel data starts at byte 54 the map overlaps it and may run past
// the picture's end.
void LoadColourMap(const UINT8 *Bmp, UINTN BmpSize, UINT32 Entries, UINT32 *Map) {
  const UINTN bytesAfterHeader = BmpSize - kBmpHeaderSize;
  for (UINT32 index = 0; index < Entries; ++index) {
    const UINTN entryOffset = static_cast<UINTN>(index) * kBmpColourMapEntrySize;
    Map[index] = entryOffset + 3 <= bytesAfterHeader ? PackColour(Bmp + kBmpHeaderSize + entryOffset) : 0;
  }
}

// Writes a whole pixel: blue, green, red and a reserved byte of 0.
inline void PutColour(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixel, UINT32 Colour) { CopyBytes(Pixel, &Colour, sizeof(Colour)); }

// Four pixels as two 64-bit words, each pair stored in one streaming store.
inline void StreamFourPixels(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Destination, UINT64 FirstPair, UINT64 SecondPair) {
  StreamStore64(Destination, FirstPair);
  StreamStore64(Destination + 2, SecondPair);
}

inline bool IsStreamAligned(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixel) {
  return (reinterpret_cast<UINTN>(Pixel) & 7) == 0;
}

// Two 24-bit pixels read as one little-endian word (and two bytes more) as
// two output pixels, reserved bytes 0.
inline UINT64 SpreadPair(UINT64 Bytes) { return (Bytes & 0xFFFFFFull) | ((Bytes << 8) & 0x00FFFFFF00000000ull); }

// The rows below read only the bytes their pixels occupy, at most R bytes.
// Where four pixels start at an 8-byte boundary they are converted and stored
// together; the first pixels of a row up to that boundary, and its last ones,
// go one at a time.

// 24 bits: blue, green and red bytes.
void ConvertDirectRow(const UINT8 *__restrict Source, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *__restrict Row, UINT32 Width) {
  for (UINT32 x = 0; x < Width;) {
    // Four pixels from bytes 3x to 3x + 13: inside the row while x + 5 <= width.
    if (x + 5 <= Width && IsStreamAligned(Row + x)) {
      UINT64 first;
      UINT64 second;
      CopyBytes(&first, Source, sizeof(first));        // pixels x, x + 1 and two more bytes
      CopyBytes(&second, Source + 6, sizeof(second));  // pixels x + 2, x + 3 and two more bytes
      StreamFourPixels(Row + x, SpreadPair(first), SpreadPair(second));
      x += 4;
      Source += 12;
      continue;
    }
    PutColour(Row + x, PackColour(Source));
    x += 1;
    Source += 3;
  }
}

// 1, 4 or 8 bits: pixel x's colour-map index is the Depth bits at bit
// x x Depth of the row, the leftmost pixel in the high bits of a byte. So a
// 4-bit row of odd width uses only the high nibble of its last byte, and a
// 1-bit row only the leading bits of its last byte.
void ConvertIndexedRow(const UINT8 *__restrict Source, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *__restrict Row, UINT32 Width,
                       UINT32 Depth, const UINT32 *__restrict Map) {
  const UINT32 indexMask = (1u << Depth) - 1;
  for (UINT32 x = 0; x < Width;) {
    if (Depth == 8 && x + 4 <= Width && IsStreamAligned(Row + x)) {
      StreamFourPixels(Row + x, Map[Source[x]] | static_cast<UINT64>(Map[Source[x + 1]]) << 32,
                       Map[Source[x + 2]] | static_cast<UINT64>(Map[Source[x + 3]]) << 32);
      x += 4;
      continue;
    }
    const UINTN bit = static_cast<UINTN>(x) * Depth;
    const UINT32 index = (Source[bit / 8] >> (8 - Depth - bit % 8)) & indexMask;
    PutColour(Row + x, Map[index]);
    x += 1;
  }
}

}  // namespace

void FillGopBlt(const void *Bmp, UINTN BmpSize, const BmpLayout &Layout, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels) {
  const UINT8 *bmp = static_cast<const UINT8 *>(Bmp);
  UINT32 colourMap[kLargestColourMap];
  LoadColourMap(bmp, BmpSize, Layout.ColourMapEntries, colourMap);

  // Rows are stored bottom row first; each takes exactly R bytes of the file.
  const UINT32 width = Layout.Width;
  const UINT32 height = Layout.Height;
  const UINT8 *source = bmp + Layout.PixelOffset;
  for (UINT32 fileRow = 0; width != 0 && fileRow < height; ++fileRow, source += Layout.RowSize) {
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *row = Pixels + static_cast<UINTN>(height - 1 - fileRow) * width;
    if (Layout.BitsPerPixel == 24) {
      ConvertDirectRow(source, row, width);
    } else {
      ConvertIndexedRow(source, row, width, Layout.BitsPerPixel, colourMap);
    }
  }

  FinishStreaming();
}

EFI_STATUS ConvertBmpToGopBltofTarvex(const void *BmpImage, UINTN BmpImageSize, EFI_GRAPHICS_OUTPUT_BLT_PIXEL **GopBlt,
                                      UINT32 *PixelWidth, UINT32 *PixelHeight) {
  *GopBlt = nullptr;
  BmpLayout layout;
  if (CheckBmp(BmpImage, BmpImageSize, &layout) != BmpFault::None) return EFI_UNSUPPORTED;

  // The output buffer.
  void *output = nullptr;
  const UINTN pixelCount = static_cast<UINTN>(layout.Width) * layout.Height;
  const EFI_STATUS status =
      gDriver.BootServices->AllocatePool(EfiBootServicesData, pixelCount * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &output);
  if (EFI_ERROR(status) || output == nullptr) return EFI_OUT_OF_RESOURCES;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = static_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(output);

  FillGopBlt(BmpImage, BmpImageSize, layout, pixels);

  *GopBlt = pixels;
  *PixelWidth = layout.Width;
  *PixelHeight = layout.Height;
  return EFI_SUCCESS;
}
