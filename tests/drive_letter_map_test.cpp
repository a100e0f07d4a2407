// Another disk's drive letters on Windows: which paths are rewritten, and how what comes back
// is told with the drive letter again.
#include "platform/drive_letter_map.h"

#include <gtest/gtest.h>

#include <string>

#include "fuzz/memory_files.h"

namespace kdr {
namespace {

TEST(DriveLetterMapTest, RewritesMappedDrivesButNotTheHostsFolders) {
  DriveLetterFileSystem files(std::make_unique<fuzz::MemoryFiles>(),
                              {{'c', "E:\\"}, {'D', "F:\\mnt\\old\\"}},
                              {"C:\\work\\alice", "C:\\Users\\alice\\AppData\\Local\\kdr4tose"});
  const struct {
    std::string path, rewritten;
  } cases[] = {
      {"C:\\Kodrel4\\prv\\", "E:\\Kodrel4\\prv\\"},
      {"c:\\Kodrel4\\DDBVID\\a.ddv", "E:\\Kodrel4\\DDBVID\\a.ddv"},
      {"D:\\x", "F:\\mnt\\old\\x"},
      {"C:", "E:"},
      {"G:\\x", "G:\\x"},                          // not mapped
      {"C:\\work\\alice", "C:\\work\\alice"},      // the work folder
      {"C:\\work\\alice\\", "C:\\work\\alice\\"},  // and below it, with a trailing \ too
      {"C:\\WORK\\Alice\\kdr4env\\client\\DDBVID\\", "C:\\WORK\\Alice\\kdr4env\\client\\DDBVID\\"},
      {"C:\\work\\alice2\\x", "E:\\work\\alice2\\x"},  // a sibling is the old disk's
      {"C:\\Users\\alice\\AppData\\Local\\kdr4tose\\b\\",
       "C:\\Users\\alice\\AppData\\Local\\kdr4tose\\b\\"},
      {"C:x", "C:x"},  // drive-relative: no drive root
      {"\\\\server\\share\\x", "\\\\server\\share\\x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files.Rewrite(c.path), c.rewritten) << c.path;
    EXPECT_EQ(
        files.Restore(files.Rewrite(c.path)),
        c.path.size() > 1 && c.path[1] == ':' && c.path[0] == 'c' ? "C" + c.path.substr(1) : c.path)
        << c.path;
  }
}

// A root whose last byte is the second byte of a code page 932 character keeps it.
TEST(DriveLetterMapTest, RootEndingInA5cSecondByteKeepsIt) {
  DriveLetterFileSystem files(std::make_unique<fuzz::MemoryFiles>(), {{'C', "E:\\\x95\\"}}, {});
  EXPECT_EQ(files.Rewrite("C:\\k4"), "E:\\\x95\\\\k4");
}

}  // namespace
}  // namespace kdr
