// notice-sim: runs the notice driver on a simulated machine and shows what it
// does there, as a screen picture, a summary and a timeline.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "contact_sheet.h"
#include "options.h"
#include "output_files.h"
#include "picture_files.h"
#include "preview_run.h"
#include "summary.h"

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const preview::ParseResult parsed = preview::ParseOptions(args);
  if (parsed.help) {
    std::fputs(preview::UsageText().c_str(), stdout);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "notice-sim: %s\n", parsed.error.c_str());
    return 2;
  }
  const preview::Options &options = *parsed.options;

  try {
    preview::PictureFiles pictures;
    preview::PictureFiles second_volume;
    std::string error = preview::LoadPictureFiles(options, pictures);
    if (error.empty()) error = preview::LoadSecondVolumeFiles(options, second_volume);
    if (!error.empty()) {
      std::fprintf(stderr, "notice-sim: %s\n", error.c_str());
      return 1;
    }
    if (!options.contact_sheet.empty()) {
      std::string report;
      if (std::string error = preview::WriteContactSheet(options.contact_sheet, options.screen_width,
                                                         options.screen_height, pictures, &report);
          !error.empty()) {
        std::fprintf(stderr, "notice-sim: %s\n", error.c_str());
        return 1;
      }
      std::printf("Contact sheet %s (%ux%u screens):\n%s", options.contact_sheet.c_str(), options.screen_width,
                  options.screen_height, report.c_str());
      if (options.out_dir.empty()) return 0;
    }
    const preview::RunResult result = preview::RunPreview(options, pictures, second_volume);
    if (std::string error = preview::WriteOutputs(options, result); !error.empty()) {
      std::fprintf(stderr, "notice-sim: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", preview::HumanSummary(options, result).c_str());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "notice-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
