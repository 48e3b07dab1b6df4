// Reading what a user names and writing outputs whole: anything but a
// regular file of bounded size is refused with what was found there, and a
// write that fails, even half way through a set of files, leaves every
// target byte for byte as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "tests/support/command_run.h"
#include "tools/common/input_file.h"
#include "tools/common/staged_files.h"

namespace {

namespace fs = std::filesystem;
using picture_tools::InputFileError;
using picture_tools::OutputFileError;
using tool_test::ReadBytes;
using tool_test::WriteBytes;

class FileIo : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("notice-file-io-" + std::to_string(getpid()) + "-" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code error;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(dir_, error);
  }
  fs::path Path(const std::string &name) const { return dir_ / name; }
  // Every name in the folder, to see that no temporary file was left.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir_;
};

std::string ReadRefusal(const fs::path &path, uint64_t limit = picture_tools::kMaxInputFileBytes) {
  try {
    picture_tools::ReadInputFile(path, "--picture 5=" + path.string(), limit);
  } catch (const InputFileError &error) {
    return error.what();
  }
  return "read";
}

TEST_F(FileIo, OnlyARegularFileWithinTheLimitIsRead) {
  WriteBytes(Path("art.bmp"), {1, 2, 3});
  WriteBytes(Path("empty"), {});
  fs::create_directory(Path("folder"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  // A sparse file one byte over the limit: refused from its size, unread.
  { std::ofstream(Path("huge")).put('x'); }
  fs::resize_file(Path("huge"), picture_tools::kMaxInputFileBytes + 1);
  const std::string label = "--picture 5=" + dir_.string();
  const std::vector<std::pair<fs::path, std::string>> cases = {
      {Path("folder"), "/folder: is a folder, not a file"},
      {Path("fifo"), "/fifo: is a FIFO (named pipe), not a file"},
      {"/dev/zero", "--picture 5=/dev/zero: is a character device, not a file"},
      {"/dev/null", "--picture 5=/dev/null: is a character device, not a file"},
      {Path("missing.bmp"), "/missing.bmp: does not exist"},
      {Path("art.bmp/x"), "/art.bmp/x: does not exist (a part of the path is not a folder)"},
      {Path("huge"), "/huge: is 67,108,865 bytes, more than the 64 MiB (67,108,864 bytes) a tool reads"},
  };
  for (const auto &[path, expected] : cases) {
    const std::string refusal = ReadRefusal(path);
    EXPECT_NE(refusal.find(expected), std::string::npos) << refusal;
    EXPECT_EQ(refusal.find('\n'), std::string::npos);
  }
  EXPECT_EQ(picture_tools::ReadInputFile(Path("art.bmp"), "x"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(picture_tools::ReadInputFile(Path("empty"), "x").empty());
  EXPECT_NE(ReadRefusal(Path("art.bmp"), 2).find("is 3 bytes, more than the 2 bytes a tool reads"), std::string::npos);
}

TEST_F(FileIo, AnUnreadableFileIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  WriteBytes(Path("secret.bmp"), {1});
  fs::permissions(Path("secret.bmp"), fs::perms::none);
  EXPECT_NE(ReadRefusal(Path("secret.bmp")).find("cannot be read: permission denied"), std::string::npos);
}

TEST_F(FileIo, ReplacesWholeKeepingTheModeAndLeavesNoTemporaryFile) {
  WriteBytes(Path("out.bmp"), {9, 9, 9, 9, 9});
  fs::permissions(Path("out.bmp"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  picture_tools::WriteFileAtomically(Path("out.bmp"), std::vector<uint8_t>{1, 2});
  EXPECT_EQ(ReadBytes(Path("out.bmp")), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(fs::status(Path("out.bmp")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  picture_tools::WriteFileAtomically(Path("new.bmp"), std::vector<uint8_t>{3});
  EXPECT_EQ(ReadBytes(Path("new.bmp")), (std::vector<uint8_t>{3}));
  // Through a symbolic link the file it names is replaced, and the link stays.
  fs::create_symlink(Path("new.bmp"), Path("link.bmp"));
  picture_tools::WriteFileAtomically(Path("link.bmp"), std::vector<uint8_t>{4});
  EXPECT_TRUE(fs::is_symlink(Path("link.bmp")));
  EXPECT_EQ(ReadBytes(Path("new.bmp")), (std::vector<uint8_t>{4}));
  EXPECT_EQ(Names(), (std::vector<std::string>{"link.bmp", "new.bmp", "out.bmp"}));
}

TEST_F(FileIo, RefusesTargetsThatAreNotFilesOrHaveNoFolder) {
  fs::create_directory(Path("folder"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  const std::vector<std::pair<fs::path, std::string>> cases = {
      {Path("folder"), "it is a folder, not a file; it was left as it was"},
      {Path("fifo"), "it is a FIFO (named pipe), not a file; it was left as it was"},
      {Path("missing/out.bmp"), "/missing/out.bmp: the folder " + Path("missing").string() + " does not exist"},
  };
  for (const auto &[path, expected] : cases) {
    try {
      picture_tools::WriteFileAtomically(path, std::vector<uint8_t>{1});
      ADD_FAILURE() << path << " was written";
    } catch (const OutputFileError &error) {
      EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
    }
  }
  EXPECT_TRUE(fs::is_directory(Path("folder")));
  EXPECT_TRUE(fs::is_fifo(Path("fifo")));
  EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "folder"}));
}

TEST_F(FileIo, AReadOnlyFolderIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into every folder";
  fs::create_directory(Path("locked"));
  fs::permissions(Path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_THROW(picture_tools::WriteFileAtomically(Path("locked/out.bmp"), std::vector<uint8_t>{1}), OutputFileError);
}

// Runs `write` in a child process whose files may not grow past `limit`
// bytes; returns the child's exit status (0: `write` threw OutputFileError).
template <typename Write>
int UnderFileSizeLimit(rlim_t limit, Write write) {
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{limit, limit};
    setrlimit(RLIMIT_FSIZE, &small);
    try {
      write();
    } catch (const OutputFileError &) {
      _exit(0);
    }
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(FileIo, AFailedWriteLeavesTheTargetAsItWas) {
  const std::vector<uint8_t> original(3000, 0x5A);
  WriteBytes(Path("image.fd"), original);
  const std::vector<uint8_t> larger(8192, 0x11);
  EXPECT_EQ(UnderFileSizeLimit(1024, [&] { picture_tools::WriteFileAtomically(Path("image.fd"), larger); }), 0);
  EXPECT_EQ(ReadBytes(Path("image.fd")), original);
  EXPECT_EQ(Names(), (std::vector<std::string>{"image.fd"}));
}

TEST_F(FileIo, ASetOfFilesIsWrittenWholeOrNotAtAll) {
  const std::vector<uint8_t> first(100, 1), second(100, 2);
  WriteBytes(Path("a.ffs"), first);
  WriteBytes(Path("b.fv"), second);
  // The first file is small enough; the second passes the limit, so neither changes.
  EXPECT_EQ(UnderFileSizeLimit(1024,
                               [&] {
                                 picture_tools::StagedFiles staged;
                                 staged.Stage(Path("a.ffs"), std::vector<uint8_t>(500, 3));
                                 staged.Stage(Path("b.fv"), std::vector<uint8_t>(5000, 4));
                                 staged.Commit();
                               }),
            0);
  EXPECT_EQ(ReadBytes(Path("a.ffs")), first);
  EXPECT_EQ(ReadBytes(Path("b.fv")), second);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.ffs", "b.fv"}));
  // Staged and not committed: nothing changes either.
  {
    picture_tools::StagedFiles staged;
    staged.Stage(Path("a.ffs"), std::vector<uint8_t>(7, 7));
  }
  EXPECT_EQ(ReadBytes(Path("a.ffs")), first);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.ffs", "b.fv"}));
}

TEST_F(FileIo, AFolderMadeForOutputsGoesAgainWhenNothingIsWritten) {
  { picture_tools::NewFolder folder(Path("out/ffs/")); }
  EXPECT_FALSE(fs::exists(Path("out")));
  {
    picture_tools::NewFolder folder(Path("kept/ffs"));
    folder.Keep();
  }
  EXPECT_TRUE(fs::is_directory(Path("kept/ffs")));
  WriteBytes(Path("file"), {1});
  EXPECT_THROW(picture_tools::NewFolder(Path("file")), OutputFileError);
  EXPECT_THROW(picture_tools::NewFolder(Path("file/sub")), OutputFileError);
  EXPECT_EQ(ReadBytes(Path("file")), (std::vector<uint8_t>{1}));
}

TEST_F(FileIo, SameFileSeesThroughOtherNames) {
  WriteBytes(Path("a"), {1});
  fs::create_symlink(Path("a"), Path("b"));
  EXPECT_TRUE(picture_tools::IsSameFile(Path("a"), Path("b")));
  EXPECT_TRUE(picture_tools::IsSameFile(Path("a"), dir_ / "." / "a"));
  EXPECT_FALSE(picture_tools::IsSameFile(Path("a"), Path("missing")));
}

}  // namespace
