// Entry points of the decoder and the formatting engine for the benchmark
// copy built with the image's compiler flags (see cmake/bench-image-flags.cmake).
// Only these names stay global in that copy; every driver routine inside it
// is local, so it links beside the host-flags driver library.
#include "display/bmp_decode.h"
#include "print/format_text.h"

extern "C" EFI_STATUS ImageFlagsConvertBmpToGopBlt(const void *BmpImage, UINTN BmpImageSize,
                                                   EFI_GRAPHICS_OUTPUT_BLT_PIXEL **GopBlt, UINT32 *PixelWidth,
                                                   UINT32 *PixelHeight) {
  return ConvertBmpToGopBltofTarvex(BmpImage, BmpImageSize, GopBlt, PixelWidth, PixelHeight);
}

extern "C" UINTN ImageFlagsFormatTextList(void *Buffer, UINTN BufferSize, FormatFlags Flags, const void *Format,
                                          FormatArgs Args) {
  return FormatTextList(Buffer, BufferSize, Flags, Format, Args);
}
