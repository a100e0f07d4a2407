// Temporary files that a killed run left behind are cleared away by the next one, and never
// copied on; files of running writers and other people's files are left alone.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/portable_file_system.h"
#include "tests/posix/temp_folder.h"

namespace kdr {
namespace {

namespace fs = std::filesystem;

class StaleTempFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    host_ = temp_.path();
    files_.MapDrive('C', host_);
  }
  void Put(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // A process id that is certainly not running: a child that has been waited for.
  static pid_t DeadPid() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
  }

  testing::TempFolder temp_{"kdr-stale"};
  fs::path host_;
  PortableFileSystem files_;
};

// A run killed by a signal stays a zombie until its parent waits for it (`timeout -s KILL`
// kills itself too, and the zombie waits for init): it writes nothing more, so its leftovers go.
TEST_F(StaleTempFilesTest, LeftoversOfAKilledRunNotYetWaitedForGo) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  // Exited, not waited for: a zombie.
  siginfo_t info{};
  ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT));
  std::string zombie = ".kdr4tose-" + std::to_string(child) + "-3.tmp";
  Put(host_ / "src" / "a.dat", "A");
  Put(host_ / "dst" / zombie, "");
  EXPECT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  EXPECT_FALSE(fs::exists(host_ / "dst" / zombie));
  int status = 0;
  waitpid(child, &status, 0);
}

TEST_F(StaleTempFilesTest, KilledRunsLeftoversGoOthersStay) {
  std::string dead = ".kdr4tose-" + std::to_string(DeadPid()) + "-7.tmp";
  std::string alive = ".kdr4tose-" + std::to_string(getppid()) + "-1.tmp";
  Put(host_ / "src" / "a.dat", "A");
  Put(host_ / "src" / dead, "half");  // a leftover in the source is not carried on
  Put(host_ / "dst" / dead, "half");
  Put(host_ / "dst" / alive, "in use");
  Put(host_ / "dst" / ".kdr4tose-notes.tmp", "someone's own file");
  EXPECT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  EXPECT_TRUE(fs::exists(host_ / "dst" / "a.dat"));
  EXPECT_FALSE(fs::exists(host_ / "dst" / dead));
  EXPECT_TRUE(fs::exists(host_ / "dst" / alive));
  EXPECT_TRUE(fs::exists(host_ / "dst" / ".kdr4tose-notes.tmp"));

  Put(host_ / "work" / dead, "half");
  ASSERT_TRUE(files_.WriteFileAtomically("C:\\work\\kdr4reg.fil", "whole"));
  EXPECT_FALSE(fs::exists(host_ / "work" / dead));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(host_ / "work"), fs::directory_iterator()));
}

// Undo removes a folder a killed Migrate made and left a copy's temporary file in; a folder
// holding a running writer's is not removed.
TEST_F(StaleTempFilesTest, AFolderHoldingOnlyAKilledRunsLeftoverIsRemoved) {
  std::string dead = ".kdr4tose-" + std::to_string(DeadPid()) + "-3.tmp";
  std::string alive = ".kdr4tose-" + std::to_string(getppid()) + "-1.tmp";
  Put(host_ / "made" / dead, "half");
  Put(host_ / "busy" / alive, "in use");
  EXPECT_TRUE(files_.RemoveFolder("C:\\made"));
  EXPECT_FALSE(fs::exists(host_ / "made"));
  EXPECT_FALSE(files_.RemoveFolder("C:\\busy"));
  EXPECT_TRUE(fs::exists(host_ / "busy" / alive));
}

}  // namespace
}  // namespace kdr
