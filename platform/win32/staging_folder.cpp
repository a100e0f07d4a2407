#include "platform/win32/staging_folder.h"

#include <algorithm>
#include <cstdint>

#include "platform/temp_file_name.h"
#include "platform/win32/unique_handle.h"

namespace kdr {
namespace {

bool IsDotName(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// The tool's temporary names are ASCII: a name with anything else is not one of them.
bool IsToolTempName(const std::wstring& name) {
  std::string ascii;
  for (wchar_t c : name) {
    if (c >= 0x80) return false;
    ascii.push_back(static_cast<char>(c));
  }
  return IsTempFileName(ascii);
}

// The length of a name in the ANSI code page, as the A functions of the shell copy take it.
size_t AnsiLength(const std::wstring& name) {
  int size = WideCharToMultiByte(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0,
                                 nullptr, nullptr);
  return size > 0 ? static_cast<size_t>(size) : name.size();
}

bool Measure(const std::wstring& folder, size_t prefix, FolderExtent* extent) {
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW((folder + L"*").c_str(), &entry));
  if (!find.ok()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (IsDotName(entry.cFileName)) continue;
    std::wstring name = entry.cFileName;
    size_t length = prefix + std::max(name.size(), AnsiLength(name));
    ++extent->items;
    extent->longest = std::max(extent->longest, length);
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      continue;
    }
    // A source path past the plain calls' 260 characters: no shorter copy of it fits anywhere,
    // which is all the caller needs to know; the walk would need the "\\?\" form to go on.
    if (folder.size() + name.size() + 2 >= MAX_PATH) {
      extent->longest = std::max<size_t>(extent->longest, MAX_PATH);
      continue;
    }
    if (!Measure(folder + name + L"\\", length + 1, extent)) return false;
  } while (FindNextFileW(find.get(), &entry));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

// Windows refuses to rename over a read-only file, which the shell copy replaces without asking
// (FOF_NOCONFIRMATION): the same, with the attribute taken off for the rename and put back when
// it fails. The last error is the rename's.
bool MoveOverReadOnly(const std::wstring& from, const std::wstring& to) {
  DWORD error = GetLastError();
  DWORD attributes = GetFileAttributesW(to.c_str());
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_READONLY) || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !SetFileAttributesW(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    SetLastError(error);
    return false;
  }
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error = GetLastError();
  SetFileAttributesW(to.c_str(), attributes);
  SetLastError(error);
  return false;
}

// How long the renames of one copy wait, in all, for files that another program holds open.
// Windows does not rename over an open file, and a reader's hold is often brief (another run
// reading its copy back, a virus scanner): each file is tried again for about a second, while
// this much of the copy's time is left, so that files held open for good cost a copy little.
constexpr int kWaitTries = 500;  // of 20 ms: ten seconds a copy
constexpr int kTriesPerFile = 50;

// Renames `from` over `to`; while `to` is held open, tries again as the budget allows.
bool MoveIntoPlace(const std::wstring& from, const std::wstring& to, int* tries_left) {
  for (int tries = 0;; ++tries) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ||
        MoveOverReadOnly(from, to)) {
      return true;
    }
    DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
        tries >= kTriesPerFile || *tries_left <= 0) {
      return false;
    }
    --*tries_left;
    Sleep(20);
    SetLastError(error);
  }
}

void MoveAll(const std::wstring& staging, const std::wstring& destination,
             std::map<std::wstring, DWORD>* not_moved, int* tries_left) {
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW((staging + L"*").c_str(), &entry));
  if (!find.ok()) return;
  do {
    if (IsDotName(entry.cFileName)) continue;
    std::wstring name = entry.cFileName;
    // Someone's half-written file that the shell copy took along is never carried on, and a
    // link is not walked into: the files it leads to are not the copy's to move.
    if (IsToolTempName(name) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    std::wstring from = staging + name;
    std::wstring to = destination + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A folder the destination lacks moves whole, in one rename (every file in it is whole);
      // one it has is merged. Where it has a file, nothing below arrives, which the copy's
      // check of each file tells.
      if (GetFileAttributesW(to.c_str()) == INVALID_FILE_ATTRIBUTES &&
          MoveFileExW(from.c_str(), to.c_str(), 0)) {
        continue;
      }
      if (!CreateDirectoryW(to.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        continue;
      }
      MoveAll(from + L"\\", to + L"\\", not_moved, tries_left);
      continue;
    }
    // The moment the file appears under its name, whole. The staging folder is on the
    // destination's volume, so this is a rename; never a copy, which could be cut short.
    if (!MoveIntoPlace(from, to, tries_left)) (*not_moved)[to] = GetLastError();
  } while (FindNextFileW(find.get(), &entry));
}

}  // namespace

std::optional<FolderExtent> MeasureFolder(const std::wstring& folder) {
  FolderExtent extent;
  if (!Measure(folder, 0, &extent)) return std::nullopt;
  return extent;
}

std::optional<std::string> MakeStagingFolder(const std::wstring& destination) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = NextTempFileName(GetCurrentProcessId());
    std::wstring path = destination + std::wstring(name.begin(), name.end());
    if (CreateDirectoryW(path.c_str(), nullptr)) return name;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  SetLastError(ERROR_ALREADY_EXISTS);
  return std::nullopt;
}

void MoveStagedFiles(const std::wstring& staging, const std::wstring& destination,
                     std::map<std::wstring, DWORD>* not_moved) {
  int tries_left = kWaitTries;
  MoveAll(staging, destination, not_moved, &tries_left);
}

bool RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (find.ok()) {
    do {
      if (IsDotName(entry.cFileName)) continue;
      std::wstring path = folder + L"\\" + entry.cFileName;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      }
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveDirectoryW(path.c_str());  // the link, not what it leads to
      } else {
        RemoveTree(path);
      }
    } while (FindNextFileW(find.get(), &entry));
  }
  find.Reset(INVALID_HANDLE_VALUE);
  return RemoveDirectoryW(folder.c_str()) != 0;
}

}  // namespace kdr
