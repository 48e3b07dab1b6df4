// notice-pack: wraps the notice driver and its pictures as FFS files and,
// optionally, one firmware volume holding them.
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/notice-pack/command_line.h"
#include "tools/notice-pack/convert_command.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/picture_packing.h"
#include "tools/notice-pack/volume_builder.h"

namespace {

using notice_pack::Bytes;
using notice_pack::CheckedPicture;
using notice_pack::PackedFile;
using notice_pack::PackError;

Bytes ReadWholeFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::filesystem::path &path, const Bytes &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw PackError("cannot write " + path.string());
}

struct PackResult {
  std::vector<PackedFile> Files;
  std::vector<CheckedPicture> Pictures;
};

PackResult BuildFiles(const notice_pack::PackRequest &request) {
  PackResult result;
  if (request.DriverPath) {
    const Bytes image = ReadWholeFile(*request.DriverPath);
    result.Files.push_back({request.DriverPath->filename().string(), notice_pack::kNoticeDriverFileGuid, "driver",
                            image.size(), notice_pack::BuildDriverFile(image, request.DriverName)});
  }
  for (const notice_pack::PictureInput &picture : request.Pictures) {
    notice_pack::PackedPicture packed =
        notice_pack::PackPicture(picture, ReadWholeFile(picture.Path), request.AllowInvalid, std::cerr);
    result.Pictures.push_back(std::move(packed.Checked));
    result.Files.push_back(std::move(packed.File));
  }
  return result;
}

void Run(const notice_pack::PackRequest &request) {
  const PackResult packed = BuildFiles(request);
  if (request.FfsOutDir) {
    std::filesystem::create_directories(*request.FfsOutDir);
    for (const PackedFile &file : packed.Files) {
      WriteWholeFile(*request.FfsOutDir / (notice_pack::FormatGuid(file.Name) + ".ffs"), file.Ffs);
    }
  }
  std::optional<Bytes> volume;
  if (request.VolumeOut) {
    std::vector<Bytes> contents;
    for (const PackedFile &file : packed.Files) contents.push_back(file.Ffs);
    volume = notice_pack::BuildVolume(contents);
    WriteWholeFile(*request.VolumeOut, *volume);
  }
  if (const std::string fit = notice_pack::FitReport(packed.Pictures, request.Screens); !fit.empty()) {
    std::cout << fit << "\n";
  }
  std::cout << notice_pack::FlashCostTable(packed.Files, volume ? &*volume : nullptr);
}

}  // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << notice_pack::kUsage;
    return 0;
  }
  if (!args.empty() && args[0] == "convert") {
    return notice_pack::RunConvertCommand(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  try {
    Run(notice_pack::ParseCommandLine(args));
    return 0;
  } catch (const PackError &error) {
    std::cerr << "notice-pack: " << error.what() << "\n";
    if (args.empty()) std::cerr << notice_pack::kUsage;
    return 1;
  } catch (const std::filesystem::filesystem_error &error) {
    std::cerr << "notice-pack: " << error.what() << "\n";
    return 1;
  }
}
