// notice-pack: wraps the notice driver and its pictures as FFS files and,
// optionally, one firmware volume holding them.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>

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

// "cannot read PATH: REASON", with the system's reason for the last failure.
PackError FileError(const char *what, const std::filesystem::path &path) {
  return PackError(std::string("cannot ") + what + " " + path.string() + ": " + std::strerror(errno));
}

Bytes ReadWholeFile(const std::filesystem::path &path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FileError("read", path);
  Bytes data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  if (in.bad()) throw FileError("read", path);
  return data;
}

void WriteWholeFile(const std::filesystem::path &path, const Bytes &data) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw FileError("write", path);
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

// Writes DIR/<GUID>.ffs for each file and removes every other .ffs file in DIR,
// so that the directory holds exactly this set; returns the names removed.
std::vector<std::string> WriteFfsDirectory(const std::filesystem::path &dir, const std::vector<PackedFile> &files) {
  std::filesystem::create_directories(dir);
  std::set<std::string> written;
  for (const PackedFile &file : files) {
    const std::string name = notice_pack::FormatGuid(file.Name) + ".ffs";
    WriteWholeFile(dir / name, file.Ffs);
    written.insert(name);
  }
  std::vector<std::string> removed;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".ffs" && !written.count(name)) {
      std::filesystem::remove(entry.path());
      removed.push_back(name);
    }
  }
  return removed;
}

void Run(const notice_pack::PackRequest &request) {
  const PackResult packed = BuildFiles(request);
  size_t total = 0;
  for (const PackedFile &file : packed.Files) total += file.Ffs.size();
  std::cout << "notice-pack: " << packed.Files.size() << " FFS file" << (packed.Files.size() == 1 ? "" : "s") << " ("
            << (request.DriverPath ? "the driver, " : "") << request.Pictures.size() << " picture"
            << (request.Pictures.size() == 1 ? "" : "s") << "), " << total << " bytes\n";
  if (request.FfsOutDir) {
    const std::vector<std::string> removed = WriteFfsDirectory(*request.FfsOutDir, packed.Files);
    std::cout << "notice-pack: wrote " << request.FfsOutDir->string() << "/<file GUID>.ffs";
    for (const std::string &name : removed) std::cout << "; removed " << name << " left from an earlier run";
    std::cout << "\n";
  }
  std::optional<Bytes> volume;
  if (request.VolumeOut) {
    std::vector<Bytes> contents;
    for (const PackedFile &file : packed.Files) contents.push_back(file.Ffs);
    volume = notice_pack::BuildVolume(contents);
    WriteWholeFile(*request.VolumeOut, *volume);
    std::cout << "notice-pack: wrote " << request.VolumeOut->string() << " (firmware volume, " << volume->size()
              << " bytes)\n";
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
  } catch (const notice_pack::UsageError &error) {
    std::cerr << "notice-pack: " << error.what() << " (see --help)\n";
    if (args.empty()) std::cerr << notice_pack::kUsage;
    return 2;
  } catch (const PackError &error) {
    std::cerr << "notice-pack: " << error.what() << "\n";
    return 1;
  } catch (const std::filesystem::filesystem_error &error) {
    std::cerr << "notice-pack: " << error.what() << "\n";
    return 1;
  }
}
