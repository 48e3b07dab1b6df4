#include "options.h"

#include <functional>
#include <string_view>

#include "contact_sheet.h"
#include "number_parse.h"

namespace preview {

namespace {

constexpr unsigned kMaxTriggers = 1000;

// Parse state beyond the options themselves.
struct Pending {
  bool pci_given = false;
  bool pci_none = false;
  std::set<std::string> seen;  // single-valued options already given
};

using Handler = std::function<std::string(Options &, Pending &, std::string_view)>;

struct OptionSpec {
  std::string_view name;
  bool takes_value;
  bool repeatable;
  Handler handle;
};

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

std::string Quote(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('\'');
  quoted.append(text);
  quoted.push_back('\'');
  return quoted;
}

std::string ParseScreen(Options &o, Pending &, std::string_view value) {
  // The separator is the 'x' at which both sides are numbers ("0x500x0x320" works too).
  std::optional<std::pair<uint64_t, uint64_t>> found;
  for (size_t at = value.find_first_of("xX"); at != std::string_view::npos; at = value.find_first_of("xX", at + 1)) {
    auto w = ParseNumber(value.substr(0, at), kMaxScreenSide);
    auto h = ParseNumber(value.substr(at + 1), kMaxScreenSide);
    if (w && h) found = {*w, *h};
  }
  if (!found || found->first == 0 || found->second == 0) {
    return "--screen wants WIDTHxHEIGHT, each from 1 to " + std::to_string(kMaxScreenSide) + ", not " + Quote(value);
  }
  o.screen_width = static_cast<uint32_t>(found->first);
  o.screen_height = static_cast<uint32_t>(found->second);
  return {};
}

std::string ParsePci(Options &o, Pending &p, std::string_view value) {
  if (!p.pci_given) o.pci.clear();
  p.pci_given = true;
  if (value == "none") {
    if (!o.pci.empty()) return "--pci none cannot be combined with PCI devices";
    p.pci_none = true;
    return {};
  }
  if (p.pci_none) return "--pci none cannot be combined with PCI devices";
  const size_t eq = value.find('=');
  const std::string usage =
      "--pci wants NAME=CC.SS.PI (class, subclass, programming interface in hex), not " + Quote(value);
  if (eq == std::string_view::npos || eq == 0) return usage;
  const std::string name(value.substr(0, eq));
  auto fields = Split(value.substr(eq + 1), '.');
  if (fields.size() != 3) return usage;
  uint8_t bytes[3];
  for (size_t i = 0; i < 3; ++i) {
    auto b = ParseHex(fields[i], 0xFF);
    if (!b) return usage;
    bytes[i] = static_cast<uint8_t>(*b);
  }
  for (const auto &existing : o.pci) {
    if (existing.name == name) return "--pci: the name " + Quote(name) + " is used twice";
  }
  o.pci.push_back({name, bytes[0], bytes[1], bytes[2]});
  return {};
}

std::string ParseSecureBoot(Options &o, Pending &, std::string_view value) {
  if (value == "missing") {
    o.secure_boot = SecureBootVariable::kMissing;
    return {};
  }
  if (value == "big") {
    o.secure_boot = SecureBootVariable::kBig;
    return {};
  }
  auto byte = ParseNumber(value, 0xFF);
  if (!byte) return "--secure-boot wants a byte (0 to 255, or 0x00 to 0xFF), 'missing' or 'big', not " + Quote(value);
  o.secure_boot = SecureBootVariable::kByte;
  o.secure_boot_byte = static_cast<uint8_t>(*byte);
  return {};
}

std::string ParseEc(Options &o, Pending &, std::string_view value) {
  auto setting = sim::ParseEcRegisterSetting(value);
  if (!setting) return "--ec wants REG=V1[,V2...], each a byte, not " + Quote(value);
  if (!o.ec_registers.emplace(setting->reg, setting->values).second) {
    return "--ec: register " + std::string(value.substr(0, value.find('='))) + " is given twice";
  }
  return {};
}

std::string ParseEcKind(Options &o, Pending &, std::string_view value) {
  auto kind = sim::ParseEcKind(value);
  if (!kind) return "--ec-kind wants idle, absent, stuck-input or no-output, not " + Quote(value);
  o.ec_kind = *kind;
  return {};
}

std::optional<unsigned> ParseMode(std::string_view text) {
  auto mode = ParseNumber(text, 6);
  if (!mode || *mode == 0) return std::nullopt;
  return static_cast<unsigned>(*mode);
}

std::string ParsePicture(Options &o, Pending &, std::string_view value) {
  const size_t eq = value.find('=');
  const std::string usage = "--picture wants MODE=FILE.bmp with MODE from 1 to 6, not " + Quote(value);
  if (eq == std::string_view::npos || eq + 1 == value.size()) return usage;
  auto mode = ParseMode(value.substr(0, eq));
  if (!mode) return usage;
  if (o.no_picture.count(*mode)) return "--picture and --no-picture both name mode " + std::to_string(*mode);
  if (!o.picture_files.emplace(*mode, std::string(value.substr(eq + 1))).second) {
    return "--picture: mode " + std::to_string(*mode) + " is given twice";
  }
  return {};
}

std::string ParseSecondVolume(Options &o, Pending &, std::string_view value) {
  const size_t eq = value.find('=');
  const std::string usage = "--second-volume wants MODE=FILE.bmp with MODE from 1 to 6, not " + Quote(value);
  if (eq == std::string_view::npos || eq + 1 == value.size()) return usage;
  auto mode = ParseMode(value.substr(0, eq));
  if (!mode) return usage;
  if (!o.second_volume_files.emplace(*mode, std::string(value.substr(eq + 1))).second) {
    return "--second-volume: mode " + std::to_string(*mode) + " is given twice";
  }
  return {};
}

std::string ParseNoPicture(Options &o, Pending &, std::string_view value) {
  auto mode = ParseMode(value);
  if (!mode) return "--no-picture wants a mode from 1 to 6, not " + Quote(value);
  if (o.picture_files.count(*mode)) return "--picture and --no-picture both name mode " + std::to_string(*mode);
  o.no_picture.insert(*mode);
  return {};
}

std::string ParseTriggers(Options &o, Pending &, std::string_view value) {
  auto n = ParseNumber(value, kMaxTriggers);
  if (!n) return "--triggers wants a count from 0 to " + std::to_string(kMaxTriggers) + ", not " + Quote(value);
  o.triggers = static_cast<unsigned>(*n);
  return {};
}

std::string ParseTraceHubBase(Options &o, Pending &, std::string_view value) {
  auto base = ParseNumber(value, 0xFFFFFFFF);
  if (!base) return "--trace-hub-base wants a 32-bit address, not " + Quote(value);
  o.trace_hub_base = static_cast<uint32_t>(*base);
  return {};
}

std::string ParseFailAlloc(Options &o, Pending &, std::string_view value) {
  auto n = ParseNumber(value, UINT32_MAX);
  if (!n || *n == 0)
    return "--fail-alloc wants the number (1 or more) of the allocation that fails, not " + Quote(value);
  o.fail_alloc = *n;
  return {};
}

std::string ParseCpuid15(Options &o, Pending &, std::string_view value) {
  auto fields = Split(value, ',');
  const std::string usage = "--cpuid-15 wants EAX,EBX,ECX, each a 32-bit number, not " + Quote(value);
  if (fields.size() != 3) return usage;
  uint32_t regs[3];
  for (size_t i = 0; i < 3; ++i) {
    auto v = ParseNumber(fields[i], 0xFFFFFFFF);
    if (!v) return usage;
    regs[i] = static_cast<uint32_t>(*v);
  }
  o.cpuid_15 = CpuidLeaf15{regs[0], regs[1], regs[2]};
  return {};
}

std::string ParseCpuidMaxLeaf(Options &o, Pending &, std::string_view value) {
  auto v = ParseNumber(value, 0xFFFFFFFF);
  if (!v) return "--cpuid-max-leaf wants a 32-bit number, not " + Quote(value);
  o.cpuid_max_leaf = static_cast<uint32_t>(*v);
  return {};
}

Handler Flag(bool Options::*field) {
  return [field](Options &o, Pending &, std::string_view) {
    o.*field = true;
    return std::string();
  };
}

const std::vector<OptionSpec> &Specs() {
  static const std::vector<OptionSpec> specs = {
      {"--out", true, false,
       [](Options &o, Pending &, std::string_view v) {
         if (v.empty()) return std::string("--out wants a folder");
         o.out_dir = std::string(v);
         return std::string();
       }},
      {"--screen", true, false, ParseScreen},
      {"--contact-sheet", true, false,
       [](Options &o, Pending &, std::string_view v) {
         if (v.empty()) return std::string("--contact-sheet wants a PNG file name");
         o.contact_sheet = std::string(v);
         return std::string();
       }},
      {"--pci", true, true, ParsePci},
      {"--secure-boot", true, false, ParseSecureBoot},
      {"--ec", true, true, ParseEc},
      {"--ec-kind", true, false, ParseEcKind},
      {"--picture", true, true, ParsePicture},
      {"--no-picture", true, true, ParseNoPicture},
      {"--second-volume", true, true, ParseSecondVolume},
      {"--triggers", true, false, ParseTriggers},
      {"--trigger-before-end-of-dxe", false, false, Flag(&Options::trigger_before_end_of_dxe)},
      {"--no-gop", false, false, Flag(&Options::no_gop)},
      {"--no-console", false, false, Flag(&Options::no_console)},
      {"--trace-hub-base", true, false, ParseTraceHubBase},
      {"--fail-alloc", true, false, ParseFailAlloc},
      {"--cpuid-15", true, false, ParseCpuid15},
      {"--cpuid-max-leaf", true, false, ParseCpuidMaxLeaf},
  };
  return specs;
}

ParseResult Fail(std::string message) {
  ParseResult r;
  r.error = std::move(message);
  return r;
}

}  // namespace

ParseResult ParseOptions(const std::vector<std::string> &args) {
  Options options;
  Pending pending;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      ParseResult r;
      r.help = true;
      return r;
    }
    // Both "--name value" and "--name=value" are accepted.
    std::string_view name = arg;
    std::optional<std::string_view> inline_value;
    if (size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    const OptionSpec *spec = nullptr;
    for (const auto &s : Specs()) {
      if (s.name == name) spec = &s;
    }
    if (spec == nullptr) return Fail("unknown option " + Quote(arg) + " (see --help)");
    if (!spec->repeatable && !pending.seen.insert(std::string(name)).second) {
      return Fail(std::string(name) + " is given more than once");
    }
    std::string_view value;
    if (spec->takes_value) {
      if (inline_value) {
        value = *inline_value;
      } else if (i + 1 < args.size() && !std::string_view(args[i + 1]).starts_with("--")) {
        value = args[++i];
      } else {
        return Fail(std::string(name) + " needs a value (see --help)");
      }
    } else if (inline_value) {
      return Fail(std::string(name) + " takes no value");
    }
    if (std::string error = spec->handle(options, pending, value); !error.empty()) return Fail(error);
  }
  if (options.out_dir.empty() && options.contact_sheet.empty()) return Fail("--out DIR is required (see --help)");
  if (!options.contact_sheet.empty() &&
      (options.screen_width > kLargestSheetScreen || options.screen_height > kLargestSheetScreen)) {
    return Fail("--contact-sheet draws screens up to " + std::to_string(kLargestSheetScreen) + "x" +
                std::to_string(kLargestSheetScreen) + "; choose a smaller --screen");
  }
  ParseResult r;
  r.options = std::move(options);
  return r;
}

std::string UsageText() {
  return R"(usage: notice-sim [options] --out DIR
       notice-sim [--screen WxH] [--picture MODE=FILE.bmp]... --contact-sheet FILE.png

Runs the notice driver on a simulated machine in virtual time and writes
DIR/screen.png, DIR/summary.json and DIR/events.jsonl. Numbers are decimal or 0x-prefixed hex.

  --screen WxH                 graphics mode size (default 1280x800)
  --pci NAME=CC.SS.PI          a PCI function, class/subclass/interface in hex;
                               repeatable, in firmware order (default nvme0=01.08.02);
                               --pci none for no PCI function at all
  --secure-boot VALUE          the SecureBoot byte, 'missing' or 'big' (default 1)
  --ec REG=V1[,V2...]          successive values of an EC register, the last repeating;
                               repeatable; unlisted registers read 0
  --ec-kind KIND               idle, absent, stuck-input or no-output (default idle)
  --picture MODE=FILE.bmp      replace the built-in picture of notice MODE (1-6); repeatable
  --no-picture MODE            leave notice MODE without a picture file; repeatable
  --second-volume MODE=FILE.bmp  a picture file for notice MODE in a second firmware
                               volume, after the first in handle order; repeatable
  --triggers N                 trigger installations after end of DXE (default 1)
  --trigger-before-end-of-dxe  one more installation before end of DXE
  --no-gop                     no graphics output protocol
  --no-console                 no console text output in the system table
  --trace-hub-base ADDR        publish a trace HOB with that base address
  --fail-alloc N               the driver's Nth AllocatePool call fails (1 and 2 are
                               the trace records at start-up, 3 the first decoded picture)
  --cpuid-15 EAX,EBX,ECX       the timestamp-counter leaf
  --cpuid-max-leaf N           the highest basic CPUID leaf
  --contact-sheet FILE.png     also draw all six pictures (with --picture replacements)
                               on copies of the screen, where the driver puts them,
                               as one PNG; say where each lands or why it is not drawn.
                               Without --out only the sheet is made
  --help                       this text
)";
}

}  // namespace preview
