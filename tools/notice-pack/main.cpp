// notice-pack: wraps the notice driver and its pictures as FFS files and,
// optionally, one firmware volume holding them.
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/notice-pack/command_line.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/volume_builder.h"

namespace {

using notice_pack::Bytes;
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

struct NamedFile {
  notice_pack::Guid Name;
  Bytes Data;
};

std::vector<NamedFile> BuildFiles(const notice_pack::PackRequest &request) {
  std::vector<NamedFile> files;
  if (request.DriverPath) {
    files.push_back({notice_pack::kNoticeDriverFileGuid,
                     notice_pack::BuildDriverFile(ReadWholeFile(*request.DriverPath), request.DriverName)});
  }
  for (const notice_pack::PictureInput &picture : request.Pictures) {
    const Bytes bmp = ReadWholeFile(picture.Path);
    if (bmp.size() < 2 || bmp[0] != 'B' || bmp[1] != 'M') {
      std::cerr << "notice-pack: warning: " << picture.Path.string() << " does not start with \"BM\"\n";
    }
    files.push_back({picture.FileGuid, notice_pack::BuildPictureFile(picture.FileGuid, bmp)});
  }
  return files;
}

void Run(const notice_pack::PackRequest &request) {
  const std::vector<NamedFile> files = BuildFiles(request);
  if (request.FfsOutDir) {
    std::filesystem::create_directories(*request.FfsOutDir);
    for (const NamedFile &file : files) {
      WriteWholeFile(*request.FfsOutDir / (notice_pack::FormatGuid(file.Name) + ".ffs"), file.Data);
    }
  }
  if (request.VolumeOut) {
    std::vector<Bytes> contents;
    for (const NamedFile &file : files) contents.push_back(file.Data);
    WriteWholeFile(*request.VolumeOut, notice_pack::BuildVolume(contents));
  }
}

}  // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << notice_pack::kUsage;
    return 0;
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
