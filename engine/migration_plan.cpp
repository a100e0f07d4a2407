#include "engine/migration_plan.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "core/activity_log.h"
#include "datafolders/data_folders.h"
#include "datafolders/shared_destinations.h"
#include "platform/cp932.h"
#include "platform/memory/memory_registry.h"
#include "platform/text_encoding.h"
#include "settings/settings_import.h"

namespace kdr {
namespace {

// Compares what the import writes (`node`, at `path`) with the registry, key by key: each key
// opened once and each value the import writes read once. `parent_exists` is false below a key
// the Migrate creates, where nothing can exist yet.
bool Compare(Registry& registry, const MemoryRegistry::Node& node, const std::string& path,
             bool parent_exists, const PlannedWrites& writes, EditionPlan* plan, PlanError* error) {
  RegistryKeyPtr key;
  bool exists = path.empty();  // the root
  if (!exists && parent_exists) {
    Status status = registry.OpenKey(RootKey::kCurrentUser, path, kKeyQueryValue, &key);
    if (status != kOk && status != kNotFound) {
      *error = {PlanError::Kind::kKeyUnopenable, path, {}, status, {}};
      return false;
    }
    exists = status == kOk;
  }
  if (!exists) plan->keys_created.push_back(path);
  uint32_t old_type = 0;
  std::string old_data;  // one buffer for the key's reads
  for (const MemoryRegistry::Value& value : node.values()) {
    if (value.removed()) continue;
    bool existed = false;
    if (key) {
      Status status = key->QueryValue(value.name(), &old_type, &old_data);
      if (status == kOk && old_type == value.type() && old_data == value.data() &&
          !writes.WasRewritten(path, value.name())) {
        continue;
      }
      if (status != kOk && status != kNotFound) {
        *error = {PlanError::Kind::kValueUnreadable, path, std::string(value.name()), status, {}};
        return false;
      }
      existed = status == kOk;
    }
    if (!existed) {
      old_type = 0;
      old_data.clear();
    }
    plan->values.Add({path, value.name(), existed, old_type, old_data, value.type(), value.data()});
  }
  key.reset();
  for (const auto& [name, child] : node.children()) {
    std::string child_path = path.empty() ? child->name() : path + "\\" + child->name();
    if (!Compare(registry, *child, child_path, exists, writes, plan, error)) return false;
  }
  return true;
}

// Puts the data path values the import does not write into `incoming` as the registry holds
// them, so that the data step can be planned from it. A value that cannot be read for another
// reason than its absence fails the plan: the Migrate might read it and copy what the plan left
// out.
bool AddDataPathValues(Registry& registry, Edition edition, MemoryRegistry* incoming,
                       PlanError* error) {
  for (const DataPathValue& path : DataPathValues(edition, /*migrate=*/true)) {
    const MemoryRegistry::Node* node = incoming->Find(RootKey::kCurrentUser, path.key_path);
    if (node && node->FindValue(path.value_name)) continue;
    RegistryKeyPtr key;
    uint32_t type = 0;
    std::string data;
    Status status = registry.OpenKey(RootKey::kCurrentUser, path.key_path, kKeyQueryValue, &key);
    if (status == kOk) status = key->QueryValue(path.value_name, &type, &data);
    if (status == kOk) {
      // The paths are the program's own, always keys.
      if (MemoryRegistry::Node* into = incoming->Create(RootKey::kCurrentUser, path.key_path)) {
        into->PutValue(path.value_name, type, data);
      }
    } else if (status != kNotFound) {
      *error = {PlanError::Kind::kValueUnreadable,
                std::string(path.key_path),
                std::string(path.value_name),
                status,
                {}};
      return false;
    }
  }
  return true;
}

// Folders already looked at, by path (no trailing backslash): true when it exists.
using FolderStates = std::map<std::string, bool>;

// Adds the folders of `folder` (no trailing backslash) that do not exist yet to *created,
// parents first, asking the file system only about folders not looked at before. True when
// `folder` exists. Fails with the lookup that failed: a folder that cannot be looked at is not
// one the Migrate creates (undo would remove it) nor one whose files it need not back up.
Result<bool> NoteFolder(FileSystem& files, const std::string& folder, FolderStates* known,
                        std::vector<std::string>* created) {
  std::vector<std::string> missing;
  std::string at = folder;
  while (!at.empty()) {
    auto it = known->find(at);
    if (it != known->end()) break;
    Result<EntryKind> kind = files.Lookup(at);
    if (!kind) return kind.error();
    bool exists = *kind == EntryKind::kFolder;
    known->emplace(at, exists);
    if (exists) break;
    missing.push_back(at);
    std::vector<size_t> separators = FindCp932Chars(at, '\\');
    if (separators.empty()) break;
    at.resize(separators.back());
    if (at.size() == 2 && at[1] == ':') break;  // a drive's root
  }
  created->insert(created->end(), missing.rbegin(), missing.rend());
  return known->at(folder);
}

// The plan's error for a lookup that failed.
bool Failed(PlanError* error, const std::string& path, const FileResult& failed) {
  *error = {PlanError::Kind::kNotLookedAt, path, {}, kOk, failed};
  return false;
}

std::string WithoutTrailingSlash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// Whether `copy` would make nothing but its files: no folder to make below it, nothing in its
// way, and no entry in its store folder that a listing of files leaves out.
bool MakesOnlyItsFiles(FileSystem& files, const EditionPlan& plan, const PlannedCopy& copy) {
  auto below = [&](std::string_view path) { return path.starts_with(copy.destination); };
  return std::none_of(plan.folders_created.begin(), plan.folders_created.end(),
                      [&](const std::string& folder) { return below(folder + "\\"); }) &&
         std::none_of(plan.failures.begin(), plan.failures.end(),
                      [&](const PlanFailure& failure) { return below(failure.path); }) &&
         files.HoldsOnlyFilesAndFolders(copy.source);
}

}  // namespace

void KeepFilesInPlace(FileSystem& files, EditionPlan* plan, const CopyRecord* placed,
                      const StoreFileStamps* store, bool whole_copies_only) {
  std::vector<std::optional<KeptFile>> found(plan->files.size());
  for (size_t at = 0; at < plan->files.size(); ++at) {
    const PlannedFile& file = plan->files[at];
    const bool users_file = file.replaces && file.old_content_from.empty();
    // What a Migrate that did not finish wrote (or was to write) there: the backup still
    // records it, so that undo takes it back as that one would have, but the copy need not
    // write it again when it is already the store's.
    const bool left_unfinished = !users_file && file.old_stamp;
    std::optional<FileStamp> stamp;
    if (users_file && file.old_size == file.new_digest.size) {
      stamp =
          file.old_stamp ? file.old_stamp : std::optional<FileStamp>(files.Stamp(file.destination));
    } else if (left_unfinished && file.old_stamp->size == file.new_digest.size) {
      stamp = file.old_stamp;
    }
    if (stamp) {
      // The store file's stamp as the check found it, which proved its digest then.
      const FileStamp* source_stamp = nullptr;
      if (store) {
        auto it = store->find(file.source);
        if (it != store->end()) source_stamp = &it->second;
      }
      KeptFile kept{file.destination, *stamp, file.new_digest, file.source};
      kept.in_backup = left_unfinished;
      kept.on_record = placed && source_stamp &&
                       placed->Holds(file.destination, *source_stamp, *stamp, file.new_digest);
      if (kept.on_record || DigestFile(files, file.destination) == file.new_digest) {
        found[at] = std::move(kept);
      }
    }
  }
  if (whole_copies_only) {
    for (const PlannedCopy& copy : plan->copies) {
      std::vector<size_t> its;
      for (size_t at = 0; at < plan->files.size(); ++at) {
        if (plan->files[at].source.starts_with(copy.source)) its.push_back(at);
      }
      if (std::all_of(its.begin(), its.end(), [&](size_t at) { return found[at].has_value(); }) &&
          MakesOnlyItsFiles(files, *plan, copy)) {
        continue;
      }
      for (size_t at : its) found[at].reset();
    }
  }
  std::vector<PlannedFile> replaced;
  for (size_t at = 0; at < plan->files.size(); ++at) {
    if (found[at]) {
      const bool in_backup = found[at]->in_backup;
      plan->kept.push_back(std::move(*found[at]));
      if (!in_backup) continue;
    }
    replaced.push_back(std::move(plan->files[at]));
  }
  plan->files = std::move(replaced);
}

void RecordKeptFiles(const EditionPlan& plan, CopyRecord* placed, const StoreFileStamps& store) {
  for (const KeptFile& file : plan.kept) {
    if (file.on_record) continue;
    auto it = store.find(file.source);
    if (it != store.end()) {
      placed->Proven(file.source, file.destination, file.digest, it->second, file.stamp);
    }
  }
}

std::vector<CopyKeptWhole> CopiesKeptWhole(FileSystem& files, const EditionPlan& plan) {
  std::unordered_set<std::string_view> kept;
  for (const KeptFile& file : plan.kept) kept.insert(file.destination);
  std::vector<CopyKeptWhole> whole;
  for (const PlannedCopy& copy : plan.copies) {
    auto from_it = [&](std::string_view source) { return source.starts_with(copy.source); };
    auto below = [&](std::string_view path) { return path.starts_with(copy.destination); };
    if (std::any_of(plan.files.begin(), plan.files.end(),
                    [&](const PlannedFile& file) {
                      return from_it(file.source) && !kept.contains(file.destination);
                    }) ||
        !MakesOnlyItsFiles(files, plan, copy)) {
      continue;
    }
    CopyKeptWhole& entry = whole.emplace_back(CopyKeptWhole{copy.source, copy.destination, {}});
    for (const KeptFile& file : plan.kept) {
      if (from_it(file.source) && below(file.destination)) {
        entry.files.push_back({file.source.substr(copy.source.size()), {}});
      }
    }
  }
  return whole;
}

void PlannedKeeps::Set(const std::vector<KeptFile>& kept) {
  for (const KeptFile& file : kept) kept_.insert_or_assign(file.destination, file);
}

bool PlannedKeeps::Keeps(std::string_view /*source*/, std::string_view destination,
                         const CopyPairStamps& known, FileDigest* digest, FileResult* refused) {
  auto it = kept_.find(std::string(destination));
  if (it == kept_.end()) return false;
  if (StampOr(known.destination, files_, destination) != it->second.stamp) {
    *refused = FileResult::Fail(kSharingViolation, "CopyFile (changed since the backup was made)",
                                destination);
    return true;
  }
  *digest = it->second.digest;
  return true;
}

void PlannedKeeps::Proven(std::string_view source, std::string_view destination,
                          const FileDigest& digest, const FileStamp& /*source_stamp*/,
                          const FileStamp& copy_stamp) {
  // The store file's digest came from the check, with the stamp it had then: a store file
  // written since would have given a copy that differs from that digest.
  if (!placed_ || !store_) return;
  auto it = store_->find(std::string(source));
  if (it != store_->end()) placed_->Proven(source, destination, digest, it->second, copy_stamp);
}

const std::vector<WholeKeptFile>* PlannedKeeps::KeptWhole(std::string_view source,
                                                          std::string_view destination) {
  for (const CopyKeptWhole& copy : whole_) {
    if (copy.source == source && copy.destination == destination) return &copy.files;
  }
  return nullptr;
}

LogText PlanErrorText(const PlanError& error) {
  const Cp932Text path(error.path);
  switch (error.kind) {
    case PlanError::Kind::kKeyUnopenable:
      return "cannot open " + path + " (" + std::to_string(error.status) + ")";
    case PlanError::Kind::kValueUnreadable:
      return "cannot read " + path + "\\" + Cp932Text(error.name) + " (" +
             std::to_string(error.status) + ")";
    case PlanError::Kind::kFolderUnlisted:
      return "cannot list " + path;
    case PlanError::Kind::kFileUnreadable:
      return "cannot read " + path;
    case PlanError::Kind::kNotLookedAt:
      return "cannot look at " + path + " (" + Describe(error.failure) + ")";
    case PlanError::Kind::kNone:
      break;
  }
  return {};
}

bool PlanMigrate(const PlanInputs& in, Edition edition, EditionPlan* plan, PlanError* error,
                 PlannedWrites* writes) {
  *plan = EditionPlan{};
  plan->edition = edition;
  PlannedWrites unused;
  PlannedWrites& seen = writes ? *writes : unused;
  seen = PlannedWrites{};
  // What the import writes, found by importing into an empty store.
  MemoryRegistry incoming;
  {
    PlannedWritesRegistry recorder(incoming, seen, PlannedWritesRegistry::Mode::kRecord);
    NullActivityLog quiet;
    SettingsImporter importer(recorder, in.profiles, quiet);
    importer.ImportSettingsFile(in.paths.SettingsFile(edition));
  }
  seen.Seal();
  if (!Compare(in.registry, incoming.Root(RootKey::kCurrentUser), "", true, seen, plan, error) ||
      !AddDataPathValues(in.registry, edition, &incoming, error)) {
    return false;
  }

  std::vector<DataPathValue> unreadable;
  std::vector<FolderCopy> copies = PlannedCopies(incoming, in.files, in.paths, in.max_path, edition,
                                                 /*migrate=*/true, &unreadable);
  for (const DataPathValue& what : unreadable) {
    plan->failures.push_back({PlanFailure::Kind::kValueUnreadable, std::string(what.value_name),
                              std::string(what.key_path)});
  }
  for (const FolderCopy& copy : copies) plan->destinations.push_back(copy.destination);
  FolderStates folders;
  std::vector<bool> over;
  if (!CopiesWritingOverEarlier(in.files, copies, &over, &error->path)) {
    error->kind = PlanError::Kind::kFolderUnlisted;
    return false;
  }
  for (size_t i = 0; i < copies.size(); ++i) {
    const FolderCopy& copy = copies[i];
    // A source the store does not hold is skipped; one that cannot be looked at is not.
    Result<EntryKind> source = in.files.Lookup(copy.source);
    if (!source) return Failed(error, copy.source, source.error());
    if (*source != EntryKind::kFolder) continue;
    if (over[i]) {
      plan->failures.push_back({PlanFailure::Kind::kWritesOver, copy.source, copy.destination});
      plan->refused_copies.push_back({copy.source, copy.destination});
      continue;
    }
    std::vector<std::string> names;
    if (!in.files.ListFiles(copy.source, &names)) {
      *error = {PlanError::Kind::kFolderUnlisted, copy.source, {}, kOk, {}};
      return false;
    }
    plan->copies.push_back({copy.source, copy.destination});
    const std::string destination = WithoutTrailingSlash(copy.destination);
    Result<bool> noted = NoteFolder(in.files, destination, &folders, &plan->folders_created);
    if (!noted) return Failed(error, destination, noted.error());
    // Folders that hold no file are copied too, and undo must know them.
    std::vector<std::string> subfolders;
    if (!in.files.ListFolders(copy.source, &subfolders)) {
      *error = {PlanError::Kind::kFolderUnlisted, copy.source, {}, kOk, {}};
      return false;
    }
    for (const std::string& subfolder : subfolders) {
      noted = NoteFolder(in.files, copy.destination + subfolder, &folders, &plan->folders_created);
      if (!noted) return Failed(error, copy.destination + subfolder, noted.error());
    }
    // The stamps of what the destination holds, from one walk of it: a stamp a file by its
    // whole path costs a walk of the path each. What the walk does not give (a file it could
    // not stamp, another case, a folder or a link in the way) is looked at by its own path.
    std::unordered_map<std::string, FileStamp> there;
    if (*noted && in.files.ListsStampsInOneWalk()) {
      std::vector<std::string> held;
      std::vector<std::optional<FileStamp>> stamps;
      if (in.files.ListFileStamps(copy.destination, &held, &stamps)) {
        for (size_t at = 0; at < held.size(); ++at) {
          if (stamps[at]) there.emplace(std::move(held[at]), *stamps[at]);
        }
      }
    }
    plan->files.reserve(plan->files.size() + names.size());
    for (const std::string& name : names) {
      PlannedFile file{copy.source + name, copy.destination + name, false, 0, {}, {}};
      std::optional<FileDigest> digest;
      if (in.known) {
        auto it = in.known->find(file.source);
        if (it != in.known->end()) digest = it->second;
      }
      if (!digest) digest = DigestFile(in.files, file.source);
      if (!digest) {
        *error = {PlanError::Kind::kFileUnreadable, file.source, {}, kOk, {}};
        return false;
      }
      file.new_digest = *digest;
      std::vector<size_t> separators = FindCp932Chars(file.destination, '\\');
      // In a folder the Migrate creates, nothing is there to replace.
      const std::string parent = file.destination.substr(0, separators.back());
      noted = NoteFolder(in.files, parent, &folders, &plan->folders_created);
      if (!noted) return Failed(error, parent, noted.error());
      if (!*noted) {
        plan->files.push_back(std::move(file));
        continue;
      }
      if (auto held = there.find(name); held != there.end()) {
        file.replaces = true;
        file.old_size = held->second.size;
        file.old_stamp = held->second;
        plan->files.push_back(std::move(file));
        continue;
      }
      // A stamp is a plain file's: only where there is none can a folder be in the way. A file
      // that cannot be stamped for another reason may be there: it is not written over unsaved.
      if (Result<FileStamp> stamp = in.files.Stamp(file.destination)) {
        file.replaces = true;
        file.old_size = stamp->size;
        file.old_stamp = *stamp;
      } else if (!stamp.not_found()) {
        Result<EntryKind> kind = in.files.Lookup(file.destination);
        if (kind != std::optional(EntryKind::kFolder)) {
          return Failed(error, file.destination, stamp.error());
        }
        plan->failures.push_back({PlanFailure::Kind::kFolderInTheWay, file.destination, {}});
        continue;
      }
      plan->files.push_back(std::move(file));
    }
  }
  return true;
}

}  // namespace kdr
