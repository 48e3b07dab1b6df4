// The notice-pack command line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/notice-pack/guid.h"

namespace notice_pack {

struct PictureInput {
  Guid FileGuid;
  std::filesystem::path Path;
  bool Compress = false;  // store the RAW section LZMA-compressed (--compress)
  std::string Option{};   // as given, for messages: "--picture 5=notice5.bmp"
};

struct ScreenSize {
  uint32_t Width;
  uint32_t Height;
};

struct PackRequest {
  std::optional<std::filesystem::path> DriverPath;
  std::string DriverName;
  std::vector<PictureInput> Pictures;
  std::optional<std::filesystem::path> FfsOutDir;
  std::optional<std::filesystem::path> VolumeOut;
  bool AllowInvalid = false;        // pack pictures the driver would refuse
  std::vector<ScreenSize> Screens;  // extra screens for the fit report (--screen)
};

inline constexpr const char *kUsage =
    "usage: notice-pack [--driver notice.efi [--name NoticeDxe]] [--picture N=FILE]...\n"
    "                   [--ffs-out DIR] [--fv-out FILE]\n"
    "  --picture N=FILE    picture N (1-6) as its notice file; GUID=FILE names the file directly\n"
    "  --ffs-out DIR       write each FFS file as DIR/<file GUID>.ffs\n"
    "  --fv-out FILE       write one firmware volume holding all files\n"
    "  --compress N|all    store picture N's (or every picture's) RAW section LZMA-compressed\n"
    "                      in a GUID-defined section (for volumes that are not compressed)\n"
    "  --allow-invalid     pack pictures the driver would refuse (for negative tests)\n"
    "  --screen WxH        add a screen to the fit report (repeatable)\n"
    "After packing it prints where each picture lands on common screens, what each file\n"
    "costs in flash, raw and LZMA-compressed, and whether the set fits OVMF's 4 MiB image.\n"
    "Every output is written whole or not at all. Exit status: 0 written, 1 refused, 2 bad usage.\n"
    "\n"
    "usage: notice-pack convert ARTWORK OUT.bmp [--colours N]\n"
    "  converts a PNG or BMP (any depth, header, row order) into the smallest BMP the driver\n"
    "  accepts; transparency is laid over black; --colours N (2-256) reduces the colours\n"
    "  first (lossy); notice-pack convert --help says more\n";

// Parses argv[1..]; throws PackError with a message for the user on misuse.
PackRequest ParseCommandLine(const std::vector<std::string> &args);

}  // namespace notice_pack
