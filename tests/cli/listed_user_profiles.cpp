// kdr4tose-cli for the tests, whose --all-users runs over the users listed in the file that
// KDR_TEST_USERS names instead of the PC's profiles: one user a line, tab-separated
//   name  SID  profile folder  registry file (.reg)  [load|busy|release: error text]
// where the last field makes loading the user's registry fail (busy: held by another program),
// or its release fail, with that text.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cli/cli_platform.h"
#include "cli/user_profiles.h"

namespace kdr::cli {
namespace {

struct ListedUser {
  UserProfile profile;
  std::string registry_file;
  std::string fault;
};

class ListedRegistry : public UserRegistry {
 public:
  ListedRegistry(std::string file, std::string release_error)
      : file_(std::move(file)), release_error_(std::move(release_error)) {}
  Registry* registry() override { return nullptr; }
  std::string RegistryFile() const override { return file_; }
  std::string Source() const override { return "the file " + file_; }
  bool Release(std::string* error) override {
    *error = release_error_;
    return release_error_.empty();
  }

 private:
  std::string file_;
  std::string release_error_;
};

class ListedProfiles : public UserProfiles {
 public:
  explicit ListedProfiles(std::vector<ListedUser> users) : users_(std::move(users)) {}

  bool List(std::vector<UserProfile>* users, std::string*) override {
    for (const ListedUser& user : users_) users->push_back(user.profile);
    return true;
  }

  std::unique_ptr<UserRegistry> Open(const UserProfile& user, bool, std::string* error,
                                     bool* busy) override {
    for (const ListedUser& listed : users_) {
      if (listed.profile.sid != user.sid) continue;
      std::string_view fault = listed.fault;
      *busy = fault.starts_with("busy: ");
      if (fault.starts_with("load: ") || *busy) {
        *error = fault.substr(6);
        return nullptr;
      }
      std::string release = fault.starts_with("release: ") ? listed.fault.substr(9) : "";
      return std::make_unique<ListedRegistry>(listed.registry_file, release);
    }
    *error = "not listed";
    return nullptr;
  }

 private:
  std::vector<ListedUser> users_;
};

}  // namespace

std::unique_ptr<UserProfiles> MakeUserProfiles() {
  const char* list = std::getenv("KDR_TEST_USERS");
  if (!list) return MakeSystemUserProfiles();
  std::ifstream file(list);
  std::vector<ListedUser> users;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() < 4) continue;
    users.push_back({{fields[0], fields[1], HostPathFromUtf8(fields[2])},
                     fields[3],
                     fields.size() > 4 ? fields[4] : ""});
  }
  return std::make_unique<ListedProfiles>(std::move(users));
}

}  // namespace kdr::cli
