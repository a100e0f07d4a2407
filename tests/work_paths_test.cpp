#include "core/work_paths.h"

#include <gtest/gtest.h>

#include "core/edition.h"

namespace kdr {
namespace {

TEST(WorkPathsTest, DerivedFromExecutableFolder) {
  WorkPaths p;
  ASSERT_TRUE(InitWorkPaths("C:\\Tools\\x.exe", 260, &p));
  EXPECT_EQ("C:\\Tools", p.executable_folder);
  EXPECT_EQ("C:\\Tools\\kdr4env", p.root);
  EXPECT_EQ("C:\\Tools\\kdr4env\\personal", p.Folder(Edition::kPersonal));
  EXPECT_EQ("C:\\Tools\\kdr4env\\client", p.Folder(Edition::kClient));
  EXPECT_EQ("C:\\Tools\\kdr4env\\server", p.Folder(Edition::kServer));
  EXPECT_EQ("C:\\Tools\\kdr4env\\personal\\kdr4reg.fil", p.SettingsFile(Edition::kPersonal));
  EXPECT_EQ("C:\\Tools\\kdr4env\\client\\kdr4reg.fil", p.SettingsFile(Edition::kClient));
  EXPECT_EQ("C:\\Tools\\kdr4env\\server\\kdr4reg.fil", p.SettingsFile(Edition::kServer));
}

TEST(WorkPathsTest, DoubleByteCharacterWithBackslashTrailByteIsNotCut) {
  // "表" is 0x95 0x5C in code page 932: its second byte is not a separator.
  std::string exe = "C:\\\x95\x5C\\kdr4tose.exe";
  EXPECT_EQ("C:\\\x95\x5C", ExecutableFolder(exe));
  EXPECT_EQ("C:\\\x95\x5C", ExecutableFolder("C:\\\x95\x5C\\x.exe"));
  EXPECT_EQ("C:\\a", ExecutableFolder("C:\\a\\\x95\x5C.exe"));
  EXPECT_EQ("", ExecutableFolder("noseparator.exe"));
}

TEST(WorkPathsTest, FolderTooLongIsRefusedNotCut) {
  WorkPaths p;
  std::string folder = "C:\\" + std::string(227, 'a');  // 230 characters: the longest that fits
  ASSERT_TRUE(InitWorkPathsFromFolder(folder, 260, &p));
  // The longest composed path: a data folder with the copy pattern and two terminators.
  EXPECT_EQ(260u, (p.Folder(Edition::kPersonal) + "\\DDBVID\\*.*").size() + 2);
  std::string longer = "C:\\" + std::string(297, 'a');  // 300 characters
  EXPECT_FALSE(InitWorkPathsFromFolder(longer, 260, &p));
  EXPECT_TRUE(p.root.empty());
  EXPECT_FALSE(InitWorkPathsFromFolder(folder + "b", 260, &p));
  // A platform with longer paths takes it.
  EXPECT_TRUE(InitWorkPathsFromFolder(longer, 4096, &p));
}

TEST(EditionCodeTest, DigitsSayWhichEditionsArePresent) {
  EXPECT_TRUE(HasEdition(101, Edition::kPersonal));
  EXPECT_FALSE(HasEdition(101, Edition::kClient));
  EXPECT_TRUE(HasEdition(101, Edition::kServer));
  EXPECT_TRUE(HasEdition(10, Edition::kClient));
  EXPECT_FALSE(HasEdition(0, Edition::kServer));
  EXPECT_EQ(111, EditionWeight(Edition::kPersonal) + EditionWeight(Edition::kClient) +
                     EditionWeight(Edition::kServer));
}

// The Migrate button's rule over every pair of codes, against sets of editions; the rule it
// replaced, a bitwise AND of the decimal codes, gave the same answer for all 64 pairs.
TEST(EditionCodeTest, SharesAnEditionForAllPairsOfCodes) {
  auto code_of = [](unsigned set) {  // bit i: kAllEditions[i] present
    EditionCode code = 0;
    for (size_t i = 0; i < kEditionCount; ++i) {
      if (set & (1u << i)) code += EditionWeight(kAllEditions[i]);
    }
    return code;
  };
  int pairs = 0;
  for (unsigned a = 0; a < 8; ++a) {
    for (unsigned b = 0; b < 8; ++b, ++pairs) {
      bool expected = (a & b) != 0;
      EXPECT_EQ(expected, SharesAnEdition(code_of(a), code_of(b))) << a << " " << b;
      EXPECT_EQ(expected, (code_of(a) & code_of(b)) != 0) << a << " " << b;
    }
  }
  EXPECT_EQ(64, pairs);
}

}  // namespace
}  // namespace kdr
