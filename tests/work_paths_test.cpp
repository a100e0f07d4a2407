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
  EXPECT_EQ("C:\\Tools\\kdr4env\\personal", p.personal_folder);
  EXPECT_EQ("C:\\Tools\\kdr4env\\personal\\kdr4reg.fil", p.personal_file);
  EXPECT_EQ("C:\\Tools\\kdr4env\\client\\kdr4reg.fil", p.client_file);
  EXPECT_EQ("C:\\Tools\\kdr4env\\server\\kdr4reg.fil", p.server_file);
  EXPECT_EQ(&p.client_folder, &p.Folder(Edition::kClient));
  EXPECT_EQ(&p.server_file, &p.SettingsFile(Edition::kServer));
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
  EXPECT_EQ(260u, (p.personal_folder + "\\DDBVID\\*.*").size() + 2);
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

}  // namespace
}  // namespace kdr
