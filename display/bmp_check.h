// The checks a raw BMP picture must pass before it is converted, as a pure
// step over (bytes, size): no allocation, no firmware call. The decoder and the
// host tools run the same checks, so a tool can say which one a picture fails.
#pragma once

#include "efi/efi_types.h"

// The first check a picture fails, in the order the checks run.
enum class BmpFault : UINT8 {
  None = 0,             // every check passed
  TooSmall,             // absent, or shorter than the 54-byte header
  NoSignature,          // bytes 0 and 1 are not "BM"
  Compressed,           // compression field is not 0
  InfoHeaderSize,       // information header size is not 40
  RowTooWide,           // width x depth does not fit the 32-bit row size
  PixelDataTooLarge,    // row size x height above 0xFFFFFFFF
  FileSizeMismatch,     // file size field is not the number of bytes given
  PixelOffsetPastEnd,   // pixel data starts after the file's end
  PixelDataSize,        // file size - pixel offset is not height x row size
  PixelOffsetInHeader,  // pixel data starts inside the 54-byte header
  ColourMapShort,       // the gap before the pixel data cannot hold the colour map
  TooManyPixels,        // width x height x 4 would overflow
  UnsupportedDepth,     // a picture with pixels at a depth other than 1, 4, 8 or 24
};

// What the header says and what the checks derived from it. The header
// fields are filled whenever the picture holds the 54-byte header, also when a
// later check fails, so a caller can tell why.
struct BmpLayout {
  UINT32 FileSize;
  UINT32 PixelOffset;
  UINT32 InfoHeaderSize;
  UINT32 Width;
  UINT32 Height;
  UINT16 BitsPerPixel;
  UINT32 Compression;
  // Derived: bytes per stored row, the pixel data's size, colour-map entries
  // the depth indexes (0 for 24 bits and depths not converted).
  UINT32 RowSize;
  UINT64 PixelDataSize;
  UINT32 ColourMapEntries;
};

inline constexpr UINTN kBmpHeaderSize = 54;
inline constexpr UINT32 kBmpInfoHeaderSize = 40;
inline constexpr UINT32 kBmpColourMapEntrySize = 4;

// Runs the checks on the BmpSize bytes at Bmp and fills *Layout as far as the
// header allows. Reads only inside the bytes given.
BmpFault CheckBmp(const void *Bmp, UINTN BmpSize, BmpLayout *Layout);
