#include "store/system_clutter.h"

#include <array>

namespace kdr {

bool IsSystemClutter(std::string_view path, const Cp932NameViews& present) {
  static constexpr std::array<std::string_view, 3> kFiles = {"Thumbs.db", "desktop.ini",
                                                             ".DS_Store"};
  // Each folder on the way, then the name itself; stepping by character, so that the second
  // byte of a double-byte character is never taken for a separator.
  size_t name_start = 0;
  for (size_t i = 0; i < path.size(); i += Cp932CharSize(path, i)) {
    if (path[i] != '\\') continue;
    if (Cp932EqualNoCase(path.substr(name_start, i - name_start), "System Volume Information")) {
      return true;
    }
    name_start = i + 1;
  }
  std::string_view name = path.substr(name_start);
  for (std::string_view file : kFiles) {
    if (Cp932EqualNoCase(name, file)) return true;
  }
  if (name.size() > 2 && name.substr(0, 2) == "._") {
    std::string partner(path.substr(0, name_start));
    partner.append(name.substr(2));
    return present.contains(partner);
  }
  return false;
}

}  // namespace kdr
