#include "platform/folder_identity.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/cp932.h"

namespace kdr {
namespace {

// Where each name of `path` ends, at "\" or "/" (never at a second byte), empty names skipped.
std::vector<size_t> NameEnds(std::string_view path) {
  std::vector<size_t> ends;
  size_t start = 0;
  for (size_t i = 0; i <= path.size();) {
    bool separator =
        i == path.size() || (Cp932CharSize(path, i) == 1 && (path[i] == '\\' || path[i] == '/'));
    if (separator) {
      if (i > start) ends.push_back(i);
      start = i + 1;
      ++i;
    } else {
      i += Cp932CharSize(path, i);
    }
  }
  return ends;
}

std::vector<std::string_view> Names(std::string_view path) {
  std::vector<std::string_view> names;
  size_t start = 0;
  for (size_t end : NameEnds(path)) {
    while (start < end && (path[start] == '\\' || path[start] == '/')) ++start;
    names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

bool SpelledAtOrBelow(std::string_view inner, std::string_view outer) {
  std::vector<std::string_view> x = Names(inner);
  std::vector<std::string_view> y = Names(outer);
  if (y.size() > x.size()) return false;
  for (size_t i = 0; i < y.size(); ++i) {
    if (!Cp932EqualNoCase(x[i], y[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<uint64_t> FolderIdentities::Number(std::string_view path) {
  if (auto it = numbers_.find(path); it != numbers_.end()) return it->second;
  uint64_t number = 0;
  std::optional<uint64_t> found;
  if (files_.FolderNumber(std::string(path) + "\\", &number)) found = number;
  numbers_.emplace(std::string(path), found);
  return found;
}

std::optional<FolderId> FolderIdentities::Identity(std::string_view path) {
  if (auto it = identities_.find(path); it != identities_.end()) return it->second;
  FolderId id;
  std::optional<FolderId> found;
  if (files_.IdentifyFolder(std::string(path) + "\\", &id)) found = id;
  identities_.emplace(std::string(path), found);
  return found;
}

void FolderIdentities::ForgetMissing() {
  std::erase_if(numbers_, [](const auto& known) { return !known.second; });
  std::erase_if(identities_, [](const auto& known) { return !known.second; });
}

void FolderIdentities::KnowNumber(std::string_view path, uint64_t number) {
  std::vector<size_t> ends = NameEnds(path);
  if (!ends.empty()) numbers_.insert_or_assign(std::string(path.substr(0, ends.back())), number);
}

bool FolderIdentities::SameFolder(std::string_view a, std::string_view b) {
  std::optional<uint64_t> x = Number(a);
  std::optional<uint64_t> y = Number(b);
  if (!x || !y || *x != *y) return false;
  std::optional<FolderId> p = Identity(a);
  std::optional<FolderId> q = Identity(b);
  return p && q && *p == *q;
}

bool FolderIdentities::AtOrBelow(std::string_view inner, std::string_view outer) {
  if (SpelledAtOrBelow(inner, outer)) return true;
  std::vector<size_t> outer_ends = NameEnds(outer);
  if (outer_ends.empty()) return false;
  std::string_view target = outer.substr(0, outer_ends.back());
  if (!Number(target)) return false;
  // `inner` and each folder above it, from the deepest; folders not made yet have no identity.
  // A share's server alone is no folder (and asking for it would search the network).
  std::vector<size_t> ends = NameEnds(inner);
  size_t first = inner.starts_with("\\\\") ? 1 : 0;
  for (size_t i = ends.size(); i-- > first;) {
    if (SameFolder(inner.substr(0, ends[i]), target)) return true;
  }
  return false;
}

}  // namespace kdr
