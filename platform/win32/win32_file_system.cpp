#include "platform/win32/win32_file_system.h"

#include <windows.h>
// After windows.h, which they build on.
#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/atomic_file.h"
#include "platform/cp932.h"
#include "platform/temp_file_name.h"
#include "platform/win32/owner_window_win32.h"
#include "platform/win32/staging_folder.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/windows_names.h"

namespace kdr {
namespace {

// imagehlp and shell32 are loaded on first use (system_library.h): a run that only
// reads and writes settings files never needs the shell.
// imagehlp exports MakeSureDirectoryPathExists, but MinGW-w64's imagehlp.h does not declare it.
using MakeSureDirectoryPathExistsFunction = BOOL WINAPI(PCSTR dir_path);

SystemFunction<MakeSureDirectoryPathExistsFunction>& MakeSureDirectoryPathExistsCall() {
  static SystemFunction<MakeSureDirectoryPathExistsFunction> function(
      L"imagehlp.dll", "MakeSureDirectoryPathExists");
  return function;
}

SystemFunction<decltype(SHFileOperationA)>& ShFileOperationCall() {
  static SystemFunction<decltype(SHFileOperationA)> function(L"shell32.dll", "SHFileOperationA");
  return function;
}

static_assert(FO_COPY == 2);
constexpr FILEOP_FLAGS kCopyFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
static_assert(kCopyFlags == 0x214);
static_assert(kPathNotFound == ERROR_PATH_NOT_FOUND &&
              kTooManyOpenFiles == ERROR_TOO_MANY_OPEN_FILES);
static_assert(kNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY && kInvalidDrive == ERROR_INVALID_DRIVE);
static_assert(kNotSameDevice == ERROR_NOT_SAME_DEVICE && kWriteProtect == ERROR_WRITE_PROTECT);
static_assert(kGeneralFailure == ERROR_GEN_FAILURE && kSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kHandleDiskFull == ERROR_HANDLE_DISK_FULL && kNotSupported == ERROR_NOT_SUPPORTED);
static_assert(kFileExists == ERROR_FILE_EXISTS && kDiskFull == ERROR_DISK_FULL);
static_assert(kInvalidName == ERROR_INVALID_NAME && kDirNotEmpty == ERROR_DIR_NOT_EMPTY);
static_assert(kAlreadyExists == ERROR_ALREADY_EXISTS &&
              kFilenameTooLong == ERROR_FILENAME_EXCED_RANGE);
static_assert(kFileTooLarge == ERROR_FILE_TOO_LARGE && kDirectoryName == ERROR_DIRECTORY);
static_assert(kIoDevice == ERROR_IO_DEVICE && kCancelled == ERROR_CANCELLED);
static_assert(kCantAccessFile == ERROR_CANT_ACCESS_FILE);
static_assert(kNotReady == ERROR_NOT_READY && kBadNetPath == ERROR_BAD_NETPATH &&
              kBadNetName == ERROR_BAD_NET_NAME);
static_assert(kCantResolveFilename == ERROR_CANT_RESOLVE_FILENAME);
static_assert(kDeviceName == ERROR_BAD_DEVICE);

FileResult LastError(std::string_view call, std::string_view path) {
  return FileResult::Fail(static_cast<Status>(GetLastError()), call, path);
}

// The ANSI code page path as UTF-16, the way the A functions read it.
std::wstring AnsiToWide(const std::string& path) {
  if (path.empty() || path.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  int in_size = static_cast<int>(path.size());
  int size = MultiByteToWideChar(CP_ACP, 0, path.data(), in_size, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), in_size, wide.data(), size);
  return wide;
}

// A path too long for the 260 characters of the plain Win32 calls in its "\\?\" form, which the W
// calls take up to 32767 characters; a shorter one as it is, read as the system reads it.
std::wstring LongForm(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
    return path;
  }
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  return path;
}

// Whether a path is reached by the W calls: one with a name ListInto gave with "?", or one too
// long for the A calls.
bool NeedsWide(std::string_view path) {
  return path.find('?') != std::string_view::npos || path.size() >= MAX_PATH;
}

// The path as a NUL-terminated string for the A functions; nullopt when it holds a NUL, which
// would silently cut it short.
std::optional<std::string> CPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(path);
}

// Where the folder part of `path` ends: the position of its last backslash, or npos. The
// second byte of a double-byte character may be 0x5C (as in "表", 0x95 0x5C), so the scan steps
// over whole characters of the ANSI code page, which is how the system reads the path.
size_t LastSeparator(std::string_view path) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == '\\' || c == '/') {
      last = i;
    } else if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
    }
  }
  return last;
}

uint64_t MakeU64(DWORD high, DWORD low) {
  return (static_cast<uint64_t>(high) << 32) | static_cast<uint64_t>(low);
}

// Which file a handle is: its volume's serial number (the 32 bits every call gives) and its
// number there.
struct HandleIdentity {
  uint32_t volume = 0;
  uint64_t file = 0;
};

// Asked first without the volume's own information, which under Wine is a round trip to its
// mount manager (about ten server requests a file); the file systems that keep no file number
// there (it is then 0) are asked the usual way.
// Windows 8 and later answer it (FILE_ID_INFO, declared for them only); Windows 7 refuses it.
struct FileIdInformation {
  ULONGLONG VolumeSerialNumber;
  BYTE FileId[16];
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

std::optional<HandleIdentity> IdentityOfHandle(HANDLE handle) {
  FileIdInformation id{};
  if (GetFileInformationByHandleEx(handle, kFileIdInfo, &id, sizeof id)) {
    uint64_t low = 0;
    uint64_t high = 0;
    static_assert(sizeof id.FileId == sizeof low + sizeof high);
    std::memcpy(&low, id.FileId, sizeof low);
    std::memcpy(&high, id.FileId + sizeof low, sizeof high);
    if ((low | high) != 0) {
      return HandleIdentity{static_cast<uint32_t>(id.VolumeSerialNumber), low ^ high};
    }
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return HandleIdentity{info.dwVolumeSerialNumber,
                        MakeU64(info.nFileIndexHigh, info.nFileIndexLow)};
}

// FILETIME counts 100 ns from 1601; the tool's times count nanoseconds from 1970.
constexpr int64_t kFrom1601To1970 = 116444736000000000;

int64_t NanosecondsSince1970(const FILETIME& time) {
  int64_t ticks = static_cast<int64_t>(MakeU64(time.dwHighDateTime, time.dwLowDateTime));
  return (ticks - kFrom1601To1970) * 100;
}

FILETIME FileTimeOf(int64_t nanoseconds) {
  uint64_t ticks = static_cast<uint64_t>(nanoseconds / 100 + kFrom1601To1970);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Attributes that SetFileAttributesW takes besides the kept ones, left as the file has them.
constexpr DWORD kOtherSettableAttributes =
    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
static_assert(kKeptAttributes == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
static_assert(kReadOnlyAttribute == FILE_ATTRIBUTE_READONLY);

// A name as the tool's 8-bit text, for the observer and the log: a character that the ANSI
// code page cannot hold becomes "?" (never a look-alike, which could name another file).
std::string AnsiName(const std::wstring& name) {
  int in_size = static_cast<int>(name.size());
  int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), in_size, nullptr, 0,
                                 "?", nullptr);
  if (size <= 0) return std::string();
  std::string ansi(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), in_size, ansi.data(), size, "?",
                      nullptr);
  return ansi;
}

// Makes every missing folder above the last name of `path` (in its "\\?\" form). The last error
// tells why not.
bool MakeFoldersAbove(const std::wstring& path) {
  size_t root = path.starts_with(L"\\\\?\\UNC\\") ? path.find(L'\\', 8) : 6;
  if (root != std::wstring::npos) root = path.find(L'\\', root + 1);
  for (size_t at = root; at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    std::wstring folder = path.substr(0, at);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return true;
}

// Copies one file to `target` (both in their "\\?\" form), making the folders above it; the
// shell copy does the rest of the tree. The last error tells why not.
bool CopyItself(const std::wstring& source, const std::wstring& target) {
  return MakeFoldersAbove(target) && CopyFileW(source.c_str(), target.c_str(), FALSE) != 0;
}

// Walks `source` (ending with a backslash) and tells the observer, for each file, whether the
// same relative path in `destination` now holds a file of the same size. The walk goes by the
// UTF-16 names, as the shell copy does: a name the ANSI code page cannot hold is still found
// (its 8-bit form, with "?", only names it in the report).
// A file in `not_moved` (by its destination path) arrived whole beside the destination but could
// not take the place of the file there: that is the failure told.
void ReportCopy(const std::wstring& destination, const std::wstring& source,
                const std::string& ansi_destination, const std::string& ansi_source,
                const std::map<std::wstring, DWORD>& not_moved, CopyObserver* observer,
                size_t* own_copies) {
  WIN32_FIND_DATAW entry;
  std::wstring pattern = LongForm(source + L"*");
  FindHandle find(FindFirstFileW(pattern.c_str(), &entry));
  if (!find.ok()) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
      observer->CopyFailed(
          ansi_source, FileResult::Fail(static_cast<Status>(error), "FindFirstFile", ansi_source));
    }
    return;
  }
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::string ansi_name = AnsiName(name);
    // Someone's half-written file is none of the user's data: not told as copied (the renames
    // leave it behind where they merge folders; a copy in place takes it along).
    if (IsTempFileName(ansi_name)) continue;
    std::string from = ansi_source + ansi_name;
    std::string to = ansi_destination + ansi_name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or link may lead back up the tree; the shell copy does not walk into them
      // either.
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ReportCopy(destination + name + L"\\", source + name + L"\\", to + "\\", from + "\\",
                   not_moved, observer, own_copies);
      }
      continue;
    }
    uint64_t size = MakeU64(entry.nFileSizeHigh, entry.nFileSizeLow);
    WIN32_FILE_ATTRIBUTE_DATA copied;
    // The shell copy tells nothing per file: what is not there, or not whole, is reported
    // with the call that finds it out.
    std::wstring target = LongForm(destination + name);
    bool found = GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &copied) != 0;
    // A path too long for the shell copy: the file is copied here, and the observer told so.
    // A file found there is one the shell copy did not reach (an older one to be replaced).
    if (source.size() + name.size() >= MAX_PATH || target.size() >= MAX_PATH) {
      if (CopyItself(LongForm(source + name), target)) {
        ++*own_copies;
        observer->CopiedItself(from);
        found = GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &copied) != 0;
      }
    }
    auto refused = not_moved.find(destination + name);
    if (!found) {
      observer->CopyFailed(from, LastError("CopyFile", to));
    } else if (copied.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      observer->CopyFailed(from, FileResult::Fail(ERROR_ACCESS_DENIED, "CopyFile", to));
    } else if (refused != not_moved.end()) {
      // Whole beside it, but the file there (held open, perhaps) kept its place.
      observer->CopyFailed(
          from, FileResult::Fail(static_cast<Status>(refused->second), "MoveFileEx", to));
    } else if (MakeU64(copied.nFileSizeHigh, copied.nFileSizeLow) != size) {
      observer->CopyFailed(from, FileResult::Fail(ERROR_HANDLE_DISK_FULL, "CopyFile", to));
    } else {
      observer->FileCopied(from, size);
    }
  } while (FindNextFileW(find.get(), &entry));
}

// Adds the files below `folder` (ending with a backslash) to `files` and, when `folders` is
// given, its subfolders there, as `prefix` + their names. The walk goes by the UTF-16 names, and
// a name the ANSI code page cannot hold is listed as AnsiName gives it, never as a look-alike
// (as FindFirstFileA would give it), which could be another file of the folder. A failure names
// the folder as `tool_folder` + `prefix`.
FileResult ListInto(const std::wstring& folder, const std::string& tool_folder,
                    const std::string& prefix, std::vector<std::string>* files,
                    std::vector<std::string>* folders) {
  auto fail = [&](DWORD error, std::string_view call) {
    return FileResult::Fail(static_cast<Status>(error), call, tool_folder + prefix);
  };
  WIN32_FIND_DATAW entry;
  std::wstring pattern = LongForm(folder + L"*");
  FindHandle find(FindFirstFileW(pattern.c_str(), &entry));
  if (!find.ok()) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? FileResult::Ok() : fail(error, "FindFirstFile");
  }
  do {
    std::wstring wide = entry.cFileName;
    if (wide == L"." || wide == L"..") continue;
    std::string name = AnsiName(wide);
    if (IsTempFileName(name)) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (folders) folders->push_back(prefix + name);
      FileResult listed =
          ListInto(folder + wide + L"\\", tool_folder, prefix + name + "\\", files, folders);
      if (!listed) return listed;
    } else {
      files->push_back(prefix + name);
    }
  } while (FindNextFileW(find.get(), &entry));
  DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES ? FileResult::Ok() : fail(error, "FindNextFile");
}

// Adds the files below `folder` (ending with a backslash) that ListInto would list, and their
// sizes, from the listing itself: no file is opened.
void CountInto(const std::wstring& folder, uint64_t* files, uint64_t* bytes) {
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW(LongForm(folder + L"*").c_str(), &entry));
  if (!find.ok()) return;
  do {
    std::wstring wide = entry.cFileName;
    if (wide == L"." || wide == L"..") continue;
    if (IsTempFileName(AnsiName(wide))) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CountInto(folder + wide + L"\\", files, bytes);
    } else {
      ++*files;
      *bytes += MakeU64(entry.nFileSizeHigh, entry.nFileSizeLow);
    }
  } while (FindNextFileW(find.get(), &entry));
}

// Whether `folder` (ending with a backslash) and those below it hold no reparse point (a link or
// a junction), which the shell copy carries and ListInto leaves out.
bool NoReparsePointIn(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW(LongForm(folder + L"*").c_str(), &entry));
  if (!find.ok()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::wstring wide = entry.cFileName;
    if (wide == L"." || wide == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !NoReparsePointIn(folder + wide + L"\\")) {
      return false;
    }
  } while (FindNextFileW(find.get(), &entry));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

// A path with a name that ListInto gave with "?" (which no Windows name holds) as UTF-16, each
// such name replaced by the one entry of its folder that reads so; nullopt when none or several
// do. Any other path is read as the A functions read it.
std::optional<std::wstring> WidePath(const std::string& path) {
  if (path.find('?') == std::string::npos) return LongForm(AnsiToWide(path));
  std::wstring wide;
  for (size_t start = 0;;) {
    size_t end = start;
    while (end < path.size() && path[end] != '\\') {
      end += IsDBCSLeadByte(static_cast<BYTE>(path[end])) && end + 1 < path.size() ? 2 : 1;
    }
    std::string name = path.substr(start, end - start);
    if (name.find('?') == std::string::npos) {
      wide += AnsiToWide(name);
    } else {
      WIN32_FIND_DATAW entry;
      FindHandle find(FindFirstFileW(LongForm(wide + L"*").c_str(), &entry));
      if (!find.ok()) return std::nullopt;
      std::wstring match;
      int found = 0;
      do {
        if (Cp932EqualNoCase(AnsiName(entry.cFileName), name)) {
          match = entry.cFileName;
          ++found;
        }
      } while (FindNextFileW(find.get(), &entry));
      if (found != 1) return std::nullopt;
      wide += match;
    }
    if (end >= path.size()) return LongForm(wide);
    wide += L'\\';
    start = end + 1;
  }
}

// Whether the last name of a UTF-16 path is one Windows keeps for a device ("COM¹" included).
bool EndsInDeviceName(const std::wstring& path) {
  size_t separator = path.find_last_of(L"\\/");
  std::wstring name = path.substr(separator == std::wstring::npos ? 0 : separator + 1);
  int in_size = static_cast<int>(name.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, name.data(), in_size, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name.data(), in_size, utf8.data(), size, nullptr, nullptr);
  return IsWindowsDeviceName(utf8, NameText::kUtf8);
}

// CreateFileA, or for a path with a name ListInto gave with "?", CreateFileW on its own name.
// A name kept for a device is refused before it is opened (reading "COM1" would wait on the
// port), and so is whatever opens as anything but a file on a disk.
FileHandle OpenExisting(const std::string& path, DWORD access, DWORD flags) {
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  auto refuse = [](DWORD error) {
    SetLastError(error);
    return FileHandle();
  };
  if (EndsInWindowsDeviceName(path)) return refuse(ERROR_BAD_DEVICE);
  FileHandle file;
  if (!NeedsWide(path)) {
    file.Reset(CreateFileA(path.c_str(), access, kShare, nullptr, OPEN_EXISTING, flags, nullptr));
  } else {
    std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return refuse(ERROR_FILE_NOT_FOUND);
    if (EndsInDeviceName(*wide)) return refuse(ERROR_BAD_DEVICE);
    file.Reset(CreateFileW(wide->c_str(), access, kShare, nullptr, OPEN_EXISTING, flags, nullptr));
  }
  if (file.ok() && GetFileType(file.get()) != FILE_TYPE_DISK) {
    file.Reset(INVALID_HANDLE_VALUE);
    return refuse(ERROR_BAD_DEVICE);
  }
  return file;
}

// GetFileAttributesW for a path with a name ListInto gave with "?".
DWORD WideAttributes(const std::string& path) {
  std::optional<std::wstring> wide = WidePath(path);
  if (!wide) SetLastError(ERROR_FILE_NOT_FOUND);
  return wide ? GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

// Passes each item on, keeping the first failure.
class FirstFailure : public ForwardingCopyObserver {
 public:
  using ForwardingCopyObserver::ForwardingCopyObserver;
  void CopyFailed(std::string_view path, const FileResult& error) override {
    if (result.ok()) result = error;
    ForwardingCopyObserver::CopyFailed(path, error);
  }
  FileResult result;
};

}  // namespace

FileResult Win32FileSystem::CreateFolder(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "CreateDirectory", path);
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = TRUE;
  if (NeedsWide(*c_path)) {
    std::optional<std::wstring> wide = WidePath(*c_path);
    if (!wide) return FileResult::Fail(ERROR_PATH_NOT_FOUND, "CreateDirectory", path);
    if (!CreateDirectoryW(wide->c_str(), &attributes)) return LastError("CreateDirectory", path);
    return FileResult::Ok();
  }
  if (!CreateDirectoryA(c_path->c_str(), &attributes)) return LastError("CreateDirectory", path);
  return FileResult::Ok();
}

FileResult Win32FileSystem::MakeSurePathExists(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "MakeSureDirectoryPathExists", path);
  // Only the folders are passed on. MakeSureDirectoryPathExists looks for 0x5C byte by byte, so
  // a file name ending in a character such as "表" (0x95 0x5C) would become a folder.
  size_t separator = LastSeparator(*c_path);
  if (separator != std::string::npos) c_path->resize(separator + 1);
  // A folder already there needs nothing made (the call would try each folder of the path).
  if (IsFolder(*c_path)) return FileResult::Ok();
  // Too long for it: each folder is made here, as it would make it.
  if (c_path->size() >= MAX_PATH && c_path->find('?') == std::string::npos) {
    if (!MakeFoldersAbove(LongForm(AnsiToWide(*c_path)))) {
      return LastError("MakeSureDirectoryPathExists", *c_path);
    }
    return FileResult::Ok();
  }
  auto& make_sure = MakeSureDirectoryPathExistsCall();
  if (!make_sure.get()) {
    return FileResult::Fail(static_cast<Status>(make_sure.error()), "MakeSureDirectoryPathExists",
                            *c_path);
  }
  if (!make_sure.get()(c_path->c_str())) {
    return LastError("MakeSureDirectoryPathExists", *c_path);
  }
  return FileResult::Ok();
}

Result<EntryKind> Win32FileSystem::Lookup(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "GetFileAttributes", path);
  DWORD attributes =
      NeedsWide(*c_path) ? WideAttributes(*c_path) : GetFileAttributesA(c_path->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    // A file where a folder of the path would be is 267 (or 3): nothing is there either.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_DIRECTORY) {
      return EntryKind::kNone;
    }
    return FileResult::Fail(static_cast<Status>(error), "GetFileAttributes", path);
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kFolder : EntryKind::kFile;
}

namespace {

// Opens the folder `path` names for its identity: backup semantics open a folder, and only its
// attributes are asked for, so that a folder the user may not list still has its identity.
FileResult OpenFolderToIdentify(std::string_view path, FileHandle* folder) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "CreateFile", path);
  std::optional<std::wstring> wide = WidePath(*c_path);
  if (!wide || wide->empty()) return FileResult::Fail(ERROR_PATH_NOT_FOUND, "CreateFile", path);
  *folder = FileHandle(CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder->ok()) return LastError("CreateFile", path);
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(folder->get(), FileBasicInfo, &basic, sizeof basic)) {
    return LastError("GetFileInformationByHandleEx", path);
  }
  if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return FileResult::Fail(ERROR_DIRECTORY, "CreateFile", path);
  }
  return FileResult::Ok();
}

// The file's number on its volume (FileInternalInformation), which no call of the Win32 API
// gives without the volume's serial number; 0 when it cannot be asked.
uint64_t FileNumberOfHandle(HANDLE handle) {
  using Query = NTSTATUS NTAPI(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  static const SystemFunction<Query> query(L"ntdll.dll", "NtQueryInformationFile");
  if (!query.get()) return 0;
  LARGE_INTEGER number{};
  IO_STATUS_BLOCK status{};
  if (query.get()(handle, &status, &number, sizeof number, FileInternalInformation) < 0) return 0;
  return static_cast<uint64_t>(number.QuadPart);
}

}  // namespace

FileResult Win32FileSystem::IdentifyFolder(std::string_view path, FolderId* id) {
  FileHandle folder;
  if (FileResult opened = OpenFolderToIdentify(path, &folder); !opened) return opened;
  std::optional<HandleIdentity> identity = IdentityOfHandle(folder.get());
  if (!identity) return LastError("GetFileInformationByHandle", path);
  *id = FolderId{identity->volume, identity->file};
  return FileResult::Ok();
}

FileResult Win32FileSystem::FolderNumber(std::string_view path, uint64_t* number) {
  FileHandle folder;
  if (FileResult opened = OpenFolderToIdentify(path, &folder); !opened) return opened;
  // A file system that keeps no number gives 0: every such folder then looks alike here, and
  // the full identity tells them apart.
  *number = FileNumberOfHandle(folder.get());
  return FileResult::Ok();
}

namespace {

// What a staging folder adds to every path below the destination: its name (the process id at
// most ten digits, a serial of up to six) and a backslash. Where that much more would not fit
// the shell copy's 260 characters, it copies in place.
constexpr size_t kStagingRoom = sizeof(".kdr4tose-4294967295-999999.tmp\\") - 1;

}  // namespace

FileResult Win32FileSystem::CopyFolder(std::string_view destination, std::string_view source,
                                       OwnerWindow* owner, CopyObserver* observer) {
  auto c_source = CPath(source);
  auto c_destination = CPath(destination);
  if (!c_source || !c_destination) {
    FileResult bad = FileResult::Fail(ERROR_INVALID_NAME, "SHFileOperation", source);
    if (observer) observer->CopyFailed(source, bad);
    return bad;
  }
  // The shell copy takes a folder whole and cannot be stopped inside it: a run asked to stop
  // starts no other.
  if (observer && observer->StopRequested()) {
    return FileResult::Fail(ERROR_CANCELLED, "SHFileOperation", destination);
  }
  auto& shell_copy = ShFileOperationCall();
  if (!shell_copy.get()) {
    FileResult missing =
        FileResult::Fail(static_cast<Status>(shell_copy.error()), "SHFileOperation", destination);
    if (observer) observer->CopyFailed(source, missing);
    return missing;
  }
  std::string source_folder = *c_source;
  std::string destination_folder = *c_destination;
  if (LastSeparator(source_folder) + 1 != source_folder.size()) source_folder.push_back('\\');
  if (LastSeparator(destination_folder) + 1 != destination_folder.size()) {
    destination_folder.push_back('\\');
  }
  std::wstring wide_source = AnsiToWide(source_folder);
  std::wstring wide_destination = AnsiToWide(destination_folder);
  // The shell copy writes each file in place, where a process ended meanwhile leaves a part of
  // it under its name; so it copies into a staging folder, and each file whole is renamed into
  // place. Where that cannot be, it copies in place as it always did, and says so.
  std::string staging;
  std::string in_place_why;
  if (std::optional<FolderExtent> extent = MeasureFolder(wide_source); !extent) {
    in_place_why = "the source folder cannot be listed";
  } else if (extent->items == 0) {
    // Nothing to copy: the shell copy does nothing, not even make the destination.
  } else if (std::max(destination_folder.size(), wide_destination.size()) + kStagingRoom +
                 extent->longest >=
             MAX_PATH) {
    in_place_why = "its paths would be too long below a temporary folder";
  } else if (FileResult made = MakeSurePathExists(destination_folder); !made) {
    in_place_why = "the destination cannot be made: " + Describe(made);
  } else {
    RemoveStaleTempFiles(std::filesystem::path(wide_destination));
    if (std::optional<std::string> name = MakeStagingFolder(wide_destination)) {
      staging = *name;
    } else {
      in_place_why = "no temporary folder can be made there: " +
                     Describe(LastError("CreateDirectory", destination_folder));
    }
  }
  if (!in_place_why.empty() && observer) observer->CopiedInPlace(destination, in_place_why);
  // Both fields are lists of names ended by an empty name: the NUL pushed here ends the name,
  // and the one c_str() keeps after it ends the list.
  std::string from = *c_source + "*.*";
  from.push_back('\0');
  std::string to = staging.empty() ? *c_destination : destination_folder + staging + "\\";
  to.push_back('\0');
  SHFILEOPSTRUCTA operation{};
  operation.hwnd = ToWindowHandle(owner);
  operation.wFunc = FO_COPY;
  operation.pFrom = from.c_str();
  operation.pTo = to.c_str();
  operation.fFlags = kCopyFlags;
  operation.hNameMappings = nullptr;
  operation.lpszProgressTitle = nullptr;
  int result = shell_copy.get()(&operation);
  std::map<std::wstring, DWORD> not_moved;
  if (!staging.empty()) {
    std::wstring wide_staging = wide_destination + std::wstring(staging.begin(), staging.end());
    MoveStagedFiles(wide_staging + L"\\", wide_destination, &not_moved);
    // What did not move goes with it; a folder that cannot go now is swept by a later run. An
    // emptied folder goes without being listed again.
    if (!RemoveDirectoryW(wide_staging.c_str())) RemoveTree(wide_staging);
  }
  // The shell copy may return 0 and still leave files out (Wine does, for a folder where a file
  // goes): the copy is only whole when every file arrived.
  FirstFailure first(observer);
  size_t own_copies = 0;
  ReportCopy(wide_destination, wide_source, destination_folder, source_folder, not_moved, &first,
             &own_copies);
  // SHFileOperationA's result is its own number (a DE_ code or a Win32 error), kept as it is;
  // unless it failed for paths too long for it, whose files were then copied here, every one.
  if (result != 0 && (own_copies == 0 || !first.result.ok())) {
    return FileResult::Fail(result, "SHFileOperation", destination);
  }
  return first.result;
}

FileResult Win32FileSystem::WriteFileAtomically(std::string_view path, std::string_view bytes) {
  return WriteFileInPieces(path, [bytes](const PutBytes& put) { return put(bytes); });
}

FileResult Win32FileSystem::WriteFileInPieces(std::string_view path, const ProduceBytes& produce) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "CreateFile", path);
  size_t separator = LastSeparator(*c_path);
  // Names a folder, not a file.
  if (separator + 1 == c_path->size())
    return FileResult::Fail(ERROR_ACCESS_DENIED, "CreateFile", path);
  std::optional<std::wstring> wide = WidePath(*c_path);
  if (!wide) return FileResult::Fail(ERROR_INVALID_NAME, "CreateFile", path);
  if (EndsInWindowsDeviceName(*c_path) || EndsInDeviceName(*wide)) {
    return FileResult::Fail(ERROR_BAD_DEVICE, "CreateFile", path);
  }
  FileResult written = kdr::WriteFileAtomically(std::filesystem::path(*wide), produce);
  if (!written) written.path = *c_path;
  return written;
}

FileResult Win32FileSystem::AppendToFile(std::string_view path, std::string_view bytes) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "CreateFile", path);
  std::optional<std::wstring> wide = WidePath(*c_path);
  if (!wide) return FileResult::Fail(ERROR_INVALID_NAME, "CreateFile", path);
  if (EndsInWindowsDeviceName(*c_path) || EndsInDeviceName(*wide)) {
    return FileResult::Fail(ERROR_BAD_DEVICE, "CreateFile", path);
  }
  FileResult appended = kdr::AppendToFile(std::filesystem::path(*wide), bytes);
  if (!appended) appended.path = *c_path;
  return appended;
}

namespace {

// The root of a disk path ("X:\" or "\\server\share\"), upper-cased; empty for any other.
std::wstring RootOf(std::wstring path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) {
    path = L"\\\\" + path.substr(8);
  } else if (path.starts_with(L"\\\\?\\")) {
    path = path.substr(4);
  }
  size_t end = 0;
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
    end = 3;
  } else if (path.starts_with(L"\\\\")) {
    size_t server_end = path.find(L'\\', 2);
    size_t share_end =
        server_end == std::wstring::npos ? server_end : path.find(L'\\', server_end + 1);
    if (share_end == std::wstring::npos) return std::wstring();
    end = share_end + 1;
  }
  std::wstring root = path.substr(0, end);
  CharUpperBuffW(root.data(), static_cast<DWORD>(root.size()));
  return root;
}

// Whether the volume at a disk path's root keeps a true change time, which every change of the
// file moves (NTFS and ReFS), asked once a root. Elsewhere a file system may give another time
// in its place, and a stamp also takes the file's number through a handle. (A volume mounted in
// a folder is taken as its root's.)
bool KeepsChangeTimes(const std::wstring& path) {
  static std::mutex lock;
  static std::map<std::wstring, bool> known;
  std::wstring root = RootOf(path);
  if (root.empty()) return false;
  std::lock_guard<std::mutex> hold(lock);
  auto it = known.find(root);
  if (it != known.end()) return it->second;
  // By a handle of the root, which asks the file system's name alone: GetVolumeInformation
  // reads the volume's label and serial number too (under Wine, from the device itself).
  wchar_t name[MAX_PATH + 1] = {};
  FileHandle folder(CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  bool keeps = folder.ok() &&
               GetVolumeInformationByHandleW(folder.get(), nullptr, 0, nullptr, nullptr, nullptr,
                                             name, MAX_PATH + 1) &&
               (lstrcmpiW(name, L"NTFS") == 0 || lstrcmpiW(name, L"ReFS") == 0);
  // Kept either way: a root that cannot be asked only costs its files the slower stamp.
  known.emplace(root, keeps);
  return keeps;
}

// A stamp from a file's times and size. The change time, which every write of content, times or
// attributes moves, is left 0 where the file system gives none (FAT keeps none, and a time before
// 1970 is no time it keeps): no file is then taken as unchanged on its other stamps alone. Where it
// is a true one (`true_change_time`), the file's number adds nothing, as a file put in the place
// of another has its own; elsewhere the number is taken by `number_of_file`.
template <typename NumberOfFile>
Result<FileStamp> StampOf(uint64_t size, LONGLONG last_write, LONGLONG change,
                          bool true_change_time, NumberOfFile number_of_file) {
  FileStamp stamp;
  stamp.size = size;
  stamp.modified_ns = (last_write - kFrom1601To1970) * 100;
  if (change > kFrom1601To1970) stamp.changed_ns = (change - kFrom1601To1970) * 100;
  if (true_change_time && stamp.changed_ns != 0) return stamp;
  Result<uint64_t> number = number_of_file();
  if (!number) return number.error();
  stamp.file_id = *number;
  return stamp;
}

// The stamp of an open file, as Stamp takes it; `path` names it in a failure.
Result<FileStamp> StampOfHandle(HANDLE file, std::string_view path) {
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    return LastError("GetFileInformationByHandleEx", path);
  }
  if (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    return FileResult::Fail(ERROR_ACCESS_DENIED, "CreateFile", path);
  }
  // The volume, which costs a mount manager round trip a file under Wine, is asked only of a
  // file system that keeps no numbers.
  return StampOf(static_cast<uint64_t>(standard.EndOfFile.QuadPart), basic.LastWriteTime.QuadPart,
                 basic.ChangeTime.QuadPart, KeepsChangeTimes(AnsiToWide(std::string(path))),
                 [&]() -> Result<uint64_t> {
                   if (uint64_t number = FileNumberOfHandle(file)) return number;
                   std::optional<HandleIdentity> identity = IdentityOfHandle(file);
                   if (!identity) return LastError("GetFileInformationByHandle", path);
                   return identity->file ^ (static_cast<uint64_t>(identity->volume) << 40);
                 });
}

// What NtQueryFullAttributesFile gives (FILE_NETWORK_OPEN_INFORMATION, which MinGW-w64 declares
// for drivers only).
struct NetworkOpenInformation {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  ULONG FileAttributes;
};
static_assert(sizeof(NetworkOpenInformation) == 56);

// Whether a UTF-16 path names a file on a drive letter or a share, which CreateFileW would open
// as a file on a disk ("\\.\" and other "\\?\" paths name devices and volumes).
bool NamesAFileOnADisk(const std::wstring& path) {
  auto drive = [&](size_t at) {
    return path.size() > at + 2 && iswalpha(path[at]) && path[at + 1] == L':' &&
           path[at + 2] == L'\\';
  };
  if (path.starts_with(L"\\\\?\\")) return drive(4) || path.starts_with(L"\\\\?\\UNC\\");
  if (path.starts_with(L"\\\\")) return path.size() > 2 && path[2] != L'.' && path[2] != L'?';
  return drive(0);
}

// The stamp of the file at `path` (as CreateFileW reads it) without a handle, as Stamp would take
// it, where the system gives it so (NtQueryFullAttributesFile, what GetFileAttributesEx calls, with
// the change time it leaves out): an open, two queries and a close are a server round trip each
// under Wine, for every file a run looks at. Nullopt where it cannot say (a folder, a link, a
// file without a change time, or any failure): the caller opens the file, which tells why.
std::optional<FileStamp> StampByPath(const std::wstring& path) {
  using ToNtPath = BOOLEAN NTAPI(PCWSTR, UNICODE_STRING*, PWSTR*, void*);
  using FreeString = void NTAPI(UNICODE_STRING*);
  using Query = NTSTATUS NTAPI(OBJECT_ATTRIBUTES*, NetworkOpenInformation*);
  static const SystemFunction<ToNtPath> to_nt_path(L"ntdll.dll", "RtlDosPathNameToNtPathName_U");
  static const SystemFunction<FreeString> free_string(L"ntdll.dll", "RtlFreeUnicodeString");
  static const SystemFunction<Query> query(L"ntdll.dll", "NtQueryFullAttributesFile");
  if (!to_nt_path.get() || !free_string.get() || !query.get()) return std::nullopt;
  if (!NamesAFileOnADisk(path) || EndsInDeviceName(path) || !KeepsChangeTimes(path)) {
    return std::nullopt;
  }
  UNICODE_STRING nt_path{};
  if (!to_nt_path.get()(path.c_str(), &nt_path, nullptr, nullptr)) return std::nullopt;
  OBJECT_ATTRIBUTES attributes{};
  InitializeObjectAttributes(&attributes, &nt_path, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  NetworkOpenInformation info{};
  NTSTATUS status = query.get()(&attributes, &info);
  free_string.get()(&nt_path);
  constexpr ULONG kNotAPlainFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (status < 0 || (info.FileAttributes & kNotAPlainFile) != 0 ||
      info.ChangeTime.QuadPart <= kFrom1601To1970) {
    return std::nullopt;
  }
  Result<FileStamp> stamp =
      StampOf(static_cast<uint64_t>(info.EndOfFile.QuadPart), info.LastWriteTime.QuadPart,
              info.ChangeTime.QuadPart, true, []() -> Result<uint64_t> { return uint64_t{0}; });
  return stamp ? std::optional<FileStamp>(*stamp) : std::nullopt;
}

}  // namespace

Result<FileStamp> Win32FileSystem::Stamp(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "CreateFile", path);
  if (!EndsInWindowsDeviceName(*c_path)) {
    std::optional<std::wstring> wide =
        NeedsWide(*c_path) ? WidePath(*c_path) : std::optional(AnsiToWide(*c_path));
    if (wide && !wide->empty()) {
      if (std::optional<FileStamp> stamp = StampByPath(*wide)) return *stamp;
    }
  }
  // No FILE_FLAG_BACKUP_SEMANTICS: a folder does not open, and has no stamp.
  FileHandle file(OpenExisting(*c_path, FILE_READ_ATTRIBUTES, FILE_ATTRIBUTE_NORMAL));
  if (!file.ok()) return LastError("CreateFile", path);
  return StampOfHandle(file.get(), path);
}

namespace {

class HandleReader : public FileReader {
 public:
  HandleReader(FileHandle file, const FileStamp& stamp, std::string path)
      : FileReader(stamp.size, stamp), file_(std::move(file)), path_(std::move(path)) {}
  FileResult ReadPieces(const std::function<void(std::string_view)>& sink) override {
    constexpr DWORD kPiece = 1 << 20;
    std::unique_ptr<char[]> buffer(new char[kPiece]);
    for (;;) {
      DWORD read = 0;
      if (!::ReadFile(file_.get(), buffer.get(), kPiece, &read, nullptr)) {
        return LastError("ReadFile", path_);
      }
      if (read == 0) return FileResult::Ok();
      sink(std::string_view(buffer.get(), read));
    }
  }

 private:
  FileHandle file_;
  std::string path_;
};

}  // namespace

Result<std::unique_ptr<FileReader>> Win32FileSystem::OpenForReading(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "CreateFile", path);
  FileHandle file(OpenExisting(*c_path, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN));
  if (!file.ok()) return LastError("CreateFile", path);
  // The stamp comes with the open, taken before the first read as Stamp would take it.
  Result<FileStamp> stamp = StampOfHandle(file.get(), path);
  if (!stamp) return stamp.error();
  return std::unique_ptr<FileReader>(
      std::make_unique<HandleReader>(std::move(file), *stamp, std::string(path)));
}

// The folder a listing starts from: a folder (as IsFolder tells it), or why not: 3 when nothing
// is there, 267 for a file, or the error of GetFileAttributes.
FileResult Win32FileSystem::CheckFolderToList(const std::string& c_folder,
                                              std::string_view folder) {
  if (IsFolder(c_folder)) return FileResult::Ok();
  // Without its trailing backslash, so that a file is found as the file it is.
  std::string plain = c_folder;
  if (plain.size() > 3 && LastSeparator(plain) + 1 == plain.size()) plain.pop_back();
  std::optional<std::wstring> wide = WidePath(plain);
  if (!wide) return FileResult::Fail(ERROR_PATH_NOT_FOUND, "FindFirstFile", folder);
  DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return FileResult::Fail(ERROR_DIRECTORY, "FindFirstFile", folder);
  }
  FileResult failed = LastError("GetFileAttributes", folder);
  if (failed.code == ERROR_FILE_NOT_FOUND) failed.code = ERROR_PATH_NOT_FOUND;
  return failed;
}

FileResult Win32FileSystem::ListFiles(std::string_view folder, std::vector<std::string>* files) {
  auto c_folder = CPath(folder);
  if (!c_folder) return FileResult::Fail(ERROR_INVALID_NAME, "FindFirstFile", folder);
  if (FileResult there = CheckFolderToList(*c_folder, folder); !there) return there;
  if (LastSeparator(*c_folder) + 1 != c_folder->size()) c_folder->push_back('\\');
  std::optional<std::wstring> wide = WidePath(*c_folder);
  if (!wide) return FileResult::Fail(ERROR_PATH_NOT_FOUND, "FindFirstFile", folder);
  files->clear();
  FileResult listed = ListInto(*wide, *c_folder, "", files, nullptr);
  if (!listed) return listed;
  std::sort(files->begin(), files->end());
  return FileResult::Ok();
}

void Win32FileSystem::CountFiles(std::string_view folder, uint64_t* files, uint64_t* bytes) {
  auto c_folder = CPath(folder);
  if (!c_folder || !IsFolder(*c_folder)) return;
  if (LastSeparator(*c_folder) + 1 != c_folder->size()) c_folder->push_back('\\');
  if (std::optional<std::wstring> wide = WidePath(*c_folder)) CountInto(*wide, files, bytes);
}

bool Win32FileSystem::HoldsOnlyFilesAndFolders(std::string_view folder) {
  auto c_folder = CPath(folder);
  if (!c_folder || !IsFolder(*c_folder)) return false;
  if (LastSeparator(*c_folder) + 1 != c_folder->size()) c_folder->push_back('\\');
  std::optional<std::wstring> wide = WidePath(*c_folder);
  return wide && NoReparsePointIn(*wide);
}

FileResult Win32FileSystem::ListFolders(std::string_view folder,
                                        std::vector<std::string>* folders) {
  auto c_folder = CPath(folder);
  if (!c_folder) return FileResult::Fail(ERROR_INVALID_NAME, "FindFirstFile", folder);
  if (FileResult there = CheckFolderToList(*c_folder, folder); !there) return there;
  if (LastSeparator(*c_folder) + 1 != c_folder->size()) c_folder->push_back('\\');
  folders->clear();
  std::optional<std::wstring> wide = WidePath(*c_folder);
  if (!wide) return FileResult::Fail(ERROR_PATH_NOT_FOUND, "FindFirstFile", folder);
  std::vector<std::string> files;
  FileResult listed = ListInto(*wide, *c_folder, "", &files, folders);
  if (!listed) return listed;
  std::sort(folders->begin(), folders->end());
  return FileResult::Ok();
}

FileResult Win32FileSystem::RemoveFile(std::string_view path) {
  auto c_path = CPath(path);
  std::optional<std::wstring> wide = c_path ? WidePath(*c_path) : std::nullopt;
  if (!wide) return FileResult::Fail(ERROR_FILE_NOT_FOUND, "DeleteFile", path);
  if (DeleteFileW(wide->c_str())) return FileResult::Ok();
  FileResult refused = LastError("DeleteFile", path);
  // DeleteFile refuses a read-only file; POSIX asks only the folder. The attribute is put back
  // when the file still cannot go, and the first refusal is the one told.
  DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_READONLY) ||
      !SetFileAttributesW(wide->c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return refused;
  }
  if (DeleteFileW(wide->c_str())) return FileResult::Ok();
  refused = LastError("DeleteFile", path);
  SetFileAttributesW(wide->c_str(), attributes);
  return refused;
}

FileResult Win32FileSystem::GetMetadata(std::string_view path, FileMetadata* metadata) {
  auto c_path = CPath(path);
  std::optional<std::wstring> wide = c_path ? WidePath(*c_path) : std::nullopt;
  if (!wide) return FileResult::Fail(ERROR_FILE_NOT_FOUND, "GetFileAttributesEx", path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data)) {
    return LastError("GetFileAttributesEx", path);
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    return FileResult::Fail(ERROR_ACCESS_DENIED, "GetFileAttributesEx", path);
  }
  *metadata = FileMetadata{};
  metadata->kind = FileMetadata::Kind::kWindows;
  metadata->attributes = data.dwFileAttributes & kKeptAttributes;
  metadata->modified_ns = NanosecondsSince1970(data.ftLastWriteTime);
  return FileResult::Ok();
}

FileResult Win32FileSystem::SetMetadata(std::string_view path, const FileMetadata& metadata,
                                        unsigned* not_set) {
  *not_set = MetadataParts(metadata);
  if (metadata.kind != FileMetadata::Kind::kWindows) {
    return FileResult::Fail(ERROR_NOT_SUPPORTED, "SetFileAttributes", path);
  }
  auto c_path = CPath(path);
  std::optional<std::wstring> wide = c_path ? WidePath(*c_path) : std::nullopt;
  if (!wide) return FileResult::Fail(ERROR_FILE_NOT_FOUND, "SetFileAttributes", path);
  DWORD now = GetFileAttributesW(wide->c_str());
  if (now == INVALID_FILE_ATTRIBUTES) return LastError("SetFileAttributes", path);
  if (now & FILE_ATTRIBUTE_DIRECTORY) {
    return FileResult::Fail(ERROR_ACCESS_DENIED, "SetFileAttributes", path);
  }
  *not_set = 0;
  FileResult first = FileResult::Ok();
  auto fail = [&](unsigned part, FileResult why) {
    *not_set |= part;
    if (first) first = std::move(why);
  };
  FileHandle file(OpenExisting(*c_path, FILE_WRITE_ATTRIBUTES, FILE_ATTRIBUTE_NORMAL));
  FILETIME written = FileTimeOf(metadata.modified_ns);
  if (!file.ok() || !SetFileTime(file.get(), nullptr, nullptr, &written)) {
    fail(kMetadataTime, LastError("SetFileTime", path));
  }
  file.Reset(INVALID_HANDLE_VALUE);
  DWORD wanted = (now & kOtherSettableAttributes) | (metadata.attributes & kKeptAttributes);
  if (!SetFileAttributesW(wide->c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted)) {
    fail(kMetadataAttributes, LastError("SetFileAttributes", path));
  } else if (DWORD kept = GetFileAttributesW(wide->c_str());
             kept == INVALID_FILE_ATTRIBUTES ||
             (kept & kKeptAttributes) != (metadata.attributes & kKeptAttributes)) {
    fail(kMetadataAttributes, FileResult::Fail(ERROR_NOT_SUPPORTED, "SetFileAttributes", path));
  }
  return first;
}

FileResult Win32FileSystem::RemoveFolder(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return FileResult::Fail(ERROR_INVALID_NAME, "RemoveDirectory", path);
  std::optional<std::wstring> wide = WidePath(*c_path);
  if (wide && !wide->empty()) RemoveStaleTempFiles(std::filesystem::path(*wide));
  if (NeedsWide(*c_path)) {
    if (!wide) return FileResult::Fail(ERROR_FILE_NOT_FOUND, "RemoveDirectory", path);
    if (!RemoveDirectoryW(wide->c_str())) return LastError("RemoveDirectory", path);
    return FileResult::Ok();
  }
  if (!RemoveDirectoryA(c_path->c_str())) return LastError("RemoveDirectory", path);
  return FileResult::Ok();
}

void Win32FileSystem::RemoveLeftovers(std::string_view folder) {
  auto c_folder = CPath(folder);
  std::optional<std::wstring> wide = c_folder ? WidePath(*c_folder) : std::nullopt;
  if (wide && !wide->empty()) RemoveStaleTempFiles(std::filesystem::path(*wide));
}

}  // namespace kdr
