// Paths longer than the 260 characters of the plain Win32 calls: a data file that deep is
// copied (by the tool itself where the shell copy cannot take it), listed, read and removed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/win32_file_system.h"

namespace kdr {
namespace {

// Logs what the copy tells.
struct Told : CopyObserver {
  void FileCopied(std::string_view path, uint64_t) override { copied.emplace_back(path); }
  void CopyFailed(std::string_view path, const FileResult& why) override {
    failed.push_back(std::string(path) + ": " + Describe(why));
  }
  void CopiedItself(std::string_view path) override { itself.emplace_back(path); }
  std::vector<std::string> copied, failed, itself;
};

TEST(LongPathsTest, DeepDataFileIsCopiedListedReadAndRemoved) {
  char temp[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof temp, temp);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, sizeof temp);
  const std::string root =
      std::string(temp) + "kdr4tose-long-" + std::to_string(GetCurrentProcessId()) + "\\";
  std::string deep = "src\\";
  while (root.size() + deep.size() < 300) deep += std::string(40, 'd') + "\\";
  const std::string relative = deep.substr(4) + "data.ddv";  // below src
  Win32FileSystem files;
  ASSERT_TRUE(files.MakeSurePathExists(root + deep + "data.ddv"));
  ASSERT_TRUE(files.WriteFileAtomically(root + deep + "data.ddv", "deep"));
  ASSERT_TRUE(files.WriteFileAtomically(root + "src\\short.ddv", "short"));
  ASSERT_GE((root + deep + "data.ddv").size(), size_t{MAX_PATH});

  Told told;
  FileResult copied = files.CopyFolder(root + "dst\\", root + "src\\", nullptr, &told);
  EXPECT_TRUE(copied.ok()) << Describe(copied);
  EXPECT_TRUE(told.failed.empty()) << told.failed.front();
  EXPECT_EQ(2u, told.copied.size());
  EXPECT_EQ(std::vector<std::string>{root + deep + "data.ddv"}, told.itself);
  EXPECT_EQ(std::optional<std::string>("deep"), files.ReadFile(root + "dst\\" + relative));
  EXPECT_TRUE(files.Stamp(root + "dst\\" + relative).has_value());
  EXPECT_TRUE(files.Exists(root + "dst\\" + relative));
  std::vector<std::string> listed;
  ASSERT_TRUE(files.ListFiles(root + "dst\\", &listed));
  EXPECT_EQ((std::vector<std::string>{relative, "short.ddv"}), listed);

  // Taken down again as an undo would, which also checks that each call reached the file.
  for (const std::string& top : {root + "src\\", root + "dst\\"}) {
    std::vector<std::string> names, folders;
    ASSERT_TRUE(files.ListFiles(top, &names));
    ASSERT_TRUE(files.ListFolders(top, &folders));
    for (const std::string& name : names) EXPECT_TRUE(files.RemoveFile(top + name)) << name;
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
      EXPECT_TRUE(files.RemoveFolder(top + *it)) << *it;
    }
    EXPECT_TRUE(files.RemoveFolder(top.substr(0, top.size() - 1)));
  }
  EXPECT_TRUE(files.RemoveFolder(root.substr(0, root.size() - 1)));
}

}  // namespace
}  // namespace kdr
