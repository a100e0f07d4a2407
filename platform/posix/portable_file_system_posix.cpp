#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "platform/cp932.h"
#include "platform/posix/portable_file_system.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace kdr {
namespace {

// Owns one POSIX file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int Close() {
    int r = 0;
    if (fd_ >= 0) r = ::close(fd_);
    fd_ = -1;
    return r;
  }

 private:
  int fd_;
};

std::atomic<unsigned> temp_counter{0};

}  // namespace

// A temporary name in `folder` that no other writer of this process or another one uses.
fs::path TempPathIn(const fs::path& folder) {
  return folder / (".kdr4tose-" + std::to_string(::getpid()) + "-" +
                   std::to_string(temp_counter.fetch_add(1)) + ".tmp");
}

namespace {

// True for a temporary file of ours whose writer is gone: a run that was killed between
// writing a file and renaming it into place leaves one behind.
bool IsStaleTempFile(const fs::path& name) {
  std::string text = name.string();
  constexpr std::string_view kPrefix = ".kdr4tose-";
  constexpr std::string_view kSuffix = ".tmp";
  if (text.size() <= kPrefix.size() + kSuffix.size() || !text.starts_with(kPrefix) ||
      !text.ends_with(kSuffix)) {
    return false;
  }
  size_t dash = text.find('-', kPrefix.size());
  if (dash == std::string::npos || dash == kPrefix.size()) return false;
  long pid = 0;
  for (size_t i = kPrefix.size(); i < dash; ++i) {
    if (text[i] < '0' || text[i] > '9' || pid > 100000000) return false;
    pid = pid * 10 + (text[i] - '0');
  }
  if (pid <= 0 || pid == ::getpid()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

// Removes what killed runs left behind in `folder`, so it neither piles up nor is copied on.
void RemoveStaleTempFiles(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (IsStaleTempFile(it->path().filename())) fs::remove(it->path(), ec);
  }
}

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the bytes of `in` to `out`: in the kernel when it can, else through a buffer.
bool CopyBytes(int in, int out, uint64_t size, std::string* error) {
  uint64_t left = size;
  while (left > 0) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, left, 0);
    if (n > 0) {
      left -= static_cast<uint64_t>(n);
      continue;
    }
    if (n == 0) break;  // the file shrank while copying
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    *error = std::strerror(errno);
    return false;
  }
  // Whatever copy_file_range did not take (or a file that grew), copied the plain way. The
  // buffer is not cleared: usually the first read finds the end at once.
  constexpr size_t kBufferSize = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (;;) {
    ssize_t n = ::read(in, buffer.get(), kBufferSize);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = std::strerror(errno);
      return false;
    }
    if (!WriteAll(out, buffer.get(), static_cast<size_t>(n))) {
      *error = std::strerror(errno);
      return false;
    }
  }
}

struct CopyContext {
  fs::path source_root;  // canonical, to tell links that lead out of the tree
  CopyObserver* observer;
  int failures = 0;

  void Fail(const std::string& tool_path, const std::string& why) {
    ++failures;
    if (observer) observer->CopyFailed(tool_path, why);
  }
};

std::string ToolName(const fs::path& name) {
  std::string utf8 = name.string();
  if (auto cp = Utf8ToCp932(utf8)) return *cp;
  return utf8;
}

bool IsInside(const fs::path& candidate, const fs::path& root) {
  auto c = candidate.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++c) {
    if (c == candidate.end() || *c != *r) return false;
  }
  return true;
}

// Replaces `target` by a copy of the regular file `source`, keeping its times and mode.
bool CopyOneFile(const fs::path& source, const fs::path& target, uint64_t* bytes,
                 std::string* error) {
  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!in.ok() || ::fstat(in.get(), &st) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  fs::path temp = TempPathIn(target.parent_path());
  Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
  if (!out.ok()) {
    *error = std::strerror(errno);
    return false;
  }
  bool ok = CopyBytes(in.get(), out.get(), static_cast<uint64_t>(st.st_size), error);
  if (ok) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    if (out.Close() != 0) {
      *error = std::strerror(errno);
      ok = false;
    }
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    *error = std::strerror(errno);
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  *bytes = static_cast<uint64_t>(st.st_size);
  return ok;
}

bool EnsureFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return true;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

void CopyEntries(const fs::path& source, const fs::path& destination,
                 const std::string& tool_source, CopyContext* ctx) {
  std::error_code ec;
  fs::directory_iterator it(source, ec);
  if (ec) {
    ctx->Fail(tool_source, ec.message());
    return;
  }
  RemoveStaleTempFiles(destination);
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      ctx->Fail(tool_source, ec.message());
      return;
    }
    const fs::path& from = it->path();
    if (IsStaleTempFile(from.filename())) continue;
    fs::path to = destination / from.filename();
    std::string tool_from = tool_source + ToolName(from.filename());
    fs::file_status status = it->symlink_status(ec);
    if (ec) {
      ctx->Fail(tool_from, ec.message());
      continue;
    }
    if (fs::is_symlink(status)) {
      // A link is never followed out of the tree; one that stays inside is kept as a link.
      fs::path resolved = fs::weakly_canonical(from, ec);
      if (ec || !IsInside(resolved, ctx->source_root) || !fs::exists(resolved, ec)) {
        ctx->Fail(tool_from, "symbolic link leads outside the source folder; not followed");
        continue;
      }
      fs::path link_target = fs::read_symlink(from, ec);
      if (ec || !EnsureFolder(destination)) {
        ctx->Fail(tool_from, ec ? ec.message() : "cannot create the destination folder");
        continue;
      }
      fs::remove(to, ec);
      fs::create_symlink(link_target, to, ec);
      if (ec) ctx->Fail(tool_from, ec.message());
      continue;
    }
    if (fs::is_directory(status)) {
      if (!EnsureFolder(to)) {
        ctx->Fail(tool_from, "cannot create the folder " + to.string());
        continue;
      }
      CopyEntries(from, to, tool_from + "\\", ctx);
      struct stat st {};
      if (::stat(from.c_str(), &st) == 0) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, to.c_str(), times, 0);
      }
      continue;
    }
    if (!fs::is_regular_file(status)) {
      ctx->Fail(tool_from, "not a regular file or folder; not copied");
      continue;
    }
    if (!EnsureFolder(destination)) {
      ctx->Fail(tool_from, "cannot create the folder " + destination.string());
      continue;
    }
    uint64_t bytes = 0;
    std::string error;
    if (CopyOneFile(from, to, &bytes, &error)) {
      if (ctx->observer) ctx->observer->FileCopied(tool_from, bytes);
    } else {
      ctx->Fail(tool_from, error);
    }
  }
}

// `relative` (UTF-8, '/'-separated) below `base`, with each name that does not exist as written
// replaced by an entry of its folder that matches it without regard to ASCII case, as Windows
// file systems (and Wine over a POSIX one) match names. Names that match nothing stay as they
// are, for the caller to create.
fs::path ResolveCase(const fs::path& base, const std::string& relative) {
  fs::path exact = relative.empty() ? base : base / relative;
  struct stat st {};
  if (::lstat(exact.c_str(), &st) == 0) return exact;
  fs::path current = base;
  bool matching = true;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    fs::path candidate = current / name;
    if (matching && ::lstat(candidate.c_str(), &st) != 0) {
      matching = false;
      // Names compare in the tool's code page, where the letters that fold are known.
      std::optional<std::string> wanted = Utf8ToCp932(name);
      std::error_code ec;
      for (fs::directory_iterator it(current, ec), last; wanted && !ec && it != last;
           it.increment(ec)) {
        std::string entry = it->path().filename().string();
        std::optional<std::string> entry_cp932 = Utf8ToCp932(entry);
        if (entry_cp932 && Cp932EqualNoCase(*entry_cp932, *wanted)) {
          candidate = current / entry;
          matching = true;
          break;
        }
      }
    }
    current = std::move(candidate);
  }
  if (!relative.empty() && relative.back() == '/') current /= "";
  return current;
}

// Adds the regular files below `folder` to `files`, as `prefix` + their names.
bool ListInto(const fs::path& folder, const std::string& prefix, std::vector<std::string>* files) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    fs::file_status status = it->symlink_status(ec);
    if (ec) return false;
    const fs::path name = it->path().filename();
    if (IsStaleTempFile(name) || fs::is_symlink(status)) continue;
    std::string tool_name = ToolName(name);
    if (fs::is_directory(status)) {
      if (!ListInto(it->path(), prefix + tool_name + "\\", files)) return false;
    } else if (fs::is_regular_file(status)) {
      files->push_back(prefix + tool_name);
    }
  }
  return true;
}

}  // namespace

void PortableFileSystem::MapDrive(char letter, fs::path folder) {
  drives_[AsciiUpper(letter)] = std::move(folder);
}

std::optional<fs::path> PortableFileSystem::HostPath(std::string_view path) const {
  std::optional<std::string> utf8 = Cp932ToUtf8(path);
  if (!utf8) return std::nullopt;
  std::string text = *utf8;
  fs::path base;
  if (text.size() >= 2 && text[1] == ':' &&
      ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'))) {
    auto drive = drives_.find(AsciiUpper(text[0]));
    if (drive == drives_.end()) return std::nullopt;
    base = drive->second;
    text.erase(0, 2);
  }
  // After decoding, every 0x5C is a real backslash, never the second byte of a character.
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  if (base.empty()) return fs::path(text);
  while (!text.empty() && text.front() == '/') text.erase(0, 1);
  return ResolveCase(base, text);
}

bool PortableFileSystem::CreateFolder(std::string_view path) {
  auto host = HostPath(path);
  if (!host) return false;
  std::string p = host->string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return ::mkdir(p.c_str(), 0777) == 0;
}

bool PortableFileSystem::MakeSurePathExists(std::string_view path) {
  size_t last = FindLastCp932Separator(path);
  // Nothing before the last backslash (or no backslash): nothing to create.
  if (last == std::string_view::npos) return true;
  auto host = HostPath(path.substr(0, last + 1));
  if (!host) return false;
  return EnsureFolder(*host);
}

bool PortableFileSystem::Exists(std::string_view path) {
  auto host = HostPath(path);
  std::error_code ec;
  return host && fs::exists(*host, ec);
}

bool PortableFileSystem::IsFolder(std::string_view path) {
  auto host = HostPath(path);
  std::error_code ec;
  return host && fs::is_directory(*host, ec);
}

int PortableFileSystem::CopyFolder(std::string_view destination, std::string_view source,
                                   void* /*owner*/, CopyObserver* observer) {
  auto from = HostPath(source);
  std::error_code ec;
  if (!from || !fs::is_directory(*from, ec)) return 2;
  auto to = HostPath(destination);
  CopyContext ctx{fs::canonical(*from, ec), observer};
  if (ec) return 2;
  if (!to) {
    ctx.Fail(std::string(destination), "the destination drive does not exist");
    return 3;
  }
  std::string tool_source(source);
  if (tool_source.empty() || tool_source.back() != '\\') tool_source.push_back('\\');
  CopyEntries(*from, *to, tool_source, &ctx);
  return ctx.failures == 0 ? 0 : 1;
}

std::optional<std::string> PortableFileSystem::ReadFile(std::string_view path) {
  auto host = HostPath(path);
  if (!host) return std::nullopt;
  Fd fd(::open(host->c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return bytes;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

bool PortableFileSystem::WriteFileAtomically(std::string_view path, std::string_view bytes) {
  auto host = HostPath(path);
  if (!host || host->filename().empty()) return false;
  fs::path folder = host->parent_path();
  if (folder.empty()) folder = ".";
  RemoveStaleTempFiles(folder);
  fs::path temp = TempPathIn(folder);
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.ok()) return false;
  bool ok = WriteAll(fd.get(), bytes.data(), bytes.size()) && ::fsync(fd.get()) == 0;
  ok = fd.Close() == 0 && ok;
  // The rename is the moment the new content appears, whole.
  ok = ok && ::rename(temp.c_str(), host->c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::optional<FileStamp> PortableFileSystem::Stamp(std::string_view path) {
  auto host = HostPath(path);
  struct stat st {};
  if (!host || ::stat(host->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  FileStamp stamp;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.file_id = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
  return stamp;
}

bool PortableFileSystem::ReadFileInPieces(std::string_view path,
                                          const std::function<void(std::string_view)>& sink) {
  auto host = HostPath(path);
  if (!host) return false;
  Fd fd(::open(host->c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  constexpr size_t kPiece = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kPiece]);
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer.get(), kPiece);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sink(std::string_view(buffer.get(), static_cast<size_t>(n)));
  }
}

bool PortableFileSystem::ListFiles(std::string_view folder, std::vector<std::string>* files) {
  auto host = HostPath(folder);
  std::error_code ec;
  if (!host || !fs::is_directory(*host, ec)) return false;
  files->clear();
  if (!ListInto(*host, "", files)) return false;
  std::sort(files->begin(), files->end());
  return true;
}

bool PortableFileSystem::RemoveFile(std::string_view path) {
  auto host = HostPath(path);
  struct stat st {};
  if (!host || ::lstat(host->c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(host->c_str()) == 0;
}

bool PortableFileSystem::RemoveFolder(std::string_view path) {
  auto host = HostPath(path);
  if (!host) return false;
  std::string p = host->string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return ::rmdir(p.c_str()) == 0;
}

}  // namespace kdr
