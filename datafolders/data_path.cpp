#include "datafolders/data_path.h"

#include <vector>

#include "platform/cp932.h"

namespace kdr {
namespace {

// The names of a path, split at "\" and "/" (never at a second byte), empty names dropped.
std::vector<std::string> Names(std::string_view path) {
  std::vector<std::string> names;
  std::string current;
  for (size_t i = 0; i < path.size();) {
    size_t size = Cp932CharSize(path, i);
    if (size == 1 && (path[i] == '\\' || path[i] == '/')) {
      if (!current.empty()) names.push_back(std::move(current));
      current.clear();
    } else {
      current.append(path.substr(i, size));
    }
    i += size;
  }
  if (!current.empty()) names.push_back(std::move(current));
  return names;
}

}  // namespace

std::optional<std::string> DataPathProblem(std::string_view value) {
  if (value.empty()) return "the value is empty";
  bool drive = value.size() >= 3 && AsciiUpper(value[0]) >= 'A' && AsciiUpper(value[0]) <= 'Z' &&
               value[1] == ':' && (value[2] == '\\' || value[2] == '/');
  bool share = false;
  if (!drive && value.starts_with("\\\\")) {
    std::vector<std::string> names = Names(value);
    share = names.size() >= 2 && names[0] != "." && names[0] != "?";
  }
  if (!drive && !share) return "names no drive (X:\\) and no share (\\\\server\\share\\)";
  for (const std::string& name : Names(value)) {
    if (name == "..") return "holds a \"..\" component, which would leave its drive";
    // No Windows name holds these. "?" is also what the registry's 8-bit text makes of a
    // character outside code page 932: the folder meant is not the one named.
    for (size_t i = 0; i < name.size(); i += Cp932CharSize(name, i)) {
      if (Cp932CharSize(name, i) == 1 &&
          std::string_view("?*\"<>|").find(name[i]) != std::string_view::npos) {
        return "holds \"" + name.substr(i, 1) +
               "\", which no Windows name holds (a character lost in the conversion to code "
               "page 932, or a pattern)";
      }
    }
  }
  return std::nullopt;
}

}  // namespace kdr
