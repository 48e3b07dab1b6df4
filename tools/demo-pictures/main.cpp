// demo-pictures --out DIR: writes the six demo notice pictures as
// DIR/notice1.bmp ... DIR/notice6.bmp.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "demo_pictures.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: demo-pictures --out DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf(
        "usage: demo-pictures --out DIR\nwrites the six demo notice pictures as DIR/notice1.bmp to "
        "DIR/notice6.bmp\n");
    return 0;
  }
  if (argc != 3 || std::strcmp(argv[1], "--out") != 0) return Usage();
  const std::filesystem::path out_dir = argv[2];
  try {
    std::filesystem::create_directories(out_dir);
    for (unsigned mode = demo::kFirstDemoMode; mode <= demo::kLastDemoMode; ++mode) {
      const demo::DemoPicture picture = demo::MakeDemoPicture(mode);
      const std::filesystem::path path = out_dir / demo::DemoPictureFileName(mode);
      std::ofstream file(path, std::ios::binary);
      file.write(reinterpret_cast<const char *>(picture.bmp.data()), static_cast<std::streamsize>(picture.bmp.size()));
      file.close();
      if (!file) {
        std::fprintf(stderr, "demo-pictures: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
      }
    }
    std::printf("demo-pictures: wrote notice%u.bmp to notice%u.bmp in %s\n", demo::kFirstDemoMode, demo::kLastDemoMode,
                out_dir.c_str());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "demo-pictures: %s\n", e.what());
    return 1;
  }
  return 0;
}
