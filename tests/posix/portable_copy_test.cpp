// What the portable copy does beyond the shell copy's contract: links, names in another case,
// sparse files, other writers' temporary files, and links that lead off the drive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/portable_file_system.h"
#include "tests/posix/temp_folder.h"

namespace kdr {
namespace {

namespace fs = std::filesystem;

mode_t GetUmask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

class PortableCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    host_ = temp_.path();
    fs::create_directories(host_ / "c");
    fs::create_directories(host_ / "outside");
    files_.MapDrive('C', host_ / "c");
  }
  void Put(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string Get(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  testing::TempFolder temp_{"kdr-copy"};
  fs::path host_;
  PortableFileSystem files_;
};

TEST_F(PortableCopyTest, AbsoluteLinkInsideTheTreeIsRepointedIntoTheCopy) {
  Put(host_ / "c/src/data/a.dat", "A");
  fs::create_symlink(host_ / "c/src/data/a.dat", host_ / "c/src/link.dat");
  ASSERT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  fs::remove_all(host_ / "c/src");  // the old product removed
  EXPECT_EQ("A", Get(host_ / "c/dst/link.dat"));
  EXPECT_TRUE(fs::read_symlink(host_ / "c/dst/link.dat").is_relative());
}

// A link or a device anywhere below a folder is something a copy carries that a listing of its
// files leaves out.
TEST_F(PortableCopyTest, OnlyPlainFilesAndFoldersAreToldAsSuch) {
  Put(host_ / "c/plain/sub/a.dat", "A");
  fs::create_directories(host_ / "c/plain/empty");
  Put(host_ / "c/linked/sub/a.dat", "A");
  fs::create_directories(host_ / "c/linked/sub/deep");
  fs::create_symlink(host_ / "c/linked/sub/a.dat", host_ / "c/linked/sub/deep/link.dat");
  fs::create_directories(host_ / "c/piped/sub");
  ASSERT_EQ(0, ::mkfifo((host_ / "c/piped/sub/fifo").c_str(), 0600));
  const struct {
    const char* folder;
    bool only;
  } cases[] = {{"C:\\plain\\", true},
               {"C:\\linked\\", false},
               {"C:\\piped\\", false},
               {"C:\\missing\\", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.only, files_.HoldsOnlyFilesAndFolders(c.folder)) << c.folder;
  }
}

// The user's file that Migrate replaces, and undo restores, stays the user's: its owner, group
// and mode are kept (the owner where the process may give it: as root). A new file takes the
// source's mode.
TEST_F(PortableCopyTest, AReplacedFileKeepsItsOwnerGroupAndMode) {
  Put(host_ / "c/src/a.dat", "new");
  Put(host_ / "c/src/b.dat", "added");
  ASSERT_EQ(0, ::chmod((host_ / "c/src/a.dat").c_str(), 0600));
  ASSERT_EQ(0, ::chmod((host_ / "c/src/b.dat").c_str(), 0640));
  Put(host_ / "c/dst/a.dat", "old");
  const fs::path replaced = host_ / "c/dst/a.dat";
  ASSERT_EQ(0, ::chmod(replaced.c_str(), 0664));
  const bool root = ::geteuid() == 0;
  const uid_t owner = root ? 65534 : ::geteuid();
  const gid_t group = root ? 65534 : ::getegid();
  if (root) {
    ASSERT_EQ(0, ::chown(replaced.c_str(), owner, group));
  }
  auto expect_kept = [&](const char* after) {
    struct stat st {};
    ASSERT_EQ(0, ::stat(replaced.c_str(), &st)) << after;
    EXPECT_EQ(0664u, st.st_mode & 07777) << after;
    EXPECT_EQ(owner, st.st_uid) << after;
    EXPECT_EQ(group, st.st_gid) << after;
  };
  ASSERT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  EXPECT_EQ("new", Get(replaced));
  expect_kept("the copy");
  ASSERT_TRUE(files_.WriteFileAtomically("C:\\dst\\a.dat", "old"));
  EXPECT_EQ("old", Get(replaced));
  expect_kept("the restore");
  struct stat added {};
  ASSERT_EQ(0, ::stat((host_ / "c/dst/b.dat").c_str(), &added));
  EXPECT_EQ(0640u & ~GetUmask(), added.st_mode & 07777);
}

TEST_F(PortableCopyTest, NameInAnotherCaseIsReplacedAsWindowsWould) {
  Put(host_ / "c/src/Orders.DDV", "new");
  Put(host_ / "c/dst/orders.ddv", "old");
  ASSERT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  EXPECT_EQ("new", Get(host_ / "c/dst/orders.ddv"));
  EXPECT_FALSE(fs::exists(host_ / "c/dst/Orders.DDV"));
}

TEST_F(PortableCopyTest, SparseFileKeepsItsHoles) {
  fs::create_directories(host_ / "c/src");
  {
    int fd = ::open((host_ / "c/src/sparse.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(1, ::pwrite(fd, "x", 1, 256 << 20));
    ::close(fd);
  }
  struct stat original {};
  ASSERT_EQ(0, ::stat((host_ / "c/src/sparse.bin").c_str(), &original));
  if (original.st_blocks * 512 > (1 << 20)) GTEST_SKIP() << "this file system keeps no holes";
  ASSERT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  struct stat copy {};
  ASSERT_EQ(0, ::stat((host_ / "c/dst/sparse.bin").c_str(), &copy));
  EXPECT_EQ(original.st_size, copy.st_size);
  EXPECT_LT(copy.st_blocks * 512, 1 << 20) << "the holes were written out";
}

TEST_F(PortableCopyTest, NobodysTemporaryFileIsCarriedOn) {
  Put(host_ / "c/src/a.dat", "A");
  // A running writer's (this process's parent is alive) half-written file.
  Put(host_ / "c/src" / (".kdr4tose-" + std::to_string(getppid()) + "-3.tmp"), "half");
  ASSERT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(host_ / "c/dst"), fs::directory_iterator()));
}

TEST_F(PortableCopyTest, LinkOffTheDriveIsNeverWrittenThrough) {
  Put(host_ / "c/src/a.dat", "A");
  // KodrelSE's data folder, or a folder inside it, is a link to somewhere off drive C:.
  fs::create_directories(host_ / "c/se");
  fs::create_directory_symlink(host_ / "outside", host_ / "c/se/DDBVID");
  EXPECT_FALSE(files_.CopyFolder("C:\\se\\DDBVID\\", "C:\\src\\", nullptr, nullptr));
  EXPECT_FALSE(files_.MakeSurePathExists("C:\\se\\DDBVID\\sub\\"));
  fs::create_directories(host_ / "c/dst");
  fs::create_directory_symlink(host_ / "outside", host_ / "c/dst/sub");
  Put(host_ / "c/src/sub/b.dat", "B");
  EXPECT_FALSE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, nullptr));
  EXPECT_TRUE(fs::is_empty(host_ / "outside"));
  EXPECT_EQ("A", Get(host_ / "c/dst/a.dat"));
  // Nor is a source read through one, nor a path with "..".
  EXPECT_FALSE(files_.CopyFolder("C:\\dst2\\", "C:\\se\\DDBVID\\", nullptr, nullptr));
  EXPECT_FALSE(files_.HostPath("C:\\..\\outside\\"));
}

// Collects the paths the copy reports.
struct ReportedPaths : CopyObserver {
  void FileCopied(std::string_view path, uint64_t) override { copied.emplace_back(path); }
  void CopyFailed(std::string_view path, const FileResult&) override { failed.emplace_back(path); }
  std::vector<std::string> copied;
  std::vector<std::string> failed;
};

TEST_F(PortableCopyTest, NameOutsideCodePage932IsCopiedAndReportedWithQuestionMarks) {
  Put(host_ / "c/src/M\xc3\xbcller.ddv", "u");     // "ü": no code page 932 form
  Put(host_ / "c/src/\xe8\xa1\xa8\xff.ddv", "b");  // "表" and a byte that is not UTF-8
  ReportedPaths reported;
  ASSERT_TRUE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, &reported));
  EXPECT_EQ("u", Get(host_ / "c/dst/M\xc3\xbcller.ddv"));
  EXPECT_EQ("b", Get(host_ / "c/dst/\xe8\xa1\xa8\xff.ddv"));
  std::sort(reported.copied.begin(), reported.copied.end());
  EXPECT_EQ((std::vector<std::string>{"C:\\src\\M?ller.ddv", "C:\\src\\\x95\x5c?.ddv"}),
            reported.copied);
  EXPECT_TRUE(reported.failed.empty());
}

// A name that Windows cannot hold, or keeps for a device, is not copied, with the reason: in a
// store it would be another path there (a "\\"), or be read as the device. The folder "x"
// beside the file "x\\y.ddv" is copied as it is.
TEST_F(PortableCopyTest, NameWindowsCannotHoldIsNotCopiedWithTheReason) {
  const std::map<std::string, Status> refused = {
      {"x\\y.ddv", kInvalidName},   {"q\\", kInvalidName},    {"a:b", kInvalidName},
      {"why?", kInvalidName},       {"tab\t", kInvalidName},  {"trail.", kInvalidName},
      {"COM1", kDeviceName},        {"aux.txt", kDeviceName}, {"LPT9.", kInvalidName},
      {"Com\xc2\xb9", kDeviceName}, {"conout$", kDeviceName}, {"nul .x", kDeviceName},
  };
  for (const auto& [name, code] : refused) Put(host_ / "c/src" / name, "no");
  fs::create_directories(host_ / "c/src/PRN");
  Put(host_ / "c/src/x/y.ddv", "yes");
  Put(host_ / "c/src/COM10", "yes");
  // One file on Windows: neither is the one it would hold.
  Put(host_ / "c/src/Case.ddv", "A");
  Put(host_ / "c/src/case.ddv", "a");
  struct Refusals : CopyObserver {
    void FileCopied(std::string_view path, uint64_t) override { copied.emplace_back(path); }
    void CopyFailed(std::string_view path, const FileResult& why) override {
      EXPECT_EQ("CopyFile", why.call) << path;
      failed[std::string(path)] = why.code;
    }
    std::vector<std::string> copied;
    std::map<std::string, Status> failed;
  } observer;
  EXPECT_FALSE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, &observer));
  std::sort(observer.copied.begin(), observer.copied.end());
  EXPECT_EQ((std::vector<std::string>{"C:\\src\\COM10", "C:\\src\\x\\y.ddv"}), observer.copied);
  EXPECT_EQ(refused.size() + 3, observer.failed.size());
  EXPECT_EQ(kFileExists, observer.failed["C:\\src\\case.ddv"]);
  EXPECT_EQ(kFileExists, observer.failed["C:\\src\\Case.ddv"]);
  EXPECT_EQ(kDeviceName, observer.failed["C:\\src\\PRN\\"]);  // a folder
  EXPECT_EQ(kDeviceName, observer.failed["C:\\src\\Com?"]);   // "¹" has no code page 932 form
  EXPECT_EQ(kInvalidName, observer.failed["C:\\src\\trail."]);
  EXPECT_EQ(kDeviceName, observer.failed["C:\\src\\aux.txt"]);
  // A "\\" in a name reads "?": not the file copied, nor a folder.
  EXPECT_EQ(kInvalidName, observer.failed["C:\\src\\x?y.ddv"]);
  EXPECT_EQ(kInvalidName, observer.failed["C:\\src\\q?"]);
  std::vector<std::string> copied_names;
  for (const auto& entry : fs::recursive_directory_iterator(host_ / "c/dst")) {
    if (entry.is_regular_file())
      copied_names.push_back(entry.path().lexically_relative(host_ / "c/dst"));
  }
  std::sort(copied_names.begin(), copied_names.end());
  EXPECT_EQ((std::vector<std::string>{"COM10", "x/y.ddv"}), copied_names);
}

// A folder not copied is reported as a folder (with a trailing backslash), a file as a file,
// whatever the last byte of its name: "表" is 0x95 0x5C.
TEST_F(PortableCopyTest, AFolderNotCopiedIsNamedWithATrailingBackslash) {
  const std::string kHyo = "\xe8\xa1\xa8";  // "表" in UTF-8
  const struct {
    const char* what;
    std::function<void(const fs::path& src, const fs::path& dst)> make;
    std::vector<std::string> failed;  // below the source, sorted
    bool folders;
  } kCases[] = {
      {"a file where the folder goes",
       [&](const fs::path& src, const fs::path& dst) {
         Put(src / "sub/a.dat", "A");
         Put(dst / "sub", "file");
       },
       {"sub\\"},
       true},
      {"a file where the folder 表 goes",
       [&](const fs::path& src, const fs::path& dst) {
         Put(src / kHyo / "a.dat", "A");
         Put(dst / kHyo, "file");
       },
       {"\x95\x5c\\"},
       true},
      {"a folder where the file 表 goes",
       [&](const fs::path& src, const fs::path& dst) {
         Put(src / kHyo, "A");
         fs::create_directories(dst / kHyo);
       },
       {"\x95\x5c"},
       false},
      {"two folders whose names Windows takes for one",
       [&](const fs::path& src, const fs::path&) {
         Put(src / "Sub/a.dat", "A");
         fs::create_directories(src / "sub");
       },
       {"Sub\\", "sub\\"},
       true},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string name = "case" + std::to_string(++n);
    c.make(host_ / "c" / name / "src", host_ / "c" / name / "dst");
    ReportedPaths reported;
    const std::string source = "C:\\" + name + "\\src\\";
    EXPECT_FALSE(files_.CopyFolder("C:\\" + name + "\\dst\\", source, nullptr, &reported));
    std::vector<std::string> expected;
    for (const std::string& item : c.failed) expected.push_back(source + item);
    std::sort(reported.failed.begin(), reported.failed.end());
    EXPECT_EQ(expected, reported.failed);
    for (const std::string& path : reported.failed) EXPECT_EQ(c.folders, NamesFolder(path));
  }
}

// The copy's read-back, the manifest and undo reach such a file by the name the copy reports,
// on a drive and in the work folder (a host path); where "?" could stand for two names, for
// neither.
TEST_F(PortableCopyTest, NameOutsideCodePage932IsReachedByItsReportedName) {
  Put(host_ / "c/src/M\xc3\xbcller.ddv", "u");
  Put(host_ / "c/src/\xe8\xa1\xa8\xff.ddv", "b");
  Put(host_ / "c/two/M\xc3\xbcller.ddv", "u");
  Put(host_ / "c/two/M\xc3\xa4ller.ddv", "a");  // "a" with umlaut: also "M?ller.ddv"
  std::vector<std::string> names;
  ASSERT_TRUE(files_.ListFiles("C:\\src\\", &names));
  EXPECT_EQ((std::vector<std::string>{"M?ller.ddv", "\x95\x5c?.ddv"}), names);
  const std::string work = (host_ / "c").string();
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"C:\\src\\M?ller.ddv", "u"},
      {"C:\\SRC\\\x95\x5c?.ddv", "b"},
      {work + "\\src\\M?ller.ddv", "u"},
      {"C:\\two\\M?ller.ddv", std::nullopt},
      {work + "\\two\\M?ller.ddv", std::nullopt},
  };
  for (const auto& [path, content] : cases) EXPECT_EQ(content, files_.ReadFile(path)) << path;
  EXPECT_TRUE(files_.RemoveFile(work + "\\src\\M?ller.ddv"));
  EXPECT_FALSE(fs::exists(host_ / "c/src/M\xc3\xbcller.ddv"));
}

// Collects the bytes the copy hands over, and runs `during` at the first of each file's.
struct TappedBytes : ReportedPaths {
  bool WantsFileBytes(std::string_view) override { return true; }
  void FileBytes(std::string_view path, std::string_view piece) override {
    auto [it, first] = bytes.try_emplace(std::string(path));
    if (first && during) during(path);
    it->second.append(piece);
  }
  std::map<std::string, std::string> bytes;
  std::function<void(std::string_view)> during;
};

TEST_F(PortableCopyTest, FileChangedWhileItIsCopiedIsNotCopied) {
  const struct {
    const char* what;
    std::function<void(const fs::path&)> change;
  } kCases[] = {
      {"grown", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "more"; }},
      {"truncated", [](const fs::path& p) { fs::resize_file(p, 1); }},
      {"same size", [](const fs::path& p) { std::ofstream(p, std::ios::in) << "Z"; }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(host_ / "c");
    Put(host_ / "c/src/a.dat", std::string(3 << 20, 'a'));
    Put(host_ / "c/src/b.dat", "B");
    // An old time, so that the change shows in the file's time whatever the clock's step.
    struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, ::utimes((host_ / "c/src/a.dat").c_str(), old));
    TappedBytes observer;
    observer.during = [&](std::string_view path) {
      if (path == "C:\\src\\a.dat") c.change(host_ / "c/src/a.dat");
    };
    EXPECT_FALSE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, &observer));
    EXPECT_EQ(std::vector<std::string>{"C:\\src\\a.dat"}, observer.failed);
    EXPECT_EQ(std::vector<std::string>{"C:\\src\\b.dat"}, observer.copied);
    EXPECT_FALSE(fs::exists(host_ / "c/dst/a.dat"));
  }
}

// A file added to a folder whose names the copy has read is not in the copy: told as not
// copied, as one that arrives while the platform's own copy runs is. Added as the last file is
// copied, when one of the two folders is long done.
TEST_F(PortableCopyTest, AFileAddedToAFolderBeingCopiedIsToldNotCopied) {
  Put(host_ / "c/src/a.dat", "A");
  Put(host_ / "c/src/sub/b.dat", "B");
  struct Adding : ReportedPaths {
    void FileCopied(std::string_view path, uint64_t bytes) override {
      ReportedPaths::FileCopied(path, bytes);
      if (copied.size() != 2) return;
      std::ofstream(root / "src/new.dat") << "N";
      fs::create_directories(root / "src/sub/newer");
    }
    fs::path root;
  } adding;
  adding.root = host_ / "c";
  EXPECT_FALSE(files_.CopyFolder("C:\\dst\\", "C:\\src\\", nullptr, &adding));
  // Which file is copied first is the listing's order: either way both arrivals are told.
  std::vector<std::string> failed = adding.failed;
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ((std::vector<std::string>{"C:\\src\\new.dat", "C:\\src\\sub\\newer\\"}), failed);
  EXPECT_EQ(2u, adding.copied.size());
  EXPECT_FALSE(fs::exists(host_ / "c/dst/new.dat"));
}

// Through a buffer (the kernel does not copy between these two file systems), every byte is
// handed over, a hole as zeros.
TEST_F(PortableCopyTest, BytesCopiedThroughTheBufferAreHandedOverWhole) {
  std::string pattern = "/dev/shm/kdr-copy-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) GTEST_SKIP() << "no second file system";
  fs::path shm = pattern;
  struct stat a {
  }, b{};
  ::stat(shm.c_str(), &a);
  ::stat(host_.c_str(), &b);
  if (a.st_dev == b.st_dev) {
    fs::remove_all(shm);
    GTEST_SKIP() << "no second file system";
  }
  files_.MapDrive('D', shm);
  std::string big(3 << 20, 'b');
  big[(2 << 20) + 5] = 'x';
  Put(shm / "src/big.dat", big);
  Put(shm / "src/empty.dat", "");
  {
    int fd = ::open((shm / "src/sparse.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(1, ::pwrite(fd, "y", 1, 5 << 20));
    ASSERT_EQ(0, ::ftruncate(fd, 7 << 20));
    ::close(fd);
  }
  TappedBytes observer;
  bool copied = files_.CopyFolder("C:\\dst\\", "D:\\src\\", nullptr, &observer).ok();
  std::string sparse = Get(shm / "src/sparse.bin");
  fs::remove_all(shm);
  ASSERT_TRUE(copied);
  EXPECT_EQ(
      (std::map<std::string, std::string>{
          {"D:\\src\\big.dat", big}, {"D:\\src\\empty.dat", ""}, {"D:\\src\\sparse.bin", sparse}}),
      observer.bytes);
  EXPECT_EQ(big, Get(host_ / "c/dst/big.dat"));
}

}  // namespace
}  // namespace kdr
