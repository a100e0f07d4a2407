// Installation markers of 32-bit products live in the 32-bit registry view on 64-bit Windows;
// the detection asks that view first and lets the first view where a marker opens decide.
#include <gtest/gtest.h>
#include <windows.h>

#include "core/presence.h"
#include "platform/win32/win32_registry.h"

namespace kdr {
namespace {

class PresenceViewsTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }

  static void Clean() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY software = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, &software) ==
          ERROR_SUCCESS) {
        RegDeleteTreeA(software, "VTQ");
        RegCloseKey(software);
      }
    }
  }
  static void Make(const char* path, REGSAM view) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                                             KEY_ALL_ACCESS | view, nullptr, &key, nullptr));
    RegCloseKey(key);
  }

  Win32Registry registry_;
};

TEST_F(PresenceViewsTest, MarkerInEitherViewCounts) {
  Make("Software\\VTQ\\Kodrel Client", KEY_WOW64_32KEY);
  Make("Software\\VTQ\\Kodrel Server", KEY_WOW64_64KEY);
  EXPECT_EQ(11, DetectOldEditions(registry_));
  EXPECT_EQ(0, DetectNewEditions(registry_));
}

TEST_F(PresenceViewsTest, TheFirstViewWhereTheMarkerOpensDecides) {
  // 32-bit view: marker without Keys; 64-bit view: marker with Keys. The 32-bit view decides.
  Make("Software\\VTQ\\Kodrel SE Personal", KEY_WOW64_32KEY);
  Make("Software\\VTQ\\Kodrel SE Personal\\Keys", KEY_WOW64_64KEY);
  // 32-bit view: marker with Keys; 64-bit view: marker without. Withdrawn.
  Make("Software\\VTQ\\Kodrel SE Client\\Keys", KEY_WOW64_32KEY);
  Make("Software\\VTQ\\Kodrel SE Client", KEY_WOW64_64KEY);
  EXPECT_EQ(100, DetectNewEditions(registry_));
}

}  // namespace
}  // namespace kdr
