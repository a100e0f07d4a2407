// The folder copy through a staging folder beside its files: what it leaves and sweeps, what it
// tells when a whole file cannot take its place, and where it copies in place instead.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/temp_file_name.h"
#include "platform/win32/staging_folder.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_file_system.h"

namespace kdr {
namespace {

struct Told : CopyObserver {
  void FileCopied(std::string_view path, uint64_t) override { copied.emplace_back(path); }
  void CopyFailed(std::string_view path, const FileResult& why) override {
    failed.push_back(std::string(path) + ": " + why.call);
  }
  void CopiedInPlace(std::string_view, std::string_view why) override {
    in_place.emplace_back(why);
  }
  std::vector<std::string> copied, failed, in_place;
};

// A process id no process has: its leftovers are an ended run's.
constexpr uint64_t kEndedWriter = 2147483632;

class StagedCopyTest : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof temp, temp);
    ASSERT_TRUE(n > 0 && n < sizeof temp);
    root_ = std::string(temp) + "kdr4tose-staged-" + std::to_string(GetCurrentProcessId());
    src_ = root_ + "\\src\\";
    ASSERT_TRUE(files_.MakeSurePathExists(src_ + "sub\\"));
    ASSERT_TRUE(files_.WriteFileAtomically(src_ + "a.dat", "alpha"));
    ASSERT_TRUE(files_.WriteFileAtomically(src_ + "sub\\b.dat", "bravo"));
  }
  void TearDown() override { RemoveTree(std::wstring(root_.begin(), root_.end())); }

  // Every name in `folder`, the tool's hidden ones included.
  static std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((folder + "*").c_str(), &entry));
    if (!find.ok()) return names;
    do {
      std::string name = entry.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
  }

  Win32FileSystem files_;
  std::string root_, src_;
};

TEST_F(StagedCopyTest, StagingFoldersOfEndedRunsAreSweptAndNoneIsLeft) {
  const std::string dst = root_ + "\\dst\\";
  const std::string ended = TempFileName(kEndedWriter, 1);
  const std::string running = TempFileName(GetCurrentProcessId(), 999999);
  ASSERT_TRUE(files_.MakeSurePathExists(dst + ended + "\\sub\\"));
  ASSERT_TRUE(files_.WriteFileAtomically(dst + ended + "\\sub\\b.dat", "br"));
  ASSERT_TRUE(files_.MakeSurePathExists(dst + running + "\\"));

  Told told;
  EXPECT_TRUE(files_.CopyFolder(dst, src_, nullptr, &told));
  EXPECT_EQ((std::vector<std::string>{src_ + "a.dat", src_ + "sub\\b.dat"}), told.copied);
  EXPECT_EQ(std::vector<std::string>{}, told.failed);
  EXPECT_EQ(std::vector<std::string>{}, told.in_place);
  // A running writer's folder stays; no listing of the tool counts it.
  EXPECT_EQ((std::vector<std::string>{running, "a.dat", "sub"}), Names(dst));
  std::vector<std::string> listed;
  ASSERT_TRUE(files_.ListFiles(dst, &listed));
  EXPECT_EQ((std::vector<std::string>{"a.dat", "sub\\b.dat"}), listed);
  EXPECT_EQ(std::optional<std::string>("bravo"), files_.ReadFile(dst + "sub\\b.dat"));
}

// A file of the same size that another program holds open: while it is held it keeps its
// content and is told as not copied, not taken for the copy because its size matches; one let go
// within a moment (another run reading it back) is replaced.
TEST_F(StagedCopyTest, AFileHeldOpenIsReplacedOnlyOnceLetGo) {
  for (bool let_go : {true, false}) {
    SCOPED_TRACE(let_go ? "let go after 200 ms" : "held");
    const std::string dst = root_ + (let_go ? "\\let-go\\" : "\\held\\");
    ASSERT_TRUE(files_.MakeSurePathExists(dst));
    ASSERT_TRUE(files_.WriteFileAtomically(dst + "a.dat", "ALPHA"));
    FileHandle held(CreateFileA((dst + "a.dat").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.ok());
    std::thread letting_go;
    if (let_go) {
      letting_go = std::thread([&] {
        Sleep(200);
        held.Reset(INVALID_HANDLE_VALUE);
      });
    }
    Told told;
    FileResult result = files_.CopyFolder(dst, src_, nullptr, &told);
    if (letting_go.joinable()) letting_go.join();
    held.Reset(INVALID_HANDLE_VALUE);
    EXPECT_EQ(let_go, result.ok()) << Describe(result);
    EXPECT_EQ(
        let_go ? std::vector<std::string>{} : std::vector<std::string>{src_ + "a.dat: MoveFileEx"},
        told.failed);
    EXPECT_EQ(std::optional<std::string>(let_go ? "alpha" : "ALPHA"),
              files_.ReadFile(dst + "a.dat"));
    EXPECT_EQ((std::vector<std::string>{"a.dat", "sub"}), Names(dst));
  }
}

// Near 260 characters the staging folder's name would push the shell copy's paths past them:
// the copy is then made in place, as before, and says why.
TEST_F(StagedCopyTest, WhereTheStagingFolderWouldNotFitItCopiesInPlace) {
  const size_t longest = std::string("sub\\b.dat").size();
  const struct {
    size_t room;  // characters left below 260 after the destination and its longest path
    bool in_place;
  } cases[] = {{40, false}, {10, true}, {1, true}};
  for (const auto& c : cases) {
    std::string dst = root_ + "\\";
    dst += std::string(MAX_PATH - c.room - longest - dst.size() - 1, 'd') + "\\";
    ASSERT_EQ(size_t{MAX_PATH} - c.room, dst.size() + longest);
    SCOPED_TRACE(dst.size());
    Told told;
    EXPECT_TRUE(files_.CopyFolder(dst, src_, nullptr, &told));
    EXPECT_EQ(c.in_place ? 1u : 0u, told.in_place.size());
    EXPECT_EQ(2u, told.copied.size());
    EXPECT_EQ(std::optional<std::string>("bravo"), files_.ReadFile(dst + "sub\\b.dat"));
    EXPECT_EQ((std::vector<std::string>{"a.dat", "sub"}), Names(dst));
    RemoveTree(std::wstring(dst.begin(), dst.end() - 1));
  }
}

}  // namespace
}  // namespace kdr
