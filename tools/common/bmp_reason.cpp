#include "tools/common/bmp_reason.h"

#include <cstring>

#include "tools/common/artwork_read.h"
#include "tools/common/number_text.h"

namespace picture_tools {
namespace {

constexpr const char *kConvertHint = "notice-pack convert writes an accepted BMP";

bool StartsWith(ByteSpan bytes, const char *prefix, size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

std::string CompressionName(uint32_t compression) {
  switch (compression) {
    case 1:
      return "RLE8";
    case 2:
      return "RLE4";
    case 3:
      return "colour masks (BITFIELDS)";
    case 4:
      return "JPEG";
    case 5:
      return "PNG";
    case 6:
      return "colour and alpha masks (ALPHABITFIELDS)";
    default:
      return "unknown";
  }
}

bool IsTopDown(const BmpLayout &layout) { return static_cast<int32_t>(layout.Height) < 0; }

std::string Bits(const BmpLayout &layout) { return std::to_string(layout.BitsPerPixel) + "-bit"; }

std::string NoBmpReason(ByteSpan bytes) {
  if (const std::string format = OtherFormatName(bytes); !format.empty()) {
    return "this is a " + format + " file, not a BMP: " + kConvertHint + " from it";
  }
  if (bytes.size() < 2) return "the file holds " + std::to_string(bytes.size()) + " byte(s): not a picture";
  char first[32];
  std::snprintf(first, sizeof(first), "0x%02X 0x%02X", bytes[0], bytes[1]);
  return std::string("the file does not start with \"BM\" (it starts ") + first +
         "): not a BMP; give a BMP file, or convert the artwork with notice-pack convert";
}

std::string PixelDataSizeReason(const BmpLayout &layout) {
  return "the pixel data from byte " + GroupDigits(layout.PixelOffset) + " to the end holds " +
         GroupDigits(layout.FileSize - layout.PixelOffset) + " bytes, but " + GroupDigits(layout.Height) + " rows of " +
         GroupDigits(layout.RowSize) + " bytes take " + GroupDigits(layout.PixelDataSize) +
         ": the file is cut short or has bytes after its pixels; write it again, with nothing after the last row";
}

}  // namespace

std::string OtherFormatName(ByteSpan bytes) {
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8)) return "PNG";
  if (StartsWith(bytes, "\xFF\xD8\xFF", 3)) return "JPEG";
  if (StartsWith(bytes, "GIF8", 4)) return "GIF";
  if (StartsWith(bytes, "RIFF", 4) && bytes.size() >= 12 && std::memcmp(bytes.data() + 8, "WEBP", 4) == 0) {
    return "WebP";
  }
  if (StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4)) return "TIFF";
  return {};
}

std::string BmpFaultReason(BmpFault fault, const BmpLayout &layout, ByteSpan bytes) {
  // A top-down picture's height is negative; as the driver reads it, a huge
  // height, so it fails whichever size check comes first.
  const bool sizeFault = fault == BmpFault::PixelDataTooLarge || fault == BmpFault::PixelDataSize ||
                         fault == BmpFault::FileSizeMismatch || fault == BmpFault::TooManyPixels;
  if (sizeFault && IsTopDown(layout)) {
    return "top-down BMP (negative height) is not accepted: store rows bottom-up (" + std::string(kConvertHint) + ")";
  }
  switch (fault) {
    case BmpFault::None:
      return "accepted";
    case BmpFault::TooSmall:
      if (bytes.empty()) return kEmptyFileReason;
      if (!OtherFormatName(bytes).empty()) return NoBmpReason(bytes);
      return "only " + GroupDigits(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes") +
             ": a BMP needs at least its 54-byte header";
    case BmpFault::NoSignature:
      return NoBmpReason(bytes);
    case BmpFault::Compressed:
      if (layout.Compression == 3 || layout.Compression == 6) {
        // Masks come with 16- and 32-bit pictures, mostly in the larger headers.
        return "BMP with " + CompressionName(layout.Compression) + " (a " + Bits(layout) + " picture with a " +
               GroupDigits(layout.InfoHeaderSize) +
               "-byte header) is not accepted: only 1, 4, 8 or 24 bits per pixel without masks, in the 40-byte "
               "header; " +
               kConvertHint;
      }
      return "compressed BMP (" + CompressionName(layout.Compression) + ", compression " +
             std::to_string(layout.Compression) + ") is not accepted: only uncompressed pictures; " + kConvertHint;
    case BmpFault::InfoHeaderSize:
      return "BMP header of " + GroupDigits(layout.InfoHeaderSize) +
             " bytes is not accepted: only the 40-byte header; " + kConvertHint;
    case BmpFault::RowTooWide:
      return "width " + GroupDigits(layout.Width) + " at " + Bits(layout) +
             " gives a row longer than 4 GiB: the header's width or depth is wrong";
    case BmpFault::PixelDataTooLarge:
      return GroupDigits(layout.Width) + " x " + GroupDigits(layout.Height) + " pixels at " + Bits(layout) +
             " need more than 4 GiB of pixel data: the header's size fields are wrong";
    case BmpFault::FileSizeMismatch:
      return "file size field " + GroupDigits(layout.FileSize) + " differs from the " + GroupDigits(bytes.size()) +
             " bytes stored: " +
             (layout.FileSize > bytes.size() ? "the file is cut short; write it again in full"
                                             : "write the file's length into the field (bytes 2-5)");
    case BmpFault::PixelOffsetPastEnd:
      return "the pixel data offset " + GroupDigits(layout.PixelOffset) + " lies past the end of the " +
             GroupDigits(layout.FileSize) + "-byte file: the header is damaged; write the file again";
    case BmpFault::PixelDataSize:
      return PixelDataSizeReason(layout);
    case BmpFault::PixelOffsetInHeader:
      return "the pixel data offset " + GroupDigits(layout.PixelOffset) +
             " lies inside the 54-byte header: the header is damaged; write the file again";
    case BmpFault::ColourMapShort:
      return Bits(layout) + " pictures need the full " + GroupDigits(layout.ColourMapEntries * kBmpColourMapEntrySize) +
             "-byte colour map between byte 54 and the pixel data; this one has " +
             GroupDigits(layout.PixelOffset - kBmpHeaderSize) + " bytes; write all " +
             std::to_string(layout.ColourMapEntries) + " entries (" + kConvertHint + ")";
    case BmpFault::TooManyPixels:
      return GroupDigits(layout.Width) + " x " + GroupDigits(layout.Height) +
             " pixels cannot be decoded in memory: the header's size fields are wrong";
    case BmpFault::UnsupportedDepth:
      return Bits(layout) + " pictures are not accepted: only 1, 4, 8 or 24 bits per pixel; " + kConvertHint +
             " at the smallest depth that holds its colours";
  }
  return "refused by the driver's checks";
}

std::optional<std::string> BmpRefusal(ByteSpan bytes, BmpLayout *layout) {
  BmpLayout local;
  BmpLayout &out = layout != nullptr ? *layout : local;
  const BmpFault fault = CheckBmp(bytes.data(), bytes.size(), &out);
  if (fault == BmpFault::None) return std::nullopt;
  return BmpFaultReason(fault, out, bytes);
}

}  // namespace picture_tools
