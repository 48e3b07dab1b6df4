// Running a built tool from a test, as a user's shell would: its exit status
// and both output streams, optionally under a resource limit (a shell
// "ulimit" before the command). Header only, for the test programs that run
// notice-pack and notice-sim.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace tool_test {

struct CommandResult {
  int exit_code = -1;  // 124 when it ran out of time, 128 + N when signal N ended it
  std::string standard_output;
  std::string standard_error;
};

inline std::string ShellQuote(const std::string &text) {
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

inline std::string ReadText(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path &path, const std::vector<uint8_t> &bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs `argv` through the shell after `shell_prefix` (say "ulimit -f 4;"), with
// its output streams kept in `scratch_dir`, which must exist.
inline CommandResult RunCommand(const std::vector<std::string> &argv, const std::filesystem::path &scratch_dir,
                                const std::string &shell_prefix = "") {
  const std::filesystem::path out = scratch_dir / "stdout.txt";
  const std::filesystem::path err = scratch_dir / "stderr.txt";
  // A tool that hangs (on a FIFO, say) is ended after a minute, so that the
  // test fails instead of waiting for ever; no test depends on this time.
  std::string command = shell_prefix + " exec timeout -k 5 60";
  for (const std::string &arg : argv) command.append(" ").append(ShellQuote(arg));
  command.append(" </dev/null >").append(ShellQuote(out.string()));
  command.append(" 2>").append(ShellQuote(err.string()));
  const int status = std::system(command.c_str());
  CommandResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.standard_output = ReadText(out);
  result.standard_error = ReadText(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return result;
}

// The number of lines in `text` (a last line without its newline counts).
inline size_t LineCount(const std::string &text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  return lines + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

}  // namespace tool_test
