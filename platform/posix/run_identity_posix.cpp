#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/run_identity.h"

namespace kdr {

std::string MachineName() {
  struct utsname names {};
  if (uname(&names) != 0 || names.nodename[0] == '\0') return "?";
  return names.nodename;
}

std::string UserName() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_name) {
    return "uid " + std::to_string(geteuid());
  }
  return found->pw_name;
}

}  // namespace kdr
