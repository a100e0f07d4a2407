// The atomic writer with content made piece by piece: whatever stops it (the producer giving
// up, a write that fails, a file changed meanwhile), the old file stays as it was and no
// temporary file is left; when it works, the file is every piece in order.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/atomic_file.h"
#include "tests/posix/temp_folder.h"

namespace kdr {
namespace {

namespace fs = std::filesystem;

class AtomicFilePiecesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    dir_ = temp_.path();
    file_ = dir_ / "profile.reg";
    std::ofstream(file_, std::ios::binary) << "old";
  }

  std::string Text(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }

  testing::TempFolder temp_{"kdr-pieces"};
  fs::path dir_;
  fs::path file_;
};

// 300 pieces of 4 KB each; with give_up the producer then gives the write up.
FileResult WriteInPieces(const fs::path& path, bool give_up, const AtomicWriteOptions& options) {
  return WriteFileAtomically(
      path,
      [give_up](const PutBytes& put) {
        for (int i = 0; i < 300; ++i) {
          if (!put(std::string(4096, static_cast<char>('a' + i % 26)))) return false;
        }
        return !give_up;
      },
      options);
}

TEST_F(AtomicFilePiecesTest, StoppedWritesLeaveTheOldFileAndNoTemporaryFile) {
  AtomicWriteOptions changed;
  changed.unchanged = [](const fs::path&) { return false; };
  struct Case {
    const char* what;
    bool give_up;
    AtomicWriteOptions options;
    const char* call;
  } cases[] = {
      {"the producer gives up", true, {}, "write"},
      {"the file changed meanwhile", false, changed, "rename"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FileResult result = WriteInPieces(file_, c.give_up, c.options);
    EXPECT_EQ(kCancelled, result.code);
    EXPECT_EQ(c.call, result.call);
    EXPECT_EQ("old", Text(file_));
    EXPECT_EQ(1u, Entries());
  }
}

// A disk that fills up: writes beyond the process's file size limit fail (EFBIG) as they
// would with ENOSPC. Run in a child, which the limit must not outlive.
TEST_F(AtomicFilePiecesTest, AWriteThatFailsLeavesTheOldFileAndNoTemporaryFile) {
  pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      64 * 1024, 64 * 1024
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    FileResult result = WriteInPieces(file_, false, {});
    _exit(!result.ok() && result.call == "write" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ("old", Text(file_));
  EXPECT_EQ(1u, Entries());
}

TEST_F(AtomicFilePiecesTest, PiecesGoInOrderThroughALinkKeepingItAndTheMode) {
  fs::path link = dir_ / "link.reg";
  fs::create_symlink(file_, link);
  ASSERT_EQ(0, ::chmod(file_.c_str(), 0640));
  AtomicWriteOptions options;
  options.through_links = true;
  options.keep_owner = true;
  ASSERT_TRUE(WriteInPieces(link, false, options));
  std::string expected;
  for (int i = 0; i < 300; ++i) expected += std::string(4096, static_cast<char>('a' + i % 26));
  EXPECT_EQ(expected, Text(file_));
  EXPECT_TRUE(fs::is_symlink(link));
  struct stat st {};
  ASSERT_EQ(0, ::stat(file_.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(2u, Entries());
}

}  // namespace
}  // namespace kdr
