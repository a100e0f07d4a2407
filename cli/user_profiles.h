#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

// The users of a PC and the way to each one's registry, for --all-users. The loop over the
// users asks nothing else of the system, so that it runs on an injected list too.
namespace kdr::cli {

// One user profile of the PC.
struct UserProfile {
  std::string name;  // UTF-8; the name of the user's folder in the work folder
  std::string sid;
  std::filesystem::path folder;  // the profile folder (ProfileImagePath)
};

// One user's registry, held for one run. Whatever was loaded for it is released when it is
// destroyed; Release() does so first and says whether it could.
class UserRegistry {
 public:
  virtual ~UserRegistry() = default;
  // The user's registry, with HKEY_CURRENT_USER paths in the user's own hive and
  // HKEY_LOCAL_MACHINE paths in the machine's. Null when the user's registry is a registry file
  // (RegistryFile()), which the run then opens as it opens --registry.
  virtual Registry* registry() = 0;
  virtual std::string RegistryFile() const { return {}; }
  // Where the registry came from, for the log: "logged on", "NTUSER.DAT", a file name.
  virtual std::string Source() const = 0;
  // Unloads what was loaded for the user; false with *error (the system's text) when it could
  // not be. Called once; what is not released by then is released by the destructor.
  [[nodiscard]] virtual bool Release(std::string* error) = 0;
};

// The PC's user profiles and their registries.
class UserProfiles {
 public:
  virtual ~UserProfiles() = default;
  // Every user profile but the system's own (S-1-5-18, -19, -20); false with *error when the
  // list cannot be read.
  [[nodiscard]] virtual bool List(std::vector<UserProfile>* users, std::string* error) = 0;
  // The user's registry for one run, writable for Migrate and undo; null with *error (the
  // system's text) when it cannot be reached: no rights, a hive another program holds, a
  // profile without NTUSER.DAT. *busy says the hive is held by another program.
  virtual std::unique_ptr<UserRegistry> Open(const UserProfile& user, bool writable,
                                             std::string* error, bool* busy) = 0;
};

// The profiles --all-users works on: the system's, or in the tests' build of the program a
// list of its own. Null where there are none (a POSIX host).
std::unique_ptr<UserProfiles> MakeUserProfiles();

// Why a user cannot be run: a name no folder can have, or one that two profiles share (their
// stores would be one).
enum class UserRefusal { kNone, kNotAFolderName, kSharedName };

// In English, for the log and --json.
std::string_view UserRefusalText(UserRefusal refusal);

// One user's run: the profile, and the user whose store it uses (another with --map-user).
struct UserRun {
  UserProfile user;
  std::string store_user;
  UserRefusal refused = UserRefusal::kNone;
};

// Which users a run takes, as --user (none: every one), --exclude-user and --map-user OLD=NEW
// say; names match without regard to ASCII case, as Windows matches account names. Nullopt with
// *error when a named user is not a profile of the PC or a mapping is malformed.
std::optional<std::vector<UserRun>> ChooseUsers(const std::vector<UserProfile>& profiles,
                                                const std::vector<std::string>& only,
                                                const std::vector<std::string>& excluded,
                                                const std::vector<std::string>& mapped,
                                                std::string* error);

// Whether `name` can be a folder name of the work folder: not empty, no separator or character
// Windows refuses in a name, not "." or "..", no device name (CON, NUL, COM1...).
bool UsableFolderName(std::string_view name);

// The exit code of a run over several users: the worst of theirs. A user with nothing to do
// (2) makes the run so only when no user did anything; an interruption outranks everything.
int WorstExitCode(const std::vector<int>& codes, int interrupted);

}  // namespace kdr::cli
