#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "cli/cli_platform.h"
#include "platform/posix/portable_file_system.h"

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

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

void WriteStdout(std::string_view text) { WriteAll(STDOUT_FILENO, text); }
void WriteStderr(std::string_view text) { WriteAll(STDERR_FILENO, text); }

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

std::optional<std::string> ReadHostFile(const std::filesystem::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "read error";
    return std::nullopt;
  }
  return bytes;
}

bool WriteHostFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                             std::string* error) {
  struct stat old_stat {};
  mode_t mode = 0600;
  if (::stat(path.c_str(), &old_stat) == 0) mode = old_stat.st_mode & 07777;
  std::filesystem::path temp = path;
  temp += ".kdr4tose-XXXXXX";
  std::string temp_name = temp.string();
  FileDescriptor fd(::mkstemp(temp_name.data()));
  if (fd.get() < 0) {
    *error = std::string("cannot create a temporary file beside it: ") + std::strerror(errno);
    return false;
  }
  auto fail = [&](const char* what) {
    *error = std::string(what) + ": " + std::strerror(errno);
    fd.Close();
    ::unlink(temp_name.c_str());
    return false;
  };
  std::string_view rest = bytes;
  while (!rest.empty()) {
    ssize_t written = ::write(fd.get(), rest.data(), rest.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail("write");
    }
    rest.remove_prefix(static_cast<size_t>(written));
  }
  if (::fchmod(fd.get(), mode) != 0) return fail("chmod");
  if (::fsync(fd.get()) != 0) return fail("fsync");
  if (!fd.Close()) {
    *error = std::string("close: ") + std::strerror(errno);
    ::unlink(temp_name.c_str());
    return false;
  }
  if (::rename(temp_name.c_str(), path.c_str()) != 0) {
    *error = std::string("rename: ") + std::strerror(errno);
    ::unlink(temp_name.c_str());
    return false;
  }
  return true;
}

size_t MaxPath() { return 4096; }

std::unique_ptr<Registry> MakeSystemRegistry() { return nullptr; }

std::unique_ptr<FileSystem> MakeFileSystem(
    const std::vector<std::pair<char, std::filesystem::path>>& drives) {
  auto files = std::make_unique<PortableFileSystem>();
  for (const auto& [letter, folder] : drives) files->MapDrive(letter, folder);
  return files;
}

}  // namespace kdr::cli

#include "cli/cli_app.h"

int main(int argc, char** argv) { return kdr::cli::RunCli(argc, argv); }
