#include <sys/stat.h>

#include <string>
#include <system_error>

#include "platform/cp932.h"
#include "platform/posix/drive_map.h"
#include "platform/text_encoding.h"
#include "platform/utf8.h"
#include "platform/windows_names.h"

namespace fs = std::filesystem;

namespace kdr {

namespace {

// Whether the last name of a host path ('/'-separated UTF-8, a trailing '/' ignored) is one
// Windows keeps for a device.
bool EndsInDeviceName(std::string_view host) {
  while (!host.empty() && host.back() == '/') host.remove_suffix(1);
  size_t slash = host.rfind('/');
  return IsWindowsDeviceName(host.substr(slash == std::string_view::npos ? 0 : slash + 1),
                             NameText::kUtf8);
}

}  // namespace

void DriveMap::Map(char letter, fs::path folder) {
  drives_[AsciiUpper(letter)] = std::move(folder);
}

FileResult DriveMap::Locate(std::string_view path, std::string_view call, HostLocation* out) const {
  return Find(path, call, out, /*resolve=*/true);
}

FileResult DriveMap::LocateAsWritten(std::string_view path, std::string_view call,
                                     HostLocation* out) const {
  return Find(path, call, out, /*resolve=*/false);
}

FileResult DriveMap::Find(std::string_view path, std::string_view call, HostLocation* out,
                          bool resolve) const {
  std::optional<std::string> utf8 = Cp932ToUtf8(path);
  if (!utf8) return FileResult::Fail(kInvalidName, call, path);
  std::string text = std::move(*utf8);
  fs::path root;
  bool on_drive = text.size() >= 2 && text[1] == ':' &&
                  ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
  if (on_drive) {
    auto drive = drives_.find(AsciiUpper(text[0]));
    if (drive == drives_.end()) return FileResult::Fail(kPathNotFound, call, path);
    root = drive->second;
    text.erase(0, 2);
  }
  // After decoding, every 0x5C is a real backslash, never the second byte of a character.
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  // A name Windows keeps for a device is never opened, here either: a store or a folder that
  // holds one would read otherwise on Windows.
  if (EndsInDeviceName(text)) return FileResult::Fail(kDeviceName, call, path);
  // Windows would fold "C:\..\x" to "C:\x"; here it would climb out of the mapped folder. No
  // caller has a use for "..", so it is refused outright.
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, "..") == 0) {
      return FileResult::Fail(kInvalidName, call, path);
    }
    start = end + 1;
  }
  if (!on_drive) {
    // A host path is taken as written, but for a name the tool lists with "?" (ToolName).
    fs::path host(text);
    if (resolve && text.find('?') != std::string::npos) {
      fs::path base = host.root_path();
      host = ResolveCase(base.empty() ? fs::path(".") : base, host.relative_path().string());
    }
    if (EndsInDeviceName(host.string())) return FileResult::Fail(kDeviceName, call, path);
    *out = HostLocation{std::move(host), fs::path()};
    return FileResult::Ok();
  }
  while (!text.empty() && text.front() == '/') text.erase(0, 1);
  fs::path host = resolve ? ResolveCase(root, text) : text.empty() ? root : root / text;
  // A name with "?" found as the host's own, which may be "COM¹".
  if (EndsInDeviceName(host.string())) return FileResult::Fail(kDeviceName, call, path);
  *out = HostLocation{std::move(host), root};
  return FileResult::Ok();
}

// Left in UTF-8, a name without a code page 932 form would be read as code page 932 and show
// (and be looked for) as other characters.
std::string ToolName(const fs::path& name) {
  std::string utf8 = name.string();
  if (auto cp = Utf8ToCp932(utf8)) return *cp;
  std::string tool;
  for (size_t i = 0; i < utf8.size();) {
    size_t size = Utf8SequenceLength(std::string_view(utf8).substr(i));
    bool whole = size != 0;
    if (!whole) size = 1;
    std::optional<std::string> one =
        whole ? Utf8ToCp932(std::string_view(utf8).substr(i, size)) : std::nullopt;
    tool += one ? *one : std::string("?");
    i += size;
  }
  return tool;
}

fs::path ResolveCase(const fs::path& base, std::string_view relative) {
  fs::path exact = relative.empty() ? base : base / relative;
  struct stat st {};
  if (::lstat(exact.c_str(), &st) == 0) return exact;
  fs::path current = base;
  bool matching = true;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    std::string name(relative.substr(start, end - start));
    start = end + 1;
    if (name.empty()) continue;
    fs::path candidate = current / name;
    if (matching && ::lstat(candidate.c_str(), &st) != 0) {
      matching = false;
      // Names compare in the tool's code page, where the letters that fold are known. A "?"
      // stands for a character that code page lacks (ToolName): it must name one entry alone,
      // or the file reached could be another than the one listed.
      std::optional<std::string> wanted = Utf8ToCp932(name);
      bool placeholder = wanted && wanted->find('?') != std::string::npos;
      int found = 0;
      std::error_code ec;
      for (fs::directory_iterator it(current, ec), last; wanted && !ec && it != last;
           it.increment(ec)) {
        if (Cp932EqualNoCase(ToolName(it->path().filename()), *wanted)) {
          if (found++ == 0) candidate = it->path();
          if (!placeholder) break;
        }
      }
      matching = found == 1 || (found > 1 && !placeholder);
      if (!matching) candidate = current / name;
    }
    current = std::move(candidate);
  }
  if (!relative.empty() && relative.back() == '/') current /= "";
  return current;
}

bool IsInside(const fs::path& candidate, const fs::path& root) {
  auto c = candidate.begin();
  for (auto r = root.begin(); r != root.end(); ++r) {
    if (r->empty()) continue;  // the empty last element of a path ending with a slash
    while (c != candidate.end() && c->empty()) ++c;
    if (c == candidate.end() || *c != *r) return false;
    ++c;
  }
  return true;
}

bool ResolvesInside(const fs::path& host, const fs::path& root) {
  std::error_code ec;
  fs::path real_root = fs::canonical(root, ec);
  if (ec) return false;
  fs::path real = fs::weakly_canonical(host, ec);
  return !ec && IsInside(real, real_root);
}

}  // namespace kdr
