// notice-pack: wraps the notice driver and its pictures as FFS files and,
// optionally, one firmware volume holding them.
#include <csignal>
#include <exception>
#include <filesystem>
#include <iostream>
#include <set>

#include "tools/common/input_file.h"
#include "tools/common/staged_files.h"
#include "tools/notice-pack/command_line.h"
#include "tools/notice-pack/convert_command.h"
#include "tools/notice-pack/notice_files.h"
#include "tools/notice-pack/ovmf_room.h"
#include "tools/notice-pack/pack_error.h"
#include "tools/notice-pack/picture_packing.h"
#include "tools/notice-pack/volume_builder.h"

namespace {

namespace fs = std::filesystem;
using notice_pack::Bytes;
using notice_pack::CheckedPicture;
using notice_pack::PackedFile;
using notice_pack::PackError;
using notice_pack::UsageError;

struct PackResult {
  std::vector<PackedFile> Files;
  std::vector<CheckedPicture> Pictures;
};

PackResult BuildFiles(const notice_pack::PackRequest &request) {
  PackResult result;
  if (request.DriverPath) {
    const Bytes image = picture_tools::ReadInputFile(*request.DriverPath, "--driver " + request.DriverPath->string());
    result.Files.push_back({request.DriverPath->filename().string(), notice_pack::kNoticeDriverFileGuid, "driver",
                            image.size(), notice_pack::BuildDriverFile(image, request.DriverName)});
  }
  for (const notice_pack::PictureInput &picture : request.Pictures) {
    notice_pack::PackedPicture packed = notice_pack::PackPicture(
        picture, picture_tools::ReadInputFile(picture.Path, picture.Option), request.AllowInvalid, std::cerr);
    result.Pictures.push_back(std::move(packed.Checked));
    result.Files.push_back(std::move(packed.File));
  }
  return result;
}

// Every file given on the command line.
std::vector<std::pair<fs::path, std::string>> Inputs(const notice_pack::PackRequest &request) {
  std::vector<std::pair<fs::path, std::string>> inputs;
  if (request.DriverPath) inputs.push_back({*request.DriverPath, "--driver " + request.DriverPath->string()});
  for (const notice_pack::PictureInput &picture : request.Pictures) inputs.push_back({picture.Path, picture.Option});
  return inputs;
}

bool IsInput(const notice_pack::PackRequest &request, const fs::path &path) {
  for (const auto &[input, option] : Inputs(request)) {
    if (picture_tools::IsSameFile(input, path)) return true;
  }
  return false;
}

// Every file the request writes: DIR/<GUID>.ffs for each file, and the volume.
std::vector<std::pair<fs::path, std::string>> Outputs(const notice_pack::PackRequest &request) {
  std::vector<std::pair<fs::path, std::string>> outputs;
  if (request.FfsOutDir) {
    std::vector<notice_pack::Guid> names;
    if (request.DriverPath) names.push_back(notice_pack::kNoticeDriverFileGuid);
    for (const notice_pack::PictureInput &picture : request.Pictures) names.push_back(picture.FileGuid);
    for (const notice_pack::Guid &name : names) {
      const fs::path path = *request.FfsOutDir / (notice_pack::FormatGuid(name) + ".ffs");
      outputs.push_back({path, "--ffs-out " + request.FfsOutDir->string() + " writes " + path.string() + ", which"});
    }
  }
  if (request.VolumeOut) outputs.push_back({*request.VolumeOut, "--fv-out " + request.VolumeOut->string()});
  return outputs;
}

void RefuseOutputOverInput(const notice_pack::PackRequest &request) {
  for (const auto &[output, what] : Outputs(request)) {
    for (const auto &[input, option] : Inputs(request)) {
      if (picture_tools::IsSameFile(input, output)) {
        throw UsageError(what + " is an input (" + option + "); give another name (the input is kept)");
      }
    }
  }
}

// The .ffs files in `dir` that this set does not write and that no input names.
std::vector<fs::path> LeftOverFfsFiles(const fs::path &dir, const std::set<std::string> &written,
                                       const notice_pack::PackRequest &request) {
  std::vector<fs::path> left;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".ffs" && !written.count(name) && !IsInput(request, entry.path())) {
      left.push_back(entry.path());
    }
  }
  return left;
}

// Writes DIR/<GUID>.ffs for each file and the volume, all or none, then
// removes the other .ffs files in DIR, so that it holds exactly this set.
// Returns the names removed.
std::vector<std::string> WriteOutputs(const notice_pack::PackRequest &request, const std::vector<PackedFile> &files,
                                      const std::optional<Bytes> &volume) {
  std::optional<picture_tools::NewFolder> folder;
  picture_tools::StagedFiles staged;
  std::set<std::string> written;
  if (request.FfsOutDir) {
    folder.emplace(*request.FfsOutDir);
    for (const PackedFile &file : files) {
      const std::string name = notice_pack::FormatGuid(file.Name) + ".ffs";
      staged.Stage(*request.FfsOutDir / name, file.Ffs);
      written.insert(name);
    }
  }
  if (volume) staged.Stage(*request.VolumeOut, *volume);
  staged.Commit();
  std::vector<std::string> removed;
  if (!folder) return removed;
  folder->Keep();
  for (const fs::path &path : LeftOverFfsFiles(*request.FfsOutDir, written, request)) {
    std::error_code error;
    if (fs::remove(path, error)) removed.push_back(path.filename().string());
  }
  return removed;
}

void Run(const notice_pack::PackRequest &request) {
  RefuseOutputOverInput(request);
  const PackResult packed = BuildFiles(request);
  size_t total = 0;
  for (const PackedFile &file : packed.Files) total += file.Ffs.size();
  std::optional<Bytes> volume;
  if (request.VolumeOut) {
    std::vector<Bytes> contents;
    for (const PackedFile &file : packed.Files) contents.push_back(file.Ffs);
    volume = notice_pack::BuildVolume(contents);
  }
  const std::vector<std::string> removed = WriteOutputs(request, packed.Files, volume);
  std::cout << "notice-pack: " << packed.Files.size() << " FFS file" << (packed.Files.size() == 1 ? "" : "s") << " ("
            << (request.DriverPath ? "the driver, " : "") << request.Pictures.size() << " picture"
            << (request.Pictures.size() == 1 ? "" : "s") << "), " << total << " bytes\n";
  if (request.FfsOutDir) {
    // Each file is named by its GUID: say how many and where, not a placeholder path.
    const std::string folder = request.FfsOutDir->lexically_normal().string();
    std::cout << "notice-pack: wrote " << packed.Files.size() << " FFS file" << (packed.Files.size() == 1 ? "" : "s")
              << " into " << folder << (folder.ends_with('/') ? "" : "/") << ", each named GUID.ffs";
    for (const std::string &name : removed) std::cout << "; removed " << name << " left from an earlier run";
    std::cout << "\n";
  }
  if (volume) {
    std::cout << "notice-pack: wrote " << request.VolumeOut->string() << " (firmware volume, " << volume->size()
              << " bytes)\n";
  }
  if (const std::string fit = notice_pack::FitReport(packed.Pictures, request.Screens); !fit.empty()) {
    std::cout << fit << "\n";
  }
  const notice_pack::FlashCost cost = notice_pack::MeasureFlashCost(packed.Files, volume ? &*volume : nullptr);
  std::cout << cost.Table;
  const notice_pack::RoomReport room = notice_pack::CheckOvmfRoom(cost);
  std::cout << room.Note;
  if (room.Warning) std::cerr << "notice-pack: warning: " << *room.Warning << "\n";
}

int Pack(const std::vector<std::string> &args) {
  try {
    Run(notice_pack::ParseCommandLine(args));
    return 0;
  } catch (const UsageError &error) {
    std::cerr << "notice-pack: " << error.what() << " (see --help)\n";
    return 2;
  } catch (const PackError &error) {
    std::cerr << "notice-pack: " << error.what() << "\n";
  } catch (const picture_tools::InputFileError &error) {
    std::cerr << "notice-pack: " << error.what() << "\n";
  } catch (const picture_tools::OutputFileError &error) {
    std::cerr << "notice-pack: " << error.what() << "\n";
  }
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  // A write past the file-size limit then fails with EFBIG, which is reported,
  // instead of ending the process half way.
  std::signal(SIGXFSZ, SIG_IGN);
  // The last net: every failure the tool knows is reported where it happens.
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      std::cout << notice_pack::kUsage;
      return 0;
    }
    if (!args.empty() && args[0] == "convert") {
      return notice_pack::RunConvertCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    return Pack(args);
  } catch (const std::bad_alloc &) {
    std::cerr << "notice-pack: out of memory\n";
  } catch (const std::exception &error) {
    std::cerr << "notice-pack: internal error: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "notice-pack: internal error: an unknown exception\n";
  }
  return 1;
}
