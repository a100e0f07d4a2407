#include "app/migration_plan.h"

#include <optional>
#include <set>

#include "core/activity_log.h"
#include "datafolders/data_folders.h"
#include "platform/cp932.h"
#include "platform/memory/memory_registry.h"
#include "settings/settings_import.h"

namespace kdr {
namespace {

struct SnapshotKey {
  std::string path;
  std::vector<MemoryRegistry::Value> values;
};

// Every key and value at and below `path` of HKEY_CURRENT_USER, parents first. True also when
// the key does not exist (nothing added).
bool ReadBranch(Registry& registry, const std::string& path, std::vector<SnapshotKey>* out,
                std::string* error) {
  RegistryKeyPtr key;
  Status status =
      registry.OpenKey(RootKey::kCurrentUser, path, kKeyQueryValue | kKeyEnumerateSubKeys, &key);
  if (status == kNotFound) return true;
  if (status != kOk) {
    *error = "cannot open " + path + " (" + std::to_string(status) + ")";
    return false;
  }
  SnapshotKey snap{path, {}};
  for (uint32_t i = 0;; ++i) {
    MemoryRegistry::Value value;
    status = key->EnumValue(i, &value.name, &value.type, &value.data);
    if (status == kNoMoreItems) break;
    if (status != kOk) {
      *error = "cannot read the values of " + path + " (" + std::to_string(status) + ")";
      return false;
    }
    snap.values.push_back(std::move(value));
  }
  out->push_back(std::move(snap));
  std::vector<std::string> children;
  for (uint32_t i = 0;; ++i) {
    std::string name;
    status = key->EnumKey(i, &name);
    if (status == kNoMoreItems) break;
    if (status != kOk) {
      *error = "cannot list the keys of " + path + " (" + std::to_string(status) + ")";
      return false;
    }
    children.push_back(std::move(name));
  }
  key.reset();
  for (const std::string& child : children) {
    if (!ReadBranch(registry, path + "\\" + child, out, error)) return false;
  }
  return true;
}

// The new product's branch and the keys above it, as they are now.
bool SnapshotBranch(Registry& registry, MemoryRegistry* copy, std::string* error) {
  std::vector<SnapshotKey> keys;
  if (!ReadBranch(registry, std::string(kNewProductBranch), &keys, error)) return false;
  std::vector<std::string_view> names;
  if (!SplitCp932Path(kNewProductBranch, &names)) return false;
  std::string above;
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    above += (i ? "\\" : "") + std::string(names[i]);
    RegistryKeyPtr key;
    Status status = registry.OpenKey(RootKey::kCurrentUser, above, kKeyQueryValue, &key);
    if (status == kOk) {
      copy->Create(RootKey::kCurrentUser, above);
    } else if (status != kNotFound) {
      *error = "cannot open " + above + " (" + std::to_string(status) + ")";
      return false;
    }
  }
  for (const SnapshotKey& key : keys) {
    MemoryRegistry::Node* node = copy->Create(RootKey::kCurrentUser, key.path);
    if (!node) continue;
    for (const MemoryRegistry::Value& value : key.values) {
      node->PutValue(value.name, value.type, value.data);
    }
  }
  return true;
}

void Diff(const MemoryRegistry& before, const MemoryRegistry::Node& after, const std::string& path,
          EditionPlan* plan) {
  const MemoryRegistry::Node* old_node =
      path.empty() ? &before.Root(RootKey::kCurrentUser) : before.Find(RootKey::kCurrentUser, path);
  if (!old_node) plan->keys_created.push_back(path);
  for (const MemoryRegistry::Value& value : after.values()) {
    const MemoryRegistry::Value* old_value = old_node ? old_node->FindValue(value.name) : nullptr;
    if (old_value && old_value->type == value.type && old_value->data == value.data) continue;
    PlannedValue planned{path, value.name, old_value != nullptr, 0, {}, value.type, value.data};
    if (old_value) {
      planned.old_type = old_value->type;
      planned.old_data = old_value->data;
    }
    plan->values.push_back(std::move(planned));
  }
  for (const auto& [name, child] : after.children()) {
    Diff(before, *child, path.empty() ? child->name() : path + "\\" + child->name(), plan);
  }
}

// The folders of `folder` (no trailing backslash) that do not exist yet, parents first.
void MissingFolders(FileSystem& files, std::string folder, std::set<std::string>* seen,
                    std::vector<std::string>* out) {
  std::vector<std::string> missing;
  while (!folder.empty() && !files.IsFolder(folder)) {
    missing.push_back(folder);
    std::vector<size_t> separators = FindCp932Chars(folder, '\\');
    if (separators.empty()) break;
    folder.resize(separators.back());
    if (folder.size() == 2 && folder[1] == ':') break;  // a drive's root
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (seen->insert(*it).second) out->push_back(*it);
  }
}

std::string WithoutTrailingSlash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

bool PlanMigrate(const PlanInputs& in, Edition edition, EditionPlan* plan, std::string* error) {
  *plan = EditionPlan{};
  plan->edition = edition;
  MemoryRegistry before;
  MemoryRegistry after;
  if (!SnapshotBranch(in.registry, &before, error) || !SnapshotBranch(in.registry, &after, error)) {
    return false;
  }
  NullActivityLog quiet;
  SettingsImporter importer(after, in.profiles, quiet);
  importer.ImportSettingsFile(in.paths.SettingsFile(edition));
  Diff(before, after.Root(RootKey::kCurrentUser), "", plan);

  std::vector<std::string> unreadable;
  std::vector<FolderCopy> copies =
      PlannedCopies(after, in.files, in.paths, in.max_path, edition, /*migrate=*/true, &unreadable);
  for (const std::string& what : unreadable) plan->failures.push_back(what + " cannot be read");
  std::set<std::string> folders_seen;
  for (const FolderCopy& copy : copies) {
    if (!in.files.IsFolder(copy.source)) continue;
    std::vector<std::string> names;
    if (!in.files.ListFiles(copy.source, &names)) {
      *error = "cannot list " + copy.source;
      return false;
    }
    MissingFolders(in.files, WithoutTrailingSlash(copy.destination), &folders_seen,
                   &plan->folders_created);
    // Folders that hold no file are copied too, and undo must know them.
    std::vector<std::string> subfolders;
    if (!in.files.ListFolders(copy.source, &subfolders)) {
      *error = "cannot list " + copy.source;
      return false;
    }
    for (const std::string& subfolder : subfolders) {
      MissingFolders(in.files, copy.destination + subfolder, &folders_seen, &plan->folders_created);
    }
    for (const std::string& name : names) {
      PlannedFile file{copy.source + name, copy.destination + name, false, 0, {}};
      std::optional<FileDigest> digest;
      if (in.known) {
        auto it = in.known->find(file.source);
        if (it != in.known->end()) digest = it->second;
      }
      if (!digest) digest = DigestFile(in.files, file.source);
      if (!digest) {
        *error = "cannot read " + file.source;
        return false;
      }
      file.new_digest = *digest;
      std::vector<size_t> separators = FindCp932Chars(file.destination, '\\');
      MissingFolders(in.files, file.destination.substr(0, separators.back()), &folders_seen,
                     &plan->folders_created);
      if (in.files.IsFolder(file.destination)) {
        plan->failures.push_back(file.destination + " is a folder; the file cannot replace it");
        continue;
      }
      if (std::optional<FileStamp> stamp = in.files.Stamp(file.destination)) {
        file.replaces = true;
        file.old_size = stamp->size;
      }
      plan->files.push_back(std::move(file));
    }
  }
  return true;
}

}  // namespace kdr
