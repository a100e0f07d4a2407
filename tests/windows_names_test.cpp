// Names Windows keeps for devices and names it cannot hold, as Windows reads them.
#include "platform/windows_names.h"

#include <gtest/gtest.h>

#include <string>

namespace kdr {
namespace {

TEST(WindowsNamesTest, DevicesWithAnyExtensionTrailingDotsAndSpaces) {
  const struct {
    std::string name;
    Status cp932;  // as a code page 932 name
    Status utf8;   // as a POSIX host's name
  } cases[] = {
      {"CON", kDeviceName, kDeviceName},
      {"nul.ddv", kDeviceName, kDeviceName},
      {"LPT1.txt", kDeviceName, kDeviceName},
      {"Com9.tar.gz", kDeviceName, kDeviceName},
      {"com0", kDeviceName, kDeviceName},
      {"conin$", kDeviceName, kDeviceName},
      {"CONOUT$.log", kDeviceName, kDeviceName},
      {"aux .txt", kDeviceName, kDeviceName},
      {"prn:stream", kInvalidName, kInvalidName},  // a colon: refused either way
      {"COM\xc2\xb9", kOk, kDeviceName},           // "COM¹"; in code page 932, "COMﾂｹ"
      {"lpt\xc2\xb3.x", kOk, kDeviceName},
      {"COM10", kOk, kOk},
      {"COM", kOk, kOk},
      {"CONSOLE", kOk, kOk},
      {"xcon", kOk, kOk},
      {".con", kOk, kOk},
      {"con-1.txt", kOk, kOk},
      {"\x95\x5c", kOk, kInvalidName},  // "表" in code page 932: its second byte is "\"
      {"a\\b", kInvalidName, kInvalidName},
      {"a/b", kInvalidName, kInvalidName},
      {"*", kInvalidName, kInvalidName},
      {"a\"b", kInvalidName, kInvalidName},
      {"a<b>c|d", kInvalidName, kInvalidName},
      {"bell\a", kInvalidName, kInvalidName},
      {"trail.", kInvalidName, kInvalidName},
      {"trail ", kInvalidName, kInvalidName},
      {"", kInvalidName, kInvalidName},
      {"..", kInvalidName, kInvalidName},
      {"caf\xc3\xa9", kOk, kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.cp932, CheckWindowsName(c.name, NameText::kCp932));
    EXPECT_EQ(c.utf8, CheckWindowsName(c.name, NameText::kUtf8));
  }
  // Only a path's last name is read as a device, and a trailing backslash is not a name.
  EXPECT_TRUE(EndsInWindowsDeviceName("C:\\work\\kdr4env\\client\\DDBVID\\aux."));
  EXPECT_TRUE(EndsInWindowsDeviceName("C:\\x\\COM1\\"));
  EXPECT_TRUE(EndsInWindowsDeviceName("nul"));
  EXPECT_FALSE(EndsInWindowsDeviceName("C:\\CON\\file.txt"));
  EXPECT_FALSE(EndsInWindowsDeviceName("C:\\x\\\x95\x5c"));  // "表"
}

}  // namespace
}  // namespace kdr
