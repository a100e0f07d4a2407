#include "store/store_check.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <unordered_map>

#include "platform/cp932.h"
#include "store/digest_worker.h"
#include "store/manifest.h"
#include "store/system_clutter.h"

namespace kdr {
namespace {

std::string FolderWithSlash(const WorkPaths& paths, Edition edition) {
  return paths.Folder(edition) + "\\";
}

}  // namespace

std::string_view ProblemText(StoreProblemKind kind) {
  switch (kind) {
    case StoreProblemKind::kMissing:
      return "missing";
    case StoreProblemKind::kTruncated:
      return "shorter than when collected";
    case StoreProblemKind::kChanged:
      return "content changed since collected";
    case StoreProblemKind::kUnreadable:
      return "cannot be read";
    case StoreProblemKind::kNotAFile:
      return "not a plain file (a folder, a link or a device): it would not be migrated as "
             "collected";
    case StoreProblemKind::kAdded:
      break;
  }
  return "added since collected (not in the manifest)";
}

std::string_view StoreStateName(StoreState state) {
  switch (state) {
    case StoreState::kWhole:
      return "whole";
    case StoreState::kIncomplete:
      return "incomplete";
    case StoreState::kUnfinished:
      return "unfinished";
    case StoreState::kChanged:
      return "changed";
    case StoreState::kNoManifest:
      break;
  }
  return "no manifest";
}

StoreState EditionCheck::state() const {
  if (!has_manifest) return StoreState::kNoManifest;
  if (!manifest_error.empty()) return StoreState::kChanged;
  if (!sealed) return StoreState::kUnfinished;
  if (!problems.empty()) return StoreState::kChanged;
  if (!missed.empty()) return StoreState::kIncomplete;
  return StoreState::kWhole;
}

size_t EditionCheck::missing() const {
  return std::count_if(problems.begin(), problems.end(),
                       [](const StoreProblem& p) { return p.kind == StoreProblemKind::kMissing; });
}

size_t EditionCheck::added() const {
  return std::count_if(problems.begin(), problems.end(),
                       [](const StoreProblem& p) { return p.kind == StoreProblemKind::kAdded; });
}

size_t EditionCheck::changed() const {
  // A manifest that cannot be used is itself a changed file.
  return problems.size() - missing() - added() + (manifest_error.empty() ? 0 : 1);
}

namespace {

bool WriteManifest(FileSystem& files, const std::string& folder, const Manifest& manifest,
                   ManifestWriteError* error) {
  std::optional<std::string> text = FormatManifest(manifest);
  if (!text) {
    error->kind = ManifestWriteError::Kind::kNameNotCp932;
    return false;
  }
  if (!files.WriteFileAtomically(folder + std::string(kManifestName), *text)) {
    error->kind = ManifestWriteError::Kind::kNotWritten;
    return false;
  }
  return true;
}

// Whether the edition folder holds a manifest. A manifest that is listed but cannot be reached
// by its path (one too long for the platform's calls) is there all the same: the store is never
// taken for one from before manifests because its manifest could not be opened. One that cannot
// be asked for is taken as there, so that its read says why.
bool HasManifest(FileSystem& files, const std::string& folder) {
  Result<EntryKind> manifest = files.Lookup(folder + std::string(kManifestName));
  if (!manifest.not_found() && manifest != std::optional(EntryKind::kNone)) return true;
  std::vector<std::string> names;
  if (!files.ListFiles(folder, &names)) return false;
  return std::any_of(names.begin(), names.end(),
                     [](const std::string& name) { return Cp932EqualNoCase(name, kManifestName); });
}

// Reads listed plain files and compares each with the manifest's digest. A file as listed
// keeps its digest and its stamp before the read in `digests` and `stamps` (either may be
// null); one that is not loses them, and what is wrong with it goes to `problems`, in the order
// the files were started. The files are opened here, in order, and read in a second thread
// while the next are opened: a store is thousands of small files.
class ListedFileReads {
 public:
  ListedFileReads(FileSystem& files, DigestCache* digests, StoreStamps* stamps,
                  std::vector<StoreProblem>* problems)
      : files_(files), digests_(digests), stamps_(stamps), problems_(problems) {}
  ListedFileReads(const ListedFileReads&) = delete;
  ListedFileReads& operator=(const ListedFileReads&) = delete;
  ~ListedFileReads() { Finish(); }

  // `full` is the file's path, `shown` the path its problem is told by.
  void Start(const std::string& full, std::string shown, const FileDigest& listed) {
    Pending pending{full, std::move(shown), listed, std::nullopt};
    Result<std::unique_ptr<FileReader>> reader = files_.OpenForReading(full);
    if (!reader) {
      // Gone since it was listed, or there and not to be opened.
      pending.problem = files_.Lookup(full) == std::optional(EntryKind::kNone)
                            ? StoreProblemKind::kMissing
                            : StoreProblemKind::kUnreadable;
    } else {
      // The stamp before the read: a file written since is not the one read.
      std::optional<FileStamp> before;
      if (stamps_) before = (*reader)->stamp() ? (*reader)->stamp() : files_.Stamp(full);
      worker_.Add(full, before, std::move(*reader));
    }
    pending_.push_back(std::move(pending));
    if (pending_.size() > kAhead) Settle();
  }

  // A problem found without reading, told in its turn among those of the files started.
  void Tell(std::string shown, StoreProblemKind kind) {
    pending_.push_back(Pending{std::string(), std::move(shown), FileDigest{}, kind});
  }

  void Finish() {
    while (!pending_.empty()) Settle();
  }

 private:
  static constexpr size_t kAhead = 48;  // files opened and not yet settled

  struct Pending {
    std::string full;
    std::string shown;
    FileDigest listed;
    std::optional<StoreProblemKind> problem;  // found on opening
  };

  void Settle() {
    Pending pending = std::move(pending_.front());
    pending_.pop_front();
    std::optional<StoreProblemKind> problem = pending.problem;
    std::optional<FileDigest> digest;
    std::optional<FileStamp> before;
    if (!problem) {
      // Each path is started once: a second start of one would find nothing left to take.
      if (!worker_.Take(pending.full, &digest, &before) || !digest) {
        problem = StoreProblemKind::kUnreadable;
      } else if (digest->size < pending.listed.size) {
        problem = StoreProblemKind::kTruncated;
      } else if (*digest != pending.listed) {
        problem = StoreProblemKind::kChanged;
      }
    }
    if (problem) {
      if (digests_ && !pending.full.empty()) digests_->erase(pending.full);
      if (stamps_ && !pending.full.empty()) stamps_->found.erase(pending.full);
      problems_->push_back({std::move(pending.shown), *problem});
      return;
    }
    if (digests_) (*digests_)[pending.full] = *digest;
    if (stamps_ && before && before->size == digest->size) stamps_->found[pending.full] = *before;
  }

  FileSystem& files_;
  DigestCache* digests_;
  StoreStamps* stamps_;
  std::vector<StoreProblem>* problems_;
  DigestWorker worker_;
  std::deque<Pending> pending_;
};

}  // namespace

LogText ManifestWriteErrorText(const ManifestWriteError& error) {
  switch (error.kind) {
    case ManifestWriteError::Kind::kNone:
      return {};
    case ManifestWriteError::Kind::kFolderUnlisted:
      return "the edition folder could not be listed (" + error.host_error + ")";
    case ManifestWriteError::Kind::kFileUnreadable:
      return "cannot be read: " + Cp932Text(error.path);
    case ManifestWriteError::Kind::kNameNotCp932:
      return "a file name is not valid code page 932";
    case ManifestWriteError::Kind::kNotWritten:
      break;
  }
  return "the manifest could not be written";
}

bool MarkEditionBegun(FileSystem& files, const WorkPaths& paths, Edition edition,
                      std::string_view tool_version, std::string_view time,
                      ManifestWriteError* error) {
  Manifest manifest;
  manifest.tool_version = tool_version;
  manifest.time = time;
  manifest.sealed = false;
  return WriteManifest(files, FolderWithSlash(paths, edition), manifest, error);
}

bool WriteEditionManifest(FileSystem& files, const WorkPaths& paths, Edition edition,
                          std::string_view tool_version, std::string_view time,
                          const DigestCache* known, const std::vector<ManifestMiss>& missed,
                          ManifestWriteError* error) {
  std::string folder = FolderWithSlash(paths, edition);
  std::vector<std::string> names;
  if (FileResult listed = files.ListFiles(folder, &names); !listed) {
    error->kind = ManifestWriteError::Kind::kFolderUnlisted;
    error->host_error = Describe(listed);
    return false;
  }
  // The names are looked up only for a "._x" name, which counts as clutter beside an "x": most
  // stores have none, and a set of every name costs more than the rest of the manifest.
  const bool any_partnered = std::any_of(names.begin(), names.end(), [](const std::string& name) {
    return name.find("._") != std::string::npos;
  });
  Cp932NameViews present;
  if (any_partnered) present.insert(names.begin(), names.end());
  Manifest manifest;
  manifest.tool_version = tool_version;
  manifest.time = time;
  manifest.missed = missed;
  for (const std::string& name : names) {
    if (Cp932EqualNoCase(name, kManifestName) || IsSystemClutter(name, present)) continue;
    std::string full = folder + name;
    std::optional<FileDigest> digest;
    if (known) {
      auto it = known->find(full);
      if (it != known->end()) digest = it->second;
    }
    if (!digest) digest = DigestFile(files, full);
    if (!digest) {
      error->kind = ManifestWriteError::Kind::kFileUnreadable;
      error->path = full;
      return false;
    }
    manifest.files.push_back(ManifestFile{name, *digest});
  }
  return WriteManifest(files, folder, manifest, error);
}

StoreState ManifestState(FileSystem& files, const WorkPaths& paths, Edition edition) {
  std::string manifest_path = FolderWithSlash(paths, edition) + std::string(kManifestName);
  if (!HasManifest(files, FolderWithSlash(paths, edition))) return StoreState::kNoManifest;
  std::optional<std::string> text = files.ReadFile(manifest_path);
  ManifestParseResult parsed = text ? ParseManifest(*text) : ManifestParseResult{};
  if (!parsed.manifest) return StoreState::kChanged;
  if (!parsed.manifest->sealed) return StoreState::kUnfinished;
  if (!parsed.manifest->missed.empty()) return StoreState::kIncomplete;
  return StoreState::kWhole;
}

EditionCheck CheckEdition(FileSystem& files, const WorkPaths& paths, Edition edition,
                          DigestCache* digests, StoreStamps* stamps,
                          std::vector<UnreadStoreFile>* unread) {
  EditionCheck check;
  std::string folder = FolderWithSlash(paths, edition);
  std::string manifest_path = folder + std::string(kManifestName);
  if (!HasManifest(files, folder)) return check;
  check.has_manifest = true;
  Result<std::string> text = files.ReadFile(manifest_path);
  if (!text) {
    check.manifest_failure = text.error();
    check.manifest_error = "the manifest cannot be read (" + Describe(text.error()) + ")";
    check.manifest_trouble = EditionCheck::ManifestTrouble::kUnreadable;
    return check;
  }
  ManifestParseResult parsed = ParseManifest(*text);
  if (!parsed.manifest) {
    check.manifest_error =
        "the manifest is damaged: line " + std::to_string(parsed.error_line) + ": " + parsed.error;
    check.manifest_trouble = EditionCheck::ManifestTrouble::kDamaged;
    check.manifest_line = parsed.error_line;
    check.manifest_damage = parsed.damage;
    check.manifest_damage_detail = parsed.detail;
    return check;
  }
  check.sealed = parsed.manifest->sealed;
  check.missed = parsed.manifest->missed;
  // What an unfinished Collect left is not compared: it is not to be used as it is.
  if (!check.sealed) return check;
  // The listing holds plain files only: a link put where a collected file was reads as that
  // file's content, but Migrate's copy would not carry it as a file.
  std::vector<std::string> present;
  // Files only looked at are looked at by the listing's stamps.
  std::vector<std::optional<FileStamp>> present_stamps;
  const bool look_only = unread && stamps;
  if (FileResult listed = look_only ? files.ListFileStamps(folder, &present, &present_stamps)
                                    : files.ListFiles(folder, &present);
      !listed) {
    check.manifest_failure = listed;
    check.manifest_error = "the edition folder cannot be listed (" + Describe(listed) + ")";
    check.manifest_trouble = EditionCheck::ManifestTrouble::kFolderUnlisted;
    return check;
  }
  const Cp932NameViews plain(present.begin(), present.end());
  std::unordered_map<std::string_view, const std::optional<FileStamp>*> listed_stamps;
  for (size_t i = 0; i < present_stamps.size(); ++i) {
    listed_stamps.emplace(present[i], &present_stamps[i]);
  }
  // A work subfolder removed whole skips its copy, as one the user never had does.
  std::vector<std::string> removed;
  for (std::string_view subfolder : Traits(edition).data_subfolders) {
    // One that cannot be asked for is not taken as removed: its files say why they cannot be read.
    if (files.Lookup(folder + std::string(subfolder)) != std::optional(EntryKind::kNone)) continue;
    removed.push_back(std::string(subfolder) + "\\");
    check.skipped_folders.push_back(std::string(subfolder));
  }
  auto in_removed_folder = [&](const std::string& path) {
    return std::any_of(removed.begin(), removed.end(), [&](const std::string& prefix) {
      return Cp932StartsWithNoCase(path, prefix);
    });
  };
  const Cp932NameSet& listed = parsed.paths;
  ListedFileReads reads(files, digests, stamps, &check.problems);
  for (const ManifestFile& file : parsed.manifest->files) {
    if (in_removed_folder(file.path)) continue;
    // Clutter listed by an older version may have been changed by the system since.
    if (IsSystemClutter(file.path, plain)) continue;
    ++check.files_checked;
    std::string full = folder + file.path;
    // What is not there as a plain file is looked at to say why; a listed file is read at once
    // (one open a file), unless it is only to be looked at.
    if (!plain.contains(file.path)) {
      Result<EntryKind> there = files.Lookup(full);
      reads.Tell(file.path, !there                       ? StoreProblemKind::kUnreadable
                            : *there == EntryKind::kNone ? StoreProblemKind::kMissing
                                                         : StoreProblemKind::kNotAFile);
      continue;
    }
    if (look_only) {
      // Looked at now, read later: a file of another size is read at once to say what it is.
      // One listed under another case is looked at by its own path.
      auto it = listed_stamps.find(file.path);
      std::optional<FileStamp> stamp;
      if (it != listed_stamps.end()) {
        stamp = *it->second;
      } else if (Result<FileStamp> own = files.Stamp(full)) {
        stamp = *own;
      }
      if (stamp && stamp->size == file.digest.size) {
        if (digests) (*digests)[full] = file.digest;
        stamps->found[full] = *stamp;
        unread->push_back({full, file.digest});
        continue;
      }
    }
    reads.Start(full, file.path, file.digest);
  }
  reads.Finish();
  for (const std::string& name : present) {
    if (Cp932EqualNoCase(name, kManifestName) || listed.contains(name) ||
        IsSystemClutter(name, plain)) {
      continue;
    }
    check.problems.push_back({name, StoreProblemKind::kAdded});
  }
  return check;
}

void ReadStoreFiles(FileSystem& files, const std::vector<UnreadStoreFile>& unread,
                    const std::string& folder, EditionCheck* check, DigestCache* digests,
                    StoreStamps* stamps) {
  ListedFileReads reads(files, digests, stamps, &check->problems);
  for (const UnreadStoreFile& file : unread) {
    reads.Start(file.path, file.path.substr(folder.size()), file.digest);
  }
  reads.Finish();
}

}  // namespace kdr
