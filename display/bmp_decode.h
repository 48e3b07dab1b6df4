// Conversion of a raw BMP picture into graphics-output pixels.
#pragma once

#include "display/bmp_check.h"
#include "efi/efi.h"

// Checks (CheckBmp) the BMP picture of BmpImageSize bytes at BmpImage and converts it into
// a pool buffer (boot-services data) of width x height pixels, top row first.
// Only uncompressed pictures with the 40-byte information header and 1, 4, 8 or
// 24 bits per pixel are converted; the reserved byte of each pixel is 0.
//
// Every read stays inside the BmpImageSize bytes given, whatever the header
// claims. On success the caller owns *GopBlt; on failure *GopBlt is empty and
// the width and height are left alone.
EFI_STATUS ConvertBmpToGopBltofTarvex(const void *BmpImage, UINTN BmpImageSize, EFI_GRAPHICS_OUTPUT_BLT_PIXEL **GopBlt,
                                      UINT32 *PixelWidth, UINT32 *PixelHeight);

// Converts a picture that CheckBmp accepted with *Layout into the
// width x height pixels at Pixels, top row first. Reads only the BmpSize bytes
// at Bmp; writes exactly width x height pixels.
void FillGopBlt(const void *Bmp, UINTN BmpSize, const BmpLayout &Layout, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels);
