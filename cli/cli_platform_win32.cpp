#include <windows.h>

// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "cli/cli_app.h"
#include "cli/cli_platform.h"
#include "cli/kept_for_process.h"
#include "cli/user_profiles.h"
#include "platform/drive_letter_map.h"
#include "platform/text_encoding.h"
#include "platform/win32/last_error_text.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_user_hives.h"

namespace kdr::cli {
namespace {

void WriteTo(DWORD which, std::string_view text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    std::wstring wide = Utf8ToWide(text);
    const wchar_t* data = wide.data();
    size_t left = wide.size();
    while (left > 0) {
      DWORD chunk = left > 16384 ? 16384 : static_cast<DWORD>(left);
      DWORD written = 0;
      if (!WriteConsoleW(handle, data, chunk, &written, nullptr) || written == 0) return;
      data += written;
      left -= written;
    }
    return;
  }
  // Redirected: UTF-8 bytes.
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD chunk = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    left -= written;
  }
}

}  // namespace

void WriteHostStdout(std::string_view text) { WriteTo(STD_OUTPUT_HANDLE, text); }
void WriteStderr(std::string_view text) { WriteTo(STD_ERROR_HANDLE, text); }

Language UserLanguage() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::kJapanese
                                                                    : Language::kEnglish;
}

bool StderrIsTerminal() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

std::optional<std::filesystem::path> ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (size == 0) return std::nullopt;
    if (size < buffer.size()) {
      buffer.resize(size);
      return std::filesystem::path(buffer).parent_path();
    }
    if (buffer.size() >= 32768) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path HostPathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(Utf8ToWide(utf8));
}

std::string HostPathToUtf8(const std::filesystem::path& path) { return WideToUtf8(path.native()); }

// The system's own resolution: MinGW's std::filesystem (GCC 12) reads \\server\share as a
// root folder, so absolute() and lexically_normal() turn it into \server\share on the current
// drive.
std::optional<std::filesystem::path> AbsoluteHostPath(const std::filesystem::path& path,
                                                      std::string* error) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD size =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (size == 0) {
      *error = LastErrorText(GetLastError());
      return std::nullopt;
    }
    if (size < buffer.size()) {
      buffer.resize(size);
      return std::filesystem::path(buffer);
    }
    buffer.resize(size);  // the size needed, terminator included
  }
}

void RestrictNewFilesToOwner() {}

namespace {

FileStamp IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  FileStamp identity;
  if (!GetFileInformationByHandle(file, &info)) return identity;
  identity.file_id = (static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow) ^
                     static_cast<uint64_t>(info.dwVolumeSerialNumber) << 40;
  identity.size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  identity.modified_ns =
      static_cast<int64_t>(static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                           info.ftLastWriteTime.dwLowDateTime);
  return identity;
}

}  // namespace

std::optional<std::string> ReadHostFile(const std::filesystem::path& path, std::string* error,
                                        FileStamp* identity) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    *error = LastErrorText(GetLastError());
    return std::nullopt;
  }
  *identity = IdentityOf(file.get());
  std::string bytes;
  // Room for it at once: growing by doubling would hold a large file up to twice over.
  bytes.reserve(static_cast<size_t>(identity->size));
  char chunk[65536];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) {
      *error = LastErrorText(GetLastError());
      return std::nullopt;
    }
    if (read == 0) break;
    bytes.append(chunk, read);
  }
  return bytes;
}

bool HostFileUnchanged(const std::filesystem::path& path, const FileStamp& read) {
  FileHandle now(CreateFileW(path.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return now.ok() && IdentityOf(now.get()) == read;
}

size_t MaxPath() { return MAX_PATH; }

std::unique_ptr<Registry> MakeSystemRegistry() { return std::make_unique<Win32Registry>(); }

std::unique_ptr<FileSystem> MakeFileSystem(
    const std::vector<std::pair<char, std::filesystem::path>>& drives,
    const std::vector<std::string>& host_folders) {
  auto files = std::make_unique<Win32FileSystem>();
  if (drives.empty()) return files;
  // The tool's paths are code page 932, as the option's folder is (checked when it was read).
  std::vector<std::pair<char, std::string>> roots;
  for (const auto& [letter, folder] : drives) {
    roots.emplace_back(letter, Utf8ToCp932(HostPathToUtf8(folder)).value_or(""));
  }
  return std::make_unique<DriveLetterFileSystem>(std::move(files), std::move(roots), host_folders);
}

namespace {

// One user's hive with the machine's own keys: the registry of a run for that user.
class HiveRegistry : public UserRegistry {
 public:
  HiveRegistry(UserHive hive, std::string source)
      : hive_(std::move(hive)), registry_(hive_.root()), source_(std::move(source)) {}
  Registry* registry() override { return &registry_; }
  std::string Source() const override { return source_; }
  bool Release(std::string* error) override {
    LONG result = hive_.Release();
    if (result != ERROR_SUCCESS) *error = LastErrorText(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
  }

 private:
  UserHive hive_;
  Win32Registry registry_;
  std::string source_;
};

bool IsBusy(LONG result) {
  return result == ERROR_SHARING_VIOLATION || result == ERROR_LOCK_VIOLATION;
}

std::unique_ptr<UserRegistry> LoadHiveFile(const std::filesystem::path& file, bool writable,
                                           std::string* error, bool* busy) {
  UserHive hive;
  LONG result = hive.LoadFile(file.native(), writable);
  if (result != ERROR_SUCCESS) {
    *busy = IsBusy(result);
    *error = "cannot load " + HostPathToUtf8(file) + ": " + LastErrorText(result);
    return nullptr;
  }
  return std::make_unique<HiveRegistry>(std::move(hive), "the hive file " + HostPathToUtf8(file));
}

class SystemUserProfiles : public UserProfiles {
 public:
  bool List(std::vector<UserProfile>* users, std::string* error) override {
    std::vector<ProfileEntry> entries;
    if (LONG result = ListProfiles(&entries); result != ERROR_SUCCESS) {
      *error = LastErrorText(static_cast<DWORD>(result));
      return false;
    }
    for (const ProfileEntry& entry : entries) {
      users->push_back(
          {WideToUtf8(entry.name), WideToUtf8(entry.sid), std::filesystem::path(entry.folder)});
    }
    return true;
  }

  // The hive Windows has loaded for a user who is logged on; otherwise the profile's file.
  std::unique_ptr<UserRegistry> Open(const UserProfile& user, bool writable, std::string* error,
                                     bool* busy) override {
    UserHive hive;
    LONG result = hive.OpenLoaded(Utf8ToWide(user.sid), writable);
    if (result == ERROR_SUCCESS) {
      return std::make_unique<HiveRegistry>(std::move(hive), "HKEY_USERS\\" + user.sid);
    }
    if (result != ERROR_FILE_NOT_FOUND) {
      *busy = false;
      *error = "cannot open HKEY_USERS\\" + user.sid + ": " + LastErrorText(result);
      return nullptr;
    }
    return LoadHiveFile(user.folder / L"NTUSER.DAT", writable, error, busy);
  }
};

}  // namespace

std::unique_ptr<UserProfiles> MakeSystemUserProfiles() {
  return std::make_unique<SystemUserProfiles>();
}

std::unique_ptr<UserRegistry> OpenUserHive(const std::filesystem::path& file, bool writable,
                                           std::string* error, bool* busy) {
  return LoadHiveFile(file, writable, error, busy);
}

namespace {

// Set before the handler is installed and never changed after.
const std::wstring* interruption_log = nullptr;
const std::string* interruption_line = nullptr;
const std::string* interruption_stopping_text = nullptr;
const std::string* interruption_ended_text = nullptr;
RunProgress* interruption_stop = nullptr;
std::atomic<bool> interrupted{false};
// Set once the texts above are: before that there is no run to stop nor log to tell.
std::atomic<bool> interruption_noted{false};

BOOL WINAPI OnInterruption(DWORD event) {
  DWORD written = 0;
  // Before a run has begun there is nothing to stop or log; ended here with the documented code,
  // not by the system's default handler (0xC000013A on Windows, 0 under Wine, which a batch file
  // would read as success).
  if (!interruption_noted.load(std::memory_order_acquire)) {
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
  }
  // The first Ctrl-C or Ctrl-Break asks the run to stop between files; it then ends on its own.
  // The console closed gives the process a few seconds only: it is ended at once.
  if (interruption_stop != nullptr && !interrupted.exchange(true) &&
      (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)) {
    interruption_stop->RequestStop();
    // The handler runs on a thread of its own: the console's UTF-16 writing is safe there.
    WriteStderr(*interruption_stopping_text);
    return TRUE;
  }
  // Otherwise the run is ended at once, as a kill would, so that nothing follows the line. Every
  // file the run writes is replaced whole or recorded in its journal first, so nothing is left
  // half written that undo cannot take back.
  HANDLE file = CreateFileW(interruption_log->c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, interruption_line->data(), static_cast<DWORD>(interruption_line->size()),
              &written, nullptr);
    CloseHandle(file);
  }
  WriteStderr(*interruption_ended_text);
  TerminateProcess(GetCurrentProcess(), 130);
  return TRUE;
}

}  // namespace

void NoteInterruptionIn(const std::filesystem::path& log, std::string line, RunProgress* stop) {
  interruption_log = KeepForProcess(std::wstring(log.native()));
  interruption_line = KeepForProcess(std::move(line));
  interruption_stopping_text = KeepForProcess("kdr4tose-cli: " + Text(Msg::kStopping) + "\r\n");
  interruption_ended_text = KeepForProcess("kdr4tose-cli: " + Text(Msg::kNotFinished) + "\r\n");
  interruption_stop = stop;
  interruption_noted.store(true, std::memory_order_release);
}

int InterruptedExitCode() { return 130; }

}  // namespace kdr::cli

// The arguments as UTF-8, whatever the console's code page.
int main() {
  // From the start, so that no interruption ends the process with another code than 130.
  SetConsoleCtrlHandler(kdr::cli::OnInterruption, TRUE);
  int count = 0;
  LPWSTR* wide_args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (wide_args != nullptr) {
    for (int i = 0; i < count; ++i) args.push_back(kdr::WideToUtf8(wide_args[i]));
    LocalFree(wide_args);
  }
  if (args.empty()) args.emplace_back("kdr4tose-cli");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return kdr::cli::RunCli(static_cast<int>(argv.size()), argv.data());
}
