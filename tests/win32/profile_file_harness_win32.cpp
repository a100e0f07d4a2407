// The ProfileFile contract against the platform's own profile functions and against our profile
// files over the Win32 file system.
#include <windows.h>

#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_profile_file.h"
#include "tests/profile_file_harness.h"
#include "tests/win32/running_under_wine.h"

namespace kdr::contract {

std::string MakeTempFolder() {
  char base[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, base);
  static unsigned counter = 0;
  for (;;) {
    std::string folder = std::string(base) + "kdr-profile-" +
                         std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA(folder.c_str(), nullptr)) return folder + "\\";
  }
}

namespace {

ProfileSubject MakeWin32() {
  ProfileSubject s;
  s.profile = std::make_unique<Win32ProfileFile>();
  s.is_wine = RunningUnderWine();
  return s;
}

const bool registered = RegisterImplementation("Portable", &MakePortableOver<Win32FileSystem>) &&
                        RegisterImplementation("Win32", &MakeWin32);

}  // namespace
}  // namespace kdr::contract
