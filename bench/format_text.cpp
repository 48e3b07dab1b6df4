// The formatting engine against glibc snprintf on the same mixed set of
// formats, both writing 8-bit text into a 128-byte buffer. Each pair of
// formats is checked to produce the same text before timing starts. After
// the runs the ratio engine / snprintf of the mean CPU time per set is
// printed (CPU time, as the build machine is shared).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "core/firmware/efi_types.h"
#include "print/format_text.h"

namespace {

constexpr size_t kBufferSize = 128;
constexpr char kName[] = "nvme0";

// One line of work: the engine's format and the snprintf format that give the same text.
struct Line {
  const char *engine;
  const char *libc;
  UINTN (*format_engine)(char *buffer);
  int (*format_libc)(char *buffer);
};

const Line kLines[] = {
    {"Locate gop protocol failure...\n", "Locate gop protocol failure...\r\n",
     [](char *b) { return FormatText(b, kBufferSize, 0, "Locate gop protocol failure...\n"); },
     [](char *b) { return snprintf(b, kBufferSize, "Locate gop protocol failure...\r\n"); }},
    {"%d", "%d", [](char *b) { return FormatText(b, kBufferSize, 0, "%d", -1234567); },
     [](char *b) { return snprintf(b, kBufferSize, "%d", -1234567); }},
    {"%5d|%-5d|%05d", "%5d|%-5d|%05d",
     [](char *b) { return FormatText(b, kBufferSize, 0, "%5d|%-5d|%05d", 42, -42, 7); },
     [](char *b) { return snprintf(b, kBufferSize, "%5d|%-5d|%05d", 42, -42, 7); }},
    {"%lu", "%lu", [](char *b) { return FormatText(b, kBufferSize, 0, "%lu", 18446744073709551615ULL); },
     [](char *b) { return snprintf(b, kBufferSize, "%lu", 18446744073709551615UL); }},
    {"%08X %x", "%08X %X", [](char *b) { return FormatText(b, kBufferSize, 0, "%08X %x", 0xBEEFu, 0xDEADu); },
     [](char *b) { return snprintf(b, kBufferSize, "%08X %X", 0xBEEFu, 0xDEADu); }},
    {"%16p", "%016lX", [](char *b) { return FormatText(b, kBufferSize, 0, "%16p", 0x7FFF12345678ULL); },
     [](char *b) { return snprintf(b, kBufferSize, "%016lX", 0x7FFF12345678UL); }},
    {"%a: %8a|%-8a|%.3a", "%s: %8s|%-8s|%.3s",
     [](char *b) { return FormatText(b, kBufferSize, 0, "%a: %8a|%-8a|%.3a", kName, kName, kName, kName); },
     [](char *b) { return snprintf(b, kBufferSize, "%s: %8s|%-8s|%.3s", kName, kName, kName, kName); }},
    {"Controller %a at %02x:%02x.%x status %d", "Controller %s at %02X:%02X.%X status %d",
     [](char *b) { return FormatText(b, kBufferSize, 0, "Controller %a at %02x:%02x.%x status %d", kName, 3, 0, 1, 0); },
     [](char *b) { return snprintf(b, kBufferSize, "Controller %s at %02X:%02X.%X status %d", kName, 3, 0, 1, 0); }},
    {"%c%c%c %+d % d", "%c%c%c %+d % d",
     [](char *b) { return FormatText(b, kBufferSize, 0, "%c%c%c %+d % d", 'a', 'b', 'c', 5, 6); },
     [](char *b) { return snprintf(b, kBufferSize, "%c%c%c %+d % d", 'a', 'b', 'c', 5, 6); }},
    {"%*d|%.*d", "%*d|%.*d", [](char *b) { return FormatText(b, kBufferSize, 0, "%*d|%.*d", 10, 42, 6, 42); },
     [](char *b) { return snprintf(b, kBufferSize, "%*d|%.*d", 10, 42, 6, 42); }},
};

void CheckSameText() {
  for (const Line &line : kLines) {
    char engine[kBufferSize];
    char libc[kBufferSize];
    const UINTN engineLength = line.format_engine(engine);
    const int libcLength = line.format_libc(libc);
    if (engineLength != static_cast<UINTN>(libcLength) || strcmp(engine, libc) != 0) {
      fprintf(stderr, "format pair '%s' / '%s' differs: '%s' vs '%s'\n", line.engine, line.libc, engine, libc);
      exit(1);
    }
  }
}

void BM_FormatText(benchmark::State &state) {
  char buffer[kBufferSize];
  for (auto _ : state) {
    for (const Line &line : kLines) {
      benchmark::DoNotOptimize(line.format_engine(buffer));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * std::size(kLines));
}
BENCHMARK(BM_FormatText);

void BM_Snprintf(benchmark::State &state) {
  char buffer[kBufferSize];
  for (auto _ : state) {
    for (const Line &line : kLines) {
      benchmark::DoNotOptimize(line.format_libc(buffer));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * std::size(kLines));
}
BENCHMARK(BM_Snprintf);

// Keeps the mean time per set of each side, to print their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        Mean &mean = times_[run.run_name.function_name];
        mean.sum += run.GetAdjustedCPUTime();
        mean.runs += 1;
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (times_.count("BM_FormatText") && times_.count("BM_Snprintf")) {
      printf("ratio FormatText / snprintf (CPU time): %.2f\n", times_["BM_FormatText"].Value() / times_["BM_Snprintf"].Value());
    }
  }

 private:
  struct Mean {
    double sum = 0;
    unsigned runs = 0;
    double Value() const { return sum / runs; }
  };
  std::map<std::string, Mean> times_;
};

}  // namespace

int main(int argc, char **argv) {
  CheckSameText();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
