// The formatting engine against glibc snprintf on the same mixed set of
// formats, both writing 8-bit text into a 128-byte buffer. The engine is
// measured twice: built with the image's flags and with this build's
// (bench/image_flags). Each pair of formats is checked to produce the same
// text, with both builds, before timing starts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/image_flags/entry_points.h"
#include "bench/ratios.h"
#include "efi/efi_types.h"
#include "print/format_text.h"

namespace {

constexpr size_t kBufferSize = 128;
constexpr char kName[] = "nvme0";

using Engine = UINTN (*)(void *, UINTN, FormatFlags, const void *, FormatArgs);

Engine EngineOf(Build build) {
#if NOTICE_BENCH_IMAGE_FLAGS
  if (build == Build::Image) return ImageFlagsFormatTextList;
#endif
  return build == Build::Host ? FormatTextList : nullptr;
}

// FormatText through the given build of the engine.
template <typename... Args>
UINTN Format(Engine engine, char *buffer, const char *format, Args... arguments) {
  const FormatSlots<Args...> slots{arguments...};
  return engine(buffer, kBufferSize, 0, format, slots.List());
}

// One line of work: the engine's format and the snprintf format that give the same text.
struct Line {
  const char *engine;
  const char *libc;
  UINTN (*format_engine)(Engine engine, char *buffer);
  int (*format_libc)(char *buffer);
};

const Line kLines[] = {
    {"Locate gop protocol failure...\n", "Locate gop protocol failure...\r\n",
     [](Engine e, char *b) { return Format(e, b, "Locate gop protocol failure...\n"); },
     [](char *b) { return snprintf(b, kBufferSize, "Locate gop protocol failure...\r\n"); }},
    {"%d", "%d", [](Engine e, char *b) { return Format(e, b, "%d", -1234567); },
     [](char *b) { return snprintf(b, kBufferSize, "%d", -1234567); }},
    {"%5d|%-5d|%05d", "%5d|%-5d|%05d", [](Engine e, char *b) { return Format(e, b, "%5d|%-5d|%05d", 42, -42, 7); },
     [](char *b) { return snprintf(b, kBufferSize, "%5d|%-5d|%05d", 42, -42, 7); }},
    {"%lu", "%lu", [](Engine e, char *b) { return Format(e, b, "%lu", 18446744073709551615ULL); },
     [](char *b) { return snprintf(b, kBufferSize, "%lu", 18446744073709551615UL); }},
    {"%08X %x", "%08X %X", [](Engine e, char *b) { return Format(e, b, "%08X %x", 0xBEEFu, 0xDEADu); },
     [](char *b) { return snprintf(b, kBufferSize, "%08X %X", 0xBEEFu, 0xDEADu); }},
    {"%16p", "%016lX", [](Engine e, char *b) { return Format(e, b, "%16p", 0x7FFF12345678ULL); },
     [](char *b) { return snprintf(b, kBufferSize, "%016lX", 0x7FFF12345678UL); }},
    {"%a: %8a|%-8a|%.3a", "%s: %8s|%-8s|%.3s",
     [](Engine e, char *b) { return Format(e, b, "%a: %8a|%-8a|%.3a", kName, kName, kName, kName); },
     [](char *b) { return snprintf(b, kBufferSize, "%s: %8s|%-8s|%.3s", kName, kName, kName, kName); }},
    {"Controller %a at %02x:%02x.%x status %d", "Controller %s at %02X:%02X.%X status %d",
     [](Engine e, char *b) { return Format(e, b, "Controller %a at %02x:%02x.%x status %d", kName, 3, 0, 1, 0); },
     [](char *b) { return snprintf(b, kBufferSize, "Controller %s at %02X:%02X.%X status %d", kName, 3, 0, 1, 0); }},
    {"%c%c%c %+d % d", "%c%c%c %+d % d",
     [](Engine e, char *b) { return Format(e, b, "%c%c%c %+d % d", 'a', 'b', 'c', 5, 6); },
     [](char *b) { return snprintf(b, kBufferSize, "%c%c%c %+d % d", 'a', 'b', 'c', 5, 6); }},
    {"%*d|%.*d", "%*d|%.*d", [](Engine e, char *b) { return Format(e, b, "%*d|%.*d", 10, 42, 6, 42); },
     [](char *b) { return snprintf(b, kBufferSize, "%*d|%.*d", 10, 42, 6, 42); }},
};

void CheckSameText(Engine engine, Build build) {
  for (const Line &line : kLines) {
    char text[kBufferSize];
    char libc[kBufferSize];
    const UINTN length = line.format_engine(engine, text);
    const int libcLength = line.format_libc(libc);
    if (length != static_cast<UINTN>(libcLength) || strcmp(text, libc) != 0) {
      fprintf(stderr, "format pair '%s' / '%s' differs with the %s: '%s' vs '%s'\n", line.engine, line.libc,
              BuildName(build), text, libc);
      exit(1);
    }
  }
}

void FormatLines(benchmark::State &state, Engine engine) {
  char buffer[kBufferSize];
  for (auto _ : state) {
    for (const Line &line : kLines) {
      benchmark::DoNotOptimize(line.format_engine(engine, buffer));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * std::size(kLines));
}

void SnprintfLines(benchmark::State &state) {
  char buffer[kBufferSize];
  for (auto _ : state) {
    for (const Line &line : kLines) {
      benchmark::DoNotOptimize(line.format_libc(buffer));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * std::size(kLines));
}

[[maybe_unused]] const bool kRegistered = [] {
  for (Build build : {Build::Image, Build::Host}) {
    const Engine engine = EngineOf(build);
    if (engine == nullptr) continue;
    CheckSameText(engine, build);
    const std::string name = std::string("Format/") + BuildName(build);
    benchmark::RegisterBenchmark(name.c_str(), FormatLines, engine);
  }
  benchmark::RegisterBenchmark("Snprintf", SnprintfLines);
  return true;
}();

}  // namespace
