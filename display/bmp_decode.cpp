// BMP checks and conversion.
//
// The picture comes from flash and is not trusted. Every size and offset is
// formed so that it cannot wrap, and the checks below prove, before any pixel is
// read, that each row of pixel data lies inside the bytes given:
//   - the row size R covers the bytes a row's pixels take (the width x depth
//     product must fit the 32-bit row size, or the header is rejected);
//   - the pixel data is exactly height x R bytes and ends at the picture's end;
//   - every colour-map lookup goes through a local copy of the map whose
//     entries beyond the picture read as black.
// So the row loops below need no per-pixel bounds checks.
//
// The reserved byte of every output pixel is written as 0, so no stale pool
// contents reach the screen.
#include "display/bmp_decode.h"

#include "core/driver_state.h"
#include "core/memory.h"
#include "display/streaming_store.h"

namespace {

constexpr UINTN kBmpHeaderSize = 54;
constexpr UINT32 kInfoHeaderSize = 40;
constexpr UINT32 kColourMapEntrySize = 4;
constexpr UINT32 kLargestColourMap = 256;

struct BmpHeader {
  UINT32 FileSize;
  UINT32 PixelOffset;
  UINT32 InfoHeaderSize;
  UINT32 Width;
  UINT32 Height;
  UINT16 BitsPerPixel;
  UINT32 Compression;
};

UINT16 ReadLe16(const UINT8 *Bytes) { return static_cast<UINT16>(Bytes[0] | (Bytes[1] << 8)); }

UINT32 ReadLe32(const UINT8 *Bytes) {
  return static_cast<UINT32>(Bytes[0]) | (static_cast<UINT32>(Bytes[1]) << 8) |
         (static_cast<UINT32>(Bytes[2]) << 16) | (static_cast<UINT32>(Bytes[3]) << 24);
}

// Reads the fields the checks use from the 54-byte header (the caller has
// made sure the picture holds it).
BmpHeader ReadHeader(const UINT8 *Bmp) {
  BmpHeader header;
  header.FileSize = ReadLe32(Bmp + 2);
  header.PixelOffset = ReadLe32(Bmp + 10);
  header.InfoHeaderSize = ReadLe32(Bmp + 14);
  header.Width = ReadLe32(Bmp + 18);
  header.Height = ReadLe32(Bmp + 22);
  header.BitsPerPixel = ReadLe16(Bmp + 28);
  header.Compression = ReadLe32(Bmp + 30);
  return header;
}

// Entries of the colour map a depth indexes (0 for the direct-colour depths).
UINT32 ColourMapEntries(UINT16 BitsPerPixel) {
  switch (BitsPerPixel) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

bool IsConvertedDepth(UINT16 BitsPerPixel) {
  return BitsPerPixel == 1 || BitsPerPixel == 4 || BitsPerPixel == 8 || BitsPerPixel == 24;
}

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
    const UINTN entryOffset = static_cast<UINTN>(index) * kColourMapEntrySize;
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

EFI_STATUS ConvertBmpToGopBltofTarvex(const void *BmpImage, UINTN BmpImageSize, EFI_GRAPHICS_OUTPUT_BLT_PIXEL **GopBlt,
                                      UINT32 *PixelWidth, UINT32 *PixelHeight) {
  *GopBlt = nullptr;
  const UINT8 *bmp = static_cast<const UINT8 *>(BmpImage);

  // 1. A picture large enough for the header.
  if (bmp == nullptr || BmpImageSize < kBmpHeaderSize) return EFI_INVALID_PARAMETER;
  // 2. The "BM" signature.
  if (bmp[0] != 0x42 || bmp[1] != 0x4D) return EFI_UNSUPPORTED;
  const BmpHeader header = ReadHeader(bmp);
  // 3. Uncompressed.
  if (header.Compression != 0) return EFI_UNSUPPORTED;
  // 4. The 40-byte information header.
  if (header.InfoHeaderSize != kInfoHeaderSize) return EFI_UNSUPPORTED;

  // 5. Row size R: the row's bits rounded up to whole 32-bit words. A width
  // whose bits do not fit 32 bits would give a row size shorter than the row,
  // so such a header is rejected rather than wrapped.
  const UINT64 rowBits = static_cast<UINT64>(header.Width) * header.BitsPerPixel + 31;
  if (rowBits > 0xFFFFFFFFu) return EFI_UNSUPPORTED;
  const UINT32 rowSize = (static_cast<UINT32>(rowBits) / 8) & ~3u;
  const UINT64 pixelDataSize = static_cast<UINT64>(rowSize) * header.Height;
  if (pixelDataSize > 0xFFFFFFFFu) return EFI_UNSUPPORTED;

  // 6. The file size field names exactly the bytes read.
  if (header.FileSize != BmpImageSize) return EFI_UNSUPPORTED;
  // 7. The pixel data starts inside the file.
  if (header.PixelOffset > header.FileSize) return EFI_UNSUPPORTED;
  // 8. The pixel data is exactly height rows of R bytes, up to the file's end.
  if (header.FileSize - header.PixelOffset != pixelDataSize) return EFI_UNSUPPORTED;
  // 9. The pixel data does not overlap the header.
  if (header.PixelOffset < kBmpHeaderSize) return EFI_UNSUPPORTED;
  // 10. A gap between the header and the pixel data holds the whole colour map.
  const UINT32 mapEntries = ColourMapEntries(header.BitsPerPixel);
  if (header.PixelOffset > kBmpHeaderSize && header.PixelOffset - kBmpHeaderSize < mapEntries * kColourMapEntrySize) {
    return EFI_UNSUPPORTED;
  }
  // 11. The pixel count times 4 cannot overflow.
  const UINT64 pixelCount = static_cast<UINT64>(header.Width) * header.Height;
  if (pixelCount > 0x3FFFFFFFFFFFFFFFull) return EFI_UNSUPPORTED;
  // A depth that is not converted fails at its first pixel; a picture that has
  // pixels is refused before its output is allocated (a 54-byte file of depth 0
  // could otherwise ask for gigabytes).
  if (pixelCount != 0 && !IsConvertedDepth(header.BitsPerPixel)) return EFI_UNSUPPORTED;

  // 12. The output buffer.
  void *output = nullptr;
  const EFI_STATUS status =
      gDriver.BootServices->AllocatePool(EfiBootServicesData, pixelCount * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &output);
  if (EFI_ERROR(status) || output == nullptr) return EFI_OUT_OF_RESOURCES;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = static_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(output);

  UINT32 colourMap[kLargestColourMap];
  LoadColourMap(bmp, BmpImageSize, mapEntries, colourMap);

  // Rows are stored bottom row first; each takes exactly R bytes of the file.
  const UINT32 width = header.Width;
  const UINT32 height = header.Height;
  const UINT8 *source = bmp + header.PixelOffset;
  for (UINT32 fileRow = 0; width != 0 && fileRow < height; ++fileRow, source += rowSize) {
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *row = pixels + static_cast<UINTN>(height - 1 - fileRow) * width;
    if (header.BitsPerPixel == 24) {
      ConvertDirectRow(source, row, width);
    } else {
      ConvertIndexedRow(source, row, width, header.BitsPerPixel, colourMap);
    }
  }

  FinishStreaming();

  *GopBlt = pixels;
  *PixelWidth = width;
  *PixelHeight = height;
  return EFI_SUCCESS;
}
