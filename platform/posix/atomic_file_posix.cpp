#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/posix/errno_codes.h"
#include "platform/posix/new_files.h"
#include "platform/posix/resolved_path.h"
#include "platform/posix/unique_fd.h"
#include "platform/swept_folders.h"
#include "platform/temp_file_name.h"

namespace fs = std::filesystem;

namespace kdr {
namespace {

bool WriterIsGone(uint64_t pid) {
  if (pid == static_cast<uint64_t>(::getpid()) || pid > 0x7fffffff) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  // A process killed and not yet waited for by its parent is still there as a zombie, and
  // writes nothing more. Its state follows the last ')' of /proc/<pid>/stat (the name before
  // it may hold any character). Where there is no /proc, the process counts as running. (A
  // writer's main thread never ends before its others: the tool's own threads are joined.)
  std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat_file, line)) return false;
  size_t end = line.rfind(')');
  if (end == std::string::npos || end + 2 >= line.size()) return false;
  return line[end + 2] == 'Z' || line[end + 2] == 'X';
}

FileResult WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailFromErrno("write", "");
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return FileResult::Ok();
}

}  // namespace

fs::path TempPathIn(const fs::path& folder) {
  return folder / NextTempFileName(static_cast<uint64_t>(::getpid()));
}

void RemoveStaleTempFiles(const fs::path& folder) {
  // Read straight from the listing: this runs for every folder a copy writes into, and nearly
  // every name in it is no temporary file.
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::optional<uint64_t> writer = TempFileWriter(entry->d_name);
    if (writer && WriterIsGone(*writer)) stale.emplace_back(entry->d_name);
  }
  dir.reset();
  for (const std::string& name : stale) {
    // A folder of that name is a Windows folder copy's staging folder, which a store carried
    // from Windows may hold; remove_all takes a link away without following it.
    std::error_code removed;
    fs::remove_all(folder / name, removed);
  }
}

FileResult WriteFileAtomically(const fs::path& path, std::string_view bytes) {
  return WriteFileAtomically(path, [bytes](const PutBytes& put) { return put(bytes); });
}

FileResult WriteFileAtomically(const fs::path& path, const ProduceBytes& produce,
                               const AtomicWriteOptions& options) {
  if (path.filename().empty()) return FileResult::Fail(kAccessDenied, "open", "");
  fs::path target = options.through_links ? ResolvedPath(path) : path;
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  if (FirstSweepOf(folder)) RemoveStaleTempFiles(folder);
  struct stat old {};
  bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && S_ISDIR(old.st_mode)) return FileResult::Fail(kAccessDenied, "open", "");
  fs::path temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 100 && !fd.ok(); ++attempt) {
    temp = TempPathIn(folder);
    fd = UniqueFd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.ok() && errno != EEXIST) return FailFromErrno("open", "");
  }
  if (!fd.ok()) return FileResult::Fail(kAlreadyExists, "open", "");
  FileResult result = FileResult::Ok();
  bool produced = produce([&](std::string_view piece) {
    if (result) result = WriteAll(fd.get(), piece);
    return result.ok();
  });
  if (result && !produced) result = FileResult::Fail(kCancelled, "write", "");
  if (result && existed && options.keep_owner &&
      (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
    result = FailFromErrno("fchown", "");
  }
  if (result && existed && !options.keep_owner && options.try_keep_owner &&
      (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    static_cast<void>(::fchown(fd.get(), old.st_uid, old.st_gid));
  }
  if (result && existed && ::fchmod(fd.get(), old.st_mode & 07777) != 0) {
    result = FailFromErrno("fchmod", "");
  }
  if (result && ::fsync(fd.get()) != 0) result = FailFromErrno("fsync", "");
  if (!fd.Close() && result) result = FailFromErrno("close", "");
  if (result && options.unchanged && !options.unchanged(target)) {
    result = FileResult::Fail(kCancelled, "rename", "");
  }
  // The rename is the moment the new content appears, whole.
  if (result && ::rename(temp.c_str(), target.c_str()) != 0) {
    result = FailFromErrno("rename", "");
  }
  if (!result) {
    ::unlink(temp.c_str());
    return result;
  }
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) ::fsync(dir.get());  // the rename itself on the disk; best effort
  return result;
}

FileResult WriteNewFile(const fs::path& path, std::string_view bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.ok()) return FailFromErrno("open", "");
  FileResult result = WriteAll(fd.get(), bytes);
  if (!fd.Close() && result) result = FailFromErrno("close", "");
  if (!result) ::unlink(path.c_str());
  return result;
}

FileResult WriteOutFileSystemOf(const fs::path& folder) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.ok()) return FailFromErrno("open", "");
  // One flush for the whole file system: the files' data and their folder entries alike.
  if (::syncfs(dir.get()) != 0) return FailFromErrno("syncfs", "");
  return FileResult::Ok();
}

FileResult AppendToFile(const fs::path& path, std::string_view bytes) {
  // O_NONBLOCK and the check after it: a FIFO put where the file was is refused at once; a
  // plain open would wait for a reader, and the run would hang.
  UniqueFd fd(::open(path.c_str(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (!fd.ok()) return FailFromErrno("open", "");
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return FailFromErrno("fstat", "");
  if (!S_ISREG(st.st_mode)) return FileResult::Fail(kAccessDenied, "open", "");
  FileResult result = WriteAll(fd.get(), bytes);
  if (result && ::fsync(fd.get()) != 0) result = FailFromErrno("fsync", "");
  if (!fd.Close() && result) result = FailFromErrno("close", "");
  return result;
}

}  // namespace kdr
