// The FileSystem contract, run against every implementation this build has (each platform's
// folder registers its own): the portable one on a POSIX host, the Win32 one on Windows or
// under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/file_system_harness.h"

namespace kdr {
namespace {

// Code page 932 characters whose second byte is 0x5C, the backslash.
const std::string kHyo = "\x95\x5c";  // 表
const std::string kSo = "\x83\x5c";   // ソ
const std::string kNo = "\x94\x5c";   // 能

// 2001-02-03 04:05:06 UTC, a whole second that every file system keeps exactly.
constexpr int64_t kOldTime = 981173106;

using contract::FileSystemHarness;
using contract::FileSystemImplementation;

// Records what a copy reports.
class RecordingObserver : public CopyObserver {
 public:
  void FileCopied(std::string_view source_path, uint64_t bytes) override {
    copied.emplace_back(std::string(source_path), bytes);
  }
  void CopyFailed(std::string_view source_path, const FileResult& error) override {
    failed.emplace_back(std::string(source_path), Describe(error));
  }
  std::vector<std::pair<std::string, uint64_t>> copied;
  std::vector<std::pair<std::string, std::string>> failed;
};

class FileSystemContractTest : public testing::TestWithParam<FileSystemImplementation> {
 protected:
  void SetUp() override {
    harness_ = GetParam().make();
    ASSERT_EQ((std::vector<std::string>{}), harness_->List(root()));
    ASSERT_TRUE(fs().IsFolder(root())) << root();
  }
  FileSystem& fs() { return harness_->fs(); }
  const std::string& root() const { return harness_->root(); }
  FileSystemHarness& h() { return *harness_; }

  // root\src\ with two files at the top, a subtree two levels deep and an empty folder.
  std::string MakeSourceTree() {
    std::string src = root() + "src\\";
    EXPECT_TRUE(h().MakeFolder(src));
    EXPECT_TRUE(h().Put(src + "a.dat", "alpha"));
    EXPECT_TRUE(h().Put(src + "b.txt", std::string("b\0b\r\n", 5)));
    EXPECT_TRUE(h().MakeFolder(src + "sub"));
    EXPECT_TRUE(h().Put(src + "sub\\c.dat", "charlie"));
    EXPECT_TRUE(h().MakeFolder(src + "sub\\deeper"));
    EXPECT_TRUE(h().Put(src + "sub\\deeper\\d.dat", std::string(70000, 'd')));
    EXPECT_TRUE(h().MakeFolder(src + "empty"));
    return src;
  }

  std::unique_ptr<FileSystemHarness> harness_;
};

// --- CreateFolder ---------------------------------------------------------------------------

TEST_P(FileSystemContractTest, CreateFolderIsTrueOnlyWhenItCreated) {
  std::string folder = root() + "one";
  EXPECT_TRUE(fs().CreateFolder(folder));
  EXPECT_TRUE(fs().IsFolder(folder));
  EXPECT_FALSE(fs().CreateFolder(folder)) << "already exists";
  EXPECT_EQ((std::vector<std::string>{"one"}), h().List(root()));
}

TEST_P(FileSystemContractTest, CreateFolderNeedsTheParent) {
  EXPECT_FALSE(fs().CreateFolder(root() + "missing\\child"));
  EXPECT_FALSE(fs().Exists(root() + "missing"));
  EXPECT_EQ((std::vector<std::string>{}), h().List(root()));
}

TEST_P(FileSystemContractTest, CreateFolderFailsWhereAFileIs) {
  ASSERT_TRUE(h().Put(root() + "taken", "x"));
  EXPECT_FALSE(fs().CreateFolder(root() + "taken"));
  EXPECT_FALSE(fs().IsFolder(root() + "taken"));
  EXPECT_EQ("x", h().Get(root() + "taken"));
}

TEST_P(FileSystemContractTest, CreateFolderOnAMissingDriveFails) {
  EXPECT_FALSE(fs().CreateFolder(h().MissingDrive() + "kdr4tose"));
}

// --- MakeSurePathExists ---------------------------------------------------------------------

TEST_P(FileSystemContractTest, MakeSurePathExistsCreatesEveryFolderUpToTheLastBackslash) {
  EXPECT_TRUE(fs().MakeSurePathExists(root() + "a\\b\\c\\"));
  EXPECT_TRUE(fs().IsFolder(root() + "a\\b\\c"));
  EXPECT_EQ((std::vector<std::string>{}), h().List(root() + "a\\b\\c"));
  // Again: everything exists, which is success too.
  EXPECT_TRUE(fs().MakeSurePathExists(root() + "a\\b\\c\\"));
}

TEST_P(FileSystemContractTest, MakeSurePathExistsLeavesOutTheFileName) {
  EXPECT_TRUE(fs().MakeSurePathExists(root() + "d\\e\\file.txt"));
  EXPECT_TRUE(fs().IsFolder(root() + "d\\e"));
  EXPECT_FALSE(fs().Exists(root() + "d\\e\\file.txt"));
  EXPECT_EQ((std::vector<std::string>{}), h().List(root() + "d\\e"));
}

TEST_P(FileSystemContractTest, MakeSurePathExistsFailsOnAMissingDrive) {
  EXPECT_FALSE(fs().MakeSurePathExists(h().MissingDrive() + "kdr4tose\\sub\\"));
}

TEST_P(FileSystemContractTest, MakeSurePathExistsFailsWhenAFileIsInTheWay) {
  ASSERT_TRUE(h().Put(root() + "file", "x"));
  EXPECT_FALSE(fs().MakeSurePathExists(root() + "file\\sub\\"));
  EXPECT_EQ("x", h().Get(root() + "file"));
}

TEST_P(FileSystemContractTest, MakeSurePathExistsSplitsCp932NamesByCharacter) {
  ASSERT_EQ("", h().Cp932Problem());
  // Each name ends in a character whose second byte is 0x5C; cutting there would make the
  // folders "\x95", "\x83" and "\x94" instead.
  EXPECT_TRUE(fs().MakeSurePathExists(root() + kHyo + "\\" + kSo + "\\" + kNo));
  EXPECT_EQ((std::vector<std::string>{kHyo}), h().List(root()));
  EXPECT_EQ((std::vector<std::string>{kSo}), h().List(root() + kHyo));
  EXPECT_TRUE(fs().IsFolder(root() + kHyo + "\\" + kSo + "\\"));
  EXPECT_FALSE(fs().Exists(root() + kHyo + "\\" + kSo + "\\" + kNo));
}

// --- Exists and IsFolder --------------------------------------------------------------------

TEST_P(FileSystemContractTest, ExistsAndIsFolderTellFilesFromFolders) {
  ASSERT_TRUE(h().MakeFolder(root() + "folder"));
  ASSERT_TRUE(h().Put(root() + "file.txt", "x"));

  EXPECT_TRUE(fs().Exists(root() + "folder"));
  EXPECT_TRUE(fs().Exists(root() + "folder\\"));
  EXPECT_TRUE(fs().IsFolder(root() + "folder"));
  EXPECT_TRUE(fs().IsFolder(root() + "folder\\"));

  EXPECT_TRUE(fs().Exists(root() + "file.txt"));
  EXPECT_FALSE(fs().IsFolder(root() + "file.txt"));
  EXPECT_FALSE(fs().IsFolder(root() + "file.txt\\"));

  EXPECT_FALSE(fs().Exists(root() + "nothing"));
  EXPECT_FALSE(fs().IsFolder(root() + "nothing\\"));
  EXPECT_FALSE(fs().Exists(h().MissingDrive() + "kdr4tose"));
  EXPECT_FALSE(fs().IsFolder(h().MissingDrive()));
}

// Lookup tells what is there from nothing there, and both from a question that could not be
// asked, which Exists and IsFolder take for nothing.
TEST_P(FileSystemContractTest, LookupTellsNothingThereFromCannotBeAsked) {
  ASSERT_TRUE(h().MakeFolder(root() + "folder") && h().MakeFolder(root() + "shut"));
  ASSERT_TRUE(h().Put(root() + "file.txt", "x") && h().Put(root() + "shut\\f.txt", "x"));
  // A name whose second byte is a backslash is one name, not a folder and a name.
  const bool cp932 = h().Cp932Problem().empty();
  if (cp932) {
    ASSERT_TRUE(h().MakeFolder(root() + kHyo) && h().Put(root() + kHyo + "\\" + kSo, "x"));
  }
  const bool shut = h().ShutFolder(root() + "shut", true);
  constexpr Status kAsked = kOk;  // Lookup answers with `kind`
  const struct {
    std::string path;
    Status code;
    EntryKind kind = EntryKind::kNone;
    bool needs_shut = false;
    bool posix_only = false;
    bool needs_cp932 = false;
  } cases[] = {
      {root() + "folder", kAsked, EntryKind::kFolder},
      {root() + "folder\\", kAsked, EntryKind::kFolder},
      {root() + "file.txt", kAsked, EntryKind::kFile},
      {root() + "FILE.TXT", kAsked, EntryKind::kFile},
      {root() + "nothing", kAsked},
      {root() + "nothing\\deeper\\", kAsked},
      {root() + "file.txt\\deeper", kAsked},
      {h().MissingDrive() + "kdr4tose", kAsked},
      {root() + kHyo, kAsked, EntryKind::kFolder, false, false, true},
      {root() + kHyo + "\\" + kSo, kAsked, EntryKind::kFile, false, false, true},
      {root() + kHyo + "\\" + kNo, kAsked, EntryKind::kNone, false, false, true},
      // A name cut inside a character is no name: no answer (POSIX; not tried on Windows).
      {root() + "\x95", kInvalidName, EntryKind::kNone, false, true, true},
      // Longer than any file system takes for one name: no answer, not "nothing there". Wine
      // gives an answer here, not a failure; what Windows gives is not known here.
      {root() + std::string(300, 'n'), kFilenameTooLong, EntryKind::kNone, false, true},
      {root() + "shut\\f.txt", kAccessDenied, EntryKind::kNone, true},
  };
  for (const auto& c : cases) {
    if ((c.needs_shut && !shut) || (c.posix_only && !h().IsPosix()) || (c.needs_cp932 && !cp932)) {
      continue;
    }
    Result<EntryKind> kind = fs().Lookup(c.path);
    SCOPED_TRACE(
        c.path + ": " +
        (kind ? "kind " + std::to_string(static_cast<int>(*kind)) : Describe(kind.error())));
    if (c.code == kAsked) {
      EXPECT_EQ(std::optional<EntryKind>(c.kind), kind);
    } else {
      ASSERT_FALSE(kind.has_value());
      EXPECT_FALSE(kind.not_found());
      EXPECT_FALSE(kind.error().call.empty());
      EXPECT_EQ(c.path, kind.error().path);
      EXPECT_EQ(c.code, kind.error().code);
    }
    EXPECT_EQ(kind && *kind != EntryKind::kNone, fs().Exists(c.path));
    EXPECT_EQ(kind && *kind == EntryKind::kFolder, fs().IsFolder(c.path));
  }
  if (shut) {
    EXPECT_TRUE(h().ShutFolder(root() + "shut", false));
  }
}

// A folder is the same folder under every spelling that reaches it, and no other folder shares
// its identity; a number alone may be shared only across volumes.
TEST_P(FileSystemContractTest, FolderIdentitiesAndNumbersTellFoldersApart) {
  ASSERT_TRUE(h().MakeFolder(root() + "a") && h().MakeFolder(root() + "a\\sub") &&
              h().MakeFolder(root() + "b") && h().Put(root() + "f.txt", "x"));
  auto identity = [&](const std::string& path) {
    FolderId id;
    FileResult found = fs().IdentifyFolder(path, &id);
    EXPECT_TRUE(found) << path << ": " << Describe(found);
    return std::pair{id.volume, id.file};
  };
  auto number = [&](const std::string& path) {
    uint64_t n = 0;
    FileResult found = fs().FolderNumber(path, &n);
    EXPECT_TRUE(found) << path << ": " << Describe(found);
    return n;
  };
  const std::string a = root() + "a";
  for (const std::string& same : {a + "\\", root() + "A", root() + "a\\sub\\..\\"}) {
    if (same.find("..") != std::string::npos && h().IsPosix()) continue;  // no ".." there
    EXPECT_EQ(identity(a), identity(same)) << same;
    EXPECT_EQ(number(a), number(same)) << same;
  }
  for (const std::string& other : {root() + "b", a + "\\sub", root()}) {
    EXPECT_NE(identity(a), identity(other)) << other;
    EXPECT_NE(number(a), number(other)) << other;
  }
  // A name whose second byte is a backslash names one folder, not its parent.
  if (h().Cp932Problem().empty() && h().MakeFolder(root() + kHyo)) {
    EXPECT_EQ(number(root() + kHyo), number(root() + kHyo + "\\"));
    EXPECT_NE(number(root() + kHyo), number(root()));
    EXPECT_NE(identity(root() + kHyo), identity(root()));
  }
  const struct {
    std::string path;
    std::vector<Status> codes;
  } refused[] = {
      {root() + "f.txt", {kDirectoryName}},
      {root() + "nothing", {kNotFound, kPathNotFound}},
      {root() + "nothing\\deeper", {kNotFound, kPathNotFound}},
  };
  for (const auto& c : refused) {
    FolderId id;
    uint64_t n = 0;
    FileResult whole = fs().IdentifyFolder(c.path, &id);
    FileResult numbered = fs().FolderNumber(c.path, &n);
    EXPECT_TRUE(std::count(c.codes.begin(), c.codes.end(), whole.code)) << Describe(whole);
    EXPECT_TRUE(std::count(c.codes.begin(), c.codes.end(), numbered.code)) << Describe(numbered);
  }
}

TEST_P(FileSystemContractTest, NamesMatchWithoutRegardToAsciiCase) {
  ASSERT_TRUE(h().MakeFolder(root() + "Folder"));
  ASSERT_TRUE(h().Put(root() + "Folder\\File.TXT", "x"));
  EXPECT_TRUE(fs().Exists(root() + "FOLDER\\file.txt"));
  EXPECT_TRUE(fs().IsFolder(root() + "fOLDEr\\"));
  EXPECT_EQ(std::optional<std::string>("x"), fs().ReadFile(root() + "folder\\FILE.txt"));
  EXPECT_FALSE(fs().CreateFolder(root() + "FOLDER"));
  EXPECT_TRUE(fs().MakeSurePathExists(root() + "folder\\Sub\\"));
  EXPECT_EQ((std::vector<std::string>{"File.TXT", "Sub"}), h().List(root() + "Folder"));
  EXPECT_EQ((std::vector<std::string>{"Folder"}), h().List(root()));
}

// --- CopyFolder -----------------------------------------------------------------------------

TEST_P(FileSystemContractTest, CopyFolderCopiesWholeSubtrees) {
  std::string src = MakeSourceTree();
  std::string dst = root() + "dst\\";
  ASSERT_TRUE(h().MakeFolder(dst));
  EXPECT_TRUE(fs().CopyFolder(dst, src, nullptr, nullptr));
  EXPECT_EQ((std::vector<std::string>{"a.dat", "b.txt", "empty", "sub"}), h().List(dst));
  EXPECT_EQ("alpha", h().Get(dst + "a.dat"));
  EXPECT_EQ(std::string("b\0b\r\n", 5), h().Get(dst + "b.txt"));
  EXPECT_EQ("charlie", h().Get(dst + "sub\\c.dat"));
  EXPECT_EQ(std::string(70000, 'd'), h().Get(dst + "sub\\deeper\\d.dat"));
  EXPECT_TRUE(fs().IsFolder(dst + "empty"));
  EXPECT_EQ((std::vector<std::string>{}), h().List(dst + "empty"));
  // The source is left as it was.
  EXPECT_EQ((std::vector<std::string>{"a.dat", "b.txt", "empty", "sub"}), h().List(src));
  EXPECT_EQ("alpha", h().Get(src + "a.dat"));
}

TEST_P(FileSystemContractTest, CountFilesAddsTheFilesAndBytesACopyWouldCopy) {
  std::string src = MakeSourceTree();
  ASSERT_TRUE(h().Put(src + "sub\\" + kHyo + ".dat", "xyz"));
  uint64_t files = 1, bytes = 10;  // added to, not replaced
  fs().CountFiles(src, &files, &bytes);
  EXPECT_EQ(1u + 5, files);
  EXPECT_EQ(10u + 5 + 5 + 7 + 70000 + 3, bytes);
  // A missing folder adds nothing.
  fs().CountFiles(root() + "missing\\", &files, &bytes);
  EXPECT_EQ(6u, files);
}

TEST_P(FileSystemContractTest, CopyFolderCreatesAMissingDestinationWithItsParents) {
  std::string src = MakeSourceTree();
  std::string dst = root() + "x\\y\\dst\\";
  EXPECT_TRUE(fs().CopyFolder(dst, src, nullptr, nullptr));
  EXPECT_EQ((std::vector<std::string>{"a.dat", "b.txt", "empty", "sub"}), h().List(dst));
  EXPECT_EQ("charlie", h().Get(dst + "sub\\c.dat"));
}

TEST_P(FileSystemContractTest, CopyFolderReplacesFilesMergesFoldersAndDeletesNothing) {
  std::string src = MakeSourceTree();
  std::string dst = root() + "dst\\";
  ASSERT_TRUE(h().MakeFolder(dst));
  ASSERT_TRUE(h().Put(dst + "a.dat", "an older and longer alpha"));
  ASSERT_TRUE(h().Put(dst + "kept.dat", "kept"));
  ASSERT_TRUE(h().MakeFolder(dst + "sub"));
  ASSERT_TRUE(h().Put(dst + "sub\\c.dat", "old"));
  ASSERT_TRUE(h().Put(dst + "sub\\old.dat", "old"));
  ASSERT_TRUE(h().MakeFolder(dst + "other"));

  EXPECT_TRUE(fs().CopyFolder(dst, src, nullptr, nullptr));
  EXPECT_EQ((std::vector<std::string>{"a.dat", "b.txt", "empty", "kept.dat", "other", "sub"}),
            h().List(dst));
  EXPECT_EQ("alpha", h().Get(dst + "a.dat"));
  EXPECT_EQ("kept", h().Get(dst + "kept.dat"));
  EXPECT_EQ((std::vector<std::string>{"c.dat", "deeper", "old.dat"}), h().List(dst + "sub"));
  EXPECT_EQ("charlie", h().Get(dst + "sub\\c.dat"));
  EXPECT_EQ("old", h().Get(dst + "sub\\old.dat"));
  EXPECT_EQ(std::string(70000, 'd'), h().Get(dst + "sub\\deeper\\d.dat"));
}

TEST_P(FileSystemContractTest, CopyFolderOfAnEmptySourceSucceedsWithoutCreatingTheDestination) {
  ASSERT_TRUE(h().MakeFolder(root() + "empty"));
  EXPECT_TRUE(fs().CopyFolder(root() + "dst\\", root() + "empty\\", nullptr, nullptr));
  EXPECT_FALSE(fs().Exists(root() + "dst"));
}

TEST_P(FileSystemContractTest, CopyFolderOfAMissingSourceCopiesNothing) {
  FileResult result = fs().CopyFolder(root() + "dst\\", root() + "missing\\", nullptr, nullptr);
  EXPECT_FALSE(fs().Exists(root() + "dst"));
  EXPECT_EQ((std::vector<std::string>{}), h().List(root()));
  // The tool asks IsFolder before it copies, so it never meets this result. Wine's shell copy
  // finds nothing to copy and reports success.
  if (!h().IsWine()) {
    EXPECT_FALSE(result.ok());
  }
}

TEST_P(FileSystemContractTest, CopyFolderKeepsFileTimes) {
  std::string src = MakeSourceTree();
  ASSERT_TRUE(h().SetModified(src + "a.dat", kOldTime));
  ASSERT_TRUE(h().SetModified(src + "sub\\c.dat", kOldTime + 3600));
  std::string dst = root() + "dst\\";
  ASSERT_TRUE(fs().CopyFolder(dst, src, nullptr, nullptr));
  auto a = fs().Stamp(dst + "a.dat");
  auto c = fs().Stamp(dst + "sub\\c.dat");
  ASSERT_TRUE(a && c);
  EXPECT_EQ(kOldTime * 1000000000, a->modified_ns);
  EXPECT_EQ((kOldTime + 3600) * 1000000000, c->modified_ns);
}

TEST_P(FileSystemContractTest, CopyFolderKeepsCp932Names) {
  ASSERT_EQ("", h().Cp932Problem());
  std::string src = root() + kHyo + "\\";
  ASSERT_TRUE(h().MakeFolder(src));
  ASSERT_TRUE(h().Put(src + kSo + ".txt", "so"));
  ASSERT_TRUE(h().MakeFolder(src + kNo));
  ASSERT_TRUE(h().Put(src + kNo + "\\" + kHyo, "hyo"));
  std::string dst = root() + "dst" + kSo + "\\";

  RecordingObserver observer;
  EXPECT_TRUE(fs().CopyFolder(dst, src, nullptr, &observer));
  EXPECT_EQ((std::vector<std::string>{"dst" + kSo, kHyo}), h().List(root()));
  EXPECT_EQ((std::vector<std::string>{kSo + ".txt", kNo}), h().List(dst));
  EXPECT_EQ("so", h().Get(dst + kSo + ".txt"));
  EXPECT_EQ("hyo", h().Get(dst + kNo + "\\" + kHyo));
  std::sort(observer.copied.begin(), observer.copied.end());
  using Copied = std::vector<std::pair<std::string, uint64_t>>;
  Copied expected{{src + kNo + "\\" + kHyo, 3}, {src + kSo + ".txt", 2}};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, observer.copied);
  EXPECT_TRUE(observer.failed.empty());
}

TEST_P(FileSystemContractTest, CopyFolderTellsTheObserverEachFileCopied) {
  std::string src = MakeSourceTree();
  RecordingObserver observer;
  EXPECT_TRUE(fs().CopyFolder(root() + "dst\\", src, nullptr, &observer));
  std::sort(observer.copied.begin(), observer.copied.end());
  using Copied = std::vector<std::pair<std::string, uint64_t>>;
  EXPECT_EQ((Copied{{src + "a.dat", 5},
                    {src + "b.txt", 5},
                    {src + "sub\\c.dat", 7},
                    {src + "sub\\deeper\\d.dat", 70000}}),
            observer.copied);
  EXPECT_TRUE(observer.failed.empty());
}

TEST_P(FileSystemContractTest, CopyFolderOntoAFileFails) {
  std::string src = MakeSourceTree();
  ASSERT_TRUE(h().Put(root() + "dst", "a file"));
  RecordingObserver observer;
  FileResult result = fs().CopyFolder(root() + "dst\\", src, nullptr, &observer);
  EXPECT_EQ("a file", h().Get(root() + "dst"));
  // Windows says DE_FLDDESTISFILE (ERROR_CANCELLED before Vista); Wine 8 returns 0 when the
  // source holds folders.
  if (!h().IsWine()) {
    EXPECT_FALSE(result.ok());
  }
  EXPECT_TRUE(observer.copied.empty());
  EXPECT_FALSE(observer.failed.empty());
}

TEST_P(FileSystemContractTest, CopyFolderToAMissingDriveCopiesNothingAndSaysSo) {
  std::string src = MakeSourceTree();
  RecordingObserver observer;
  FileResult result = fs().CopyFolder(h().MissingDrive() + "kdr4tose\\", src, nullptr, &observer);
  EXPECT_TRUE(observer.copied.empty());
  EXPECT_FALSE(observer.failed.empty());
  // Wine's shell copy returns 0 here, without a message; Windows reports the bad path.
  if (!h().IsWine()) {
    EXPECT_FALSE(result.ok());
  }
}

TEST_P(FileSystemContractTest, FailuresKeepTheCallThePathAndTheWin32Error) {
  ASSERT_TRUE(h().MakeFolder(root() + "one"));
  FileResult exists = fs().CreateFolder(root() + "one");
  EXPECT_EQ(kAlreadyExists, exists.code);
  // Each platform names its own call, and POSIX keeps its errno beside the Win32 number.
  EXPECT_EQ(h().IsPosix() ? "mkdir" : "CreateDirectory", exists.call);
  EXPECT_EQ(root() + "one", exists.path);
  EXPECT_EQ(exists.call + " " + Cp932ForDisplay(root()) + "one: 183 already exists" +
                (h().IsPosix() ? " (errno 17 EEXIST)" : ""),
            Describe(exists));

  FileResult missing = fs().WriteFileAtomically(root() + "missing\\f.txt", "x");
  EXPECT_TRUE(missing.code == kNotFound || missing.code == kPathNotFound) << Describe(missing);
  EXPECT_EQ(root() + "missing\\f.txt", missing.path);

  // A folder where a file goes: that one file is reported, with the call that found it out.
  std::string src = MakeSourceTree();
  ASSERT_TRUE(h().MakeFolder(root() + "dst") && h().MakeFolder(root() + "dst\\a.dat"));
  RecordingObserver observer;
  EXPECT_FALSE(fs().CopyFolder(root() + "dst\\", src, nullptr, &observer).ok());
  ASSERT_EQ(1u, observer.failed.size());
  EXPECT_EQ(src + "a.dat", observer.failed[0].first);
  EXPECT_EQ("CopyFile " + Cp932ForDisplay(root()) + "dst\\a.dat: 5 access denied",
            observer.failed[0].second);
  EXPECT_EQ("charlie", h().Get(root() + "dst\\sub\\c.dat"));
}

// Each call that looks for something tells "nothing there" (2 or 3) from a thing there that it
// cannot take, with its call and the path it was given.
TEST_P(FileSystemContractTest, FailuresTellNotFoundFromWhatIsThere) {
  ASSERT_TRUE(h().MakeFolder(root() + "folder") && h().MakeFolder(root() + "shut"));
  ASSERT_TRUE(h().Put(root() + "folder\\f.txt", "x") && h().Put(root() + "shut\\f.txt", "x"));
  const bool shut = h().ShutFolder(root() + "shut", true);
  std::vector<std::string> names;
  using Call = std::function<FileResult(const std::string&)>;
  const Call read = [&](const std::string& p) { return fs().ReadFile(p).error(); };
  const Call pieces = [&](const std::string& p) {
    return fs().ReadFileInPieces(p, [](std::string_view) {});
  };
  const Call stamp = [&](const std::string& p) { return fs().Stamp(p).error(); };
  const Call list = [&](const std::string& p) { return fs().ListFiles(p, &names); };
  const Call folders = [&](const std::string& p) { return fs().ListFolders(p, &names); };
  const Call remove = [&](const std::string& p) { return fs().RemoveFile(p); };
  const Call rmdir = [&](const std::string& p) { return fs().RemoveFolder(p); };
  constexpr Status kGone = -1;  // 2 or 3
  const struct {
    const char* what;
    const Call& call;
    std::string path;
    Status code;
    bool needs_shut = false;
  } cases[] = {
      {"ReadFile", read, "missing.txt", kGone},
      {"ReadFile", read, "missing\\f.txt", kGone},
      {"ReadFile", read, "folder", kAccessDenied},
      {"ReadFile", read, "shut\\f.txt", kAccessDenied, true},
      {"ReadFileInPieces", pieces, "missing.txt", kGone},
      {"ReadFileInPieces", pieces, "folder", kAccessDenied},
      {"Stamp", stamp, "missing.txt", kGone},
      {"Stamp", stamp, "folder", kAccessDenied},
      {"ListFiles", list, "missing\\", kPathNotFound},
      {"ListFiles", list, "folder\\f.txt\\", kDirectoryName},
      {"ListFiles", list, "shut\\", kAccessDenied, true},
      {"ListFolders", folders, "missing\\", kPathNotFound},
      {"ListFolders", folders, "folder\\f.txt\\", kDirectoryName},
      {"RemoveFile", remove, "missing.txt", kGone},
      {"RemoveFile", remove, "folder", kAccessDenied},
      {"RemoveFile", remove, "shut\\f.txt", kAccessDenied, true},
      {"RemoveFolder", rmdir, "missing", kGone},
      {"RemoveFolder", rmdir, "folder\\f.txt", kDirectoryName},
      {"RemoveFolder", rmdir, "folder", kDirNotEmpty},
  };
  for (const auto& c : cases) {
    if (c.needs_shut && !shut) continue;
    const std::string path = root() + c.path;
    FileResult result = c.call(path);
    SCOPED_TRACE(std::string(c.what) + " " + c.path + ": " + Describe(result));
    if (c.code == kGone) {
      EXPECT_TRUE(IsNotFound(result));
    } else {
      EXPECT_EQ(c.code, result.code);
    }
    EXPECT_FALSE(result.call.empty());
    EXPECT_EQ(path, result.path);
  }
  EXPECT_EQ("x", h().Get(root() + "folder\\f.txt"));
  if (shut) {
    EXPECT_TRUE(h().ShutFolder(root() + "shut", false));
  }
}

// --- ReadFile, WriteFileAtomically, Stamp ---------------------------------------------------

TEST_P(FileSystemContractTest, ReadFileReadsWholeFilesAndNothingElse) {
  std::string big;
  for (size_t i = 0; i < (3u << 20) + 17; ++i) big.push_back(static_cast<char>(i * 7 + i / 251));
  ASSERT_TRUE(h().Put(root() + "big.bin", big));
  ASSERT_TRUE(h().Put(root() + "empty.bin", ""));
  ASSERT_TRUE(h().MakeFolder(root() + "folder"));

  auto read = fs().ReadFile(root() + "big.bin");
  ASSERT_TRUE(read.has_value());
  EXPECT_TRUE(*read == big) << "read " << read->size() << " bytes of " << big.size();
  EXPECT_EQ(std::optional<std::string>(""), fs().ReadFile(root() + "empty.bin"));
  EXPECT_EQ(std::nullopt, fs().ReadFile(root() + "missing.bin"));
  EXPECT_EQ(std::nullopt, fs().ReadFile(root() + "folder"));
  EXPECT_EQ(std::nullopt, fs().ReadFile(h().MissingDrive() + "x.bin"));

  // The same through a reader, read in another thread as a copy's read-back is.
  for (std::string name : {"big.bin", "empty.bin"}) {
    Result<std::unique_ptr<FileReader>> opened = fs().OpenForReading(root() + name);
    ASSERT_TRUE(opened.has_value()) << name;
    std::unique_ptr<FileReader>& reader = *opened;
    std::string pieces;
    bool read_whole = false;
    std::thread([&] {
      read_whole = reader->ReadPieces([&](std::string_view piece) { pieces.append(piece); }).ok();
    }).join();
    EXPECT_TRUE(read_whole) << name;
    EXPECT_TRUE(pieces == fs().ReadFile(root() + name)) << name;
  }
  for (const std::string& path :
       {root() + "missing.bin", root() + "folder", h().MissingDrive() + "x.bin"}) {
    EXPECT_FALSE(fs().OpenForReading(path).has_value()) << path;
  }
}

// A reader's stamp, where it gives one, is the file's as Stamp takes it: the store check keeps
// files by it. A read begun inside another's sink leaves the first one's pieces as they were.
TEST_P(FileSystemContractTest, AReaderGivesTheStampAndAReadInsideAnotherLeavesItsPieces) {
  ASSERT_TRUE(h().Put(root() + "a.bin", std::string(3000, 'a')));
  ASSERT_TRUE(h().Put(root() + "b.bin", std::string(5000, 'b')));
  Result<std::unique_ptr<FileReader>> a = fs().OpenForReading(root() + "a.bin");
  ASSERT_TRUE(a.has_value());
  if ((*a)->stamp()) {
    EXPECT_TRUE(fs().Stamp(root() + "a.bin") == (*a)->stamp());
  }
  std::string outer, inner;
  FileResult read = (*a)->ReadPieces([&](std::string_view piece) {
    EXPECT_TRUE(
        fs().ReadFileInPieces(root() + "b.bin", [&](std::string_view p) { inner.append(p); }));
    outer.append(piece);
  });
  EXPECT_TRUE(read);
  EXPECT_EQ(std::string(3000, 'a'), outer);
  EXPECT_EQ(std::string(5000, 'b'), inner);
}

// A file named as Windows names a device is never opened by that name: on Windows that would
// open the device (reading "COM1" waits on the port), so no platform opens it as a file.
TEST_P(FileSystemContractTest, NamesKeptForDevicesAreNeverOpened) {
  for (std::string name : {"NUL", "nul.ddv", "Aux.txt", "con.", "LPT1"}) {
    SCOPED_TRACE(name);
    const std::string path = root() + name;
    ASSERT_TRUE(h().PutByOwnName(path, "file"));
    EXPECT_EQ(std::nullopt, fs().ReadFile(path));
    EXPECT_FALSE(fs().OpenForReading(path).has_value());
    EXPECT_FALSE(fs().ReadFileInPieces(path, [](std::string_view) {}));
    EXPECT_EQ(std::nullopt, fs().Stamp(path));
    FileResult written = fs().WriteFileAtomically(path, "x");
    EXPECT_EQ(kDeviceName, written.code);
    EXPECT_EQ(kDeviceName, fs().AppendToFile(path, "x").code);
  }
}

TEST_P(FileSystemContractTest, WriteFileAtomicallyCreatesAndReplacesLeavingNoTemporaryFile) {
  std::string path = root() + "settings.fil";
  EXPECT_TRUE(fs().WriteFileAtomically(path, std::string("first\0line\r\n", 12)));
  EXPECT_EQ(std::string("first\0line\r\n", 12), h().Get(path));
  EXPECT_TRUE(fs().WriteFileAtomically(path, "2"));
  EXPECT_EQ("2", h().Get(path));
  EXPECT_TRUE(fs().WriteFileAtomically(path, ""));
  EXPECT_EQ("", h().Get(path));
  EXPECT_EQ((std::vector<std::string>{"settings.fil"}), h().List(root()));
}

TEST_P(FileSystemContractTest, WriteFileAtomicallyWritesCp932Names) {
  ASSERT_EQ("", h().Cp932Problem());
  ASSERT_TRUE(h().MakeFolder(root() + kHyo));
  EXPECT_TRUE(fs().WriteFileAtomically(root() + kHyo + "\\" + kSo, "so"));
  EXPECT_EQ((std::vector<std::string>{kHyo}), h().List(root()));
  EXPECT_EQ((std::vector<std::string>{kSo}), h().List(root() + kHyo));
  EXPECT_EQ("so", h().Get(root() + kHyo + "\\" + kSo));
}

TEST_P(FileSystemContractTest, WriteFileAtomicallyFailsWithoutTheFolder) {
  EXPECT_FALSE(fs().WriteFileAtomically(root() + "missing\\file.txt", "x"));
  EXPECT_FALSE(fs().Exists(root() + "missing"));
  EXPECT_FALSE(fs().WriteFileAtomically(h().MissingDrive() + "file.txt", "x"));
  ASSERT_TRUE(h().MakeFolder(root() + "folder"));
  EXPECT_FALSE(fs().WriteFileAtomically(root() + "folder\\", "x"));
  EXPECT_FALSE(fs().WriteFileAtomically(root() + "folder", "x"));
  EXPECT_TRUE(fs().IsFolder(root() + "folder"));
  EXPECT_EQ((std::vector<std::string>{}), h().List(root() + "folder"));
  EXPECT_EQ((std::vector<std::string>{"folder"}), h().List(root()));
}

// A saved copy keeps what the file held when it was made, after the file is replaced (as the
// folder copy replaces it: a new file renamed over it), and is made only where nothing is.
TEST_P(FileSystemContractTest, WriteNewCopySavesAFileThroughItsReplacement) {
  ASSERT_TRUE(h().MakeFolder(root() + "data"));
  ASSERT_TRUE(h().MakeFolder(root() + "saved"));
  ASSERT_TRUE(h().Put(root() + "data\\a.dat", std::string("old\0a", 5)));
  ASSERT_TRUE(h().Put(root() + "saved\\2", "taken"));
  EXPECT_TRUE(fs().WriteNewCopy(root() + "saved\\1", root() + "data\\a.dat"));
  EXPECT_EQ(kAlreadyExists, fs().WriteNewCopy(root() + "saved\\2", root() + "data\\a.dat").code);
  EXPECT_FALSE(fs().WriteNewCopy(root() + "saved\\3", root() + "data\\missing.dat"));
  EXPECT_TRUE(fs().WriteOutNewFiles(root() + "saved"));
  EXPECT_TRUE(fs().WriteFileAtomically(root() + "data\\a.dat", "new"));
  EXPECT_EQ(std::string("old\0a", 5), h().Get(root() + "saved\\1"));
  EXPECT_EQ("taken", h().Get(root() + "saved\\2"));
  EXPECT_EQ("new", h().Get(root() + "data\\a.dat"));
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), h().List(root() + "saved"));
}

// A new file is made only where nothing is: an existing file or folder stays as it is, and a
// file that cannot be made leaves nothing behind.
TEST_P(FileSystemContractTest, WriteNewFileMakesOnlyNewFiles) {
  ASSERT_TRUE(h().MakeFolder(root() + "saved"));
  ASSERT_TRUE(h().Put(root() + "saved\\1", "old"));
  ASSERT_TRUE(h().MakeFolder(root() + "saved\\2"));
  EXPECT_TRUE(fs().WriteNewFile(root() + "saved\\3", std::string("a\0b", 3)));
  EXPECT_TRUE(fs().WriteNewFile(root() + "saved\\" + kSo, ""));
  for (const std::string& taken : {root() + "saved\\1", root() + "saved\\2", root() + "saved\\3"}) {
    FileResult result = fs().WriteNewFile(taken, "new");
    EXPECT_EQ(kAlreadyExists, result.code) << taken;
  }
  EXPECT_FALSE(fs().WriteNewFile(root() + "missing\\4", "x"));
  EXPECT_FALSE(fs().WriteNewFile(h().MissingDrive() + "4", "x"));
  EXPECT_TRUE(fs().WriteOutNewFiles(root() + "saved"));
  EXPECT_EQ("old", h().Get(root() + "saved\\1"));
  EXPECT_TRUE(fs().IsFolder(root() + "saved\\2"));
  EXPECT_EQ(std::string("a\0b", 3), h().Get(root() + "saved\\3"));
  EXPECT_EQ("", h().Get(root() + "saved\\" + kSo));
  EXPECT_EQ((std::vector<std::string>{"1", "2", "3", kSo}), h().List(root() + "saved"));
  EXPECT_EQ((std::vector<std::string>{"saved"}), h().List(root()));
}

TEST_P(FileSystemContractTest, StampDescribesTheFileAndChangesWhenItIsRewritten) {
  std::string path = root() + "f.txt";
  EXPECT_EQ(std::nullopt, fs().Stamp(path));
  ASSERT_TRUE(h().Put(path, "12345"));
  ASSERT_TRUE(h().SetModified(path, kOldTime));
  auto first = fs().Stamp(path);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(5u, first->size);
  EXPECT_EQ(kOldTime * 1000000000, first->modified_ns);
  EXPECT_EQ(first, fs().Stamp(path)) << "unchanged file, same stamp";

  // Same size, and the time set back to the old one: only the identity can tell.
  ASSERT_TRUE(fs().WriteFileAtomically(path, "54321"));
  ASSERT_TRUE(h().SetModified(path, kOldTime));
  auto second = fs().Stamp(path);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(5u, second->size);
  EXPECT_NE(first, second);

  ASSERT_TRUE(fs().WriteFileAtomically(path, "123456"));
  auto third = fs().Stamp(path);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(6u, third->size);
  EXPECT_NE(kOldTime * 1000000000, third->modified_ns);

  ASSERT_TRUE(h().MakeFolder(root() + "folder"));
  EXPECT_EQ(std::nullopt, fs().Stamp(root() + "folder"));
}

// A listing with stamps names what ListFiles names, in its order, each with the stamp Stamp
// gives it; it fails as ListFiles does.
TEST_P(FileSystemContractTest, AListingWithStampsIsListFilesWithEachStamp) {
  ASSERT_TRUE(fs().MakeSurePathExists(root() + "Sub\\deeper\\a.dat"));
  ASSERT_TRUE(h().Put(root() + "b.txt", "12345"));
  ASSERT_TRUE(h().Put(root() + "Sub\\" + kSo + ".dat", "1"));
  ASSERT_TRUE(h().Put(root() + "Sub\\deeper\\a.dat", ""));
  ASSERT_TRUE(h().MakeFolder(root() + "empty"));
  std::vector<std::string> listed, names;
  std::vector<std::optional<FileStamp>> stamps;
  ASSERT_TRUE(fs().ListFiles(root(), &listed));
  ASSERT_TRUE(fs().ListFileStamps(root(), &names, &stamps));
  EXPECT_EQ(listed, names);
  ASSERT_EQ(names.size(), stamps.size());
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(fs().Stamp(root() + names[i]).value_or(FileStamp{}), stamps[i]) << names[i];
  }
  FileResult missing = fs().ListFiles(root() + "none\\", &listed);
  EXPECT_EQ(missing.code, fs().ListFileStamps(root() + "none\\", &names, &stamps).code);
}

// A write in place that keeps the size and sets the time back keeps the file's id as well: only
// the change time tells it, so it must be given, and move.
TEST_P(FileSystemContractTest, AWriteInPlaceWithTheTimeSetBackMovesTheChangeTime) {
  std::string path = root() + "f.txt";
  ASSERT_TRUE(h().Put(path, "12345"));
  ASSERT_TRUE(h().SetModified(path, kOldTime));
  auto first = fs().Stamp(path);
  ASSERT_TRUE(first.has_value());
  EXPECT_NE(0, first->changed_ns);
  // Reading it is no change.
  EXPECT_EQ("12345", h().Get(path));
  EXPECT_EQ("12345", fs().ReadFile(path).value_or(""));
  EXPECT_EQ(first, fs().Stamp(path));
  // More than the coarsest clock a file system stamps with.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(h().Put(path, "54321"));
  ASSERT_TRUE(h().SetModified(path, kOldTime));
  auto second = fs().Stamp(path);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(first->size, second->size);
  EXPECT_EQ(first->modified_ns, second->modified_ns);
  EXPECT_EQ(first->file_id, second->file_id);
  EXPECT_NE(first->changed_ns, second->changed_ns);
}

// --- Read-only files and metadata -----------------------------------------------------------

// A file's own read-only mark keeps neither a replacement nor a removal from it (POSIX asks only
// the folder; Windows' MoveFileEx and DeleteFile refuse such a file until the mark is lifted),
// and a replaced file stays read-only, as it keeps its other permissions.
TEST_P(FileSystemContractTest, AReadOnlyFileIsReplacedStayingReadOnlyAndRemoved) {
  const std::string path = root() + "ro.dat";
  ASSERT_TRUE(h().Put(path, "old"));
  ASSERT_TRUE(h().SetReadOnly(path, true));
  EXPECT_TRUE(fs().WriteFileAtomically(path, "new"));
  EXPECT_EQ("new", h().Get(path));
  EXPECT_TRUE(h().IsReadOnly(path));
  EXPECT_TRUE(fs().RemoveFile(path));
  EXPECT_FALSE(fs().Exists(path));
  EXPECT_EQ((std::vector<std::string>{}), h().List(root()));
}

// What GetMetadata reads from one file, SetMetadata gives another: its read-only mark and its
// last-write time on every platform, whatever else the platform keeps.
TEST_P(FileSystemContractTest, MetadataReadFromOneFileIsGivenToAnother) {
  const std::string from = root() + "from.dat";
  const std::string to = root() + kSo + ".dat";
  ASSERT_TRUE(h().Put(from, "f"));
  ASSERT_TRUE(h().Put(to, "t"));
  ASSERT_TRUE(h().SetModified(from, kOldTime));
  ASSERT_TRUE(h().SetReadOnly(from, true));
  FileMetadata read;
  ASSERT_TRUE(fs().GetMetadata(from, &read));
  EXPECT_EQ(kOldTime * 1000000000, read.modified_ns);
  unsigned not_set = ~0u;
  EXPECT_TRUE(fs().SetMetadata(to, read, &not_set));
  EXPECT_EQ(0u, not_set);
  FileMetadata given;
  ASSERT_TRUE(fs().GetMetadata(to, &given));
  EXPECT_EQ(read, given);
  EXPECT_TRUE(h().IsReadOnly(to));
  EXPECT_EQ(kOldTime * 1000000000, fs().Stamp(to)->modified_ns);
  EXPECT_EQ("t", h().Get(to));
  // And back to writable, a time before 1970 included.
  ASSERT_TRUE(h().SetReadOnly(from, false));
  ASSERT_TRUE(h().SetModified(from, -86400));
  ASSERT_TRUE(fs().GetMetadata(from, &read));
  EXPECT_TRUE(fs().SetMetadata(to, read, &not_set));
  EXPECT_FALSE(h().IsReadOnly(to));
  EXPECT_EQ(-86400 * int64_t{1000000000}, fs().Stamp(to)->modified_ns);
}

TEST_P(FileSystemContractTest, MetadataOfNoFileOrOfAnotherPlatformIsRefused) {
  ASSERT_TRUE(h().MakeFolder(root() + "folder"));
  ASSERT_TRUE(h().Put(root() + "f.dat", "f"));
  FileMetadata metadata;
  EXPECT_EQ(kNotFound, fs().GetMetadata(root() + "missing.dat", &metadata).code);
  EXPECT_EQ(kAccessDenied, fs().GetMetadata(root() + "folder", &metadata).code);
  ASSERT_TRUE(fs().GetMetadata(root() + "f.dat", &metadata));
  unsigned not_set = 0;
  EXPECT_FALSE(fs().SetMetadata(root() + "missing.dat", metadata, &not_set));
  EXPECT_NE(0u, not_set);
  EXPECT_FALSE(fs().SetMetadata(root() + "folder", metadata, &not_set));
  FileMetadata other = metadata;
  other.kind = metadata.kind == FileMetadata::Kind::kPosix ? FileMetadata::Kind::kWindows
                                                           : FileMetadata::Kind::kPosix;
  EXPECT_EQ(kNotSupported, fs().SetMetadata(root() + "f.dat", other, &not_set).code);
  EXPECT_EQ(MetadataParts(other), not_set);
}

INSTANTIATE_TEST_SUITE_P(
    AllFileSystems, FileSystemContractTest,
    testing::ValuesIn(contract::Implementations<std::unique_ptr<FileSystemHarness>>()),
    contract::ImplementationName<std::unique_ptr<FileSystemHarness>>);

}  // namespace
}  // namespace kdr
