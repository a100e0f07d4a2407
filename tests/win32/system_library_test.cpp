// System libraries loaded on first use: only from the system folder, and a missing library or
// function is a null function with the reason, never a crash.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <shlwapi.h>

#include <string>

#include "platform/win32/system_library.h"

namespace kdr {
namespace {

TEST(SystemLibraryTest, FindsWhatTheSystemFolderHolds) {
  struct Case {
    const wchar_t* library;
    const char* function;
    bool found;
    DWORD error;
  };
  const Case cases[] = {
      {L"shlwapi.dll", "PathIsDirectoryA", true, ERROR_SUCCESS},
      {L"shlwapi.dll", "KdrNoSuchFunction", false, ERROR_PROC_NOT_FOUND},
      {L"kdr-no-such-library.dll", "PathIsDirectoryA", false, ERROR_MOD_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    SystemLibrary library(c.library);
    EXPECT_EQ(c.found, library.Find(c.function) != nullptr);
    EXPECT_EQ(c.error, library.error());
  }
}

TEST(SystemLibraryTest, FunctionIsTheSystemsOwn) {
  SystemFunction<decltype(PathIsDirectoryA)> is_folder(L"shlwapi.dll", "PathIsDirectoryA");
  ASSERT_NE(nullptr, is_folder.get());
  char system_folder[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryA(system_folder, MAX_PATH));
  EXPECT_NE(FALSE, is_folder.get()(system_folder));
  EXPECT_EQ(FALSE, is_folder.get()("C:\\kdr-no-such-folder\\"));
}

// A library of that name in the current folder is not taken: a stranger's file there would
// otherwise run inside the tool.
TEST(SystemLibraryTest, IgnoresTheCurrentFolder) {
  char temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
  std::string folder = std::string(temp) + "kdr-system-library-test";
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string planted = folder + "\\kdr-planted.dll";
  HANDLE file = CreateFileA(planted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  char previous[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, previous));
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  SystemLibrary library(L"kdr-planted.dll");
  // Taken from the current folder, the empty file would fail as a bad image instead.
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, library.error());
  EXPECT_EQ(nullptr, library.Find("DllMain"));
  SetCurrentDirectoryA(previous);
  DeleteFileA(planted.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace kdr
