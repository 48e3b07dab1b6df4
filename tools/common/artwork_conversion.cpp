#include "tools/common/artwork_conversion.h"

#include <stdexcept>

#include "tools/common/colour_reduction.h"
#include "tools/common/driver_decode.h"
#include "tools/common/number_text.h"

namespace picture_tools {
namespace {

std::string OfPixels(uint64_t some, uint64_t all) { return GroupDigits(some) + " of " + GroupDigits(all) + " pixels"; }

std::string TransparencyChange(const TransparencyCount &count, uint64_t pixels) {
  return OfPixels(count.Total(), pixels) + " are not opaque (" + GroupDigits(count.Transparent) + " transparent, " +
         GroupDigits(count.Translucent) + " partly): each is laid over black, as the cleared screen shows it";
}

std::string PrecisionChange(uint64_t changed, uint64_t pixels) {
  return "16 bits per channel are rounded to 8: " + OfPixels(changed, pixels) +
         " lose precision (the BMP holds 8 bits per channel)";
}

std::string ReductionChange(size_t from, size_t to, uint64_t changed, uint64_t pixels) {
  return "--colours: " + ColourCount(from) + " reduced to " + ColourCount(to) +
         " (median cut): " + OfPixels(changed, pixels) + " changed";
}

uint64_t CountChanged(const FlatPicture &before, const FlatPicture &after) {
  uint64_t changed = 0;
  for (size_t i = 0; i < before.Pixels.size(); ++i) changed += before.Pixels[i] != after.Pixels[i] ? 1 : 0;
  return changed;
}

void CheckDecodesExactly(const FlatPicture &encoded, std::span<const uint8_t> bmp) {
  const std::optional<DecodedPicture> decoded = DecodeWithDriver(bmp);
  if (!decoded) throw std::logic_error("internal error: the driver refuses the converted picture");
  if (decoded->Width != encoded.Width || decoded->Height != encoded.Height) {
    throw std::logic_error("internal error: the converted picture decodes to another size");
  }
  for (size_t i = 0; i < encoded.Pixels.size(); ++i) {
    if (RgbOf(decoded->Pixels[i]) != encoded.Pixels[i]) {
      throw std::logic_error("internal error: the converted picture decodes differently at pixel " + std::to_string(i));
    }
  }
}

}  // namespace

std::string ColourCount(size_t colours) { return GroupDigits(colours) + (colours == 1 ? " colour" : " colours"); }

ArtworkConversion ConvertArtwork(std::span<const uint8_t> artwork, std::optional<unsigned> colours) {
  ArtworkConversion conversion;
  {
    const Artwork art = ReadArtwork(artwork);
    const uint64_t pixels = art.Pixels.size();
    conversion.SourceKind = art.Kind + ", " + std::to_string(art.Width) + "x" + std::to_string(art.Height);
    if (art.PrecisionLostPixels != 0) conversion.Changes.push_back(PrecisionChange(art.PrecisionLostPixels, pixels));
    TransparencyCount transparency;
    conversion.Pixels = CompositeOverBlack(art, &transparency);
    if (transparency.Total() != 0) conversion.Changes.push_back(TransparencyChange(transparency, pixels));
  }
  conversion.SourceColours = DistinctColours(conversion.Pixels).size();
  if (colours) {
    // Unchanged when the picture has no more colours than asked for.
    FlatPicture reduced = ReduceColours(conversion.Pixels, *colours);
    if (const uint64_t changed = CountChanged(conversion.Pixels, reduced); changed != 0) {
      conversion.Changes.push_back(
          ReductionChange(conversion.SourceColours, DistinctColours(reduced).size(), changed, reduced.Pixels.size()));
    }
    conversion.Pixels = std::move(reduced);
  }
  conversion.Bmp = EncodeSmallestBmp(conversion.Pixels);
  CheckDecodesExactly(conversion.Pixels, conversion.Bmp.Bytes);
  return conversion;
}

}  // namespace picture_tools
