// Folders compared by identity: numbers first, whole identities only where numbers match.
#include "platform/folder_identity.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "fuzz/memory_files.h"
#include "platform/folder_reach.h"

namespace kdr {
namespace {

// Folders by their paths (no trailing backslash), each with its volume and number; counts the
// asks for whole identities.
class NumberedFolders : public fuzz::MemoryFiles {
 public:
  std::map<std::string, FolderId> folders;
  int identities_asked = 0;
  int numbers_asked = 0;

  FileResult IdentifyFolder(std::string_view path, FolderId* id) override {
    ++identities_asked;
    return Find(path, id);
  }
  FileResult FolderNumber(std::string_view path, uint64_t* number) override {
    ++numbers_asked;
    FolderId id;
    FileResult found = Find(path, &id);
    if (found) *number = id.file;
    return found;
  }

 private:
  FileResult Find(std::string_view path, FolderId* id) {
    std::string key(path);
    if (key.size() > 3 && key.back() == '\\') key.pop_back();
    auto it = folders.find(key);
    if (it == folders.end()) return FileResult::Fail(kPathNotFound, "CreateFile", path);
    *id = it->second;
    return FileResult::Ok();
  }
};

TEST(FolderIdentityTest, NumbersDecideOnlyWhereTheyDifferAndVolumesWhereTheyMatch) {
  NumberedFolders files;
  files.folders = {
      {"C:\\", {1, 5}},  {"C:\\data", {1, 40}}, {"C:\\data\\prv", {1, 41}},
      {"D:\\", {2, 5}},  {"D:\\tool", {2, 40}}, {"D:\\tool\\kdr4env", {2, 70}},
      {"Y:\\", {1, 40}},  // another drive letter for C:\data
  };
  const struct {
    std::string inner, outer;
    bool below;
    int identities;  // whole identities asked: only for numbers that match
  } cases[] = {
      {"C:\\data\\prv", "D:\\tool", false, 2},  // C:\data has D:\tool's number, not its volume
      {"D:\\tool\\kdr4env\\new", "C:\\data", false, 2},  // the same, from the other side
      {"C:\\data\\prv\\new", "D:\\tool\\kdr4env", false, 0},
      {"Y:\\prv", "C:\\data", true, 2},  // through the other drive letter
      {"C:\\data\\prv", "Y:\\", true, 2},
      {"C:\\DATA\\prv", "C:\\data", true, 0},  // spelled alike: nothing asked
  };
  for (const auto& c : cases) {
    files.identities_asked = 0;
    FolderIdentities identities(files);
    EXPECT_EQ(c.below, identities.AtOrBelow(c.inner, c.outer)) << c.inner << " in " << c.outer;
    EXPECT_EQ(c.identities, files.identities_asked) << c.inner << " in " << c.outer;
  }
}

TEST(FolderIdentityTest, FoldersFoundMissingAreAskedAgainOnceForgotten) {
  NumberedFolders files;
  files.folders = {{"C:\\", {1, 5}}, {"C:\\work", {1, 6}}};
  FolderIdentities identities(files);
  EXPECT_FALSE(identities.AtOrBelow("Y:\\", "C:\\work"));
  files.folders["Y:\\"] = {1, 6};  // made meanwhile (as subst would)
  EXPECT_FALSE(identities.AtOrBelow("Y:\\", "C:\\work")) << "known as missing";
  identities.ForgetMissing();
  EXPECT_TRUE(identities.AtOrBelow("Y:\\", "C:\\work"));
}

// A source found there by its number is not asked again by the checks that follow.
TEST(FolderIdentityTest, AFolderReachedIsNotAskedAgain) {
  NumberedFolders files;
  files.folders = {{"C:\\", {1, 5}}, {"C:\\data", {1, 40}}, {"C:\\work", {1, 6}}};
  FolderIdentities identities(files);
  FileResult why;
  ASSERT_EQ(FolderReach::kThere, ReachFolder(files, "C:\\data\\", &why, &identities));
  files.numbers_asked = 0;
  EXPECT_FALSE(identities.Overlap("C:\\data\\", "C:\\work\\"));
  EXPECT_EQ(2, files.numbers_asked) << "only C:\\work and C:\\";
}

}  // namespace
}  // namespace kdr
