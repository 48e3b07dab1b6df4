#include "output_files.h"

#include <filesystem>
#include <sstream>

#include "png_write.h"
#include "summary.h"
#include "tools/common/staged_files.h"

namespace preview {

std::string WriteOutputs(const Options &options, const RunResult *result,
                         const std::optional<std::vector<uint8_t>> &contact_sheet) {
  try {
    std::optional<picture_tools::NewFolder> folder;
    picture_tools::StagedFiles staged;
    if (contact_sheet) staged.Stage(options.contact_sheet, *contact_sheet);
    if (result != nullptr && !options.out_dir.empty()) {
      const std::filesystem::path dir = options.out_dir;
      folder.emplace(dir);
      std::vector<uint8_t> screen;
      if (std::string e = EncodePng(result->screen_width, result->screen_height, result->framebuffer, &screen);
          !e.empty()) {
        return e;
      }
      staged.Stage(dir / "screen.png", screen);
      staged.Stage(dir / "summary.json", picture_tools::AsBytes(SummaryJson(options, *result).dump(2) + '\n'));
      std::ostringstream events;
      for (const auto &event : result->events) events << event.dump() << '\n';
      staged.Stage(dir / "events.jsonl", picture_tools::AsBytes(events.str()));
    }
    staged.Commit();
    if (folder) folder->Keep();
    return {};
  } catch (const picture_tools::OutputFileError &error) {
    return error.what();
  }
}

}  // namespace preview
