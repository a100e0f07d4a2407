#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "cli/cli_platform.h"
#include "platform/portable/portable_file_system.h"

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
