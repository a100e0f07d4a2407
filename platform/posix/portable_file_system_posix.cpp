#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/cp932.h"
#include "platform/posix/errno_codes.h"
#include "platform/posix/folder_copy.h"
#include "platform/posix/new_files.h"
#include "platform/posix/portable_file_system.h"
#include "platform/posix/stat_stamp.h"
#include "platform/posix/unique_fd.h"
#include "platform/temp_file_name.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace kdr {
namespace {

// Every folder of `host` exists afterwards, and none is reached through a link that leads out
// of `drive_root` (when there is one).
FileResult EnsureFolder(const HostLocation& host, std::string_view tool_path) {
  std::error_code ec;
  if (!host.drive_root.empty() && !ResolvesInside(host.path, host.drive_root)) {
    return FileResult::Fail(kCantAccessFile, "mkdir", tool_path);
  }
  if (fs::is_directory(host.path, ec)) return FileResult::Ok();
  fs::create_directories(host.path, ec);
  // The check has its own error code: the creation's (a read-only drive, say) is the cause.
  std::error_code check;
  if (fs::is_directory(host.path, check)) return FileResult::Ok();
  return ec ? FailFromErrno(ec.value(), "mkdir", tool_path)
            : FileResult::Fail(kAlreadyExists, "mkdir", tool_path);
}

// Adds the files below `folder`, open as `folder_fd` (which it closes), to `files` and, when
// `folders` is given, its subfolders there, as `prefix` + their names; with `stamps`, each
// file's stamp goes there too. A failure names the folder as `tool_folder` + `prefix`. The
// entry types come from the listing itself: no stat a file, unless its stamp is asked for.
FileResult ListInto(const fs::path& folder, int folder_fd, std::string_view tool_folder,
                    const std::string& prefix, std::vector<std::string>* files,
                    std::vector<std::string>* folders,
                    std::vector<std::optional<FileStamp>>* stamps) {
  auto fail = [&](int error, std::string_view call) {
    return FailFromErrno(error, call, std::string(tool_folder) + prefix);
  };
  DIR* dir = ::fdopendir(folder_fd);
  if (!dir) {
    const int error = errno;
    ::close(folder_fd);
    return fail(error, "opendir");
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (!entry) {
      if (errno != 0) return fail(errno, "readdir");
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || IsTempFileName(name)) continue;
    unsigned char type = entry->d_type;
    struct stat st {};
    const bool stat_it = type == DT_UNKNOWN || (stamps && type == DT_REG);
    if (stat_it) {
      if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return fail(errno, "lstat");
      }
      type = S_ISLNK(st.st_mode)   ? DT_LNK
             : S_ISDIR(st.st_mode) ? DT_DIR
             : S_ISREG(st.st_mode) ? DT_REG
                                   : DT_UNKNOWN;
    }
    if (type == DT_DIR) {
      std::string tool_name = ToolName(fs::path(name));
      if (folders) folders->push_back(prefix + tool_name);
      const std::string below = prefix + tool_name + "\\";
      // Opened by its whole path, as every other call reaches it: a folder too deep for those
      // is not listed either.
      const fs::path sub_path = folder / entry->d_name;
      int sub = ::open(sub_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) return FailFromErrno(errno, "opendir", std::string(tool_folder) + below);
      if (FileResult listed = ListInto(sub_path, sub, tool_folder, below, files, folders, stamps);
          !listed) {
        return listed;
      }
    } else if (type == DT_REG) {
      files->push_back(prefix + ToolName(fs::path(name)));
      if (stamps) stamps->push_back(StampOf(st));
    }
  }
  return FileResult::Ok();
}

// ListInto from the folder `host`, which CheckFolderToList found.
FileResult ListFrom(const fs::path& host, std::string_view tool_folder,
                    std::vector<std::string>* files, std::vector<std::string>* folders,
                    std::vector<std::optional<FileStamp>>* stamps) {
  int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FailFromErrno(errno, "opendir", tool_folder);
  return ListInto(host, fd, tool_folder, "", files, folders, stamps);
}

// The folder a listing starts from: missing (3), a file (267), or one that cannot be reached.
FileResult CheckFolderToList(const HostLocation& host, std::string_view folder) {
  // Without its trailing separator, so that a file is found as the file it is.
  std::string p = host.path.string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) {
    FileResult failed = FailFromErrno("stat", folder);
    if (failed.code == kNotFound) failed.code = kPathNotFound;
    return failed;
  }
  if (!S_ISDIR(st.st_mode)) return FileResult::Fail(kDirectoryName, "opendir", folder);
  return FileResult::Ok();
}

// Adds up the files ListInto would list and their sizes, from one descriptor per folder: a
// stat of each file by its full path through the drive map costs more than the count is worth.
void CountInto(int folder_fd, uint64_t* files, uint64_t* bytes) {
  DIR* dir = ::fdopendir(folder_fd);
  if (!dir) {
    ::close(folder_fd);
    return;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == ".." || IsTempFileName(name)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      int sub =
          ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) CountInto(sub, files, bytes);
    } else if (S_ISREG(st.st_mode)) {
      ++*files;
      *bytes += static_cast<uint64_t>(st.st_size);
    }
  }
}

// Whether the folder open as `folder_fd` (which it closes) and those below it hold only plain
// files and folders; the types come from the listing, a stat only where it gives none.
bool OnlyFilesAndFoldersIn(int folder_fd) {
  DIR* dir = ::fdopendir(folder_fd);
  if (!dir) {
    ::close(folder_fd);
    return false;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (!entry) return errno == 0;
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_REG) continue;
    if (type != DT_DIR) return false;
    int sub =
        ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0 || !OnlyFilesAndFoldersIn(sub)) return false;
  }
}

}  // namespace

void PortableFileSystem::MapDrive(char letter, fs::path folder) {
  drives_.Map(letter, std::move(folder));
}

std::optional<fs::path> PortableFileSystem::HostPath(std::string_view path) const {
  HostLocation host;
  if (!drives_.Locate(path, "", &host)) return std::nullopt;
  return host.path;
}

FileResult PortableFileSystem::CreateFolder(std::string_view path) {
  HostLocation host;
  if (FileResult located = drives_.Locate(path, "mkdir", &host); !located) {
    return located;
  }
  std::string p = host.path.string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (!host.drive_root.empty() && !ResolvesInside(fs::path(p).parent_path(), host.drive_root)) {
    return FileResult::Fail(kCantAccessFile, "mkdir", path);
  }
  if (::mkdir(p.c_str(), 0777) != 0) return FailFromErrno("mkdir", path);
  return FileResult::Ok();
}

FileResult PortableFileSystem::MakeSurePathExists(std::string_view path) {
  size_t last = FindLastCp932Separator(path);
  // Nothing before the last backslash (or no backslash): nothing to create.
  if (last == std::string_view::npos) return FileResult::Ok();
  std::string_view folder = path.substr(0, last + 1);
  HostLocation host;
  if (FileResult located = drives_.Locate(folder, "mkdir", &host); !located) {
    return located;
  }
  return EnsureFolder(host, folder);
}

Result<EntryKind> PortableFileSystem::Lookup(std::string_view path) {
  HostLocation host;
  if (FileResult located = drives_.Locate(path, "stat", &host); !located) {
    if (IsNotFound(located)) return EntryKind::kNone;
    return located;
  }
  struct stat st {};
  if (::stat(host.path.c_str(), &st) != 0) {
    // Nothing there, or a file where a folder of the path would be: nothing there either.
    if (errno == ENOENT || errno == ENOTDIR) return EntryKind::kNone;
    return FailFromErrno("stat", path);
  }
  return S_ISDIR(st.st_mode) ? EntryKind::kFolder : EntryKind::kFile;
}

FileResult PortableFileSystem::IdentifyFolder(std::string_view path, FolderId* id) {
  HostLocation host;
  if (FileResult located = drives_.Locate(path, "open", &host); !located) return located;
  // A drive whose folder is gone is a drive that cannot be reached, as a Windows drive letter
  // whose medium is out.
  struct stat st {};
  if (!host.drive_root.empty() && ::stat(host.drive_root.c_str(), &st) != 0) {
    return FileResult::Fail(kNotReady, "open", path);
  }
  if (::stat(host.path.c_str(), &st) != 0) return FailFromErrno("stat", path);
  if (!S_ISDIR(st.st_mode)) return FileResult::Fail(kDirectoryName, "open", path);
  // A folder reached through a link that leads off its drive is one the copies refuse to use.
  if (!host.drive_root.empty() && !ResolvesInside(host.path, host.drive_root)) {
    return FileResult::Fail(kCantAccessFile, "open", path);
  }
  *id = FolderId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return FileResult::Ok();
}

FileResult PortableFileSystem::CopyFolder(std::string_view destination, std::string_view source,
                                          OwnerWindow* /*owner*/, CopyObserver* observer) {
  std::string tool_source(source);
  if (tool_source.empty() || FindLastCp932Separator(tool_source) + 1 != tool_source.size()) {
    tool_source.push_back('\\');
  }
  std::string tool_destination(destination);
  if (tool_destination.empty() ||
      FindLastCp932Separator(tool_destination) + 1 != tool_destination.size()) {
    tool_destination.push_back('\\');
  }
  auto refuse = [&](FileResult why) {
    if (observer) observer->CopyFailed(tool_source, why);
    return why;
  };
  HostLocation from;
  if (FileResult located = drives_.Locate(source, "opendir", &from); !located) {
    return refuse(located);
  }
  std::error_code ec;
  if (!fs::is_directory(from.path, ec)) {
    return FileResult::Fail(kPathNotFound, "opendir", source);
  }
  // A source reached through a link that leads off its drive is not read.
  if (!from.drive_root.empty() && !ResolvesInside(from.path, from.drive_root)) {
    return refuse(FileResult::Fail(kCantAccessFile, "opendir", source));
  }
  HostLocation to;
  if (FileResult located = drives_.Locate(destination, "mkdir", &to); !located) {
    return refuse(located);
  }
  fs::path real_source = fs::canonical(from.path, ec);
  if (ec) return refuse(FileResult::Fail(kPathNotFound, "opendir", source));
  // A copy into itself would never end (or, the other way round, copy over what it reads).
  fs::path real_destination = fs::weakly_canonical(to.path, ec);
  if (!ec && (IsInside(real_destination, real_source) || IsInside(real_source, real_destination))) {
    return refuse(FileResult::Fail(kInvalidParam, "CopyFolder", destination));
  }
  // The folders the destination lies in must stay on its drive; the copy checks the rest.
  fs::path limit = to.drive_root;
  if (limit.empty()) {
    limit = to.path;
    while (!limit.empty() && !fs::exists(limit, ec)) limit = limit.parent_path();
  } else if (!ResolvesInside(to.path, to.drive_root)) {
    return refuse(FileResult::Fail(kCantAccessFile, "mkdir", destination));
  }
  FolderCopyJob job{from.path,   to.path, tool_source, tool_destination,
                    real_source, limit,   observer};
  return CopyFolderTree(job);
}

FileResult PortableFileSystem::LocateFileToWrite(std::string_view path, HostLocation* host) const {
  if (FileResult located = drives_.Locate(path, "open", host); !located) return located;
  if (FindLastCp932Separator(path) + 1 == path.size() || host->path.filename().empty()) {
    return FileResult::Fail(kAccessDenied, "open", path);
  }
  if (!host->drive_root.empty() && !ResolvesInside(host->path.parent_path(), host->drive_root)) {
    return FileResult::Fail(kCantAccessFile, "open", path);
  }
  return FileResult::Ok();
}

FileResult PortableFileSystem::WriteFileAtomically(std::string_view path, std::string_view bytes) {
  return WriteFileInPieces(path, [bytes](const PutBytes& put) { return put(bytes); });
}

FileResult PortableFileSystem::WriteFileInPieces(std::string_view path,
                                                 const ProduceBytes& produce) {
  HostLocation host;
  if (FileResult located = LocateFileToWrite(path, &host); !located) return located;
  // A file replaced (a data file undo restores, say) keeps its owner where it can.
  AtomicWriteOptions keep;
  keep.try_keep_owner = true;
  FileResult written = kdr::WriteFileAtomically(host.path, produce, keep);
  if (!written) written.path = std::string(path);
  return written;
}

FileResult PortableFileSystem::WriteNewFile(std::string_view path, std::string_view bytes) {
  HostLocation host;
  if (FileResult located = LocateFileToWrite(path, &host); !located) return located;
  FileResult written = kdr::WriteNewFile(host.path, bytes);
  if (!written) written.path = std::string(path);
  return written;
}

FileResult PortableFileSystem::WriteNewCopy(std::string_view path, std::string_view from) {
  HostLocation host;
  if (FileResult located = LocateFileToWrite(path, &host); !located) return located;
  // Only a plain file gets a second name: a link would name whatever it leads to later.
  std::optional<fs::path> source = HostPath(from);
  struct stat st {};
  if (source && ::lstat(source->c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    if (::link(source->c_str(), host.path.c_str()) == 0) return FileResult::Ok();
    if (errno == EEXIST) return FailFromErrno("link", path);
    // Another file system, or one (or a policy) that allows no second name: a copy.
  }
  return FileSystem::WriteNewCopy(path, from);
}

FileResult PortableFileSystem::WriteOutNewFiles(std::string_view folder) {
  HostLocation host;
  if (FileResult located = drives_.Locate(folder, "fsync", &host); !located) {
    return located;
  }
  FileResult written = WriteOutFileSystemOf(host.path);
  if (!written) written.path = std::string(folder);
  return written;
}

FileResult PortableFileSystem::AppendToFile(std::string_view path, std::string_view bytes) {
  HostLocation host;
  if (FileResult located = drives_.Locate(path, "open", &host); !located) return located;
  FileResult appended = kdr::AppendToFile(host.path, bytes);
  if (!appended) appended.path = std::string(path);
  return appended;
}

Result<FileStamp> PortableFileSystem::Stamp(std::string_view path) {
  // Stamps are taken twice a file when a run keeps files: the path as written first, as it
  // names the file nearly always, and the names looked up only when nothing is there.
  struct stat st {};
  HostLocation host;
  bool found = drives_.LocateAsWritten(path, "stat", &host) && ::stat(host.path.c_str(), &st) == 0;
  if (!found) {
    if (FileResult located = drives_.Locate(path, "stat", &host); !located) return located;
    if (::stat(host.path.c_str(), &st) != 0) return FailFromErrno("stat", path);
  }
  if (!S_ISREG(st.st_mode)) return FileResult::Fail(kAccessDenied, "stat", path);
  return StampOf(st);
}

namespace {

class FdReader : public FileReader {
 public:
  // `size` is the file's size when it was opened: a small file gets a buffer its size (and one
  // byte to see its end), not 1 MB mapped and unmapped for each of thousands of files.
  FdReader(UniqueFd fd, const struct stat& st, std::string path)
      : FileReader(static_cast<uint64_t>(st.st_size), StampOf(st)),
        fd_(std::move(fd)),
        piece_(PieceFor(static_cast<uint64_t>(st.st_size))),
        path_(std::move(path)) {}
  FileResult ReadPieces(const std::function<void(std::string_view)>& sink) override {
    // One buffer for the thread's reads, one after another: the store check reads thousands of
    // small files, and a fresh buffer for each cost a quarter of its reading. A read begun
    // inside another's sink gets its own.
    thread_local std::vector<char> shared;
    thread_local bool shared_in_use = false;
    std::vector<char> own;
    std::vector<char>& buffer = shared_in_use ? own : shared;
    if (buffer.size() < piece_) buffer.resize(piece_);
    const bool took_shared = !shared_in_use;
    shared_in_use = true;
    struct Release {
      bool took;
      ~Release() {
        if (took) shared_in_use = false;
      }
    } release{took_shared};
    for (;;) {
      ssize_t n = ::read(fd_.get(), buffer.data(), piece_);
      if (n == 0) return FileResult::Ok();
      if (n < 0) {
        if (errno == EINTR) continue;
        return FailFromErrno("read", path_);
      }
      sink(std::string_view(buffer.data(), static_cast<size_t>(n)));
    }
  }

 private:
  static size_t PieceFor(uint64_t size) {
    constexpr uint64_t kPiece = 1 << 20;
    return static_cast<size_t>(size < kPiece ? size + 1 : kPiece);
  }

  UniqueFd fd_;
  size_t piece_;
  std::string path_;
};

}  // namespace

Result<std::unique_ptr<FileReader>> PortableFileSystem::OpenForReading(std::string_view path) {
  // O_NONBLOCK: a FIFO put where a file was is refused at once, not waited on for a writer
  // (it changes nothing for the reads of a regular file).
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  // As for a stamp: the path as written first, the names looked up only when nothing is there
  // (a copy's read-back opens two files for each one copied).
  HostLocation host;
  UniqueFd fd;
  if (drives_.LocateAsWritten(path, "open", &host))
    fd = UniqueFd(::open(host.path.c_str(), kFlags));
  if (!fd.ok()) {
    if (FileResult located = drives_.Locate(path, "open", &host); !located) return located;
    fd = UniqueFd(::open(host.path.c_str(), kFlags));
  }
  if (!fd.ok()) return FailFromErrno("open", path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return FailFromErrno("fstat", path);
  // As Windows answers: a folder is denied, anything but a file is a device.
  if (S_ISDIR(st.st_mode)) return FileResult::Fail(kAccessDenied, "open", path);
  if (!S_ISREG(st.st_mode)) return FileResult::Fail(kDeviceName, "open", path);
  return std::unique_ptr<FileReader>(
      std::make_unique<FdReader>(std::move(fd), st, std::string(path)));
}

FileResult PortableFileSystem::ListFiles(std::string_view folder, std::vector<std::string>* files) {
  HostLocation host;
  if (FileResult located = drives_.Locate(folder, "opendir", &host); !located) return located;
  if (FileResult there = CheckFolderToList(host, folder); !there) return there;
  files->clear();
  if (FileResult listed = ListFrom(host.path, folder, files, nullptr, nullptr); !listed) {
    return listed;
  }
  std::sort(files->begin(), files->end());
  return FileResult::Ok();
}

FileResult PortableFileSystem::ListFileStamps(std::string_view folder,
                                              std::vector<std::string>* files,
                                              std::vector<std::optional<FileStamp>>* stamps) {
  HostLocation host;
  if (FileResult located = drives_.Locate(folder, "opendir", &host); !located) return located;
  if (FileResult there = CheckFolderToList(host, folder); !there) return there;
  files->clear();
  stamps->clear();
  std::vector<std::string> names;
  std::vector<std::optional<FileStamp>> taken;
  if (FileResult listed = ListFrom(host.path, folder, &names, nullptr, &taken); !listed) {
    return listed;
  }
  // In ListFiles' order, each stamp with its name.
  std::vector<size_t> order(names.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return names[a] < names[b]; });
  files->reserve(order.size());
  stamps->reserve(order.size());
  for (size_t i : order) {
    files->push_back(std::move(names[i]));
    stamps->push_back(taken[i]);
  }
  return FileResult::Ok();
}

void PortableFileSystem::CountFiles(std::string_view folder, uint64_t* files, uint64_t* bytes) {
  auto host = HostPath(folder);
  if (!host) return;
  int fd = ::open(host->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) CountInto(fd, files, bytes);
}

bool PortableFileSystem::HoldsOnlyFilesAndFolders(std::string_view folder) {
  auto host = HostPath(folder);
  if (!host) return false;
  int fd = ::open(host->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd >= 0 && OnlyFilesAndFoldersIn(fd);
}

FileResult PortableFileSystem::ListFolders(std::string_view folder,
                                           std::vector<std::string>* folders) {
  HostLocation host;
  if (FileResult located = drives_.Locate(folder, "opendir", &host); !located) return located;
  if (FileResult there = CheckFolderToList(host, folder); !there) return there;
  folders->clear();
  std::vector<std::string> files;
  if (FileResult listed = ListFrom(host.path, folder, &files, folders, nullptr); !listed) {
    return listed;
  }
  std::sort(folders->begin(), folders->end());
  return FileResult::Ok();
}

FileResult PortableFileSystem::RemoveFile(std::string_view path) {
  HostLocation host;
  if (FileResult located = drives_.Locate(path, "unlink", &host); !located) return located;
  struct stat st {};
  if (::lstat(host.path.c_str(), &st) != 0) return FailFromErrno("lstat", path);
  // As DeleteFile answers for a folder.
  if (S_ISDIR(st.st_mode)) return FileResult::Fail(kAccessDenied, "unlink", path);
  if (::unlink(host.path.c_str()) != 0) return FailFromErrno("unlink", path);
  return FileResult::Ok();
}

void PortableFileSystem::RemoveFiles(const std::vector<std::string>& paths,
                                     std::vector<FileResult>* removed) {
  // Where the file system discards freed blocks as each file goes (ext4 mounted with
  // `discard`), an unlink waits milliseconds for the disk: `rm -rf` of 20 000 small files took
  // 70 s, four `rm` at a time 8.5 s. Each file's removal is independent of the others'.
  constexpr size_t kWorkers = 8;
  removed->assign(paths.size(), FileResult::Ok());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < paths.size();) (*removed)[i] = RemoveFile(paths[i]);
  };
  {
    std::vector<std::jthread> workers;
    const size_t extra = std::min(kWorkers, paths.size() / 16);
    for (size_t i = 1; i < extra; ++i) workers.emplace_back(work);
    work();
  }
}

FileResult PortableFileSystem::RemoveFolder(std::string_view path) {
  HostLocation host;
  if (FileResult located = drives_.Locate(path, "rmdir", &host); !located) return located;
  std::string p = host.path.string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  RemoveStaleTempFiles(p);
  if (::rmdir(p.c_str()) == 0) return FileResult::Ok();
  FileResult failed = FailFromErrno("rmdir", path);
  // A file of that name, not a folder above it that is a file: as Windows says, 267.
  struct stat st {};
  if (errno == ENOTDIR && ::lstat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    failed.code = kDirectoryName;
  }
  return failed;
}

FileResult PortableFileSystem::GetMetadata(std::string_view path, FileMetadata* metadata) {
  auto host = HostPath(path);
  if (!host) return FileResult::Fail(kPathNotFound, "stat", path);
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) return FailFromErrno("stat", path);
  if (!S_ISREG(st.st_mode)) return FileResult::Fail(kAccessDenied, "stat", path);
  *metadata = FileMetadata{};
  metadata->kind = FileMetadata::Kind::kPosix;
  metadata->mode = static_cast<uint32_t>(st.st_mode & 07777);
  metadata->owner = static_cast<uint32_t>(st.st_uid);
  metadata->group = static_cast<uint32_t>(st.st_gid);
  metadata->modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return FileResult::Ok();
}

FileResult PortableFileSystem::SetMetadata(std::string_view path, const FileMetadata& metadata,
                                           unsigned* not_set) {
  *not_set = MetadataParts(metadata);
  if (metadata.kind != FileMetadata::Kind::kPosix) {
    return FileResult::Fail(kNotSupported, "chmod", path);
  }
  auto host = HostPath(path);
  if (!host) return FileResult::Fail(kPathNotFound, "chmod", path);
  // Through one descriptor, and never through a link put in the file's place.
  UniqueFd fd(::open(host->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0) return FailFromErrno("open", path);
  if (!S_ISREG(st.st_mode)) return FileResult::Fail(kAccessDenied, "chmod", path);
  *not_set = 0;
  FileResult first = FileResult::Ok();
  auto fail = [&](unsigned part, std::string_view call) {
    *not_set |= part;
    if (first) first = FailFromErrno(call, path);
  };
  uid_t owner = static_cast<uid_t>(metadata.owner);
  gid_t group = static_cast<gid_t>(metadata.group);
  // The owner first: giving a file away clears its set-id bits, which the mode then sets.
  if ((st.st_uid != owner || st.st_gid != group) && ::fchown(fd.get(), owner, group) != 0) {
    // One who may not give the file away may still give it one of the own groups.
    if (st.st_uid != owner) fail(kMetadataOwner, "fchown");
    if (st.st_gid != group && ::fchown(fd.get(), static_cast<uid_t>(-1), group) != 0) {
      fail(kMetadataGroup, "fchown");
    }
  }
  if (::fchmod(fd.get(), static_cast<mode_t>(metadata.mode & 07777)) != 0) {
    fail(kMetadataMode, "fchmod");
  }
  // A time before 1970 counts whole seconds down and nanoseconds up.
  int64_t seconds = metadata.modified_ns / 1000000000;
  int64_t nanoseconds = metadata.modified_ns % 1000000000;
  if (nanoseconds < 0) {
    --seconds;
    nanoseconds += 1000000000;
  }
  struct timespec times[2] = {{0, UTIME_OMIT},
                              {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
  if (::futimens(fd.get(), times) != 0) fail(kMetadataTime, "futimens");
  return first;
}

void PortableFileSystem::RemoveLeftovers(std::string_view folder) {
  if (auto host = HostPath(folder)) RemoveStaleTempFiles(*host);
}

}  // namespace kdr
