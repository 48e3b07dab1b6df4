#include "tools/notice-pack/convert_command.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/common/colour_reduction.h"
#include "tools/common/driver_decode.h"
#include "tools/common/number_text.h"
#include "tools/notice-pack/pack_error.h"

namespace notice_pack {
namespace {

constexpr const char *kConvertUsage =
    "usage: notice-pack convert ARTWORK(.png|.bmp) OUT.bmp [--colours N]\n"
    "  --colours N   reduce to at most N colours (2-256; lossy, median cut): 2 gives 1 bit per pixel,\n"
    "                16 gives 4, 256 gives 8\n";

struct ConvertArgs {
  std::string Input;
  std::string Output;
  std::optional<unsigned> Colours;
};

// Empty with a message on misuse.
std::optional<ConvertArgs> ParseConvertArgs(const std::vector<std::string> &args, std::string &error) {
  ConvertArgs parsed;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--colours") {
      files.push_back(args[i]);
      continue;
    }
    unsigned n = 0;
    const std::string value = i + 1 < args.size() ? args[++i] : "";
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size() || n < picture_tools::kMinReducedColours ||
        n > picture_tools::kMaxReducedColours) {
      error = "--colours wants a number of colours from 2 to 256, not '" + value + "'";
      return std::nullopt;
    }
    parsed.Colours = n;
  }
  if (files.size() != 2) {
    error = "give the artwork and the output file";
    return std::nullopt;
  }
  parsed.Input = files[0];
  parsed.Output = files[1];
  return parsed;
}

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

Conversion ConvertArtwork(ByteView artwork, std::optional<unsigned> colours) {
  picture_tools::Artwork art;
  try {
    art = picture_tools::ReadArtwork(artwork);
  } catch (const picture_tools::ArtworkError &error) {
    throw PackError(error.what());
  }
  Conversion conversion;
  conversion.SourceKind = art.Kind + ", " + std::to_string(art.Width) + "x" + std::to_string(art.Height);
  picture_tools::FlatPicture flat = picture_tools::CompositeOverBlack(art, &conversion.Transparent);
  conversion.SourceColours = picture_tools::DistinctColours(flat).size();
  if (colours) {
    try {
      flat = picture_tools::ReduceColours(flat, *colours);
    } catch (const picture_tools::ArtworkError &error) {
      throw PackError(error.what());
    }
  }
  conversion.Bmp = picture_tools::EncodeSmallestBmp(flat);
  CheckDecodesExactly(flat, conversion.Bmp.Bytes);
  return conversion;
}

int RunConvertCommand(const std::vector<std::string> &args) {
  std::string usageError;
  const std::optional<ConvertArgs> parsed = ParseConvertArgs(args, usageError);
  if (!parsed) {
    std::cerr << "notice-pack convert: " << usageError << "\n" << kConvertUsage;
    return 2;
  }
  try {
    const Conversion conversion = ConvertArtwork(ReadInput(parsed->Input), parsed->Colours);
    if (conversion.Transparent) {
      std::cerr << "notice-pack convert: warning: " << parsed->Input
                << " has transparent pixels; they are laid over black, as the cleared screen shows them\n";
    }
    std::ofstream out(parsed->Output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(conversion.Bmp.Bytes.data()),
              static_cast<std::streamsize>(conversion.Bmp.Bytes.size()));
    out.close();
    if (!out) throw PackError("cannot write " + parsed->Output + ": " + std::strerror(errno));
    std::cout << parsed->Input << " (" << conversion.SourceKind << ", " << conversion.SourceColours << " colours) -> "
              << parsed->Output << ": " << conversion.Bmp.BitsPerPixel << "-bit BMP";
    if (conversion.Bmp.Colours != conversion.SourceColours) {
      std::cout << " of " << conversion.Bmp.Colours << " colours (reduced, lossy)";
    }
    std::cout << ", " << picture_tools::GroupDigits(conversion.Bmp.Bytes.size())
              << " bytes; the driver's decoder gives back exactly these pixels\n";
    return 0;
  } catch (const PackError &error) {
    std::cerr << "notice-pack convert: " << parsed->Input << ": " << error.what() << "\n";
    return 1;
  }
}

}  // namespace notice_pack
