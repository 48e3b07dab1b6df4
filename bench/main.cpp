// Runs every benchmark, then prints the ratios of processor time (processor
// rather than wall time: on a shared machine the wall time also counts the
// time other jobs held the processor), for the image's flags and this build's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/ratios.h"

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      times_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
  }

  void PrintRatios() const {
    std::printf("\nRatios of processor time per unit of work (medians with repetitions):\n");
    std::printf("  %-34s %12s %12s   %s\n", "", "image flags", "host flags", "target (image flags)");
    // "*" stands for the build: the subject measured once per set of flags.
    Row("decode24 / memcpy of the output", "Decode24/*", "Memcpy", "<= 1.5");
    Row("stb_image / decode24", "StbImage24", "Decode24/*", "");
    Row("decode8 / decode24", "Decode8/*", "Decode24/*", "<= 1.5");
    Row("formatter / snprintf", "Format/*", "Snprintf", "(in the image size wins)");
  }

 private:
  double Time(std::string name, Build build) const {
    const size_t star = name.find('*');
    if (star != std::string::npos) name.replace(star, 1, BuildName(build));
    const auto found = times_.find(name);
    return found == times_.end() ? 0 : found->second;
  }

  void Row(const char *label, const char *top, const char *bottom, const char *target) const {
    std::printf("  %-34s", label);
    for (Build build : {Build::Image, Build::Host}) {
      const double a = Time(top, build);
      const double b = Time(bottom, build);
      if (a > 0 && b > 0) {
        std::printf(" %12.2f", a / b);
      } else {
        std::printf(" %12s", "-");
      }
    }
    std::printf("   %s\n", target);
  }

  std::map<std::string, double> times_;
};

}  // namespace

const char *BuildName(Build build) { return build == Build::Image ? "image flags" : "host flags"; }

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
