#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

// A registry read from part of a file holds only some branches. A key outside them is unknown
// there, not absent: asking for it must fail as unreadable, never answer "not found".
namespace kdr {

// A key and everything below it; the path is below the root, in code page 932.
struct RegistryBranch {
  RootKey root = RootKey::kCurrentUser;
  std::string path;
};

// How a key stands to the branches held: inside one, above one (known to exist, but neither its
// values nor all of its subkeys are), or outside all.
enum class Holding { kWhole, kAbove, kNone };

class BranchesHeld {
 public:
  // Every key.
  BranchesHeld() = default;
  // Only `branches`; an empty list holds every key.
  explicit BranchesHeld(const std::vector<RegistryBranch>& branches);

  Holding Of(RootKey root, const std::vector<std::string_view>& names) const;

 private:
  struct Branch {
    RootKey root;
    std::vector<std::string> names;
  };
  bool all_ = true;
  std::vector<Branch> branches_;
};

// A registry seen through the branches held: opening, creating or deleting a key outside them
// fails with kCantRead; reading, setting or enumerating the values and subkeys of a key above
// one fails the same. The first such request is kept, for the caller to refuse what was made of
// the answer.
class HeldBranchRegistry : public Registry {
 public:
  HeldBranchRegistry(Registry& inner, BranchesHeld held) : inner_(inner), held_(std::move(held)) {}

  using Registry::OpenKey;
  [[nodiscard]] Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key, RegistryView view) override;
  [[nodiscard]] Status CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) override;
  [[nodiscard]] Status DeleteKey(RootKey root, std::string_view path) override;

  // The first request refused, as "HKEY_CURRENT_USER\path"; empty when there was none.
  const std::string& unheld_request() const { return unheld_request_; }

 private:
  class KeyAbove;
  // The holding of `names`, with the request kept when the key is not held at all.
  Holding Check(RootKey root, const std::vector<std::string_view>& names);
  void Refused(RootKey root, const std::vector<std::string_view>& names);
  // The inner key as it is for a key held whole; one that refuses its contents for a key above.
  RegistryKeyPtr Wrap(RegistryKeyPtr inner, uint32_t access, Holding holding, RootKey root,
                      const std::vector<std::string_view>& names);

  Registry& inner_;
  BranchesHeld held_;
  std::string unheld_request_;
};

}  // namespace kdr
