// Copies onto real small and read-only file systems: a tmpfs mounted in a mount namespace of
// this process alone (skipped where the process may not mount).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/portable_file_system.h"
#include "platform/result_codes.h"
#include "tests/posix/temp_folder.h"

namespace kdr {
namespace {

namespace fs = std::filesystem;

// A mount namespace of our own, so that nothing mounted here is seen outside, nor outlives
// the process.
bool OwnMountNamespace() {
  static const bool own = ::unshare(CLONE_NEWNS) == 0 &&
                          ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return own;
}

class SmallDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OwnMountNamespace()) GTEST_SKIP() << "this process may not mount file systems";
    ASSERT_FALSE(temp_.path().empty());
    host_ = temp_.path();
    fs::create_directories(host_ / "c/src");
    fs::create_directories(host_ / "c/disk");
    files_.MapDrive('C', host_ / "c");
  }
  void TearDown() override {
    if (mounted_) ::umount2((host_ / "c/disk").c_str(), MNT_DETACH);
  }
  // Mounts a tmpfs of `kilobytes` at C:\disk, read-only when asked.
  void Mount(int kilobytes, bool read_only) {
    std::string size = "size=" + std::to_string(kilobytes) + "k";
    ASSERT_EQ(0, ::mount("tmpfs", (host_ / "c/disk").c_str(), "tmpfs", read_only ? MS_RDONLY : 0,
                         size.c_str()));
    mounted_ = true;
  }
  void Put(const fs::path& path, size_t bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
  }
  testing::TempFolder temp_{"kdr-disk"};
  fs::path host_;
  bool mounted_ = false;
  PortableFileSystem files_;
};

struct Failures : CopyObserver {
  void FileCopied(std::string_view, uint64_t) override {}
  void CopyFailed(std::string_view path, const FileResult& error) override {
    paths.emplace_back(path);
    codes.push_back(error.code);
  }
  std::vector<std::string> paths;
  std::vector<Status> codes;
};

TEST_F(SmallDiskTest, ReadOnlyDestinationIsReportedAsWriteProtected) {
  Mount(64, true);
  FileResult made = files_.MakeSurePathExists("C:\\disk\\new\\DDBVID\\");
  EXPECT_EQ(kWriteProtect, made.code) << Describe(made);
  Put(host_ / "c/src/a.dat", 10);
  Failures failures;
  EXPECT_FALSE(files_.CopyFolder("C:\\disk\\DDBVID\\", "C:\\src\\", nullptr, &failures));
  EXPECT_EQ(std::vector<Status>{kWriteProtect}, failures.codes);
}

TEST_F(SmallDiskTest, FullDiskFailsTheFileThatDoesNotFitAndLeavesNoPartOfIt) {
  Mount(256, false);
  Put(host_ / "c/src/big.dat", 512 * 1024);
  Put(host_ / "c/src/small.dat", 100);
  Failures failures;
  EXPECT_FALSE(files_.CopyFolder("C:\\disk\\DDBVID\\", "C:\\src\\", nullptr, &failures));
  EXPECT_EQ(std::vector<std::string>{"C:\\src\\big.dat"}, failures.paths);
  EXPECT_EQ(std::vector<Status>{kDiskFull}, failures.codes);
  EXPECT_EQ(100u, fs::file_size(host_ / "c/disk/DDBVID/small.dat"));
  // Neither a cut-short file under the real name nor the temporary one is left.
  EXPECT_EQ(
      1, std::distance(fs::directory_iterator(host_ / "c/disk/DDBVID"), fs::directory_iterator()));
}

}  // namespace
}  // namespace kdr
