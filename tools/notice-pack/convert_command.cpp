#include "tools/notice-pack/convert_command.h"

#include <charconv>
#include <iostream>
#include <optional>

#include "tools/common/artwork_conversion.h"
#include "tools/common/colour_reduction.h"
#include "tools/common/input_file.h"
#include "tools/common/number_text.h"
#include "tools/common/staged_files.h"

namespace notice_pack {

const char *const kConvertUsage =
    "usage: notice-pack convert ARTWORK(.png|.bmp) OUT.bmp [--colours N]\n"
    "  writes the smallest BMP the driver accepts that holds the artwork's pixels; transparent\n"
    "  pixels are laid over black and 16-bit channels rounded to 8\n"
    "  --colours N   reduce to at most N colours (2-256; lossy, median cut): 2 gives 1 bit per pixel,\n"
    "                16 gives 4, 256 gives 8\n"
    "Prints one line on standard output when it has written OUT.bmp, and one line more on standard\n"
    "error, starting \"notice-pack convert: warning:\", for each kind of change made to the pixels.\n"
    "A refusal is one line on standard error and leaves OUT.bmp as it was. Exit status: 0 written,\n"
    "1 refused, 2 bad usage.\n";

namespace {

constexpr const char *kPrefix = "notice-pack convert: ";

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
      if (args[i].starts_with("--")) {
        error = "unknown option '" + args[i] + "'";
        return std::nullopt;
      }
      files.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "--colours needs a number of colours, from 2 to 256";
      return std::nullopt;
    }
    unsigned n = 0;
    const std::string value = args[++i];
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
  if (picture_tools::IsSameFile(parsed.Input, parsed.Output)) {
    error = "the output " + parsed.Output + " is the artwork itself; give another name (the artwork is kept)";
    return std::nullopt;
  }
  return parsed;
}

std::string Summary(const ConvertArgs &args, const picture_tools::ArtworkConversion &conversion) {
  std::string line = args.Input + " (" + conversion.SourceKind + ", " +
                     picture_tools::ColourCount(conversion.SourceColours) + ") -> " + args.Output + ": " +
                     std::to_string(conversion.Bmp.BitsPerPixel) + "-bit BMP";
  if (conversion.Bmp.Colours != conversion.SourceColours) {
    line += " of " + picture_tools::ColourCount(conversion.Bmp.Colours);
  }
  line += ", " + picture_tools::GroupDigits(conversion.Bmp.Bytes.size()) + " bytes; ";
  line += conversion.Changes.empty()
              ? "the driver's decoder gives back exactly the artwork's pixels"
              : "the driver's decoder gives back exactly the converted pixels, changed as the warnings say";
  return line;
}

}  // namespace

int RunConvertCommand(const std::vector<std::string> &args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kConvertUsage;
    return 0;
  }
  std::string usage_error;
  const std::optional<ConvertArgs> parsed = ParseConvertArgs(args, usage_error);
  if (!parsed) {
    std::cerr << kPrefix << usage_error << " (see notice-pack convert --help)\n";
    return 2;
  }
  try {
    const std::vector<uint8_t> artwork = picture_tools::ReadInputFile(parsed->Input, parsed->Input);
    const picture_tools::ArtworkConversion conversion = picture_tools::ConvertArtwork(artwork, parsed->Colours);
    picture_tools::WriteFileAtomically(parsed->Output, conversion.Bmp.Bytes);
    for (const std::string &change : conversion.Changes) {
      std::cerr << kPrefix << "warning: " << parsed->Input << ": " << change << "\n";
    }
    std::cout << Summary(*parsed, conversion) << "\n";
    return 0;
  } catch (const picture_tools::ArtworkError &error) {
    std::cerr << kPrefix << parsed->Input << ": " << error.what() << "\n";
  } catch (const picture_tools::InputFileError &error) {
    std::cerr << kPrefix << error.what() << "\n";
  } catch (const picture_tools::OutputFileError &error) {
    std::cerr << kPrefix << error.what() << "\n";
  }
  return 1;
}

}  // namespace notice_pack
