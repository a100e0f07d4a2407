#include "platform/win32/win32_file_system.h"

#include <windows.h>
// After windows.h, which they build on.
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

// imagehlp exports MakeSureDirectoryPathExists, but MinGW-w64's imagehlp.h does not declare it.
extern "C" __declspec(dllimport) BOOL WINAPI MakeSureDirectoryPathExists(PCSTR dir_path);

namespace kdr {
namespace {

static_assert(FO_COPY == 2);
constexpr FILEOP_FLAGS kCopyFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
static_assert(kCopyFlags == 0x214);

// Owns one kernel32 handle; `Close` is CloseHandle or FindClose.
template <BOOL(WINAPI* Close)(HANDLE)>
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(INVALID_HANDLE_VALUE); }
  HANDLE get() const { return handle_; }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  // Closes the handle held (false when that fails) and takes `handle`.
  bool Reset(HANDLE handle) {
    bool closed = true;
    if (ok()) closed = Close(handle_) != 0;
    handle_ = handle;
    return closed;
  }

 private:
  HANDLE handle_;
};

using FileHandle = ScopedHandle<CloseHandle>;
using FindHandle = ScopedHandle<FindClose>;

// The path as a NUL-terminated string for the A functions; nullopt when it holds a NUL, which
// would silently cut it short.
std::optional<std::string> CPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(path);
}

// The system's text for a Win32 error code, in the ANSI code page, without the line end.
std::string ErrorText(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text) message.assign(text, length);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
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

// Walks `source` (ending with a backslash) and tells the observer, for each file, whether the
// same relative path in `destination` now holds a file of the same size.
void ReportCopy(const std::string& destination, const std::string& source, CopyObserver* observer) {
  WIN32_FIND_DATAA entry;
  std::string pattern = source + "*";
  FindHandle find(FindFirstFileA(pattern.c_str(), &entry));
  if (!find.ok()) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
      observer->CopyFailed(source, "cannot list the folder: " + ErrorText(error));
    }
    return;
  }
  do {
    std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    std::string from = source + name;
    std::string to = destination + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or link may lead back up the tree; the shell copy does not walk into them
      // either.
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ReportCopy(to + "\\", from + "\\", observer);
      }
      continue;
    }
    uint64_t size = MakeU64(entry.nFileSizeHigh, entry.nFileSizeLow);
    WIN32_FILE_ATTRIBUTE_DATA copied;
    if (!GetFileAttributesExA(to.c_str(), GetFileExInfoStandard, &copied)) {
      observer->CopyFailed(from,
                           "not in the destination after the copy: " + ErrorText(GetLastError()));
    } else if (copied.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      observer->CopyFailed(from, "the destination holds a folder of that name");
    } else if (MakeU64(copied.nFileSizeHigh, copied.nFileSizeLow) != size) {
      observer->CopyFailed(from,
                           "the copy in the destination has " +
                               std::to_string(MakeU64(copied.nFileSizeHigh, copied.nFileSizeLow)) +
                               " bytes instead of " + std::to_string(size));
    } else {
      observer->FileCopied(from, size);
    }
  } while (FindNextFileA(find.get(), &entry));
}

std::atomic<unsigned> temp_counter{0};

// True for the name of a temporary file the tool's atomic writer makes.
bool IsTempFileName(std::string_view name) {
  return name.starts_with(".kdr4tose-") && name.ends_with(".tmp");
}

// Adds the files below `folder` (ending with a backslash) to `files`, as `prefix` + their names.
bool ListInto(const std::string& folder, const std::string& prefix,
              std::vector<std::string>* files) {
  WIN32_FIND_DATAA entry;
  std::string pattern = folder + "*";
  FindHandle find(FindFirstFileA(pattern.c_str(), &entry));
  if (!find.ok()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = entry.cFileName;
    if (name == "." || name == ".." || IsTempFileName(name)) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!ListInto(folder + name + "\\", prefix + name + "\\", files)) return false;
    } else {
      files->push_back(prefix + name);
    }
  } while (FindNextFileA(find.get(), &entry));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

bool Win32FileSystem::CreateFolder(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return false;
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = TRUE;
  return CreateDirectoryA(c_path->c_str(), &attributes) != 0;
}

bool Win32FileSystem::MakeSurePathExists(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return false;
  // Only the folders are passed on. MakeSureDirectoryPathExists looks for 0x5C byte by byte, so
  // a file name ending in a character such as "表" (0x95 0x5C) would become a folder.
  size_t separator = LastSeparator(*c_path);
  if (separator != std::string::npos) c_path->resize(separator + 1);
  return MakeSureDirectoryPathExists(c_path->c_str()) != 0;
}

bool Win32FileSystem::Exists(std::string_view path) {
  auto c_path = CPath(path);
  return c_path && PathFileExistsA(c_path->c_str()) != 0;
}

bool Win32FileSystem::IsFolder(std::string_view path) {
  auto c_path = CPath(path);
  return c_path && PathIsDirectoryA(c_path->c_str()) != 0;
}

int Win32FileSystem::CopyFolder(std::string_view destination, std::string_view source, void* owner,
                                CopyObserver* observer) {
  auto c_source = CPath(source);
  auto c_destination = CPath(destination);
  if (!c_source || !c_destination) return ERROR_INVALID_PARAMETER;
  // Both fields are lists of names ended by an empty name: the NUL pushed here ends the name,
  // and the one c_str() keeps after it ends the list.
  std::string from = *c_source + "*.*";
  from.push_back('\0');
  std::string to = *c_destination;
  to.push_back('\0');
  SHFILEOPSTRUCTA operation{};
  operation.hwnd = static_cast<HWND>(owner);
  operation.wFunc = FO_COPY;
  operation.pFrom = from.c_str();
  operation.pTo = to.c_str();
  operation.fFlags = kCopyFlags;
  operation.hNameMappings = nullptr;
  operation.lpszProgressTitle = nullptr;
  int result = SHFileOperationA(&operation);
  if (observer) {
    std::string source_folder = *c_source;
    std::string destination_folder = *c_destination;
    if (LastSeparator(source_folder) + 1 != source_folder.size()) source_folder.push_back('\\');
    if (LastSeparator(destination_folder) + 1 != destination_folder.size()) {
      destination_folder.push_back('\\');
    }
    ReportCopy(destination_folder, source_folder, observer);
  }
  return result;
}

std::optional<std::string> Win32FileSystem::ReadFile(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return std::nullopt;
  FileHandle file(CreateFileA(c_path->c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return std::nullopt;
  std::string bytes;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
      static_cast<uint64_t>(size.QuadPart) < bytes.max_size()) {
    bytes.reserve(static_cast<size_t>(size.QuadPart));
  }
  // Reads until the end, whatever the size said: the file may grow while it is read.
  constexpr DWORD kChunk = 1 << 20;
  for (;;) {
    size_t used = bytes.size();
    bytes.resize(used + kChunk);
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data() + used, kChunk, &read, nullptr)) {
      return std::nullopt;
    }
    bytes.resize(used + read);
    if (read == 0) return bytes;
  }
}

bool Win32FileSystem::WriteFileAtomically(std::string_view path, std::string_view bytes) {
  auto c_path = CPath(path);
  if (!c_path) return false;
  size_t separator = LastSeparator(*c_path);
  if (separator + 1 == c_path->size()) return false;  // names a folder, not a file
  std::string folder =
      separator == std::string::npos ? std::string() : c_path->substr(0, separator + 1);
  // A name no other writer uses; CREATE_NEW makes sure of it.
  std::string temp;
  FileHandle file;
  for (int attempt = 0; attempt < 100 && !file.ok(); ++attempt) {
    temp = folder + ".kdr4tose-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(temp_counter.fetch_add(1)) + ".tmp";
    file.Reset(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok() && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (!file.ok()) return false;
  bool ok = true;
  while (ok && !bytes.empty()) {
    DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    ok = ::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) != 0 && written > 0;
    bytes.remove_prefix(written);
  }
  ok = ok && FlushFileBuffers(file.get()) != 0;
  ok = file.Reset(INVALID_HANDLE_VALUE) && ok;
  // The move is the moment the new content appears, whole.
  ok = ok && MoveFileExA(temp.c_str(), c_path->c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

std::optional<FileStamp> Win32FileSystem::Stamp(std::string_view path) {
  auto c_path = CPath(path);
  if (!c_path) return std::nullopt;
  // No FILE_FLAG_BACKUP_SEMANTICS: a folder does not open, and has no stamp.
  FileHandle file(CreateFileA(c_path->c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  // FILETIME counts 100 ns from 1601; the stamp counts nanoseconds from 1970.
  constexpr int64_t kFrom1601To1970 = 116444736000000000;
  int64_t ticks = static_cast<int64_t>(
      MakeU64(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
  FileStamp stamp;
  stamp.size = MakeU64(info.nFileSizeHigh, info.nFileSizeLow);
  stamp.modified_ns = (ticks - kFrom1601To1970) * 100;
  stamp.file_id = MakeU64(info.nFileIndexHigh, info.nFileIndexLow) ^
                  (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 40);
  return stamp;
}

bool Win32FileSystem::ReadFileInPieces(std::string_view path,
                                       const std::function<void(std::string_view)>& sink) {
  auto c_path = CPath(path);
  if (!c_path) return false;
  FileHandle file(CreateFileA(c_path->c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.ok()) return false;
  constexpr DWORD kPiece = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kPiece]);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), buffer.get(), kPiece, &read, nullptr)) return false;
    if (read == 0) return true;
    sink(std::string_view(buffer.get(), read));
  }
}

bool Win32FileSystem::ListFiles(std::string_view folder, std::vector<std::string>* files) {
  auto c_folder = CPath(folder);
  if (!c_folder || !PathIsDirectoryA(c_folder->c_str())) return false;
  if (LastSeparator(*c_folder) + 1 != c_folder->size()) c_folder->push_back('\\');
  files->clear();
  if (!ListInto(*c_folder, "", files)) return false;
  std::sort(files->begin(), files->end());
  return true;
}

bool Win32FileSystem::RemoveFile(std::string_view path) {
  auto c_path = CPath(path);
  return c_path && DeleteFileA(c_path->c_str()) != 0;
}

bool Win32FileSystem::RemoveFolder(std::string_view path) {
  auto c_path = CPath(path);
  return c_path && RemoveDirectoryA(c_path->c_str()) != 0;
}

}  // namespace kdr
