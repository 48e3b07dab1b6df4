#include "notice_sim_runner.h"

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace preview_test {

namespace {

std::string ShellQuote(const std::string &text) {
  std::string out(1, '\'');
  for (char c : text) {
    if (c == '\'') {
      out.append("'\\''");
    } else {
      out.push_back(c);
    }
  }
  out.push_back('\'');
  return out;
}

std::string Slurp(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

std::string FreshDir(const std::string &name) {
  const auto dir = std::filesystem::temp_directory_path() / ("notice-sim-test-" + std::to_string(getpid())) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

ToolRun RunNoticeSimRaw(const std::vector<std::string> &args, const std::string &name) {
  ToolRun run;
  const std::string dir = FreshDir(name);
  run.out_dir = dir + "/out";
  std::string command = ShellQuote(NOTICE_SIM_PATH);
  for (const auto &a : args) command.append(" ").append(ShellQuote(a));
  command.append(" >").append(ShellQuote(dir + "/stdout.txt"));
  command.append(" 2>").append(ShellQuote(dir + "/stderr.txt"));
  const int status = std::system(command.c_str());
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.standard_output = Slurp(dir + "/stdout.txt");
  run.standard_error = Slurp(dir + "/stderr.txt");
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
  return nlohmann::json::parse(Slurp(out_dir + "/summary.json"), nullptr, false);
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
