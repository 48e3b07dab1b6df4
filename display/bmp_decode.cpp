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

#include "base/calling_convention.h"
#include "base/driver_state.h"
#include "base/memory.h"
#include "display/streaming_store.h"

namespace {

constexpr UINT32 kLargestColourMap = 256;

// A pixel's blue, green and red as one little-endian word, reserved byte 0:
// the byte order of EFI_GRAPHICS_OUTPUT_BLT_PIXEL.
UINT32 PackColour(const UINT8 *BlueGreenRed) { return static_cast<UINT32>(ReadLittleEndian(BlueGreenRed, 3)); }

// Copies the colour map, which starts at byte 54, into Map. An entry whose
// blue, green and red bytes do not all lie inside the picture reads as black:
// when the pixel data starts at byte 54 the map overlaps it and may run past
// the picture's end.
void LoadColourMap(const UINT8 *Bmp, UINTN BmpSize, UINT32 Entries, UINT32 *Map) {
  const UINTN bytes_after_header = BmpSize - kBmpHeaderSize;
  for (UINT32 index = 0; index < Entries; ++index) {
    const UINTN entry_offset = static_cast<UINTN>(index) * kBmpColourMapEntrySize;
    Map[index] = entry_offset + 3 <= bytes_after_header ? PackColour(Bmp + kBmpHeaderSize + entry_offset) : 0;
  }
}

// Each row is converted in loops that check nothing but their count: blocks
// of pixels, then the pixels left at the end (for 24 bits, first a single
// pixel up to the output's first 8-byte boundary, as its blocks store pixels
// in pairs). Every store streams (see display/streaming_store.h). The rows
// read only the bytes their pixels occupy, at most R bytes.

inline bool IsStreamAligned(const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixel) {
  return (reinterpret_cast<UINTN>(Pixel) & 7) == 0;
}

// Two 24-bit pixels, read as one little-endian word (and two bytes more), as
// two output pixels in one word, reserved bytes 0.
inline UINT64 SpreadPair(UINT64 Bytes) { return (Bytes & 0xFFFFFFull) | ((Bytes << 8) & 0x00FFFFFF00000000ull); }

// 24 bits: blue, green and red bytes. One call a row (out of line: inlined,
// the image is larger).
__attribute__((noinline)) NOTICE_INTERNAL_CALL void ConvertDirectRow(const UINT8 *Source,
                                                                     EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Row, UINT32 Width) {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *const end = Row + Width;
  if (Row != end && !IsStreamAligned(Row)) {
    StreamStore32(Row++, PackColour(Source));
    Source += 3;
  }
  // Four pixels from two 8-byte reads at bytes 0 and 6, which end 2 bytes past
  // the fourth pixel: inside the row while a fifth pixel follows.
  const UINTN left = static_cast<UINTN>(end - Row);
  for (UINTN blocks = left > 4 ? (left - 1) / 4 : 0; blocks != 0; --blocks) {
    const UINT64 first = ReadLe64(Source);
    const UINT64 second = ReadLe64(Source + 6);
    StreamStore64(Row, SpreadPair(first));
    StreamStore64(Row + 2, SpreadPair(second));
    Row += 4;
    Source += 12;
  }
  for (; Row != end; Source += 3) StreamStore32(Row++, PackColour(Source));
}

// 8 bits: one colour-map index a byte; four indices per 4-byte read, each
// pixel in its own 4-byte store (a table lookup leaves nothing to gain from
// pairing the stores). One call a row (out of line: inlined, the image is larger).
__attribute__((noinline)) NOTICE_INTERNAL_CALL void ConvertByteIndexRow(const UINT8 *Source,
                                                                        EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Row,
                                                                        UINT32 Width, const UINT32 *Map) {
  for (UINT32 blocks = Width / 4; blocks != 0; --blocks) {
    const UINT32 indices = ReadLe32(Source);
    StreamStore32(Row, Map[indices & 0xFF]);
    StreamStore32(Row + 1, Map[(indices >> 8) & 0xFF]);
    StreamStore32(Row + 2, Map[(indices >> 16) & 0xFF]);
    StreamStore32(Row + 3, Map[indices >> 24]);
    Row += 4;
    Source += 4;
  }
  for (UINT32 left = Width % 4; left != 0; --left) StreamStore32(Row++, Map[*Source++]);
}

// 1 or 4 bits: 8 / Depth colour-map indices a byte, the leftmost pixel in the
// high bits, one read per byte. So a 4-bit row of odd width uses only the high
// nibble of its last byte, and a 1-bit row only the leading bits of its last byte.
EFI_GRAPHICS_OUTPUT_BLT_PIXEL *ConvertIndexByte(UINT32 Byte, UINT32 Pixels, UINT32 Depth,
                                                EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Row, const UINT32 *Map) {
  const UINT32 index_mask = (1u << Depth) - 1;
  for (; Pixels != 0; --Pixels) {
    Byte <<= Depth;
    StreamStore32(Row++, Map[(Byte >> 8) & index_mask]);
  }
  return Row;
}

void ConvertBitIndexRow(const UINT8 *Source, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Row, UINT32 Width, UINT32 Depth,
                        const UINT32 *Map) {
  const UINT32 per_byte = 8 / Depth;
  for (UINT32 bytes = Width / per_byte; bytes != 0; --bytes) {
    Row = ConvertIndexByte(*Source++, per_byte, Depth, Row, Map);
  }
  if (Width % per_byte != 0) ConvertIndexByte(*Source, Width % per_byte, Depth, Row, Map);
}

}  // namespace

void FillGopBlt(const void *Bmp, UINTN BmpSize, const BmpLayout &Layout, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels) {
  const UINT8 *bmp = static_cast<const UINT8 *>(Bmp);
  UINT32 colour_map[kLargestColourMap];
  LoadColourMap(bmp, BmpSize, Layout.ColourMapEntries, colour_map);

  // Rows are stored bottom row first; each takes exactly R bytes of the file.
  const UINT32 width = Layout.Width;
  const UINT32 height = Layout.Height;
  const UINT8 *source = bmp + Layout.PixelOffset;
  for (UINT32 file_row = 0; width != 0 && file_row < height; ++file_row, source += Layout.RowSize) {
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *row = Pixels + static_cast<UINTN>(height - 1 - file_row) * width;
    if (Layout.BitsPerPixel == 24) {
      ConvertDirectRow(source, row, width);
    } else if (Layout.BitsPerPixel == 8) {
      ConvertByteIndexRow(source, row, width, colour_map);
    } else {
      ConvertBitIndexRow(source, row, width, Layout.BitsPerPixel, colour_map);
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
  const UINTN pixel_count = static_cast<UINTN>(layout.Width) * layout.Height;
  const EFI_STATUS status = gDriver.BootServices->AllocatePool(
      EfiBootServicesData, pixel_count * sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &output);
  if (EFI_ERROR(status) || output == nullptr) return EFI_OUT_OF_RESOURCES;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *pixels = static_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(output);

  FillGopBlt(BmpImage, BmpImageSize, layout, pixels);

  *GopBlt = pixels;
  *PixelWidth = layout.Width;
  *PixelHeight = layout.Height;
  return EFI_SUCCESS;
}
