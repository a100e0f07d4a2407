// A data file whose name the ANSI code page cannot hold: the shell copy carries it over by its
// UTF-16 name, and the copy's report must find it (and only it) by that name too.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/win32_file_system.h"

namespace kdr {
namespace {

namespace fs = std::filesystem;

struct Reported : CopyObserver {
  void FileCopied(std::string_view path, uint64_t) override { copied.emplace_back(path); }
  void CopyFailed(std::string_view path, const FileResult&) override { failed.emplace_back(path); }
  std::vector<std::string> copied;
  std::vector<std::string> failed;
};

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Get(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(WideNamesTest, NameOutsideTheAnsiCodePageIsCopiedAndCheckedByItsOwnName) {
  const std::string base = "C:\\kdr4test\\wide-" + std::to_string(GetCurrentProcessId());
  const fs::path host(base);
  const std::wstring umlaut = L"M\u00fcller.ddv";  // best fit would make it "Muller.ddv"
  Put(host / "src" / umlaut, "umlaut");
  Put(host / "src" / "plain.ddv", "plain");
  Win32FileSystem files;

  Reported clean;
  EXPECT_TRUE(files.CopyFolder(base + "\\dst\\", base + "\\src\\", nullptr, &clean));
  EXPECT_EQ("umlaut", Get(host / "dst" / umlaut));
  EXPECT_TRUE(clean.failed.empty()) << clean.failed.front();
  EXPECT_EQ(2u, clean.copied.size());
  EXPECT_NE(std::find(clean.copied.begin(), clean.copied.end(), base + "\\src\\M?ller.ddv"),
            clean.copied.end());

  // The file cannot arrive (a folder stands in its place) while its look-alike of the same
  // size is there: still a file not copied.
  fs::create_directories(host / "trap" / umlaut);
  Put(host / "trap" / "Muller.ddv", "others");
  Reported trap;
  EXPECT_FALSE(files.CopyFolder(base + "\\trap\\", base + "\\src\\", nullptr, &trap));
  EXPECT_EQ(std::vector<std::string>{base + "\\src\\M?ller.ddv"}, trap.failed);
  EXPECT_EQ("others", Get(host / "trap" / "Muller.ddv"));
  std::error_code ec;
  fs::remove_all(host, ec);
}

// The read-back, the manifest and undo list the file by the name the copy reports and reach it
// by that name, never its look-alike; where "?" could stand for two names, for neither.
TEST(WideNamesTest, NameOutsideTheAnsiCodePageIsListedAndReachedByItsReportedName) {
  const std::string base = "C:\\kdr4test\\listed-" + std::to_string(GetCurrentProcessId());
  const fs::path host(base);
  Put(host / "one" / L"M\u00fcller.ddv", "umlaut");
  Put(host / "one" / "Muller.ddv", "look-alike");
  Put(host / "two" / L"M\u00fcller.ddv", "u");
  Put(host / "two" / L"M\u00e4ller.ddv", "a");
  Win32FileSystem files;
  std::vector<std::string> names;
  ASSERT_TRUE(files.ListFiles(base + "\\one\\", &names));
  EXPECT_EQ((std::vector<std::string>{"M?ller.ddv", "Muller.ddv"}), names);
  EXPECT_EQ("umlaut", files.ReadFile(base + "\\one\\m?ller.ddv").value_or("(none)"));
  EXPECT_TRUE(files.Stamp(base + "\\one\\M?ller.ddv"));
  EXPECT_FALSE(files.ReadFile(base + "\\two\\M?ller.ddv"));
  EXPECT_TRUE(files.RemoveFile(base + "\\one\\M?ller.ddv"));
  EXPECT_FALSE(fs::exists(host / "one" / L"M\u00fcller.ddv"));
  EXPECT_EQ("look-alike", Get(host / "one" / "Muller.ddv"));
  std::error_code ec;
  fs::remove_all(host, ec);
}

}  // namespace
}  // namespace kdr
