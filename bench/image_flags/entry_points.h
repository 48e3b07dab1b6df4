// The decoder and the formatting engine as built with the image's compiler
// flags (-Oz, link-time optimisation, general-purpose registers only), for the
// host benchmarks to measure beside the host-flags build of the same sources.
#pragma once

#include "efi/efi.h"
#include "print/format_args.h"

extern "C" EFI_STATUS ImageFlagsConvertBmpToGopBlt(const void *BmpImage, UINTN BmpImageSize,
                                                   EFI_GRAPHICS_OUTPUT_BLT_PIXEL **GopBlt, UINT32 *PixelWidth,
                                                   UINT32 *PixelHeight);

extern "C" UINTN ImageFlagsFormatTextList(void *Buffer, UINTN BufferSize, UINT32 Flags, const void *Format,
                                          FormatArgs Args);
