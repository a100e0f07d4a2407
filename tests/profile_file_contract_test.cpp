// One contract for every ProfileFile: the behaviour of the Windows private-profile functions
// that the settings export and import rely on. Runs against every implementation the platform's
// folder registers: PortableProfileFile natively, and in the Windows build also the platform's
// own functions and PortableProfileFile over the Win32 file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "fuzz/memory_files.h"
#include "platform/portable_profile_file.h"
#include "platform/profile_document.h"
#include "tests/file_bytes.h"
#include "tests/profile_file_harness.h"
#include "tests/seeded_random.h"

namespace kdr {
namespace {

using namespace std::string_literals;

using contract::ProfileImplementation;
using contract::ProfileSubject;

using testing::ReadBytes;
using testing::WriteBytes;

// Compares long byte strings without printing them whole.
::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  return ::testing::AssertionFailure() << "expected " << expected.size() << " bytes, got "
                                       << actual.size() << "; first difference at " << at;
}

// A list as a buffer of `size` bytes receives it, with 0x7f where nothing was written.
struct ListResult {
  uint32_t returned = 0;
  std::string bytes;
};

class ProfileFileContract : public ::testing::TestWithParam<ProfileImplementation> {
 protected:
  void SetUp() override {
    folder_ = contract::MakeTempFolder();
    ASSERT_FALSE(folder_.empty());
    subject_ = GetParam().make();
    file_ = folder_ + "settings.fil";
  }
  void TearDown() override {
    subject_.profile.reset();
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(folder_), ec);
  }

  ProfileFile& pf() { return *subject_.profile; }
  bool wine() const { return subject_.is_wine; }

  // The file as the implementation leaves it once its writes are flushed.
  std::string FileBytes() {
    EXPECT_TRUE(pf().Flush());
    return ReadBytes(file_);
  }

  // Replaces the file behind the implementation's back, as another program would.
  void PutFile(const std::string& bytes) {
    ASSERT_TRUE(pf().Flush());
    WriteBytes(file_, bytes);
  }

  ListResult Names(size_t size) {
    std::string buffer(size, '\x7f');
    ListResult r;
    r.returned = pf().GetSectionNames(std::span<char>(buffer.data(), size), file_);
    r.bytes = buffer;
    return r;
  }
  ListResult Section(std::string_view section, size_t size) {
    std::string buffer(size, '\x7f');
    ListResult r;
    r.returned = pf().GetSection(section, std::span<char>(buffer.data(), size), file_);
    r.bytes = buffer;
    return r;
  }
  // The whole entry list of a section, without the final NUL.
  std::string Entries(std::string_view section) {
    ListResult r = Section(section, 1 << 16);
    return r.bytes.substr(0, r.returned);
  }
  std::string NameList() {
    ListResult r = Names(1 << 16);
    return r.bytes.substr(0, r.returned);
  }

  std::string folder_;
  std::string file_;
  ProfileSubject subject_;
};

TEST_P(ProfileFileContract, FirstWriteCreatesFileWithSectionAndEntry) {
  EXPECT_TRUE(pf().WriteString("Software\\VTQ\\Kodrel\\Client", "Host", "1:srv", file_));
  EXPECT_EQ("[Software\\VTQ\\Kodrel\\Client]\r\nHost=1:srv\r\n", FileBytes());
}

// A value given in two parts is written as the one value they make, in every place a write can
// put it; the parts may split a double-byte character (ソ is 0x83 0x5C).
TEST_P(ProfileFileContract, ValueInTwoPartsIsWrittenAsOne) {
  const struct {
    const char* name;
    std::string before;  // the file first ("" for none)
    std::string_view section, key, head, tail;
    std::string after;
  } cases[] = {
      {"new file", "", "S", "k", "1:", "v", "[S]\r\nk=1:v\r\n"},
      {"new key", "[S]\r\na=1\r\n;c\r\n", "s", " k ", "1:\x83", "\x5c",
       "[S]\r\na=1\r\nk=1:\x83\x5c\r\n;c\r\n"},
      {"replaced, keeps the key's spelling and line end", "[S]\nKey=old\n[T]\n", "S", "KEY",
       "1:", "\x83\x5c\x83\x5c", "[S]\nKey=1:\x83\x5c\x83\x5c\n[T]\n"},
      {"empty tail", "[S]\r\n", "S", "k", "1:x", "", "[S]\r\nk=1:x\r\n"},
  };
  // Each case against the same value written whole; Wine's functions differ from Windows in
  // where a new key goes and in line ends, so there only the two are compared.
  auto start = [&](const std::string& before) {
    ASSERT_TRUE(pf().Flush());
    std::remove(file_.c_str());
    if (!before.empty()) WriteBytes(file_, before);
  };
  for (const auto& c : cases) {
    start(c.before);
    std::string whole = std::string(c.head) + std::string(c.tail);
    EXPECT_TRUE(pf().WriteString(c.section, c.key, whole, file_)) << c.name;
    std::string expected = FileBytes();
    start(c.before);
    EXPECT_TRUE(pf().WriteJoinedString(c.section, c.key, c.head, c.tail, file_)) << c.name;
    EXPECT_EQ(expected, FileBytes()) << c.name;
    if (!wine()) {
      EXPECT_EQ(c.after, expected) << c.name;
    }
  }
}

TEST_P(ProfileFileContract, EmptiedMissingSectionIsCreatedAndListed) {
  if (wine()) GTEST_SKIP() << "Wine 8.0 does not create the section; Windows does";
  EXPECT_TRUE(pf().WriteSection("Empty", ""s, file_));
  EXPECT_EQ("Empty\0"s, NameList());
  ListResult r = Section("Empty", 100);
  EXPECT_EQ(0u, r.returned);
  EXPECT_EQ('\0', r.bytes[0]);
  EXPECT_EQ("[Empty]\r\n", FileBytes());
}

TEST_P(ProfileFileContract, ExportOfSeveralKeysKeepsOrderAndEmptySections) {
  if (wine()) GTEST_SKIP() << "Wine 8.0 does not create an emptied missing section";
  pf().WriteSection("K\\A", "", file_);
  pf().WriteString("K\\A", "x", "1:one", file_);
  pf().WriteString("K\\A", "y", "4:01000000", file_);
  pf().WriteSection("K\\B", "", file_);
  pf().WriteSection("K\\C", "", file_);
  pf().WriteString("K\\C", "z", "3:0aff", file_);
  EXPECT_EQ("K\\A\0K\\B\0K\\C\0"s, NameList());
  EXPECT_EQ("x=1:one\0y=4:01000000\0"s, Entries("k\\a"));
  EXPECT_EQ("", Entries("K\\B"));
  EXPECT_EQ("[K\\A]\r\nx=1:one\r\ny=4:01000000\r\n[K\\B]\r\n[K\\C]\r\nz=3:0aff\r\n", FileBytes());
}

TEST_P(ProfileFileContract, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  pf().WriteString("Sec", "Alpha", "1", file_);
  pf().WriteString("Sec", "beta", "2", file_);
  pf().WriteString("SEC", "ALPHA", "3", file_);
  pf().WriteString("sec", "Gamma", "4", file_);
  pf().WriteString("sEc", "BETA", "5", file_);
  EXPECT_EQ("Alpha=3\0beta=5\0Gamma=4\0"s, Entries("SEC"));
  EXPECT_EQ("[Sec]\r\nAlpha=3\r\nbeta=5\r\nGamma=4\r\n", FileBytes());
}

TEST_P(ProfileFileContract, EmptyingAnExistingSectionKeepsItsPlace) {
  pf().WriteString("A", "a1", "1", file_);
  pf().WriteString("B", "b1", "1", file_);
  pf().WriteString("A", "a2", "2", file_);
  EXPECT_TRUE(pf().WriteSection("a", "", file_));
  EXPECT_EQ("A\0B\0"s, NameList());
  EXPECT_EQ("", Entries("A"));
  pf().WriteString("A", "a3", "3", file_);
  EXPECT_EQ("[A]\r\na3=3\r\n[B]\r\nb1=1\r\n", FileBytes());
}

TEST_P(ProfileFileContract, EmptyValueAndEmptyList) {
  pf().WriteString("S", "k", "", file_);
  EXPECT_EQ("k=\0"s, Entries("S"));
  EXPECT_EQ("[S]\r\nk=\r\n", FileBytes());
}

TEST_P(ProfileFileContract, MissingFileReadsAsEmpty) {
  ListResult names = Names(10);
  EXPECT_EQ(0u, names.returned);
  EXPECT_EQ('\0', names.bytes[0]);
  EXPECT_EQ('\x7f', names.bytes[1]);  // only one NUL, as Windows writes it
  ListResult section = Section("S", 10);
  EXPECT_EQ(0u, section.returned);
  EXPECT_EQ("\0\0"s, section.bytes.substr(0, 2));
  EXPECT_EQ("<missing>", ReadBytes(file_));
}

TEST_P(ProfileFileContract, SectionNamesCutToTheBuffer) {
  PutFile("[ section1 ]\r\n[section2]\r\n[section3]\r\n");
  ListResult r = Names(29);
  EXPECT_EQ(27u, r.returned);
  EXPECT_EQ("section1\0section2\0section3\0\0"s, r.bytes.substr(0, 28));
  r = Names(16);
  EXPECT_EQ(14u, r.returned);
  if (!wine()) {  // Wine 8.0's A function ends a cut list with one NUL only
    EXPECT_EQ("section1\0secti\0\0"s, r.bytes);
    r = Names(28);  // exactly the list's size: Windows reports it cut
    EXPECT_EQ(26u, r.returned);
    EXPECT_EQ("section1\0section2\0section3\0\0"s, r.bytes);
    r = Names(27);
    EXPECT_EQ(25u, r.returned);
    EXPECT_EQ("section1\0section2\0section\0\0"s, r.bytes);
    r = Names(2);
    EXPECT_EQ(0u, r.returned);
    EXPECT_EQ("\0\0"s, r.bytes);
  }
  r = Names(1);
  EXPECT_EQ(0u, r.returned);
  EXPECT_EQ("\0"s, r.bytes);
}

TEST_P(ProfileFileContract, SectionEntriesCutToTheBuffer) {
  PutFile("[section1]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n[section2]\r\n");
  ListResult r = Section("section1", 100);
  EXPECT_EQ(35u, r.returned);
  EXPECT_EQ("name1=val1\0name2=\0name3\0name4=val4\0\0"s, r.bytes.substr(0, 36));
  r = Section("section1", 24);
  EXPECT_EQ(22u, r.returned);
  EXPECT_EQ("name1=val1\0name2=\0name\0\0"s, r.bytes);
  r = Section("section1", 36);  // exactly the list's size: reported cut
  EXPECT_EQ(34u, r.returned);
  EXPECT_EQ("name1=val1\0name2=\0name3\0name4=val4\0\0"s, r.bytes);
  r = Section("section1", 3);
  EXPECT_EQ(1u, r.returned);
  EXPECT_EQ("n\0\0"s, r.bytes);
  r = Section("section2", 100);
  EXPECT_EQ(0u, r.returned);
  EXPECT_EQ('\0', r.bytes[0]);
}

TEST_P(ProfileFileContract, EightBitTextPassesThrough) {
  // Code page 932: "ソ" is 83 5C and "表" is 95 5C (second byte a backslash), "ゾ" 83 5D.
  const std::string section = "Software\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C";
  const std::string key = "\x83\x5D\x96\xBC\x91\x4F";
  const std::string value = "1:\x95\x5C\x8E\xA6\xB1\xB2\xDF\x80\xA0\xFD\xFE\xFF";
  pf().WriteString(section, key, value, file_);
  EXPECT_EQ(section + "\0"s, NameList());
  EXPECT_EQ(key + "=" + value + "\0"s, Entries(section));
  EXPECT_EQ("[" + section + "]\r\n" + key + "=" + value + "\r\n", FileBytes());
}

TEST_P(ProfileFileContract, TwoByteCharactersDoNotFoldLikeAsciiLetters) {
  // 83 41 and 83 61 are two different katakana; a byte-wise fold would make them one name.
  pf().WriteString("\x83\x41", "k", "1", file_);
  pf().WriteString("\x83\x61", "k", "2", file_);
  pf().WriteString("s", "\x83\x41", "3", file_);
  pf().WriteString("s", "\x83\x61", "4", file_);
  EXPECT_EQ("\x83\x41\0\x83\x61\0s\0"s, NameList());
  EXPECT_EQ("k=2\0"s, Entries("\x83\x61"));
  EXPECT_EQ("\x83\x41=3\0\x83\x61=4\0"s, Entries("S"));
}

TEST_P(ProfileFileContract, OddLinesOfAnExistingFile) {
  PutFile(
      "\r\n"
      "[ Spaced ]  \r\n"
      "; a comment\r\n"
      "\r\n"
      "  key  =  value  \r\n"
      "no equals sign\r\n"
      "=empty key\r\n"
      "\tTab\t=\tx\t\r\n"
      "[Unix]\n"
      "a=1\n"
      "\n"
      "b=2\n"
      "[Mac]\r"
      "c=3\r"
      "[spaced]\r\n"
      "dup=second section\r\n"
      "[Last]\r\n"
      "k=1\r\n"
      "K=2\r\n"
      "z=no final line end");
  EXPECT_EQ("Spaced\0Unix\0Mac\0spaced\0Last\0"s, NameList());
  EXPECT_EQ("key=value\0no equals sign\0=empty key\0Tab=x\0"s, Entries("spaced"));
  EXPECT_EQ("a=1\0b=2\0"s, Entries("UNIX"));
  EXPECT_EQ("c=3\0"s, Entries("mac"));
  EXPECT_EQ("k=1\0K=2\0z=no final line end\0"s, Entries("Last"));
}

TEST_P(ProfileFileContract, WritesIntoAnOddFile) {
  PutFile("[A]\r\nk=1\r\n\r\n[B]\r\nK=2\r\nk=3\r\nlast=x");
  pf().WriteString("b", "k", "9", file_);    // the first of two same keys
  pf().WriteString("a", "new", "n", file_);  // after the last entry, before the blank line
  pf().WriteString("b", "end", "e", file_);  // after a last line without its line end
  EXPECT_EQ("k=1\0new=n\0"s, Entries("A"));
  EXPECT_EQ("K=9\0k=3\0last=x\0end=e\0"s, Entries("B"));
  if (wine()) return;  // Wine writes the whole file anew, without the blank line
  EXPECT_EQ("[A]\r\nk=1\r\nnew=n\r\n\r\n[B]\r\nK=9\r\nk=3\r\nlast=x\r\nend=e\r\n", FileBytes());
}

TEST_P(ProfileFileContract, NewSectionAfterALastLineWithoutLineEnd) {
  PutFile("[A]\r\nk=1");
  pf().WriteString("B", "m", "2", file_);
  EXPECT_EQ("[A]\r\nk=1\r\n[B]\r\nm=2\r\n", FileBytes());
}

TEST_P(ProfileFileContract, ExternalChangeIsReadAgain) {
  pf().WriteString("S", "k", "1", file_);
  EXPECT_EQ("k=1\0"s, Entries("S"));
  PutFile("[T]\r\nother=2\r\n");
  EXPECT_EQ("T\0"s, NameList());
  EXPECT_EQ("other=2\0"s, Entries("T"));
  std::remove(file_.c_str());
  EXPECT_EQ("", NameList());
}

TEST_P(ProfileFileContract, LongLinesAndValues) {
  if (wine()) GTEST_SKIP() << "Wine 8.0 drops a value of 1 MB; Windows keeps values over 64 KB";
  std::string value = "1:" + std::string(1 << 20, 'v');
  std::string key(70000, 'k');
  pf().WriteString("S", key, value, file_);
  pf().WriteString("S", "short", "s", file_);
  std::string all = pf().ReadSection("S", file_);
  EXPECT_TRUE(SameBytes(key + "=" + value + "\0short=s\0\0"s, all));
  EXPECT_TRUE(SameBytes("[S]\r\n" + key + "=" + value + "\r\nshort=s\r\n", FileBytes()));
}

TEST_P(ProfileFileContract, ArbitraryBytesNeverBreakTheReader) {
  testing::SeededRandom random(20240607);
  const std::string alphabet = "[]=;\r\n \t\v\0ab\x81\x5C\x83\xFF"s;
  for (int round = 0; round < 40; ++round) {
    std::string bytes;
    size_t size = random() % 400;
    for (size_t i = 0; i < size; ++i) {
      bytes.push_back(random() % 3 == 0 ? static_cast<char>(random() % 256)
                                        : alphabet[random() % alphabet.size()]);
    }
    PutFile(bytes);
    std::string names = pf().ReadSectionNames(file_);
    ASSERT_GE(names.size(), 2u);
    ASSERT_EQ('\0', names.back());
    for (size_t size = 0; size < 12; ++size) {
      std::string buffer(size + 8, '\x7f');
      uint32_t n = pf().GetSectionNames(std::span<char>(buffer.data(), size), file_);
      ASSERT_LE(n + (size > 0 ? 1u : 0u), std::max<size_t>(size, 1)) << "round " << round;
      ASSERT_EQ(std::string(8, '\x7f'), buffer.substr(size)) << "wrote past the buffer";
      if (!subject_.is_wine || size > 0) {
        buffer.assign(size + 8, '\x7f');
        std::string first = names.substr(0, names.find('\0'));
        n = pf().GetSection(first, std::span<char>(buffer.data(), size), file_);
        if (size > 1 || !subject_.is_wine) {
          ASSERT_EQ(std::string(8, '\x7f'), buffer.substr(size)) << "wrote past the buffer";
        }
      }
    }
    pf().WriteString("new", "k", "v", file_);
    EXPECT_EQ("k=v\0"s, Entries("new")) << "round " << round;
  }
}

// The file system in memory of the fuzz targets, counting what the profile layer asks of it and
// able to refuse writes.
class CountingFileSystem : public fuzz::MemoryFiles {
 public:
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override {
    ++reads;
    return MemoryFiles::OpenForReading(path);
  }
  FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) override {
    ++writes;
    if (fail_writes) return FileResult::Fail(kAccessDenied, "CreateFile", path);
    return MemoryFiles::WriteFileAtomically(path, bytes);
  }
  Result<FileStamp> Stamp(std::string_view path) override {
    ++stamps;
    return MemoryFiles::Stamp(path);
  }
  // The file's bytes; "<missing>" when there is none.
  std::string Text(std::string_view path) const {
    const std::string* bytes = Get(path);
    return bytes ? *bytes : "<missing>";
  }

  int reads = 0;
  int writes = 0;
  int stamps = 0;
  bool fail_writes = false;
};

TEST(PortableProfileFileTest, WritesOnlyOnFlushAndReadsSeePendingWrites) {
  CountingFileSystem fs;
  PortableProfileFile pf(fs);
  EXPECT_TRUE(pf.WriteSection("A", "", "C:\\w\\f.fil"));
  EXPECT_TRUE(pf.WriteString("A", "k", "1:v", "C:\\w\\f.fil"));
  EXPECT_EQ("<missing>", fs.Text("C:\\w\\f.fil"));
  EXPECT_EQ(0, fs.writes);
  EXPECT_EQ("A\0\0"s, pf.ReadSectionNames("C:\\w\\f.fil"));
  EXPECT_EQ("k=1:v\0\0"s, pf.ReadSection("a", "c:\\W\\F.fil"));  // same file, other case
  EXPECT_EQ(1u, pf.PendingFiles());
  EXPECT_TRUE(pf.Flush());
  EXPECT_EQ(1, fs.writes);
  EXPECT_EQ("[A]\r\nk=1:v\r\n", fs.Text("C:\\w\\f.fil"));
  EXPECT_EQ(0u, pf.PendingFiles());
  EXPECT_TRUE(pf.Flush());
  EXPECT_EQ(1, fs.writes) << "nothing changed, nothing written";
}

TEST(PortableProfileFileTest, ReadsTheFileOnceForManyCalls) {
  CountingFileSystem fs;
  fs.Put("f", "[A]\r\nx=1\r\n");
  PortableProfileFile pf(fs);
  for (int i = 0; i < 100; ++i) {
    EXPECT_TRUE(pf.WriteString("A", "k" + std::to_string(i), "v", "f"));
    pf.ReadSection("A", "f");
  }
  EXPECT_EQ(1, fs.reads);
  fs.Put("f", "[B]\r\n");
  EXPECT_TRUE(pf.Flush());  // the other program's file is read again and our writes applied to it
  EXPECT_EQ(2, fs.reads);
  EXPECT_EQ(0, fs.Text("f").find("[B]\r\n[A]\r\nk0=v\r\n"));
}

// A failed write is told once and lost, as the platform's is: the next Flush, which writes
// another edition's settings file, must not fail again for it.
TEST(PortableProfileFileTest, FailedFlushIsToldOnceAndDropsThatFilesWrites) {
  CountingFileSystem fs;
  fs.Put("held", "[H]\r\nx=0\r\n");
  PortableProfileFile pf(fs);
  ProfileFileHold hold(pf, "held");
  EXPECT_TRUE(pf.WriteString("A", "k", "1", "one"));
  EXPECT_TRUE(pf.WriteString("H", "x", "1", "held"));
  fs.fail_writes = true;
  EXPECT_FALSE(pf.Flush());
  EXPECT_EQ(0u, pf.PendingFiles());
  EXPECT_EQ(std::string::npos, pf.ReadSection("A", "one").find("k=1"));
  EXPECT_EQ("x=0\0\0"s, pf.ReadSection("H", "held"));
  fs.fail_writes = false;
  EXPECT_TRUE(pf.WriteString("B", "k", "2", "two"));
  EXPECT_TRUE(pf.Flush());
  EXPECT_EQ("<missing>", fs.Text("one"));
  EXPECT_EQ("[H]\r\nx=0\r\n", fs.Text("held"));
  EXPECT_EQ("[B]\r\nk=2\r\n", fs.Text("two"));
}

TEST(PortableProfileFileTest, PendingWritesAreAppliedToAFileChangedMeanwhile) {
  CountingFileSystem fs;
  fs.Put("f", "[A]\r\nold=1\r\n");
  PortableProfileFile pf(fs);
  EXPECT_TRUE(pf.WriteString("A", "mine", "2", "f"));
  EXPECT_TRUE(pf.WriteJoinedString("A", "two", "1:", "\x83\x5c", "f"));  // a line added
  EXPECT_TRUE(pf.WriteJoinedString("A", "OLD", "3:", "ab", "f"));        // a value replaced
  fs.Put("f", "[Z]\r\ntheirs=3\r\n[A]\r\nold=4\r\n");
  // As if each write had gone to the file at once: theirs first, then mine on top of it.
  EXPECT_EQ("Z\0A\0\0"s, pf.ReadSectionNames("f"));
  EXPECT_EQ("old=3:ab\0mine=2\0two=1:\x83\x5c\0\0"s, pf.ReadSection("A", "f"));
  EXPECT_TRUE(pf.Flush());
  EXPECT_EQ("[Z]\r\ntheirs=3\r\n[A]\r\nold=3:ab\r\nmine=2\r\ntwo=1:\x83\x5c\r\n", fs.Text("f"));
}

TEST(PortableProfileFileTest, AHeldFileIsLookedAtOnceWhenTheHoldBegins) {
  CountingFileSystem fs;
  fs.Put("f", "[A]\r\nx=1\r\n");
  PortableProfileFile pf(fs);
  EXPECT_EQ("x=1\0\0"s, pf.ReadSection("A", "f"));
  fs.Put("f", "[A]\r\nx=2\r\n");
  {
    ProfileFileHold outer(pf, "F");  // another spelling of the same file
    EXPECT_EQ("x=2\0\0"s, pf.ReadSection("A", "f")) << "the hold begins with a look";
    int stamps = fs.stamps;
    fs.Put("f", "[A]\r\nx=3\r\n");
    {
      ProfileFileHold inner(pf, "f");
      for (int i = 0; i < 10; ++i) EXPECT_EQ("x=2\0\0"s, pf.ReadSection("A", "f"));
    }
    EXPECT_EQ("x=2\0\0"s, pf.ReadSection("A", "f")) << "the outer hold still stands";
    EXPECT_EQ(stamps, fs.stamps);
  }
  EXPECT_EQ("x=3\0\0"s, pf.ReadSection("A", "f"));
}

TEST(PortableProfileFileTest, ManyPendingWritesAreAppliedAnewInTheirOrder) {
  // Sections that come back after another one, an emptied section, and fields long enough to
  // need more than one byte for their length.
  CountingFileSystem fs;
  fs.Put("f", "[A]\r\nold=1\r\n");
  PortableProfileFile pf(fs);
  std::string long_value(300, 'v');
  std::string long_section = "S" + std::string(200, 's');
  EXPECT_TRUE(pf.WriteString("A", "k1", "1", "f"));
  EXPECT_TRUE(pf.WriteString("A", "k2", long_value, "f"));
  EXPECT_TRUE(pf.WriteString(long_section, "k", "2", "f"));
  EXPECT_TRUE(pf.WriteString("A", "k1", "3", "f"));
  EXPECT_TRUE(pf.WriteSection("B", ""s, "f"));
  EXPECT_TRUE(pf.WriteString("B", "k", "4", "f"));
  EXPECT_TRUE(pf.WriteSection("A", ""s, "f"));
  EXPECT_TRUE(pf.WriteString("a", "K5", "5", "f"));
  fs.Put("f", "[Z]\r\n[A]\r\ntheirs=6\r\n");
  EXPECT_TRUE(pf.Flush());
  EXPECT_EQ("[Z]\r\n[A]\r\nK5=5\r\n[" + long_section + "]\r\nk=2\r\n[B]\r\nk=4\r\n", fs.Text("f"));
}

TEST(PortableProfileFileTest, DestructionFlushes) {
  CountingFileSystem fs;
  {
    PortableProfileFile pf(fs);
    EXPECT_TRUE(pf.WriteString("A", "k", "1", "f"));
  }
  EXPECT_EQ("[A]\r\nk=1\r\n", fs.Text("f"));
}

TEST(PortableProfileFileTest, FiftyThousandSections) {
  CountingFileSystem fs;
  PortableProfileFile pf(fs);
  std::string expected;
  for (int i = 0; i < 50000; ++i) {
    std::string section = "Software\\S" + std::to_string(i);
    EXPECT_TRUE(pf.WriteSection(section, "", "f"));
    EXPECT_TRUE(pf.WriteString(section, "v", std::to_string(i), "f"));
    expected += "[" + section + "]\r\nv=" + std::to_string(i) + "\r\n";
  }
  EXPECT_TRUE(pf.WriteString("software\\s123", "V", "again", "f"));
  std::string names = pf.ReadSectionNames("f");
  EXPECT_EQ(50000, std::count(names.begin(), names.end(), '\0') - 1);
  EXPECT_EQ("v=again\0\0"s, pf.ReadSection("SOFTWARE\\S123", "f"));
  EXPECT_TRUE(pf.Flush());
  size_t at = expected.find("v=123\r\n");
  expected.replace(at, 7, "v=again\r\n");
  EXPECT_TRUE(SameBytes(expected, fs.Text("f")));
}

TEST(PortableProfileFileTest, AKeyOfALongSectionIsReplacedWhereItStands) {
  // Long sections keep an index of their keys; a file read with one and a section grown to one.
  for (bool from_file : {true, false}) {
    CountingFileSystem fs;
    std::string file = "[A]\r\n";
    for (int i = 0; i < 40; ++i) file += "k" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    if (from_file) fs.Put("f", file);
    PortableProfileFile pf(fs);
    for (int i = 0; !from_file && i < 40; ++i) {
      EXPECT_TRUE(pf.WriteString("A", "k" + std::to_string(i), std::to_string(i), "f"));
    }
    EXPECT_TRUE(pf.WriteString("A", "K7", "new", "f"));
    EXPECT_TRUE(pf.WriteString("A", "k40", "40", "f"));
    EXPECT_TRUE(pf.Flush());
    file.replace(file.find("k7=7"), 4, "k7=new");
    EXPECT_TRUE(SameBytes(file + "k40=40\r\n", fs.Text("f"))) << from_file;
  }
}

TEST(PortableProfileFileTest, LineBreaksInNamesAndValuesReadAsTheFileWould) {
  CountingFileSystem fs;
  PortableProfileFile pf(fs);
  EXPECT_TRUE(pf.WriteString("A", "k", "one\r\nnext=2", "f"));
  EXPECT_TRUE(
      pf.WriteString("A", "[B", "x", "f"));  // reads as a header: the name runs to the line's end
  EXPECT_EQ("A\0B=x\0\0"s, pf.ReadSectionNames("f"));
  EXPECT_EQ("k=one\0next=2\0\0"s, pf.ReadSection("A", "f"));
  EXPECT_TRUE(pf.Flush());
  PortableProfileFile fresh(fs);
  EXPECT_EQ(pf.ReadSectionNames("f"), fresh.ReadSectionNames("f"));
  EXPECT_EQ(pf.ReadSection("A", "f"), fresh.ReadSection("A", "f"));
  EXPECT_EQ(pf.ReadSection("B=x", "f"), fresh.ReadSection("B=x", "f"));
  EXPECT_EQ("[A]\r\nk=one\r\nnext=2\r\n[B=x\r\n", fs.Text("f"));
}

TEST(PortableProfileFileTest, CommentsStayAndNewKeysGoBeforeThem) {
  CountingFileSystem fs;
  fs.Put("f", ";top\r\n[A]\r\n;c1\r\nb=v\r\n;c2\r\na=v\r\n");
  PortableProfileFile pf(fs);
  EXPECT_TRUE(pf.WriteString("A", "z", "", "f"));
  EXPECT_TRUE(pf.WriteString("A", ";x", "", "f"));  // a comment: never a key, goes to the end
  EXPECT_TRUE(pf.WriteString("A", "y", "", "f"));
  EXPECT_TRUE(pf.WriteString("A", "a", "", "f"));
  EXPECT_EQ("b=v\0a=\0z=\0y=\0\0"s, pf.ReadSection("A", "f"));
  EXPECT_TRUE(pf.WriteSection("A", "", "f"));
  EXPECT_TRUE(pf.WriteString("A", "n", "1", "f"));
  EXPECT_TRUE(pf.Flush());
  EXPECT_EQ(";top\r\n[A]\r\nn=1\r\n;c1\r\n;c2\r\n;x=\r\n", fs.Text("f"));
}

// Whatever the calls, what the layer reads from memory is what it reads from the file it
// writes: random calls with odd names and values over random starting files.
TEST(PortableProfileFileTest, MemoryAgreesWithTheFileItWrites) {
  testing::SeededRandom random(0x70726f66);
  const std::string pieces[] = {"a",        "B",    "=",        ";",  "[",    "]",
                                " ",        "\t",   "\v",       "\r", "\n",   "\r\n",
                                "\x83\x5C", "\x83", "\x81\x40", "\0", "\xFF", "k"};
  auto text = [&](int max) {
    std::string t;
    int n = static_cast<int>(random() % (max + 1));
    for (int i = 0; i < n; ++i) t += pieces[random() % std::size(pieces)];
    return t;
  };
  auto names_of = [](const std::string& list) {
    std::vector<std::string> names;
    for (size_t at = 0; at < list.size() && list[at] != '\0';) {
      size_t end = list.find('\0', at);
      names.push_back(list.substr(at, end - at));
      at = end + 1;
    }
    return names;
  };
  for (int round = 0; round < 300; ++round) {
    CountingFileSystem fs;
    fs.Put("f", text(12));
    PortableProfileFile pf(fs);
    std::vector<std::string> sections = {text(3), text(3), "S", "s"};
    for (int step = 0; step < 12; ++step) {
      const std::string& section = sections[random() % sections.size()];
      if (random() % 4 == 0) {
        EXPECT_TRUE(pf.WriteSection(section, "", "f"));
      } else {
        EXPECT_TRUE(pf.WriteString(section, text(3), text(4), "f"));
      }
      std::string names = pf.ReadSectionNames("f");
      std::vector<std::string> listed = names_of(names);
      listed.push_back(section);
      std::vector<std::string> entries;
      for (const std::string& name : listed) entries.push_back(pf.ReadSection(name, "f"));
      ASSERT_TRUE(pf.Flush());
      PortableProfileFile fresh(fs);
      ASSERT_EQ(names, fresh.ReadSectionNames("f")) << "round " << round << " step " << step;
      for (size_t i = 0; i < listed.size(); ++i) {
        ASSERT_EQ(entries[i], fresh.ReadSection(listed[i], "f"))
            << "round " << round << " step " << step << " section " << i;
      }
    }
  }
}

// Files the size of their largest value, not twice it: the file is handed to the writer in
// pieces, never joined whole.
TEST(PortableProfileFileTest, FlushHandsTheFileOnInPieces) {
  class PieceCounting : public CountingFileSystem {
   public:
    FileResult WriteFileInPieces(std::string_view path, const ProduceBytes& produce) override {
      return CountingFileSystem::WriteFileInPieces(path, [&](const PutBytes& put) {
        return produce([&](std::string_view piece) {
          largest = std::max(largest, piece.size());
          return put(piece);
        });
      });
    }
    size_t largest = 0;
  } fs;
  PortableProfileFile pf(fs);
  std::string big;
  for (int i = 0; i < 100000; ++i) big += "\x83\x5c";
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    std::string section = "Software\\Key" + std::to_string(i);
    ASSERT_TRUE(pf.WriteString(section, "Name", "1:a value of some length", "f"));
    expected += "[" + section + "]\r\nName=1:a value of some length\r\n";
    if (i == 1000) {
      ASSERT_TRUE(pf.WriteJoinedString(section, "Big", "1:", big, "f"));
      expected += "Big=1:" + big + "\r\n";
    }
  }
  ASSERT_TRUE(pf.Flush());
  EXPECT_TRUE(SameBytes(expected, fs.Text("f")));
  EXPECT_EQ(1, fs.writes);
  EXPECT_GT(fs.largest, 0u);
  EXPECT_LE(fs.largest, big.size() + 8) << "joined whole";
}

// A file read holds its bytes until a write lets most of them go: replacing or emptying a large
// value must not keep the old one beside the new one.
TEST(ProfileDocumentTest, BytesReadAreLetGoOnceMostlyReplaced) {
  const std::string big(1 << 20, 'x');
  const std::string file = "; top\r\n[A]\r\nk=" + big + "\r\n;after\r\n[B]\r\nx=1";
  const struct {
    const char* name;
    std::function<void(ProfileDocument&)> write;
    std::string text;
  } cases[] = {
      {"section emptied",
       [](ProfileDocument& d) { d.WriteSection("a", std::string_view("\0", 1)); },
       "; top\r\n[A]\r\n;after\r\n[B]\r\nx=1"},
      {"value replaced", [](ProfileDocument& d) { d.WriteString("A", "K", "2"); },
       "; top\r\n[A]\r\nk=2\r\n;after\r\n[B]\r\nx=1"},
      {"emptied, then written",
       [](ProfileDocument& d) {
         d.WriteSection("A", std::string_view("\0", 1));
         d.WriteString("A", "n", "3");
         d.WriteString("B", "y", "4");
       },
       "; top\r\n[A]\r\nn=3\r\n;after\r\n[B]\r\nx=1\r\ny=4\r\n"},
  };
  for (const auto& c : cases) {
    ProfileDocument document;
    document.Parse(file);
    c.write(document);
    EXPECT_LT(document.HeldBytes(), big.size() / 4) << c.name;
    EXPECT_EQ(c.text, document.Text()) << c.name;
    std::string written;
    EXPECT_TRUE(document.WriteTo([&](std::string_view piece) {
      written += piece;
      return true;
    }));
    EXPECT_EQ(c.text, written) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(All, ProfileFileContract,
                         ::testing::ValuesIn(contract::Implementations<ProfileSubject>()),
                         contract::ImplementationName<ProfileSubject>);

}  // namespace
}  // namespace kdr
