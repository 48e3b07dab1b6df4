#include "notice_sim_runner.h"

#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/command_run.h"

namespace preview_test {

std::string FreshDir(const std::string &name) {
  const auto dir = std::filesystem::temp_directory_path() / ("notice-sim-test-" + std::to_string(getpid())) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

ToolRun RunNoticeSimRaw(const std::vector<std::string> &args, const std::string &name,
                        const std::string &shell_prefix) {
  ToolRun run;
  const std::string dir = FreshDir(name);
  run.out_dir = dir + "/out";
  // NOTICE_SIM_UNDER_TEST runs the tests against another build of the tool.
  const char *other = std::getenv("NOTICE_SIM_UNDER_TEST");
  std::vector<std::string> argv = {other != nullptr ? other : NOTICE_SIM_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  const tool_test::CommandResult result = tool_test::RunCommand(argv, dir, shell_prefix);
  run.exit_code = result.exit_code;
  run.standard_output = result.standard_output;
  run.standard_error = result.standard_error;
  return run;
}

ToolRun RunNoticeSim(const std::vector<std::string> &args, const std::string &name) {
  std::vector<std::string> with_out = args;
  const std::string out_dir = FreshDir(name) + "/out";
  with_out.push_back("--out");
  with_out.push_back(out_dir);
  ToolRun run = RunNoticeSimRaw(with_out, name + "-run");
  run.out_dir = out_dir;
  return run;
}

bool ToolRun::HasFile(const std::string &name) const { return std::filesystem::exists(out_dir + "/" + name); }

nlohmann::json ToolRun::Summary() const {
  return nlohmann::json::parse(tool_test::ReadText(out_dir + "/summary.json"), nullptr, false);
}

std::vector<nlohmann::json> ToolRun::Events() const {
  std::vector<nlohmann::json> events;
  std::ifstream file(out_dir + "/events.jsonl");
  for (std::string line; std::getline(file, line);) events.push_back(nlohmann::json::parse(line, nullptr, false));
  return events;
}

PngPixels ToolRun::Screen() const { return ReadPng(out_dir + "/screen.png"); }

PngPixels ReadPng(const std::string &path) {
  PngPixels out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGB;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return out;
  }
  out.width = image.width;
  out.height = image.height;
  out.ok = true;
  return out;
}

}  // namespace preview_test
