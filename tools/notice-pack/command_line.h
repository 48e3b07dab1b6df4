// The notice-pack command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/notice-pack/guid.h"

namespace notice_pack {

struct PictureInput {
  Guid FileGuid;
  std::filesystem::path Path;
};

struct PackRequest {
  std::optional<std::filesystem::path> DriverPath;
  std::string DriverName;
  std::vector<PictureInput> Pictures;
  std::optional<std::filesystem::path> FfsOutDir;
  std::optional<std::filesystem::path> VolumeOut;
};

inline constexpr const char *kUsage =
    "usage: notice-pack [--driver notice.efi [--name NoticeDxe]] [--picture N=FILE]...\n"
    "                   [--ffs-out DIR] [--fv-out FILE]\n"
    "  --picture N=FILE    picture N (1-6) as its notice file; GUID=FILE names the file directly\n"
    "  --ffs-out DIR       write each FFS file as DIR/<file GUID>.ffs\n"
    "  --fv-out FILE       write one firmware volume holding all files\n";

// Parses argv[1..]; throws PackError with a message for the user on misuse.
PackRequest ParseCommandLine(const std::vector<std::string> &args);

}  // namespace notice_pack
