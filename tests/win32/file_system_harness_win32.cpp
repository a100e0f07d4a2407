// The FileSystem contract against the Win32 file system, in a scratch folder in the temporary
// folder.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/win32/win32_file_system.h"
#include "tests/file_system_harness.h"
#include "tests/win32/running_under_wine.h"

namespace kdr::contract {
namespace {

// Whether `path` ends with a backslash character, not with a double-byte character whose second
// byte happens to be 0x5C.
bool EndsWithBackslash(const std::string& path) {
  bool last_was_backslash = false;
  for (size_t i = 0; i < path.size(); ++i) {
    last_was_backslash = path[i] == '\\';
    if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) ++i;
  }
  return last_was_backslash;
}

// Removes a folder with everything in it.
void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  std::string pattern = folder + "\\*";
  HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        // A name kept for a device ("NUL") is reached by its "\\?\" form only.
        if (!DeleteFileA(path.c_str())) DeleteFileA(("\\\\?\\" + path).c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

class Win32Harness : public FileSystemHarness {
 public:
  Win32Harness() {
    std::string temp(MAX_PATH + 1, '\0');
    for (;;) {
      DWORD n = GetTempPathA(static_cast<DWORD>(temp.size()), temp.data());
      if (n < temp.size()) {
        temp.resize(n);
        break;
      }
      temp.resize(n + 1);
    }
    static std::atomic<int> counter{0};
    root_ = temp + "kdr4tose-fs-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++) + "\\";
    CreateDirectoryA(root_.c_str(), nullptr);
  }
  ~Win32Harness() override { RemoveTree(root_.substr(0, root_.size() - 1)); }

  FileSystem& fs() override { return fs_; }
  const std::string& root() const override { return root_; }
  std::string MissingDrive() const override {
    for (char letter = 'Q'; letter != 'P'; letter = letter == 'Z' ? 'D' : letter + 1) {
      std::string drive = std::string(1, letter) + ":\\";
      if (GetDriveTypeA(drive.c_str()) == DRIVE_NO_ROOT_DIR) return drive;
    }
    return "Q:\\";
  }
  std::vector<std::string> List(const std::string& folder) override {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    std::string pattern = folder + (EndsWithBackslash(folder) ? "*" : "\\*");
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      std::string name = entry.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
  }
  bool Put(const std::string& path, const std::string& bytes) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    return CloseHandle(file) && ok;
  }
  bool PutByOwnName(const std::string& path, const std::string& bytes) override {
    return Put("\\\\?\\" + path, bytes);
  }
  std::string Get(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
      bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
  }
  bool MakeFolder(const std::string& path) override {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
  }
  bool SetModified(const std::string& path, int64_t unix_seconds) override {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    uint64_t ticks = static_cast<uint64_t>(unix_seconds) * 10000000 + 116444736000000000ull;
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    bool ok = SetFileTime(file, nullptr, &time, &time) != 0;
    return CloseHandle(file) && ok;
  }
  bool SetReadOnly(const std::string& path, bool read_only) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    attributes =
        read_only ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
    return SetFileAttributesA(path.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes);
  }
  bool IsReadOnly(const std::string& path) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  }
  std::string Cp932Problem() const override {
    if (GetACP() == 932) return "";
    return "the ANSI code page is " + std::to_string(GetACP()) +
           ", not 932 (under Wine run with LC_ALL=ja_JP.UTF-8, as tools/wine-run does)";
  }
  bool IsWine() const override { return RunningUnderWine(); }

 private:
  Win32FileSystem fs_;
  std::string root_;
};

std::unique_ptr<FileSystemHarness> MakeWin32() { return std::make_unique<Win32Harness>(); }

const bool registered = RegisterImplementation("Win32", &MakeWin32);

}  // namespace
}  // namespace kdr::contract
