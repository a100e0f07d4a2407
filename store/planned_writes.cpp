#include "store/planned_writes.h"

#include <algorithm>

#include "platform/cp932.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace kdr {
namespace {

uint64_t HashNoCase(std::string_view text, uint64_t seed) {
  std::string upper;
  Cp932UpperCase(text, &upper);
  return XXH3_64bits_withSeed(upper.data(), upper.size(), seed);
}

uint64_t KeyHash(RootKey root, std::string_view path) {
  return HashNoCase(path, root == RootKey::kCurrentUser ? 0x4b43555255534552u : 0x484b4c4du);
}

uint64_t NameHash(uint64_t key, std::string_view name) { return HashNoCase(name, key); }

uint64_t ValueHash(uint64_t name, uint32_t type, std::string_view data) {
  return XXH3_64bits_withSeed(data.data(), data.size(), name ^ (type * 0x9e3779b97f4a7c15u));
}

bool Has(const std::vector<uint64_t>& sorted, uint64_t hash) {
  return std::binary_search(sorted.begin(), sorted.end(), hash);
}

void SortUnique(std::vector<uint64_t>* hashes) {
  std::sort(hashes->begin(), hashes->end());
  hashes->erase(std::unique(hashes->begin(), hashes->end()), hashes->end());
  hashes->shrink_to_fit();
}

}  // namespace

void PlannedWrites::AddKey(std::string_view path) {
  keys_.push_back(KeyHash(RootKey::kCurrentUser, path));
}

void PlannedWrites::AddValue(std::string_view key, std::string_view name, uint32_t type,
                             std::string_view data) {
  values_.push_back(ValueHash(NameHash(KeyHash(RootKey::kCurrentUser, key), name), type, data));
}

void PlannedWrites::AddRewritten(std::string_view key, std::string_view name) {
  rewritten_.push_back(NameHash(KeyHash(RootKey::kCurrentUser, key), name));
}

void PlannedWrites::Seal() {
  SortUnique(&keys_);
  SortUnique(&values_);
  SortUnique(&rewritten_);
}

bool PlannedWrites::HasKey(std::string_view path) const {
  return Has(keys_, KeyHash(RootKey::kCurrentUser, path));
}

bool PlannedWrites::HasValue(std::string_view key, std::string_view name, uint32_t type,
                             std::string_view data) const {
  return Has(values_, ValueHash(NameHash(KeyHash(RootKey::kCurrentUser, key), name), type, data));
}

bool PlannedWrites::WasRewritten(std::string_view key, std::string_view name) const {
  return !rewritten_.empty() &&
         Has(rewritten_, NameHash(KeyHash(RootKey::kCurrentUser, key), name));
}

// A key of the decorated registry: its reads pass, its writes are noted or held to the plan.
class PlannedWritesRegistry::Key : public ForwardingRegistryKey {
 public:
  Key(PlannedWritesRegistry& owner, RootKey root, std::string_view path, RegistryKeyPtr inner)
      : ForwardingRegistryKey(std::move(inner)), owner_(owner), root_(root), path_(path) {}

  Status SetValue(std::string_view name, uint32_t type, std::string_view data) override {
    if (owner_.mode_ == Mode::kGuard) {
      if (!owner_.AllowValue(root_, path_, name, type, data)) return kAccessDenied;
      return inner().SetValue(name, type, data);
    }
    uint32_t old_type = 0;
    std::string old_data;
    bool rewrite = inner().QueryValue(name, &old_type, &old_data) == kOk &&
                   (old_type != type || old_data != data);
    Status status = inner().SetValue(name, type, data);
    if (status == kOk) {
      owner_.writes_.AddValue(path_, name, type, data);
      if (rewrite) owner_.writes_.AddRewritten(path_, name);
    }
    return status;
  }
  Status DeleteValue(std::string_view name) override {
    if (owner_.mode_ == Mode::kGuard) {
      owner_.refused_.push_back(NameHash(KeyHash(root_, path_), name));
      return kAccessDenied;
    }
    return inner().DeleteValue(name);
  }

 private:
  PlannedWritesRegistry& owner_;
  RootKey root_;
  std::string path_;
};

Status PlannedWritesRegistry::Wrap(RootKey root, std::string_view path, Status status,
                                   RegistryKeyPtr* key) {
  if (status == kOk) *key = std::make_unique<Key>(*this, root, path, std::move(*key));
  return status;
}

Status PlannedWritesRegistry::OpenKey(RootKey root, std::string_view path, uint32_t access,
                                      RegistryKeyPtr* key, RegistryView view) {
  return Wrap(root, path, inner_.OpenKey(root, path, access, key, view), key);
}

Status PlannedWritesRegistry::CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) {
  if (mode_ == Mode::kGuard) {
    if (!AllowKey(root, path)) return kAccessDenied;
    return Wrap(root, path, inner_.CreateKey(root, path, key), key);
  }
  Status status = Wrap(root, path, inner_.CreateKey(root, path, key), key);
  if (status == kOk && root == RootKey::kCurrentUser) writes_.AddKey(path);
  return status;
}

Status PlannedWritesRegistry::DeleteKey(RootKey root, std::string_view path) {
  if (mode_ == Mode::kGuard) {
    refused_.push_back(KeyHash(root, path));
    return kAccessDenied;
  }
  return inner_.DeleteKey(root, path);
}

bool PlannedWritesRegistry::AllowKey(RootKey root, std::string_view path) {
  if (root == RootKey::kCurrentUser && writes_.HasKey(path)) return true;
  refused_.push_back(KeyHash(root, path));
  return false;
}

bool PlannedWritesRegistry::AllowValue(RootKey root, std::string_view key, std::string_view name,
                                       uint32_t type, std::string_view data) {
  if (root == RootKey::kCurrentUser && writes_.HasValue(key, name, type, data)) return true;
  refused_.push_back(ValueHash(NameHash(KeyHash(root, key), name), type, data));
  return false;
}

size_t PlannedWritesRegistry::refused() const {
  std::vector<uint64_t> distinct = refused_;
  std::sort(distinct.begin(), distinct.end());
  return static_cast<size_t>(std::unique(distinct.begin(), distinct.end()) - distinct.begin());
}

}  // namespace kdr
