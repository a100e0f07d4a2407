#include <cstdlib>
#include <optional>
#include <string>

#include "platform/text_encoding.h"
#include "platform/user_state_folder.h"

namespace kdr {

std::string UserStateFolder() {
  std::string base;
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  // A relative XDG path is to be ignored, as the base directory rules say.
  if (state && state[0] == '/') {
    base = state;
  } else if (home && home[0] == '/') {
    base = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  std::optional<std::string> cp932 = Utf8ToCp932(base + "/kdr4tose");
  return cp932.value_or(std::string());
}

}  // namespace kdr
