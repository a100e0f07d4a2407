#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/cp932.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/errno_codes.h"
#include "platform/posix/folder_copy.h"
#include "platform/posix/stat_stamp.h"
#include "platform/posix/unique_fd.h"
#include "platform/temp_file_name.h"
#include "platform/text_encoding.h"
#include "platform/windows_names.h"

namespace fs = std::filesystem;

namespace kdr {
namespace {

// Where a copy hands the bytes it reads; empty when nobody wants them.
using Tap = std::function<void(std::string_view)>;

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A folder the walk is in: its entries are looked at through its descriptor, one name to
// look up rather than the whole path (the copy stats two files for each one it keeps).
struct Folder {
  const fs::path& path;
  UniqueFd fd;
  // lstat of `name` in the folder.
  bool StatEntry(const std::string& name, struct stat* st) const {
    if (fd.ok()) return ::fstatat(fd.get(), name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
    return ::lstat((path / name).c_str(), st) == 0;
  }
};

UniqueFd OpenFolder(const fs::path& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The names in `folder` but "." and "..", each with its name in the tool's code page. False
// (errno set) when the folder cannot be read.
bool ListNames(const Folder& folder, std::vector<std::pair<std::string, std::string>>* names) {
  if (!folder.fd.ok()) return false;
  // fdopendir takes the descriptor it is given: the folder keeps its own.
  const int fd = ::dup(folder.fd.get());
  DIR* opened = fd < 0 ? nullptr : ::fdopendir(fd);
  if (!opened) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    errno = error;
    return false;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, ::closedir);
  // The copy shares the folder's read position: from the start, as for a second reading.
  ::rewinddir(dir.get());
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) return errno == 0;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names->emplace_back(std::string(name), ToolName(fs::path(name)));
  }
}

class Walk {
 public:
  explicit Walk(const FolderCopyJob& job) : job_(job) {}

  FileResult Run() {
    CopyEntries(job_.source, job_.destination, job_.tool_source, job_.tool_destination);
    // Once the whole tree is copied, as the check after a copy would list it.
    if (!stopped_) {
      for (const ListedFolder& folder : listed_) TellAddedMeanwhile(folder);
    }
    return first_failure_;
  }

 private:
  void Fail(const std::string& tool_source, FileResult why) {
    if (first_failure_.ok()) first_failure_ = why;
    if (job_.observer) job_.observer->CopyFailed(tool_source, why);
  }

  // The destination's own name for `name`: the entry of that exact name, else one that matches
  // it without regard to ASCII case (which Windows would replace), else `name` itself. *st is
  // the exact name's (not followed) when *exact is set. The folder's names are read only when
  // the exact name is not there: a run again finds nearly every file under its own name.
  static std::string NameIn(
      const Folder& destination,
      std::optional<std::map<std::string, std::string, Cp932NoCaseLess>>* existing,
      const std::string& name, struct stat* st, bool* exact) {
    *exact = destination.StatEntry(name, st);
    if (*exact) return name;
    if (!*existing) {
      existing->emplace();
      std::error_code ec;
      for (fs::directory_iterator d(destination.path, ec), end; !ec && d != end; d.increment(ec)) {
        std::string entry = d->path().filename().string();
        // Keyed by the name in the tool's code page, where Windows' case rule applies.
        if (std::optional<std::string> key = Utf8ToCp932(entry)) (*existing)->emplace(*key, entry);
      }
    }
    std::optional<std::string> key = Utf8ToCp932(name);
    auto it = key ? (*existing)->find(*key) : (*existing)->end();
    return it == (*existing)->end() ? name : it->second;
  }

  // The folder exists (as a folder, reached through no link that leads out of bounds).
  FileResult EnsureFolder(const fs::path& folder, const std::string& tool_folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      if (!ResolvesInside(folder, job_.destination_limit)) {
        return FileResult::Fail(kCantAccessFile, "mkdir", tool_folder);
      }
      return FileResult::Ok();
    }
    // The top destination may lack its parents too; the caller checked they stay in bounds.
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return FileResult::Ok();
    if (!ec) return FileResult::Fail(kAlreadyExists, "mkdir", tool_folder);
    return FailFromErrno(ec.value(), "mkdir", tool_folder);
  }

  void CopyEntries(const fs::path& source, const fs::path& destination,
                   const std::string& tool_source, const std::string& tool_destination) {
    const Folder from_folder{source, OpenFolder(source)};
    // The folder's change time before its names are read: a file added once they are read moves
    // it, and is found by reading the names again once the tree is copied. A time too recent to
    // tell (a file system's clock ticks coarsely, and two changes within one tick leave the same
    // time; one ahead of the clock, which was moved back, is recent too) has them read again
    // whatever it shows then.
    constexpr time_t kClockTick = 2;  // seconds; far above any file system's step
    struct stat listed {};
    const bool listed_known = from_folder.fd.ok() && ::fstat(from_folder.fd.get(), &listed) == 0;
    const bool listed_recent =
        listed_known && listed.st_ctim.tv_sec + kClockTick >= ::time(nullptr);
    // The folder's names read once from its descriptor, with their names in the tool's code page.
    std::vector<std::pair<std::string, std::string>> entries;
    if (!ListNames(from_folder, &entries)) {
      Fail(tool_source, FailFromErrno("opendir", tool_source));
      return;
    }
    // Names that Windows takes for one (in another case, or alike once a character without a
    // code page 932 form reads "?"): none of them can reach Windows as the file it is here.
    std::vector<std::string> folded(entries.size());
    std::unordered_map<std::string_view, int> alike(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      folded[i] = Cp932UpperCase(entries[i].second);
      ++alike[folded[i]];
    }
    Folder to_folder{destination, UniqueFd()};
    bool destination_ready = false;
    std::optional<std::map<std::string, std::string, Cp932NoCaseLess>> existing;
    auto prepare_destination = [&]() -> bool {
      if (destination_ready) return true;
      FileResult made = EnsureFolder(destination, tool_destination);
      if (!made) return false;
      RemoveStaleTempFiles(destination);
      to_folder.fd = OpenFolder(destination);
      destination_ready = true;
      return true;
    };
    // The path an entry not copied is reported by: a folder's ends with a backslash.
    auto item = [&](const std::string& name, const std::string& tool_from) {
      struct stat st {};
      return from_folder.StatEntry(name, &st) && S_ISDIR(st.st_mode) ? tool_from + "\\" : tool_from;
    };
    for (size_t index = 0; index < entries.size(); ++index) {
      const auto& [name, tool_name] = entries[index];
      // Asked between files, so that none is left half written.
      if (job_.observer && job_.observer->StopRequested()) {
        if (first_failure_.ok())
          first_failure_ = FileResult::Fail(kCancelled, "CopyFile", tool_source);
        stopped_ = true;
        return;
      }
      // Someone's half-written file: never carried on, whoever writes it.
      if (IsTempFileName(name)) continue;
      std::string tool_from = tool_source + tool_name;
      // A name Windows cannot hold would not reach Windows as this file (a "\\" would even make
      // it another path), and one it keeps for a device would be read as the device there.
      if (Status name_code = CheckWindowsName(name, NameText::kUtf8); name_code != kOk) {
        // Named with "?" for each "\\", as for a character Windows cannot show: "x\\y.ddv" is
        // not the file y.ddv of folder x, nor "q\\" a folder.
        std::string shown = tool_from;
        for (size_t at : FindCp932Chars(tool_name, '\\')) shown[tool_source.size() + at] = '?';
        Fail(item(name, shown), FileResult::Fail(name_code, "CopyFile", shown));
        continue;
      }
      if (alike[folded[index]] > 1) {
        Fail(item(name, tool_from), FileResult::Fail(kFileExists, "CopyFile", tool_from));
        continue;
      }
      if (!prepare_destination()) {
        Fail(item(name, tool_from), EnsureFolder(destination, tool_destination));
        continue;
      }
      struct stat there {};
      bool there_known = false;
      std::string target_name = NameIn(to_folder, &existing, name, &there, &there_known);
      std::string tool_to =
          tool_destination + (target_name == name ? tool_name : ToolName(target_name));
      // The entry NameIn looked at, unless it found the file under another name.
      if (!there_known && target_name != name)
        there_known = to_folder.StatEntry(target_name, &there);
      struct stat st {};
      if (!from_folder.StatEntry(name, &st)) {
        Fail(tool_from, FailFromErrno("stat", tool_from));
        continue;
      }
      // A plain file whose copy is in place already, and that the observer keeps by the stamps
      // just taken: nothing more of it is looked at.
      if (job_.observer && there_known && S_ISREG(there.st_mode) && S_ISREG(st.st_mode) &&
          job_.observer->KeepsExisting(tool_from, tool_to, {StampOf(st), StampOf(there)})) {
        continue;
      }
      const fs::path from = source / name;
      const fs::path to = destination / target_name;
      if (S_ISLNK(st.st_mode)) {
        CopyLink(from, to, tool_from, tool_to);
      } else if (S_ISDIR(st.st_mode)) {
        FileResult made = EnsureFolder(to, tool_to);
        if (!made) {
          Fail(tool_from + "\\", made);
          continue;
        }
        CopyEntries(from, to, tool_from + "\\", tool_to + "\\");
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, to.c_str(), times, 0);
      } else if (S_ISREG(st.st_mode)) {
        uint64_t bytes = 0;
        FileResult copied = CopyOneFile(from, to, tool_from, tool_to, &bytes);
        if (!copied) {
          Fail(tool_from, copied);
        } else if (job_.observer) {
          job_.observer->FileCopied(tool_from, bytes);
        }
      } else {
        Fail(tool_from, FileResult::Fail(kNotSupported, "CopyFile", tool_from));
      }
    }
    if (listed_known) {
      ListedFolder& folder = listed_.emplace_back(
          ListedFolder{source, tool_source, listed.st_ctim, listed_recent, {}});
      folder.names.reserve(entries.size());
      for (auto& entry : entries) folder.names.push_back(std::move(entry.first));
    }
  }

  // A source folder the walk read, with its change time before its names were read.
  struct ListedFolder {
    fs::path path;
    std::string tool_path;
    struct timespec changed;
    bool recent;  // too close to the clock then for a later change to show
    std::vector<std::string> names;
  };

  // Each entry of `listed` that is not among its names, told as not copied: it arrived while
  // the tree was copied, and the copy holds nothing of it. The names are read again only when
  // the folder's change time moved, or was too recent to tell.
  void TellAddedMeanwhile(const ListedFolder& listed) {
    const Folder folder{listed.path, OpenFolder(listed.path)};
    struct stat now {};
    // A folder gone since holds nothing to copy.
    if (!folder.fd.ok() || ::fstat(folder.fd.get(), &now) != 0) return;
    if (!listed.recent && SameTime(now.st_ctim, listed.changed)) return;
    std::vector<std::pair<std::string, std::string>> again;
    if (!ListNames(folder, &again)) {
      Fail(listed.tool_path, FailFromErrno("opendir", listed.tool_path));
      return;
    }
    std::unordered_set<std::string_view> seen(listed.names.begin(), listed.names.end());
    for (const auto& [name, tool_name] : again) {
      if (seen.contains(name) || IsTempFileName(name)) continue;
      std::string tool_from = listed.tool_path + tool_name;
      struct stat st {};
      if (folder.StatEntry(name, &st) && S_ISDIR(st.st_mode)) tool_from += "\\";
      Fail(tool_from, FileResult::Fail(kSharingViolation, "CopyFile", tool_from));
    }
  }

  // A link that stays inside the source is copied as a relative link to the same place, so it
  // still holds once the original is gone; one that leads out is not followed.
  void CopyLink(const fs::path& from, const fs::path& to, const std::string& tool_from,
                const std::string& tool_to) {
    std::error_code ec;
    fs::path real_limit = fs::canonical(job_.source_limit, ec);
    fs::path resolved = ec ? fs::path() : fs::weakly_canonical(from, ec);
    if (ec || !IsInside(resolved, real_limit) || !fs::exists(resolved, ec)) {
      Fail(tool_from, FileResult::Fail(kCantAccessFile, "symlink", tool_from));
      return;
    }
    fs::path link_target = resolved.lexically_relative(fs::canonical(from.parent_path(), ec));
    if (ec || link_target.empty()) {
      Fail(tool_from, FileResult::Fail(kCantResolveFilename, "symlink", tool_from));
      return;
    }
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      Fail(tool_from, FileResult::Fail(kAccessDenied, "symlink", tool_to));
      return;
    }
    fs::path temp = to.parent_path() / NextTempFileName(static_cast<uint64_t>(::getpid()));
    if (::symlink(link_target.c_str(), temp.c_str()) != 0) {
      Fail(tool_from, FailFromErrno("symlink", tool_to));
      return;
    }
    if (::rename(temp.c_str(), to.c_str()) != 0) {
      Fail(tool_from, FailFromErrno("rename", tool_to));
      ::unlink(temp.c_str());
    }
  }

  // Replaces `to` by a copy of the regular file `from`, keeping its times, mode and holes.
  FileResult CopyOneFile(const fs::path& from, const fs::path& to, const std::string& tool_from,
                         const std::string& tool_to, uint64_t* bytes) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (!in.ok() || ::fstat(in.get(), &st) != 0) return FailFromErrno("open", tool_from);
    struct stat old {};
    bool replaces = ::lstat(to.c_str(), &old) == 0;
    if (replaces && S_ISDIR(old.st_mode)) {
      // A folder where the file goes: Windows refuses, and so do we.
      return FileResult::Fail(kAccessDenied, "CopyFile", tool_to);
    }
    fs::path temp = to.parent_path() / NextTempFileName(static_cast<uint64_t>(::getpid()));
    // The source's mode, less what the process's umask takes away (the console tool keeps its
    // copies private).
    UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
    if (!out.ok()) return FailFromErrno("open", tool_to);
    // Bytes that pass through our buffer are handed to an observer that wants them (to hash the
    // source as it is read rather than read it again); the kernel's copy hands none.
    Tap tap;
    if (job_.observer && job_.observer->WantsFileBytes(tool_from)) {
      tap = [&](std::string_view piece) { job_.observer->FileBytes(tool_from, piece); };
      tap(std::string_view());
    }
    FileResult result =
        CopyBytes(in.get(), out.get(), static_cast<uint64_t>(st.st_size), tap, tool_from, tool_to);
    // A file written meanwhile (the old product still running) would leave a copy that mixes old
    // and new bytes, which no later read of either file can tell: it is not copied.
    struct stat after {};
    if (result && (::fstat(in.get(), &after) != 0 || after.st_size != st.st_size ||
                   !SameTime(after.st_mtim, st.st_mtim) || !SameTime(after.st_ctim, st.st_ctim))) {
      result = FileResult::Fail(kSharingViolation, "read", tool_from);
    }
    if (result) {
      struct timespec times[2] = {st.st_atim, st.st_mtim};
      ::futimens(out.get(), times);
    }
    // A file replaced keeps its owner, group and mode: the user's file stays the user's, even
    // when the tool runs as root. The owner only where the process may give it.
    if (result && replaces && S_ISREG(old.st_mode)) {
      if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        static_cast<void>(::fchown(out.get(), old.st_uid, old.st_gid));
      }
      if (::fchmod(out.get(), old.st_mode & 07777) != 0) result = FailFromErrno("fchmod", tool_to);
    }
    if (!out.Close() && result) result = FailFromErrno("close", tool_to);
    if (result && ::rename(temp.c_str(), to.c_str()) != 0) {
      result = FailFromErrno("rename", tool_to);
    }
    if (!result) ::unlink(temp.c_str());
    *bytes = static_cast<uint64_t>(st.st_size);
    return result;
  }

  // Copies `length` bytes at `offset`: in the kernel when it can, else through a buffer, whose
  // bytes are handed to `tap` as well. (The kernel's copy is preferred even when the bytes are
  // wanted: here it costs less than a copy through a buffer saves.) Once the kernel has copied
  // any, the file cannot be handed whole, and `tap` is dropped.
  static FileResult CopyRange(int in, int out, off_t offset, uint64_t length, Tap& tap,
                              const std::string& tool_from, const std::string& tool_to) {
    off_t in_at = offset;
    off_t out_at = offset;
    bool kernel = true;
    std::unique_ptr<char[]> buffer;
    constexpr size_t kBufferSize = 1 << 20;
    while (length > 0) {
      if (kernel) {
        ssize_t n = ::copy_file_range(in, &in_at, out, &out_at, length, 0);
        if (n > 0) {
          tap = nullptr;
          length -= static_cast<uint64_t>(n);
          continue;
        }
        if (n == 0) return FileResult::Fail(kSharingViolation, "read", tool_from);
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
          return FailFromErrno("write", tool_to);
        }
        kernel = false;
      }
      if (!buffer) buffer.reset(new char[kBufferSize]);
      size_t want = length < kBufferSize ? static_cast<size_t>(length) : kBufferSize;
      ssize_t n = ::pread(in, buffer.get(), want, in_at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FailFromErrno("read", tool_from);
      // The file shrank while it was copied: what there is would not be the whole file.
      if (n == 0) return FileResult::Fail(kSharingViolation, "read", tool_from);
      if (tap) tap(std::string_view(buffer.get(), static_cast<size_t>(n)));
      for (ssize_t done = 0; done < n;) {
        ssize_t w = ::pwrite(out, buffer.get() + done, static_cast<size_t>(n - done), out_at);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return FailFromErrno("write", tool_to);
        done += w;
        out_at += w;
      }
      in_at += n;
      length -= static_cast<uint64_t>(n);
    }
    return FileResult::Ok();
  }

  // A hole, as its reader sees it: zeros.
  static void TapZeros(const Tap& tap, uint64_t length) {
    static constexpr char kZeros[1 << 16] = {};
    for (; length > 0; length -= std::min<uint64_t>(length, sizeof kZeros)) {
      tap(std::string_view(kZeros, std::min<uint64_t>(length, sizeof kZeros)));
    }
  }

  // The data of the file, region by region, so that its holes stay holes in the copy.
  static FileResult CopyBytes(int in, int out, uint64_t size, Tap& tap,
                              const std::string& tool_from, const std::string& tool_to) {
    off_t end = static_cast<off_t>(size);
    off_t at = 0;
    while (at < end) {
      off_t data = ::lseek(in, at, SEEK_DATA);
      if (data < 0) {
        if (errno == ENXIO) break;  // only a hole is left
        data = at;                  // no hole support: copy the rest as it is
      }
      if (data >= end) break;
      if (tap) TapZeros(tap, static_cast<uint64_t>(data - at));
      off_t hole = ::lseek(in, data, SEEK_HOLE);
      if (hole < 0 || hole > end) hole = end;
      FileResult copied =
          CopyRange(in, out, data, static_cast<uint64_t>(hole - data), tap, tool_from, tool_to);
      if (!copied) return copied;
      at = hole;
    }
    if (tap && at < end) TapZeros(tap, static_cast<uint64_t>(end - at));
    if (::ftruncate(out, end) != 0) return FailFromErrno("ftruncate", tool_to);
    return FileResult::Ok();
  }

  const FolderCopyJob& job_;
  FileResult first_failure_;
  bool stopped_ = false;
  std::vector<ListedFolder> listed_;
};

}  // namespace

FileResult CopyFolderTree(const FolderCopyJob& job) { return Walk(job).Run(); }

}  // namespace kdr
