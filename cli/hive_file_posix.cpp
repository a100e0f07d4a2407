#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cli/hive_file.h"
#include "platform/cp932.h"
#include "platform/memory/registry_text.h"
#include "platform/posix/unique_fd.h"
#include "platform/text_encoding.h"

namespace kdr::cli {

const bool kHiveFilesSupported = true;

namespace {

struct HiveCloser {
  void operator()(hive_h* h) const { hivex_close(h); }
};
using HivePtr = std::unique_ptr<hive_h, HiveCloser>;
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Malloced = std::unique_ptr<T, FreeDeleter>;

// A failed call and the errno it left.
HiveError CallFailed(std::string call, int error_number, HiveProblem problem = HiveProblem::kCall) {
  HiveError error;
  error.problem = problem;
  error.call = std::move(call);
  error.error_number = error_number;
  return error;
}

// The same in a damaged hive, at `key` (and its `value`) or below it.
HiveError DamagedAt(std::string call, int error_number, std::string key, std::string value = {},
                    bool below = false) {
  HiveError error = CallFailed(std::move(call), error_number, HiveProblem::kDamaged);
  error.key = std::move(key);
  error.value = std::move(value);
  error.below = below;
  return error;
}

HiveError NamedProblem(HiveProblem problem, std::string key, std::string value = {}) {
  HiveError error;
  error.problem = problem;
  error.key = std::move(key);
  error.value = std::move(value);
  return error;
}

bool IsText(uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// A hive's name (UTF-8 from hivex) as the store's code page 932; nullopt when it has no exact
// form there.
std::optional<std::string> NameToStore(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::optional<std::string> cp932 = Utf8ToCp932(utf8);
  if (!cp932) return std::nullopt;
  std::optional<std::string> back = Cp932ToUtf8(*cp932);
  if (!back || *back != utf8) return std::nullopt;
  return cp932;
}

std::string NameToHive(std::string_view cp932) {
  if (IsAscii(cp932)) return std::string(cp932);
  return Cp932ToUtf8(cp932).value_or(std::string());
}

// A hive value's data (UTF-16LE for the text types) as the store holds it.
bool DataToStore(uint32_t type, std::string_view data, std::string* out) {
  if (!IsText(type)) {
    out->assign(data);
    return true;
  }
  if (data.size() % 2 != 0) return false;
  bool ascii = true;
  for (size_t i = 0; i < data.size() && ascii; i += 2) {
    ascii = static_cast<unsigned char>(data[i]) < 0x80 && data[i + 1] == 0;
  }
  if (ascii) {
    out->clear();
    out->reserve(data.size() / 2);
    for (size_t i = 0; i < data.size(); i += 2) out->push_back(data[i]);
    return true;
  }
  out->clear();  // the conversion appends
  return registry_text::Utf16ToStore(data, out);
}

bool DataToHive(uint32_t type, std::string_view data, std::string* out) {
  out->clear();
  if (!IsText(type)) {
    out->assign(data);
    return true;
  }
  if (IsAscii(data)) {
    out->reserve(data.size() * 2);
    for (char c : data) {
      out->push_back(c);
      out->push_back('\0');
    }
    return true;
  }
  auto unit = [out](uint32_t u) {
    out->push_back(static_cast<char>(u & 0xff));
    out->push_back(static_cast<char>(u >> 8));
  };
  return registry_text::StoreToChars(RegistryFileFormat::kVersion5, data, [&](uint32_t c) {
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xd800 | (c >> 10));
      unit(0xdc00 | (c & 0x3ff));
    } else {
      unit(c);
    }
  });
}

// The names of `branch` below the hive's root; nullopt when the branch is not in the hive.
std::optional<std::vector<std::string>> NamesInHive(const HiveMount& mount,
                                                    const RegistryBranch& branch) {
  if (branch.root != mount.root) return std::nullopt;
  std::vector<std::string_view> names;
  std::vector<std::string_view> mount_names;
  if (!SplitKeyPath(branch.path, &names)) return std::nullopt;
  if (!mount.path.empty() && !SplitKeyPath(mount.path, &mount_names)) return std::nullopt;
  if (names.size() <= mount_names.size()) return std::nullopt;
  for (size_t i = 0; i < mount_names.size(); ++i) {
    if (!Cp932EqualNoCase(names[i], mount_names[i])) return std::nullopt;
  }
  return std::vector<std::string>(names.begin() + static_cast<ptrdiff_t>(mount_names.size()),
                                  names.end());
}

// The child `name` (code page 932) of `node`: 0 when there is none, or on an error (*failed).
hive_node_h ChildOf(hive_h* h, hive_node_h node, std::string_view name, int* failed) {
  errno = 0;
  hive_node_h child = hivex_node_get_child(h, node, NameToHive(name).c_str());
  if (child == 0 && errno != 0) *failed = errno;
  return child;
}

// Reads one key with everything below it into `into` (null: only checked).
class HiveReader {
 public:
  HiveReader(hive_h* h, HiveError* error) : h_(h), error_(error) {}

  bool Read(hive_node_h top, const std::string& top_path, MemoryRegistry::Node* into) {
    std::vector<Pending> stack{{top, top_path, into}};
    while (!stack.empty()) {
      Pending at = std::move(stack.back());
      stack.pop_back();
      // A damaged hive may list a key below itself.
      if (!seen_.insert(at.node).second) {
        return Fail(NamedProblem(HiveProblem::kKeyTwice, at.path));
      }
      if (!ReadValues(at)) return false;
      errno = 0;
      Malloced<hive_node_h> children(hivex_node_children(h_, at.node));
      if (!children) {
        return Fail(DamagedAt("hivex_node_children", errno, at.path));
      }
      for (hive_node_h* child = children.get(); *child != 0; ++child) {
        Malloced<char> utf8(hivex_node_name(h_, *child));
        if (!utf8) {
          return Fail(DamagedAt("hivex_node_name", errno, at.path, {}, /*below=*/true));
        }
        std::string path = at.path + "\\" + utf8.get();
        std::optional<std::string> name = NameToStore(utf8.get());
        if (!name) return Fail(NamedProblem(HiveProblem::kKeyNameNotCp932, path));
        stack.push_back({*child, path, at.into ? at.into->AddChild(*name) : nullptr});
      }
    }
    return true;
  }

 private:
  struct Pending {
    hive_node_h node;
    std::string path;  // UTF-8, for messages
    MemoryRegistry::Node* into;
  };

  bool Fail(HiveError error) {
    *error_ = std::move(error);
    return false;
  }

  bool ReadValues(const Pending& at) {
    errno = 0;
    Malloced<hive_value_h> values(hivex_node_values(h_, at.node));
    if (!values) {
      return Fail(DamagedAt("hivex_node_values", errno, at.path));
    }
    std::string data;
    for (hive_value_h* value = values.get(); *value != 0; ++value) {
      Malloced<char> utf8(hivex_value_key(h_, *value));
      if (!utf8) {
        return Fail(DamagedAt("hivex_value_key", errno, at.path));
      }
      hive_type type = hive_t_REG_NONE;
      size_t size = 0;
      Malloced<char> raw(hivex_value_value(h_, *value, &type, &size));
      if (!raw) {
        return Fail(DamagedAt("hivex_value_value", errno, at.path, utf8.get()));
      }
      std::optional<std::string> name = NameToStore(utf8.get());
      if (!name) return Fail(NamedProblem(HiveProblem::kValueNameNotCp932, at.path, utf8.get()));
      if (!DataToStore(static_cast<uint32_t>(type), {raw.get(), size}, &data)) {
        return Fail(NamedProblem(HiveProblem::kTextNotCp932, at.path, utf8.get()));
      }
      if (at.into) {
        at.into->PutValueAsRead(*name, static_cast<uint32_t>(type), data);
      }
    }
    return true;
  }

  hive_h* h_;
  HiveError* error_;
  std::unordered_set<hive_node_h> seen_;
};

// A hive file copied in part still opens (hivex reads what is there): refused here when its
// header says it holds more than the file does.
bool WholeHive(const std::filesystem::path& path, HiveError* error) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
    *error = CallFailed("open", errno);
    return false;
  }
  unsigned char header[0x2c] = {};
  ssize_t got = ::pread(fd.get(), header, sizeof header, 0);
  if (got != static_cast<ssize_t>(sizeof header) || std::memcmp(header, "regf", 4) != 0) {
    return true;  // hivex tells what it is
  }
  uint64_t bins = header[0x28] | header[0x29] << 8 | header[0x2a] << 16 |
                  static_cast<uint64_t>(header[0x2b]) << 24;
  uint64_t want = 4096 + bins;
  if (static_cast<uint64_t>(st.st_size) < want) {
    error->problem = HiveProblem::kCutShort;
    error->header_bytes = want;
    error->file_bytes = static_cast<uint64_t>(st.st_size);
    return false;
  }
  return true;
}

bool StartsAsHive(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char magic[4] = {};
  return fd.ok() && ::pread(fd.get(), magic, sizeof magic, 0) == 4 &&
         std::memcmp(magic, "regf", 4) == 0;
}

HivePtr OpenHive(const std::filesystem::path& path, int flags, HiveError* error) {
  errno = 0;
  HivePtr h(hivex_open(path.c_str(), flags));
  if (!h) {
    int cause = errno;
    // hivex says ENOTSUP for a file that is not a hive and for a hive whose blocks are damaged.
    HiveProblem what = cause == ENOTSUP
                           ? (StartsAsHive(path) ? HiveProblem::kDamaged : HiveProblem::kNotAHive)
                       : cause == EINVAL ? HiveProblem::kNotWhole
                                         : HiveProblem::kCall;
    *error = CallFailed("hivex_open", cause, what);
  }
  return h;
}

// Makes the hive's key `hive_node` hold what the store's `node` holds, and the same below it.
class HiveWriter {
 public:
  HiveWriter(hive_h* h, HiveError* error) : h_(h), error_(error) {}

  bool Write(hive_node_h top, const MemoryRegistry::Node& top_node) {
    std::vector<std::pair<hive_node_h, const MemoryRegistry::Node*>> stack{{top, &top_node}};
    while (!stack.empty()) {
      auto [node, from] = stack.back();
      stack.pop_back();
      if (!WriteValues(node, *from)) return false;
      errno = 0;
      Malloced<hive_node_h> children(hivex_node_children(h_, node));
      if (!children) return Fail(CallFailed("hivex_node_children", errno));
      for (hive_node_h* child = children.get(); *child != 0; ++child) {
        Malloced<char> utf8(hivex_node_name(h_, *child));
        if (!utf8) return Fail(CallFailed("hivex_node_name", errno));
        std::optional<std::string> name = NameToStore(utf8.get());
        if (name && from->FindChild(*name)) continue;
        if (hivex_node_delete_child(h_, *child) != 0) {
          return Fail(CallFailed("hivex_node_delete_child", errno));
        }
      }
      for (const auto& [name, child] : from->children()) {
        int failed = 0;
        hive_node_h existing = ChildOf(h_, node, name, &failed);
        if (failed != 0) return Fail(CallFailed("hivex_node_get_child", failed));
        if (existing == 0) {
          existing = hivex_node_add_child(h_, node, NameToHive(child->name()).c_str());
          if (existing == 0) return Fail(CallFailed("hivex_node_add_child", errno));
        }
        stack.emplace_back(existing, child.get());
      }
    }
    return true;
  }

 private:
  bool Fail(HiveError error) {
    *error_ = std::move(error);
    return false;
  }

  bool WriteValues(hive_node_h node, const MemoryRegistry::Node& from) {
    size_t live = 0;
    bool changed = false;
    for (const MemoryRegistry::Value& value : from.values()) {
      if (value.removed()) continue;
      ++live;
      changed = changed || value.changed();
    }
    errno = 0;
    size_t there = hivex_node_nr_values(h_, node);
    if (there == 0 && errno != 0) return Fail(CallFailed("hivex_node_nr_values", errno));
    // Every value the store holds unchanged came from this key: the same count is the same set.
    if (!changed && live == there) return true;
    std::vector<std::string> names;
    std::vector<std::string> datas;
    std::vector<Malloced<char>> kept;
    std::vector<hive_set_value> set;
    names.reserve(live);
    datas.reserve(live);
    for (const MemoryRegistry::Value& value : from.values()) {
      if (value.removed()) continue;
      names.push_back(NameToHive(value.name()));
      hive_set_value item{names.back().data(), static_cast<hive_type>(value.type()), 0, nullptr};
      hive_value_h old = 0;
      if (!value.changed()) old = hivex_node_get_value(h_, node, names.back().c_str());
      if (old != 0) {
        // An unchanged value keeps its bytes as the hive held them.
        hive_type type = hive_t_REG_NONE;
        kept.emplace_back(hivex_value_value(h_, old, &type, &item.len));
        if (!kept.back()) return Fail(CallFailed("hivex_value_value", errno));
        item.t = type;
        item.value = kept.back().get();
      } else {
        datas.emplace_back();
        if (!DataToHive(value.type(), value.data(), &datas.back())) {
          return Fail(
              NamedProblem(HiveProblem::kTextNotForHive, {}, Cp932ForDisplay(value.name())));
        }
        item.len = datas.back().size();
        item.value = datas.back().data();
      }
      set.push_back(item);
    }
    if (hivex_node_set_values(h_, node, set.size(), set.data(), 0) != 0) {
      return Fail(CallFailed("hivex_node_set_values", errno));
    }
    return true;
  }

  hive_h* h_;
  HiveError* error_;
};

// A file in memory that hivex opens and commits by name: the hive is read from the very bytes
// the run checked, and written nowhere on the disk but through the atomic writer.
class MemoryFile {
 public:
  bool Create(std::string_view bytes, HiveError* error) {
    fd_ = UniqueFd(::memfd_create("kdr4tose-hive", MFD_CLOEXEC));
    if (!fd_.ok()) {
      *error = CallFailed("memfd_create", errno);
      return false;
    }
    for (size_t at = 0; at < bytes.size();) {
      ssize_t put = ::write(fd_.get(), bytes.data() + at, bytes.size() - at);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        *error = CallFailed("write", errno);
        return false;
      }
      at += static_cast<size_t>(put);
    }
    return true;
  }
  int fd() const { return fd_.get(); }
  std::string name() const { return "/proc/self/fd/" + std::to_string(fd_.get()); }

 private:
  UniqueFd fd_;
};

// Commits the hive into `file` and hands its bytes to `put`.
bool CommitTo(hive_h* h, const MemoryFile& file, const PutBytes& put, HiveError* error) {
  int fd = file.fd();
  if (hivex_commit(h, file.name().c_str(), 0) != 0) {
    *error = CallFailed("hivex_commit", errno);
    return false;
  }
  std::string piece(1 << 20, '\0');
  for (off_t at = 0;;) {
    ssize_t got = ::pread(fd, piece.data(), piece.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = CallFailed("pread", errno);
      return false;
    }
    if (got == 0) return true;
    at += got;
    if (!put(std::string_view(piece.data(), static_cast<size_t>(got)))) {
      error->problem = HiveProblem::kNotTaken;
      return false;
    }
  }
}

}  // namespace

bool LoadHive(const std::filesystem::path& path, const HiveMount& mount,
              const std::vector<RegistryBranch>& branches,
              const std::vector<RegistryBranch>& checked_only, MemoryRegistry* registry,
              HiveError* error) {
  if (!WholeHive(path, error)) return false;
  HivePtr h = OpenHive(path, 0, error);
  if (!h) return false;
  hive_node_h root = hivex_root(h.get());
  if (root == 0) {
    *error = CallFailed("hivex_root", errno, HiveProblem::kDamaged);
    return false;
  }
  auto read = [&](const RegistryBranch& branch, bool keep) {
    std::optional<std::vector<std::string>> names = NamesInHive(mount, branch);
    if (!names) return true;
    hive_node_h node = root;
    for (const std::string& name : *names) {
      int failed = 0;
      node = ChildOf(h.get(), node, name, &failed);
      if (failed != 0) {
        *error = CallFailed("hivex_node_get_child", failed, HiveProblem::kDamaged);
        return false;
      }
      if (node == 0) return true;
    }
    MemoryRegistry::Node* into = nullptr;
    if (keep) {
      into = registry->Create(branch.root, branch.path);
      if (!into) return true;
    }
    return HiveReader(h.get(), error).Read(node, Cp932ForDisplay(branch.path), into);
  };
  for (const RegistryBranch& branch : branches) {
    if (!read(branch, true)) return false;
  }
  for (const RegistryBranch& branch : checked_only) {
    if (!read(branch, false)) return false;
  }
  return true;
}

bool WriteBackHive(std::string_view original, const HiveMount& mount,
                   const MemoryRegistry& registry, const RegistryBranch& branch,
                   const PutBytes& put, HiveError* error) {
  std::optional<std::vector<std::string>> names = NamesInHive(mount, branch);
  if (!names) {
    *error = NamedProblem(HiveProblem::kBranchNotInHive, Cp932ForDisplay(branch.path));
    return false;
  }
  MemoryFile file;
  if (!file.Create(original, error)) return false;
  HivePtr h = OpenHive(file.name(), HIVEX_OPEN_WRITE, error);
  if (!h) return false;
  hive_node_h node = hivex_root(h.get());
  if (node == 0) {
    *error = CallFailed("hivex_root", errno, HiveProblem::kDamaged);
    return false;
  }
  // The store's keys down to the branch, in the case the store keeps them.
  const MemoryRegistry::Node* from = registry.Find(mount.root, mount.path);
  for (size_t i = 0; i < names->size(); ++i) {
    const std::string& name = (*names)[i];
    from = from ? from->FindChild(name) : nullptr;
    int failed = 0;
    hive_node_h child = ChildOf(h.get(), node, name, &failed);
    if (failed != 0) {
      *error = CallFailed("hivex_node_get_child", failed);
      return false;
    }
    bool last = i + 1 == names->size();
    if (child != 0 && !from && last) {
      if (hivex_node_delete_child(h.get(), child) != 0) {
        *error = CallFailed("hivex_node_delete_child", errno);
        return false;
      }
      break;
    }
    if (!from) return CommitTo(h.get(), file, put, error);
    if (child == 0) {
      child = hivex_node_add_child(h.get(), node, NameToHive(from->name()).c_str());
      if (child == 0) {
        *error = CallFailed("hivex_node_add_child", errno);
        return false;
      }
    }
    node = child;
    if (last && !HiveWriter(h.get(), error).Write(node, *from)) return false;
  }
  return CommitTo(h.get(), file, put, error);
}

}  // namespace kdr::cli
