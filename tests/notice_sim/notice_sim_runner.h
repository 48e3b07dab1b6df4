// Runs the built notice-sim binary in a fresh output folder and reads back
// what it wrote: the exit status, its messages, summary.json, events.jsonl
// and the pixels of screen.png.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace preview_test {

struct PngPixels {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel, top row first
  bool ok = false;
};

struct ToolRun {
  int exit_code = -1;
  std::string out_dir;
  std::string standard_output;
  std::string standard_error;

  nlohmann::json Summary() const;
  std::vector<nlohmann::json> Events() const;
  PngPixels Screen() const;
  bool HasFile(const std::string &name) const;
};

// A new empty folder for one test's files.
std::string FreshDir(const std::string &name);

// Runs notice-sim with the arguments and "--out <fresh folder>".
ToolRun RunNoticeSim(const std::vector<std::string> &args, const std::string &name);

// The same, without adding --out; `shell_prefix` (say "ulimit -f 4;") runs first.
ToolRun RunNoticeSimRaw(const std::vector<std::string> &args, const std::string &name,
                        const std::string &shell_prefix = "");

PngPixels ReadPng(const std::string &path);

}  // namespace preview_test
