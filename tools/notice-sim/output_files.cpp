#include "output_files.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "png_write.h"
#include "summary.h"

namespace preview {

namespace {

std::string WriteText(const std::filesystem::path &path, auto &&write_body) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return "cannot create " + path.string();
  write_body(file);
  file.close();
  if (!file) return "cannot write " + path.string();
  return {};
}

}  // namespace

std::string WriteOutputs(const Options &options, const RunResult &result) {
  const std::filesystem::path dir = options.out_dir;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return "cannot create the output folder " + dir.string() + ": " + ec.message();

  if (std::string e =
          WritePng((dir / "screen.png").string(), result.screen_width, result.screen_height, result.framebuffer);
      !e.empty()) {
    return e;
  }
  if (std::string e = WriteText(dir / "summary.json",
                                [&](std::ostream &out) { out << SummaryJson(options, result).dump(2) << '\n'; });
      !e.empty()) {
    return e;
  }
  return WriteText(dir / "events.jsonl", [&](std::ostream &out) {
    for (const auto &event : result.events) out << event.dump() << '\n';
  });
}

}  // namespace preview
