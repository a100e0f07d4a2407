#include "cli/user_profiles.h"

#include <algorithm>

#include "cli/cli_app.h"
#include "cli/cli_messages.h"
#include "platform/cp932.h"
#include "platform/windows_names.h"

namespace kdr::cli {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

const UserProfile* Find(const std::vector<UserProfile>& profiles, std::string_view name) {
  for (const UserProfile& profile : profiles) {
    if (SameName(profile.name, name)) return &profile;
  }
  return nullptr;
}

bool Named(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& each) { return SameName(each, name); });
}

// Worse codes rank higher.
int Rank(int code, int interrupted) {
  if (code == interrupted) return 6;
  switch (code) {
    case kExitNothingToDo:
      return 0;
    case kExitOk:
      return 1;
    case kExitEditionFailed:
      return 2;
    case kExitBusy:
      return 3;
    case kExitUsage:
      return 4;
    default:
      return 5;
  }
}

}  // namespace

bool UsableFolderName(std::string_view name) {
  return CheckWindowsName(name, NameText::kUtf8) == kOk;
}

std::optional<std::vector<UserRun>> ChooseUsers(const std::vector<UserProfile>& profiles,
                                                const std::vector<std::string>& only,
                                                const std::vector<std::string>& excluded,
                                                const std::vector<std::string>& mapped,
                                                std::string* error) {
  for (const std::vector<std::string>* names : {&only, &excluded}) {
    for (const std::string& name : *names) {
      if (!Find(profiles, name)) {
        *error = Text(Msg::kNoSuchUser, {name});
        return std::nullopt;
      }
    }
  }
  std::vector<std::pair<std::string, std::string>> maps;  // new user, old user
  for (const std::string& map : mapped) {
    size_t equals = map.find('=');
    std::string old_user = map.substr(0, equals);
    std::string new_user = equals == std::string::npos ? "" : map.substr(equals + 1);
    if (old_user.empty() || new_user.empty() || !UsableFolderName(old_user)) {
      *error = Text(Msg::kMapUserMalformed, {map});
      return std::nullopt;
    }
    const UserProfile* target = Find(profiles, new_user);
    if (!target) {
      *error = Text(Msg::kNoSuchUser, {new_user});
      return std::nullopt;
    }
    for (const auto& [other, unused] : maps) {
      if (SameName(other, target->name)) {
        *error = Text(Msg::kMapUserTwice, {target->name});
        return std::nullopt;
      }
    }
    maps.emplace_back(target->name, old_user);
  }
  std::vector<UserRun> runs;
  for (const UserProfile& profile : profiles) {
    if (!only.empty() && !Named(only, profile.name)) continue;
    if (Named(excluded, profile.name)) continue;
    UserRun run{profile, profile.name, UserRefusal::kNone};
    if (!UsableFolderName(profile.name)) {
      run.refused = UserRefusal::kNotAFolderName;
    } else if (std::count_if(profiles.begin(), profiles.end(), [&](const UserProfile& other) {
                 return SameName(other.name, profile.name);
               }) > 1) {
      run.refused = UserRefusal::kSharedName;
    }
    for (const auto& [target, old_user] : maps) {
      if (SameName(target, profile.name)) run.store_user = old_user;
    }
    runs.push_back(std::move(run));
  }
  return runs;
}

std::string_view UserRefusalText(UserRefusal refusal) {
  switch (refusal) {
    case UserRefusal::kNone:
      return {};
    case UserRefusal::kNotAFolderName:
      return "the user name cannot be a folder name";
    case UserRefusal::kSharedName:
      break;
  }
  return "two profiles of this PC have this name; their stores would be one";
}

int WorstExitCode(const std::vector<int>& codes, int interrupted) {
  int worst = kExitNothingToDo;
  for (int code : codes) {
    if (Rank(code, interrupted) > Rank(worst, interrupted)) worst = code;
  }
  return worst;
}

}  // namespace kdr::cli
