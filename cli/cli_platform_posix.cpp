#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#include <signal.h>
#endif
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "cli/cli_platform.h"
#include "cli/kept_for_process.h"
#include "cli/user_profiles.h"
#include "platform/posix/portable_file_system.h"
#include "platform/posix/unique_fd.h"

namespace kdr::cli {
namespace {

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report it
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

void WriteHostStdout(std::string_view text) { WriteAll(STDOUT_FILENO, text); }
void WriteStderr(std::string_view text) { WriteAll(STDERR_FILENO, text); }

Language UserLanguage() {
  return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<std::filesystem::path> ExecutableFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return std::nullopt;
  return exe.parent_path();
}

std::filesystem::path HostPathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::string(utf8));
}

std::string HostPathToUtf8(const std::filesystem::path& path) { return path.string(); }

std::optional<std::filesystem::path> AbsoluteHostPath(const std::filesystem::path& path,
                                                      std::string* error) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) {
    *error = ec.message();
    return std::nullopt;
  }
  return absolute.lexically_normal();
}

void RestrictNewFilesToOwner() { ::umask(077); }

namespace {

FileStamp IdentityOf(const struct stat& st) {
  FileStamp identity;
  identity.file_id = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
  identity.size = static_cast<uint64_t>(st.st_size);
  identity.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return identity;
}

}  // namespace

std::optional<std::string> ReadHostFile(const std::filesystem::path& path, std::string* error,
                                        FileStamp* identity) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    *error = std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "not a regular file";
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  *identity = IdentityOf(st);
  return bytes;
}

bool HostFileUnchanged(const std::filesystem::path& path, const FileStamp& read) {
  struct stat now {};
  return ::stat(path.c_str(), &now) == 0 && IdentityOf(now) == read;
}

size_t MaxPath() { return 4096; }

std::unique_ptr<Registry> MakeSystemRegistry() { return nullptr; }

std::unique_ptr<UserProfiles> MakeSystemUserProfiles() { return nullptr; }

std::unique_ptr<UserRegistry> OpenUserHive(const std::filesystem::path&, bool, std::string* error,
                                           bool* busy) {
  *busy = false;
  *error = "a hive is loaded by Windows only";
  return nullptr;
}

// A host path has no drive letter: the host's own folders are never on a mapped drive.
std::unique_ptr<FileSystem> MakeFileSystem(
    const std::vector<std::pair<char, std::filesystem::path>>& drives,
    const std::vector<std::string>&) {
  auto files = std::make_unique<PortableFileSystem>();
  for (const auto& [letter, folder] : drives) files->MapDrive(letter, folder);
  return files;
}

namespace {

// Set before the handlers are installed and never changed after: the handler reads only these.
const std::string* interruption_log = nullptr;
const std::string* interruption_line = nullptr;
RunProgress* interruption_stop = nullptr;
const std::string* interruption_stopping_text = nullptr;
const std::string* interruption_ended_text = nullptr;
volatile sig_atomic_t interruption_signal = 0;

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written <= 0) return;
    data += written;
    size -= static_cast<size_t>(written);
  }
}

// Only calls that are safe in a signal handler (the stop request is a lock-free atomic store).
void OnInterruption(int signal_number) {
  if (interruption_stop != nullptr && interruption_signal == 0) {
    interruption_signal = signal_number;
    interruption_stop->RequestStop();
    WriteAll(STDERR_FILENO, interruption_stopping_text->data(), interruption_stopping_text->size());
    return;
  }
  int fd = open(interruption_log->c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    WriteAll(fd, interruption_line->data(), interruption_line->size());
    close(fd);
  }
  WriteAll(STDERR_FILENO, interruption_ended_text->data(), interruption_ended_text->size());
  _exit(128 + signal_number);
}

}  // namespace

void NoteInterruptionIn(const std::filesystem::path& log, std::string line, RunProgress* stop) {
  interruption_log = KeepForProcess(std::string(log.native()));
  interruption_line = KeepForProcess(std::move(line));
  interruption_stopping_text = KeepForProcess("kdr4tose-cli: " + Text(Msg::kStopping) + "\n");
  interruption_ended_text = KeepForProcess("kdr4tose-cli: " + Text(Msg::kNotFinished) + "\n");
  interruption_stop = stop;
  struct sigaction action {};
  action.sa_handler = OnInterruption;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

int InterruptedExitCode() {
  return 128 + (interruption_signal != 0 ? static_cast<int>(interruption_signal) : SIGINT);
}

}  // namespace kdr::cli

#include "cli/cli_app.h"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Buffers of 1 MB and more (a file's text, a large value) are mapped from the system and given
  // back whole when freed. By default glibc raises this threshold to the size of each such
  // buffer freed, so that the next ones come from the heap, where a freed one stays a hole that
  // a slightly larger one does not fit: a 20 MB value then cost 80 MB instead of 60.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  return kdr::cli::RunCli(argc, argv);
}
