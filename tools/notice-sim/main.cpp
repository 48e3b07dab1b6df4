// notice-sim: runs the notice driver on a simulated machine and shows what it
// does there, as a screen picture, a summary and a timeline.
#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "contact_sheet.h"
#include "options.h"
#include "output_files.h"
#include "picture_files.h"
#include "preview_run.h"
#include "summary.h"

namespace {

int Fail(const std::string &message) {
  std::fprintf(stderr, "notice-sim: %s\n", message.c_str());
  return 1;
}

int Run(const preview::Options &options) {
  preview::PictureFiles pictures;
  preview::PictureFiles second_volume;
  std::string error = preview::LoadPictureFiles(options, pictures);
  if (error.empty()) error = preview::LoadSecondVolumeFiles(options, second_volume);
  if (!error.empty()) return Fail(error);

  std::optional<std::vector<uint8_t>> sheet;
  std::string sheet_report;
  if (!options.contact_sheet.empty()) {
    sheet.emplace();
    if (std::string e =
            preview::DrawContactSheet(options.screen_width, options.screen_height, pictures, &*sheet, &sheet_report);
        !e.empty()) {
      return Fail(e);
    }
  }
  std::optional<preview::RunResult> result;
  if (!options.out_dir.empty()) result = preview::RunPreview(options, pictures, second_volume);
  if (std::string e = preview::WriteOutputs(options, result ? &*result : nullptr, sheet); !e.empty()) return Fail(e);

  if (sheet) {
    std::printf("Contact sheet %s (%ux%u screens):\n%s", options.contact_sheet.c_str(), options.screen_width,
                options.screen_height, sheet_report.c_str());
  }
  if (result) std::printf("%s\n", preview::HumanSummary(options, *result).c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  // A write past the file-size limit then fails with EFBIG, which is reported,
  // instead of ending the process half way.
  std::signal(SIGXFSZ, SIG_IGN);
  // The last net: every failure the tool knows is reported where it happens.
  try {
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
    return Run(*parsed.options);
  } catch (const std::bad_alloc &) {
    return Fail("out of memory");
  } catch (const std::exception &e) {
    return Fail(std::string("internal error: ") + e.what());
  } catch (...) {
    return Fail("internal error: an unknown exception");
  }
}
