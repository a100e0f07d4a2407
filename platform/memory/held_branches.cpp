#include "platform/memory/held_branches.h"

#include <algorithm>
#include <utility>

#include "platform/cp932.h"
#include "platform/memory/memory_registry.h"

namespace kdr {

BranchesHeld::BranchesHeld(const std::vector<RegistryBranch>& branches) : all_(branches.empty()) {
  for (const RegistryBranch& branch : branches) {
    std::vector<std::string_view> names;
    // A path that names no key holds nothing (rather than its whole root).
    if (!SplitKeyPath(branch.path, &names)) continue;
    branches_.push_back({branch.root, {names.begin(), names.end()}});
  }
}

Holding BranchesHeld::Of(RootKey root, const std::vector<std::string_view>& names) const {
  if (all_) return Holding::kWhole;
  Holding holding = Holding::kNone;
  for (const Branch& branch : branches_) {
    if (branch.root != root) continue;
    size_t common = std::min(branch.names.size(), names.size());
    if (!std::equal(
            branch.names.begin(), branch.names.begin() + common, names.begin(),
            [](const std::string& a, std::string_view b) { return Cp932EqualNoCase(a, b); })) {
      continue;
    }
    if (common == branch.names.size()) return Holding::kWhole;
    holding = Holding::kAbove;
  }
  return holding;
}

// The key exists, but what it holds is not known here. The access rights are checked first, as
// the key itself would.
class HeldBranchRegistry::KeyAbove : public RegistryKey {
 public:
  KeyAbove(HeldBranchRegistry& owner, uint32_t access, RootKey root,
           const std::vector<std::string_view>& names)
      : owner_(owner), access_(access), root_(root), names_(names.begin(), names.end()) {}

  Status QueryValue(std::string_view, uint32_t*, std::string*) override {
    return Refuse(kKeyQueryValue);
  }
  Status EnumKey(uint32_t, std::string*) override { return Refuse(kKeyEnumerateSubKeys); }
  Status EnumValue(uint32_t, std::string*, uint32_t*, std::string*) override {
    return Refuse(kKeyQueryValue);
  }
  Status SetValue(std::string_view, uint32_t, std::string_view) override {
    return Refuse(kKeySetValue);
  }
  Status DeleteValue(std::string_view) override { return Refuse(kKeySetValue); }

 private:
  Status Refuse(uint32_t right) {
    if (!(access_ & right)) return kAccessDenied;
    owner_.Refused(root_, {names_.begin(), names_.end()});
    return kCantRead;
  }
  HeldBranchRegistry& owner_;
  uint32_t access_;
  RootKey root_;
  std::vector<std::string> names_;
};

void HeldBranchRegistry::Refused(RootKey root, const std::vector<std::string_view>& names) {
  if (!unheld_request_.empty()) return;
  unheld_request_ = root == RootKey::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
  for (std::string_view name : names) unheld_request_.append("\\").append(name);
}

Holding HeldBranchRegistry::Check(RootKey root, const std::vector<std::string_view>& names) {
  Holding holding = held_.Of(root, names);
  if (holding == Holding::kNone) Refused(root, names);
  return holding;
}

RegistryKeyPtr HeldBranchRegistry::Wrap(RegistryKeyPtr inner, uint32_t access, Holding holding,
                                        RootKey root, const std::vector<std::string_view>& names) {
  if (holding == Holding::kWhole) return inner;
  return std::make_unique<KeyAbove>(*this, access, root, names);
}

Status HeldBranchRegistry::OpenKey(RootKey root, std::string_view path, uint32_t access,
                                   RegistryKeyPtr* key, RegistryView view) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, &names)) return kNotFound;
  ApplyRegistryView(root, view, &names);
  Holding holding = Check(root, names);
  if (holding == Holding::kNone) return kCantRead;
  RegistryKeyPtr inner;
  Status status = inner_.OpenKey(root, path, access, &inner, view);
  if (status == kOk) *key = Wrap(std::move(inner), access, holding, root, names);
  return status;
}

Status HeldBranchRegistry::CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, &names)) return kInvalidParam;
  Holding holding = Check(root, names);
  if (holding == Holding::kNone) return kCantRead;
  RegistryKeyPtr inner;
  Status status = inner_.CreateKey(root, path, &inner);
  constexpr uint32_t kAllAccess = kKeyQueryValue | kKeySetValue | kKeyEnumerateSubKeys;
  if (status == kOk) *key = Wrap(std::move(inner), kAllAccess, holding, root, names);
  return status;
}

Status HeldBranchRegistry::DeleteKey(RootKey root, std::string_view path) {
  if (std::vector<std::string_view> names;
      SplitKeyPath(path, &names) && Check(root, names) == Holding::kNone) {
    return kCantRead;
  }
  return inner_.DeleteKey(root, path);
}

}  // namespace kdr
