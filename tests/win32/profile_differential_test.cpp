// Differential test: the same calls go to our PortableProfileFile and to the platform's own
// profile functions (kernel32's A functions) in one process, and the files they leave and
// everything they read back are compared. Under Wine the platform is Wine's implementation;
// where Wine is known to differ from Windows the test takes Windows' side and says so.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/portable_profile_file.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_profile_file.h"
#include "tests/file_bytes.h"
#include "tests/seeded_random.h"
#include "tests/win32/running_under_wine.h"

namespace kdr {
namespace {

using namespace std::string_literals;

std::string Show(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes.substr(0, 300)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (bytes.size() > 300) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

using testing::ReadBytes;
using testing::WriteBytes;

// What one list call gave: its result and the buffer, with guard bytes after it.
struct List {
  uint32_t returned;
  std::string buffer;
};

constexpr size_t kGuard = 8;

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

class ProfileDifferential : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, base);
    folder_ = std::string(base) + "kdr-differential-" + std::to_string(GetCurrentProcessId()) +
              "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(folder_.c_str(), nullptr);
    ours_file_ = folder_ + "\\ours.fil";
    theirs_file_ = folder_ + "\\theirs.fil";
    DeleteFileA(ours_file_.c_str());
    DeleteFileA(theirs_file_.c_str());
  }
  void TearDown() override {
    EXPECT_TRUE(ours_.Flush());
    EXPECT_TRUE(theirs_.Flush());
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  // WritePrivateProfileSectionA(s, "") to both. Wine 8.0 does not create a missing section
  // (Windows does): there the section is made by writing a key and emptying it again.
  void WriteSection(const std::string& section) {
    EXPECT_TRUE(ours_.WriteSection(section, "", ours_file_));
    if (wine_ && !TheirsHasSection(section)) {
      EXPECT_TRUE(theirs_.WriteString(section, "kdr-probe", "x", theirs_file_));
    }
    EXPECT_TRUE(theirs_.WriteSection(section, "", theirs_file_));
  }

  void WriteString(const std::string& section, const std::string& key, const std::string& value) {
    EXPECT_TRUE(ours_.WriteString(section, key, value, ours_file_));
    EXPECT_TRUE(theirs_.WriteString(section, key, value, theirs_file_));
  }

  bool TheirsHasSection(const std::string& section) {
    std::string names = theirs_.ReadSectionNames(theirs_file_);
    std::string_view trimmed = section;
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    for (size_t at = 0; at < names.size() && names[at] != '\0';) {
      size_t end = names.find('\0', at);
      if (Cp932EqualNoCase(std::string_view(names).substr(at, end - at), trimmed)) return true;
      at = end + 1;
    }
    return false;
  }

  // Both files, once every write reached them.
  void ExpectSameFiles(const char* where) {
    ASSERT_TRUE(ours_.Flush());
    EXPECT_TRUE(theirs_.Flush());
    std::string ours = ReadBytes(ours_file_);
    std::string theirs = ReadBytes(theirs_file_);
    EXPECT_EQ(Show(theirs), Show(ours)) << where;
    EXPECT_TRUE(ours == theirs) << where;
  }

  List Names(ProfileFile& pf, const std::string& file, size_t size) {
    List l{0, std::string(size + kGuard, '\x7f')};
    l.returned = pf.GetSectionNames(std::span<char>(l.buffer.data(), size), file);
    return l;
  }
  List Section(ProfileFile& pf, const std::string& section, const std::string& file, size_t size) {
    List l{0, std::string(size + kGuard, '\x7f')};
    l.returned = pf.GetSection(section, std::span<char>(l.buffer.data(), size), file);
    return l;
  }

  // The part of a list that callers read: up to the NUL after the last (or cut) string.
  static std::string Visible(const List& l, size_t size) {
    return l.buffer.substr(0, std::min<size_t>(l.returned + 1, size));
  }

  // Compares a list call at one buffer size. Ours must never write past the buffer; Wine's
  // GetPrivateProfileSectionA writes two NULs into a buffer of one byte, so size 1 is only
  // checked on our side there.
  void ExpectSameList(const List& ours, const List& theirs, size_t size, const std::string& what,
                      bool names = false) {
    EXPECT_EQ(std::string(kGuard, '\x7f'), ours.buffer.substr(size)) << what << ": past the buffer";
    if (names && wine_ && size >= 2 && ours.returned == size - 2 && !IsAscii(ours.buffer)) {
      // Wine's GetPrivateProfileSectionNamesA cuts the list in characters, converts it to the
      // code page afterwards, and then returns too small a count and leaves the cut name
      // without its NUL. Windows counts in bytes: the list must end with two NULs.
      EXPECT_EQ("\0\0"s, ours.buffer.substr(size - 2, 2)) << what << " size " << size;
      return;
    }
    EXPECT_EQ(theirs.returned, ours.returned) << what << " size " << size;
    EXPECT_EQ(Show(Visible(theirs, size)), Show(Visible(ours, size))) << what << " size " << size;
  }

  // Every read, at full size and cut at every size up to `cut_limit`.
  void ExpectSameReads(const char* where, size_t cut_limit = 0) {
    EXPECT_TRUE(ours_.Flush());
    EXPECT_TRUE(theirs_.Flush());  // Wine then reads its file again, as Windows does on every call
    std::string names = ours_.ReadSectionNames(ours_file_);
    EXPECT_EQ(Show(theirs_.ReadSectionNames(theirs_file_)), Show(names)) << where;
    std::vector<std::string> sections;
    for (size_t at = 0; at < names.size() && names[at] != '\0';) {
      size_t end = names.find('\0', at);
      sections.push_back(names.substr(at, end - at));
      at = end + 1;
    }
    sections.push_back("no such section");
    for (const std::string& s : sections) {
      EXPECT_EQ(Show(theirs_.ReadSection(s, theirs_file_)), Show(ours_.ReadSection(s, ours_file_)))
          << where << " section " << Show(s);
    }
    for (size_t size = 0; size <= cut_limit; ++size) {
      ExpectSameList(Names(ours_, ours_file_, size), Names(theirs_, theirs_file_, size), size,
                     std::string(where) + " names", true);
      for (const std::string& s : sections) {
        List ours = Section(ours_, s, ours_file_, size);
        if (size == 0 && wine_) {  // Wine's GetPrivateProfileSectionA crashes on size 0
          EXPECT_EQ(0u, ours.returned);
          EXPECT_EQ(std::string(kGuard, '\x7f'), ours.buffer);
          continue;
        }
        List theirs = Section(theirs_, s, theirs_file_, size);
        if (size == 1 && wine_) {
          EXPECT_EQ("\0\x7f"s, ours.buffer.substr(0, 2));
          continue;
        }
        ExpectSameList(ours, theirs, size, std::string(where) + " section " + Show(s));
      }
    }
  }

  Win32FileSystem fs_;
  PortableProfileFile ours_{fs_};
  Win32ProfileFile theirs_;
  std::string folder_, ours_file_, theirs_file_;
  bool wine_ = contract::RunningUnderWine();
};

TEST_F(ProfileDifferential, ExportOfKeyTreesAndSingleValues) {
  for (int round = 0; round < 2; ++round) {  // a second Collect writes into the same file
    WriteSection("Software\\VTQ\\Kodrel\\Client\\Common");
    WriteString("Software\\VTQ\\Kodrel\\Client\\Common", "PRV_PATH", "1:C:\\Kodrel\\Private\\");
    WriteString("Software\\VTQ\\Kodrel\\Client\\Common", "DB_PASS", "1:616263");
    WriteString("Software\\VTQ\\Kodrel\\Client\\Common", "Count",
                "4:0" + std::to_string(round) + "000000");
    WriteSection("Software\\VTQ\\Kodrel\\Client\\Empty");
    WriteSection("Software\\VTQ\\Kodrel\\Client\\AppInfo\\App1");
    WriteString("Software\\VTQ\\Kodrel\\Client\\AppInfo\\App1", "Bin", "3:0aff");
    WriteString("Software\\VTQ\\Kodrel\\Client\\AppInfo\\App1", "Empty", "1:");
    WriteString("Software\\VTQ\\Kodrel\\Client", "PUB_PATH", "1:D:\\Pub\\");
    ExpectSameFiles("after an export");
    ExpectSameReads("after an export");
  }
}

TEST_F(ProfileDifferential, SameKeyTwiceInAnotherCaseAndEmptyValues) {
  WriteString("Sec", "Name", "1:first");
  WriteString("SEC", "NAME", "1:second");
  WriteString("sec", "name", "");
  WriteString("Sec", "Other", "");
  WriteString("sEC", "other", "4:01000000");
  WriteSection("SEC");
  WriteString("sec", "NAME", "1:third");
  ExpectSameFiles("case");
  ExpectSameReads("case", 40);
}

TEST_F(ProfileDifferential, CodePage932Text) {
  if (GetACP() != 932) GTEST_SKIP() << "needs the ANSI code page 932, not " << GetACP();
  // 83 5C "ソ", 95 5C "表", 83 5D "ゾ", 83 41 / 83 61 two katakana whose second bytes are
  // 'A' and 'a', A1-DF half-width katakana, 80 A0 FD FE FF single bytes of no character.
  const std::string s1 = "Software\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C";
  const std::string s2 = "\x83\x5D\x83\x41";
  const std::string s3 = "\x83\x5D\x83\x61";
  WriteSection(s1);
  WriteString(s1, "\x96\xBC\x91\x4F", "1:\x95\x5C\x8E\xA6\\\x83\x5C");
  WriteString(s1, "\xB1\xB2\xB3", "1:\xB1\xDF");
  WriteString(s2, "\x83\x41", "1:a");
  WriteString(s2, "\x83\x61", "1:b");
  WriteString(s3, "k", "1:\x80\xA0\xFD\xFE\xFF");
  WriteString(s2, "\x83\x41", "1:replaced");
  ExpectSameFiles("code page 932");
  ExpectSameReads("code page 932", 30);
}

TEST_F(ProfileDifferential, LongLines) {
  std::string value = "1:" + std::string(4000, 'x');
  std::string key(3000, 'k');
  WriteString("Long", key, value);
  WriteString(std::string(2000, 's'), "k", "1:" + std::string(30000, '\x95') + "\x5C");
  ExpectSameFiles("long lines");
  ExpectSameReads("long lines");
}

TEST_F(ProfileDifferential, ManySections) {
  for (int i = 0; i < 1500; ++i) {
    std::string section = "Software\\VTQ\\Kodrel\\S" + std::to_string(i % 700);
    if (i < 700) WriteSection(section);
    WriteString(section, "v" + std::to_string(i % 3), "1:" + std::to_string(i));
  }
  ExpectSameFiles("many sections");
  ExpectSameReads("many sections");
}

TEST_F(ProfileDifferential, BufferCutsOfSmallLists) {
  WriteSection("A");
  WriteString("A", "a", "1");
  WriteString("A", "bb", "");
  WriteString("A", "ccc", "333");
  WriteString("Bb", "x", "yy");
  WriteSection("Ccc");
  WriteString("Ccc", "z", "");
  ExpectSameReads("cuts", 40);
}

// Random calls (a fixed seed unless KDR_TEST_SEED) over a few names in changing case.
TEST_F(ProfileDifferential, RandomSequences) {
  testing::SeededRandom random(0x6b647234);
  const std::vector<std::string> sections = {
      "Software\\VTQ\\A", "software\\vtq\\a", "B", "b", "C\\D", "\x83\x5C", "E"};
  const std::vector<std::string> keys = {"k",   "K", "Key", "KEY", "x_PASS", "\x83\x5C\x95\x5C",
                                         "a b", ""};
  auto value = [&] {
    static const std::string pieces[] = {"1:",       "4:",   "3:",   "a",       "Z", "\\",
                                         ":",        "=",    " ",    ";",       "[", "]",
                                         "\x83\x5C", "\xB1", "0aff", "\x95\x5C"};
    std::string v;
    int n = static_cast<int>(random() % 8);
    for (int i = 0; i < n; ++i) v += pieces[random() % std::size(pieces)];
    // Blanks at either end of a value: Wine drops leading ones when writing and trailing
    // ones when it reads the file again; Windows keeps them in the file (tested apart).
    while (!v.empty() && v.front() == ' ') v.erase(0, 1);
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
  };
  if (GetACP() != 932) GTEST_SKIP() << "needs the ANSI code page 932";
  for (int sequence = 0; sequence < 12; ++sequence) {
    DeleteFileA(ours_file_.c_str());
    DeleteFileA(theirs_file_.c_str());
    for (int step = 0; step < 40; ++step) {
      const std::string& s = sections[random() % sections.size()];
      if (random() % 5 == 0) {
        WriteSection(s);
      } else {
        WriteString(s, keys[random() % keys.size()], value());
      }
    }
    std::string where = "sequence " + std::to_string(sequence);
    ExpectSameFiles(where.c_str());
    ExpectSameReads(where.c_str(), sequence < 3 ? 24 : 0);
  }
}

// Files made by hand: both implementations read them alike.
TEST_F(ProfileDifferential, OddExistingFiles) {
  const std::vector<std::string> files = {
      "\r\n\r\n[A]\r\n\r\nk=1\r\n\r\n\r\nj=2\r\n\r\n[B]\r\n",
      "; comment before\r\n[A]\r\n; comment\r\nk=1\r\n;k=2\r\n  ; indented comment\r\n",
      "[A]\r\nno equals\r\nk=1\r\n=only value\r\nx\r\n",
      "[A]\nk=1\nj=2\n[B]\nm=3\n",
      "[A]\rk=1\rj=2\r[B]\rm=3\r",
      "[A]\r\nk=1\n[B]\rm=3\r\n",
      "[A]\r\nk=1\r\n[B]\r\nj=2\r\n[a]\r\nk=3\r\nz=4\r\n",
      "[A]\r\nk=1\r\nK=2\r\nk=3\r\n",
      "  [ A ]  \r\n   k   =   1   \r\n\tj\t=\t2\t\r\n",
      "[A]\r\nk=1\r\nj=no final line end",
      "[A]",
      "",
      "[A]\r\nk=a=b=c\r\n[B] trailing text\r\nm=1\r\n",
      "[A]\r\nk = spaced value with  inner  spaces \r\n",
  };
  for (size_t i = 0; i < files.size(); ++i) {
    WriteBytes(ours_file_, files[i]);
    WriteBytes(theirs_file_, files[i]);
    std::string where = "file " + std::to_string(i) + " " + Show(files[i]);
    ExpectSameReads(where.c_str(), i < 3 ? 30 : 0);
    WriteString("A", "k", "new");
    WriteString("A", "added", "1");
    WriteString("New", "n", "1");
    ExpectSameReads((where + " after writes").c_str());
    EXPECT_TRUE(ours_.Flush());
  }
}

// Where Wine 8.0 and Windows part, ours does what Windows does. Each case states Wine's
// result too, so that a change in Wine shows up here.
TEST_F(ProfileDifferential, KnownWineDifferences) {
  if (!wine_) GTEST_SKIP() << "these are Wine's differences";
  // 1. An emptied missing section: Windows creates it, Wine does not.
  EXPECT_TRUE(ours_.WriteSection("Empty", "", ours_file_));
  EXPECT_TRUE(theirs_.WriteSection("Empty", "", theirs_file_));
  EXPECT_EQ("Empty\0\0"s, ours_.ReadSectionNames(ours_file_));
  EXPECT_EQ("\0\0"s, theirs_.ReadSectionNames(theirs_file_));
  // 2. A value's leading blanks: Windows writes them, Wine drops them.
  EXPECT_TRUE(ours_.WriteString("V", "k", "  lead", ours_file_));
  EXPECT_TRUE(theirs_.WriteString("V", "k", "  lead", theirs_file_));
  EXPECT_TRUE(ours_.Flush());
  EXPECT_TRUE(theirs_.Flush());
  EXPECT_EQ("[Empty]\r\n[V]\r\nk=  lead\r\n", ReadBytes(ours_file_));
  EXPECT_EQ("[V]\r\nk=lead\r\n", ReadBytes(theirs_file_));
  // 3. Spaces around a section or key name: Windows drops them on both sides, Wine only
  //    before the name.
  EXPECT_TRUE(ours_.WriteString(" S ", " k ", "v", ours_file_));
  EXPECT_TRUE(theirs_.WriteString(" S ", " k ", "v", theirs_file_));
  EXPECT_TRUE(ours_.Flush());
  EXPECT_TRUE(theirs_.Flush());
  EXPECT_NE(std::string::npos, ReadBytes(ours_file_).find("[S]\r\nk=v\r\n"));
  EXPECT_NE(std::string::npos, ReadBytes(theirs_file_).find("[S ]\r\nk =v\r\n"));
  // 4. A section header without ']' and one with two: Windows ends the name at the first
  //    ']' or at the line's end; Wine needs a ']' and takes the last one.
  const std::string brackets = "[a\r\nk=1\r\n[b]c]\r\nm=2\r\n";
  WriteBytes(ours_file_, brackets);
  WriteBytes(theirs_file_, brackets);
  EXPECT_TRUE(theirs_.Flush());
  EXPECT_EQ("a\0b\0\0"s, ours_.ReadSectionNames(ours_file_));
  EXPECT_EQ("b]c\0\0"s, theirs_.ReadSectionNames(theirs_file_));
  // 5. A UTF-8 byte order mark: Windows reads it as bytes (the first line is no header),
  //    Wine decodes the file as UTF-8.
  const std::string bom = "\xEF\xBB\xBF[a]\r\nk=1\r\n[b]\r\nm=2\r\n";
  WriteBytes(ours_file_, bom);
  WriteBytes(theirs_file_, bom);
  EXPECT_TRUE(theirs_.Flush());
  EXPECT_EQ("b\0\0"s, ours_.ReadSectionNames(ours_file_));
  EXPECT_EQ("a\0b\0\0"s, theirs_.ReadSectionNames(theirs_file_));
  // 6. A list cut to the buffer: Windows ends it with two NULs (and reports a list that fills
  //    the buffer exactly as cut), Wine's A function with one.
  WriteBytes(ours_file_, "[section1]\r\n[section2]\r\n[section3]\r\n");
  WriteBytes(theirs_file_, "[section1]\r\n[section2]\r\n[section3]\r\n");
  EXPECT_TRUE(theirs_.Flush());
  List ours = Names(ours_, ours_file_, 28);
  List theirs = Names(theirs_, theirs_file_, 28);
  EXPECT_EQ(26u, ours.returned);
  EXPECT_EQ(26u, theirs.returned);
  EXPECT_EQ("section1\0section2\0section3\0\0"s, ours.buffer.substr(0, 28));
  EXPECT_EQ("section1\0section2\0section3\0\x7f"s, theirs.buffer.substr(0, 28));
  // 7. A NUL inside the file: Windows keeps every byte it does not rewrite; Wine drops the
  //    rest of that line when it writes the file.
  WriteBytes(ours_file_, "[a]\r\nk=v\0x\r\n"s);
  WriteBytes(theirs_file_, "[a]\r\nk=v\0x\r\n"s);
  EXPECT_TRUE(theirs_.Flush());
  EXPECT_TRUE(ours_.WriteString("a", "m", "1", ours_file_));
  EXPECT_TRUE(theirs_.WriteString("a", "m", "1", theirs_file_));
  EXPECT_TRUE(ours_.Flush());
  EXPECT_TRUE(theirs_.Flush());
  EXPECT_EQ("[a]\r\nk=v\0x\r\nm=1\r\n"s, ReadBytes(ours_file_));
  EXPECT_EQ("[a]\r\nk=v\r\nm=1\r\n"s, ReadBytes(theirs_file_));
  EXPECT_EQ(ours_.ReadSection("a", ours_file_), theirs_.ReadSection("a", theirs_file_));
}

}  // namespace
}  // namespace kdr
