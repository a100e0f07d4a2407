#include <sys/stat.h>

#include <string>
#include <system_error>

#include "platform/cp932.h"
#include "platform/posix/drive_map.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace kdr {

void DriveMap::Map(char letter, fs::path folder) {
  drives_[AsciiUpper(letter)] = std::move(folder);
}

FileResult DriveMap::Locate(std::string_view path, std::string_view call, HostLocation* out) const {
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
    *out = HostLocation{fs::path(text), fs::path()};
    return FileResult::Ok();
  }
  while (!text.empty() && text.front() == '/') text.erase(0, 1);
  *out = HostLocation{ResolveCase(root, text), root};
  return FileResult::Ok();
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
      // Names compare in the tool's code page, where the letters that fold are known.
      std::optional<std::string> wanted = Utf8ToCp932(name);
      std::error_code ec;
      for (fs::directory_iterator it(current, ec), last; wanted && !ec && it != last;
           it.increment(ec)) {
        std::optional<std::string> entry = Utf8ToCp932(it->path().filename().string());
        if (entry && Cp932EqualNoCase(*entry, *wanted)) {
          candidate = it->path();
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
