// The artwork fuzz target starts from these seeds: each reaches the part of
// the path it is named for (converted, or refused at the limit it stands at),
// and no two are the same file.
#include <gtest/gtest.h>

#include <set>

#include "tools/common/artwork_conversion.h"
#include "tools/fuzz-seeds/artwork_seeds.h"

namespace {

std::string Outcome(const fuzz_seeds::Seed &seed) {
  try {
    const picture_tools::ArtworkConversion conversion = picture_tools::ConvertArtwork(seed.bytes);
    return "converted";
  } catch (const picture_tools::ArtworkError &error) {
    return error.what();
  }
}

TEST(ArtworkSeeds, EachIsConvertedOrRefusedAtItsLimit) {
  const std::vector<fuzz_seeds::Seed> seeds = fuzz_seeds::ArtworkSeeds();
  std::set<std::string> distinct;
  size_t pngs = 0, bmps = 0;
  for (const fuzz_seeds::Seed &seed : seeds) {
    SCOPED_TRACE(seed.name);
    EXPECT_TRUE(distinct.insert(std::string(seed.bytes.begin(), seed.bytes.end())).second);
    EXPECT_LT(seed.bytes.size(), 4096u);
    pngs += seed.name.ends_with(".png") ? 1 : 0;
    bmps += seed.name.ends_with(".bmp") ? 1 : 0;
    const std::string outcome = Outcome(seed);
    if (seed.name == "png_too_wide.png") {
      EXPECT_EQ(outcome.find("a PNG of 3,841 x 1 pixels is larger than"), 0u) << outcome;
    } else if (seed.name == "png_text_claims_2GiB.png") {
      EXPECT_EQ(outcome, "unreadable PNG: the file ends inside a chunk: it is cut short");
    } else {
      EXPECT_EQ(outcome, "converted");
    }
  }
  EXPECT_EQ(pngs + bmps, seeds.size());
  EXPECT_GE(pngs, 20u);
  EXPECT_GE(bmps, 10u);
}

}  // namespace
