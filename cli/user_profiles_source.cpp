#include "cli/cli_platform.h"
#include "cli/user_profiles.h"

namespace kdr::cli {

// The program works on the system's profiles; the tests' build of it on a list of its own.
std::unique_ptr<UserProfiles> MakeUserProfiles() { return MakeSystemUserProfiles(); }

}  // namespace kdr::cli
