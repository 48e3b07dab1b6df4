#include "tools/notice-pack/convert_command.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/common/driver_decode.h"
#include "tools/common/number_text.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {
namespace {

constexpr const char *kConvertUsage = "usage: notice-pack convert ARTWORK(.png|.bmp) OUT.bmp\n";

void CheckDecodesExactly(const picture_tools::FlatPicture &source, ByteView bmp) {
  const auto decoded = picture_tools::DecodeWithDriver(bmp);
  if (!decoded) throw PackError("internal error: the driver refuses the converted picture");
  for (size_t i = 0; i < source.Pixels.size(); ++i) {
    if (picture_tools::RgbOf(decoded->Pixels[i]) != source.Pixels[i]) {
      throw PackError("internal error: the converted picture decodes differently at pixel " + std::to_string(i));
    }
  }
}

Bytes ReadInput(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot read " + path + ": " + std::strerror(errno));
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

Conversion ConvertArtwork(ByteView artwork) {
  picture_tools::Artwork art;
  try {
    art = picture_tools::ReadArtwork(artwork);
  } catch (const picture_tools::ArtworkError &error) {
    throw PackError(error.what());
  }
  Conversion conversion;
  conversion.SourceKind = art.Kind + " " + std::to_string(art.Width) + "x" + std::to_string(art.Height);
  const picture_tools::FlatPicture flat = picture_tools::CompositeOverBlack(art, &conversion.Transparent);
  conversion.Bmp = picture_tools::EncodeSmallestBmp(flat);
  CheckDecodesExactly(flat, conversion.Bmp.Bytes);
  return conversion;
}

int RunConvertCommand(const std::vector<std::string> &args) {
  if (args.size() != 2) {
    std::cerr << "notice-pack convert: give the artwork and the output file\n" << kConvertUsage;
    return 2;
  }
  try {
    const Conversion conversion = ConvertArtwork(ReadInput(args[0]));
    if (conversion.Transparent) {
      std::cerr << "notice-pack convert: warning: " << args[0]
                << " has transparent pixels; they are laid over black, as the cleared screen shows them\n";
    }
    std::ofstream out(args[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(conversion.Bmp.Bytes.data()),
              static_cast<std::streamsize>(conversion.Bmp.Bytes.size()));
    out.close();
    if (!out) throw PackError("cannot write " + args[1] + ": " + std::strerror(errno));
    std::cout << args[0] << " (" << conversion.SourceKind << ", " << conversion.Bmp.Colours << " colours) -> "
              << args[1] << ": " << conversion.Bmp.BitsPerPixel << "-bit BMP, "
              << picture_tools::GroupDigits(conversion.Bmp.Bytes.size())
              << " bytes; decoded by the driver's code to the same pixels\n";
    return 0;
  } catch (const PackError &error) {
    std::cerr << "notice-pack convert: " << args[0] << ": " << error.what() << "\n";
    return 1;
  }
}

}  // namespace notice_pack
