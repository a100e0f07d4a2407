#include "store/undo.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>

#include "platform/cp932.h"
#include "platform/text_encoding.h"
#include "store/backup.h"
#include "store/backup_journal.h"
#include "store/store_time.h"

namespace kdr {
namespace {

// A file path as Windows reads it, from the start to the last name: no "/" (another separator),
// no "." or ".." name, no empty name, no trailing separator.
bool PlainFilePath(std::string_view path) {
  if (!FindCp932Chars(path, '/').empty()) return false;
  std::string_view names = path.starts_with("\\\\") ? path.substr(2) : path;
  std::vector<std::string_view> parts;
  if (!SplitCp932Path(names, &parts)) return false;
  return std::none_of(parts.begin(), parts.end(),
                      [](std::string_view name) { return name == "." || name == ".."; });
}

// `folder` without the backslash it ends with.
std::string_view WithoutLastSeparator(std::string_view folder) {
  size_t last = FindLastCp932Separator(folder);
  return last != std::string_view::npos && last + 1 == folder.size() ? folder.substr(0, last)
                                                                     : folder;
}

// Undoes one edition's block as the journal hands it over: values and files at once, created
// folders and keys (few and short) once the block is read, so that each is removed only after
// everything in it.
class Undoer : public JournalItems {
 public:
  // With `probe`, nothing is changed: each item that is not as before is counted refused.
  Undoer(Registry& registry, FileSystem& files, std::string folder, bool force,
         const UndoScope& scope, const UndoObserver& observer, UndoResult* result,
         bool probe = false)
      : probe_(probe),
        registry_(registry),
        files_(files),
        folder_(std::move(folder)),
        force_(force),
        scope_(scope),
        observer_(observer),
        result_(result) {}

  // `cut_short`: a Migrate stopped during the edition's writes.
  void StartEdition(kdr::Edition edition, bool cut_short = false) {
    cut_short_ = cut_short;
    folders_ = &scope_.folders[EditionIndex(edition)];
    folders_created_.clear();
    keys_created_.clear();
  }
  void KeyCreated(std::string path) override { keys_created_.push_back(std::move(path)); }
  void Value(PlannedValue value) override { UndoValue(value); }
  void FolderCreated(std::string path) override { folders_created_.push_back(std::move(path)); }
  void File(JournalFile file) override { UndoFile(file); }

  // Removes the files queued since the last call (together, so that their waits for the disk
  // overlap), then tells the items held back meanwhile, in the journal's order.
  void RemovePending() {
    if (removals_.empty()) return;
    std::vector<FileResult> removed;
    files_.RemoveFiles(removals_, &removed);
    for (HeldItem& held : held_) {
      if (held.removal != kNoRemoval && !removed[held.removal]) {
        held.item.call = removed[held.removal].call;
        held.item.status = removed[held.removal].code;
        held.outcome = UndoOutcome::kFailed;
        held.reason = UndoReason::kNotRemovable;
      }
      Tell(std::move(held.item), held.outcome, held.reason, held.status);
    }
    removals_.clear();
    held_.clear();
  }

  // In probe mode: the created keys and folders that exist count as written.
  void ProbeCreated() {
    for (const std::string& path : folders_created_) {
      // One that cannot be looked at may be there: counted as written.
      if (files_.Lookup(path) != std::optional(EntryKind::kNone)) {
        Add(Item(UndoSubject::kFolder, path), UndoOutcome::kRefused);
      }
    }
    for (const std::string& path : keys_created_) {
      RegistryKeyPtr key;
      if (registry_.OpenKey(RootKey::kCurrentUser, path, kKeyQueryValue, &key) != kNotFound) {
        Add(Item(UndoSubject::kKey, path), UndoOutcome::kRefused);
      }
    }
  }

  void EndEdition() {
    RemovePending();
    // A Migrate ended during a copy leaves the copy's temporary folder in a destination folder:
    // gone before the folders the Migrate made, which it would keep from being removed.
    for (const std::string& folder : *folders_) files_.RemoveLeftovers(folder);
    // Parents were made first, so children go first.
    for (auto it = folders_created_.rbegin(); it != folders_created_.rend(); ++it) Folder(*it);
    // Deepest first: a created key's created subkeys go before it.
    std::stable_sort(
        keys_created_.begin(), keys_created_.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& key : keys_created_) Key(key);
  }

 private:
  static constexpr size_t kRemovalBatch = 1024;

  // A file Migrate copied lies inside one of the edition's destination folders.
  bool FileInScope(std::string_view path) const {
    return PlainFilePath(path) &&
           std::any_of(folders_->begin(), folders_->end(), [&](const std::string& folder) {
             std::string_view base = WithoutLastSeparator(folder);
             return path.size() > base.size() && Cp932PathAtOrBelow(path, base);
           });
  }
  // A folder Migrate made is a destination folder, one above it or one inside it.
  bool FolderInScope(std::string_view path) const {
    std::string_view plain = WithoutLastSeparator(path);
    return PlainFilePath(plain) &&
           std::any_of(folders_->begin(), folders_->end(), [&](const std::string& folder) {
             std::string_view base = WithoutLastSeparator(folder);
             return Cp932PathAtOrBelow(plain, base) || Cp932PathAtOrBelow(base, plain);
           });
  }
  bool KeyInScope(std::string_view key) const { return Cp932PathAtOrBelow(key, scope_.branch); }

  static UndoItem Item(UndoSubject subject, std::string_view path, std::string_view name = {}) {
    UndoItem item;
    item.subject = subject;
    item.path = path;
    item.name = name;
    return item;
  }

  // What the platform said of a failed call, kept with the item.
  static UndoItem WithCause(UndoItem item, const FileResult& failed) {
    item.call = failed.call;
    item.status = failed.code;
    return item;
  }

  // Told now, or after the removals queued before it.
  void Add(UndoItem&& item, UndoOutcome outcome, UndoReason reason = UndoReason::kNone,
           Status status = kOk) {
    if (removals_.empty()) return Tell(std::move(item), outcome, reason, status);
    held_.push_back({std::move(item), outcome, reason, status, kNoRemoval});
  }
  void Tell(UndoItem&& item, UndoOutcome outcome, UndoReason reason, Status status) {
    ++result_->counts[static_cast<size_t>(outcome)];
    if (item.subject == UndoSubject::kFile &&
        (outcome == UndoOutcome::kRefused || outcome == UndoOutcome::kFailed)) {
      left_files_.insert(item.path);
    }
    item.outcome = outcome;
    item.reason = reason;
    if (status != kOk) item.status = status;
    if (observer_) observer_(item);
  }

  void UndoFile(const JournalFile& f) {
    const std::string& path = f.planned.destination;
    UndoItem what = Item(UndoSubject::kFile, path);
    if (!FileInScope(path))
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kOutsideScope);
    // A file that cannot be looked at is not taken for one that is gone.
    Result<EntryKind> there = files_.Lookup(path);
    if (!there) {
      return Add(WithCause(std::move(what), there.error()), UndoOutcome::kFailed,
                 UndoReason::kUnreadable);
    }
    bool exists = *there != EntryKind::kNone;
    FileDigest now;
    if (exists) {
      Result<FileDigest> digest = DigestFile(files_, path);
      if (!digest) {
        return Add(WithCause(std::move(what), digest.error()), UndoOutcome::kFailed,
                   UndoReason::kUnreadable);
      }
      now = *digest;
    }
    bool as_before = f.planned.replaces ? exists && now == f.old_digest : !exists;
    if (as_before && !probe_ && f.planned.old_metadata) {
      // The content is back (an undo run before, perhaps by one who could not give the file
      // its owner): the metadata may still be not.
      FileMetadata metadata;
      if (!files_.GetMetadata(path, &metadata) || metadata != *f.planned.old_metadata) {
        return RestoreMetadata(what, path, *f.planned.old_metadata);
      }
    }
    if (as_before) return Add(std::move(what), UndoOutcome::kAlreadyAsBefore);
    if (probe_) return Add(std::move(what), UndoOutcome::kRefused);
    bool as_written = exists && now == f.planned.new_digest;
    // A Migrate stopped during the edition's writes may have left the file cut short, where the
    // platform's copy writes in place: that content is the Migrate's own.
    if (!as_written && !force_ && !cut_short_) {
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kChangedSince);
    }
    if (!f.planned.replaces) {
      // Removed with the next ones, each told in the journal's order, all before the edition's
      // folders go.
      removals_.push_back(path);
      held_.push_back(
          {std::move(what), UndoOutcome::kRemoved, UndoReason::kNone, kOk, removals_.size() - 1});
      if (removals_.size() >= kRemovalBatch) RemovePending();
      return;
    }
    std::string saved = folder_ + "\\files\\" + f.saved_copy;
    Result<std::string> old = files_.ReadFile(saved);
    if (!old) {
      return Add(
          WithCause(std::move(what), old.error()), UndoOutcome::kFailed,
          old.not_found() ? UndoReason::kSavedCopyMissing : UndoReason::kSavedCopyUnreadable);
    }
    if (FileDigest{old->size(), HashBytes(*old)} != f.old_digest) {
      return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kSavedCopyBad);
    }
    if (!files_.WriteFileAtomically(path, *old) || DigestFile(files_, path) != f.old_digest) {
      return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kNotWrittenBack);
    }
    if (f.planned.old_metadata) return RestoreMetadata(what, path, *f.planned.old_metadata);
    Add(std::move(what), UndoOutcome::kRestored);
  }

  // The content is as before: gives the file its recorded metadata, and says what of it could
  // not be given (the owner, when not run as root) without failing the item.
  void RestoreMetadata(UndoItem what, const std::string& path, const FileMetadata& metadata) {
    unsigned not_set = 0;
    FileResult set = files_.SetMetadata(path, metadata, &not_set);
    if (set) return Add(std::move(what), UndoOutcome::kRestored);
    ++result_->metadata_not_restored;
    if (not_set == 0) not_set = MetadataParts(metadata);
    what.metadata_parts = not_set;
    what.call = set.call;
    what.status = set.code;
    Add(std::move(what), UndoOutcome::kRestored, UndoReason::kMetadata);
  }

  void Folder(const std::string& path) {
    UndoItem what = Item(UndoSubject::kFolder, path);
    if (!FolderInScope(path))
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kOutsideScope);
    Result<EntryKind> there = files_.Lookup(path);
    if (!there) {
      return Add(WithCause(std::move(what), there.error()), UndoOutcome::kFailed,
                 UndoReason::kUnreadable);
    }
    if (*there != EntryKind::kFolder) return Add(std::move(what), UndoOutcome::kAlreadyAsBefore);
    FileResult removed = files_.RemoveFolder(path);
    if (removed.code == kDirNotEmpty) {
      // Not empty says nothing of whose files are in it: a file of the Migrate's that undo
      // left is not the user's. Other files are claimed only when the listing shows one.
      std::optional<UndoReason> why = WhyNotEmpty(path);
      if (why) return Add(std::move(what), UndoOutcome::kRefused, *why);
    }
    if (!removed) {
      return Add(WithCause(std::move(what), removed), UndoOutcome::kFailed,
                 UndoReason::kNotRemovable);
    }
    Add(std::move(what), UndoOutcome::kRemoved);
  }

  // Why the folder `path` the Migrate made is not empty, or nothing when that cannot be told.
  std::optional<UndoReason> WhyNotEmpty(const std::string& path) {
    std::vector<std::string> names;
    bool left_one = false;
    if (files_.ListFiles(path + "\\", &names)) {
      for (const std::string& name : names) {
        if (!left_files_.contains(path + "\\" + name)) return UndoReason::kFolderNotEmpty;
        left_one = true;
      }
    }
    if (left_one) return UndoReason::kFolderHoldsLeftFile;
    return std::nullopt;
  }

  void UndoValue(const PlannedValue& v) {
    UndoItem what = Item(UndoSubject::kValue, v.key, v.name);
    if (!KeyInScope(v.key))
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kOutsideScope);
    RegistryKeyPtr key;
    Status status =
        registry_.OpenKey(RootKey::kCurrentUser, v.key, kKeyQueryValue | kKeySetValue, &key);
    if (status == kNotFound) {
      if (!v.existed) return Add(std::move(what), UndoOutcome::kAlreadyAsBefore);
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kKeyRemoved);
    }
    if (status != kOk) {
      return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kKeyUnopenable, status);
    }
    uint32_t type = 0;
    std::string data;
    status = key->QueryValue(v.name, &type, &data);
    if (status != kOk && status != kNotFound) {
      return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kUnreadable, status);
    }
    bool present = status == kOk;
    bool as_before = v.existed ? (present && type == v.old_type && data == v.old_data) : !present;
    if (as_before) return Add(std::move(what), UndoOutcome::kAlreadyAsBefore);
    if (probe_) return Add(std::move(what), UndoOutcome::kRefused);
    bool as_written = present && type == v.new_type && data == v.new_data;
    if (!as_written && !force_) {
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kChangedSince);
    }
    status = v.existed ? key->SetValue(v.name, v.old_type, v.old_data) : key->DeleteValue(v.name);
    if (status != kOk) {
      return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kRegistryRefused, status);
    }
    Add(std::move(what), v.existed ? UndoOutcome::kRestored : UndoOutcome::kRemoved);
  }

  void Key(const std::string& path) {
    UndoItem what = Item(UndoSubject::kKey, path);
    if (!KeyInScope(path))
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kOutsideScope);
    RegistryKeyPtr key;
    Status status = registry_.OpenKey(RootKey::kCurrentUser, path,
                                      kKeyQueryValue | kKeySetValue | kKeyEnumerateSubKeys, &key);
    if (status == kNotFound) return Add(std::move(what), UndoOutcome::kAlreadyAsBefore);
    if (status != kOk) {
      return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kUnopenable, status);
    }
    std::string name;
    uint32_t type = 0;
    std::string data;
    if (key->EnumKey(0, &name) == kOk) {
      return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kHoldsKeys);
    }
    if (key->EnumValue(0, &name, &type, &data) == kOk) {
      if (!force_) return Add(std::move(what), UndoOutcome::kRefused, UndoReason::kHoldsValues);
      while (key->EnumValue(0, &name, &type, &data) == kOk) {
        if (key->DeleteValue(name) != kOk) {
          return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kValueNotRemovable);
        }
      }
    }
    key.reset();
    status = registry_.DeleteKey(RootKey::kCurrentUser, path);
    if (status != kOk) {
      return Add(std::move(what), UndoOutcome::kFailed, UndoReason::kNotRemovable, status);
    }
    Add(std::move(what), UndoOutcome::kRemoved);
  }

  bool probe_;
  bool cut_short_ = false;
  Registry& registry_;
  FileSystem& files_;
  std::string folder_;
  bool force_;
  const UndoScope& scope_;
  const UndoObserver& observer_;
  const std::vector<std::string>* folders_ = nullptr;
  UndoResult* result_;
  static constexpr size_t kNoRemoval = static_cast<size_t>(-1);
  struct HeldItem {
    UndoItem item;
    UndoOutcome outcome;
    UndoReason reason;
    Status status;
    size_t removal;  // its file in removals_, or kNoRemoval
  };
  std::vector<std::string> removals_;  // files to remove, in the journal's order
  std::vector<HeldItem> held_;         // items not told yet, in order
  // Files of the journal that undo refused or could not take back: they keep their folders.
  std::set<std::string, Cp932NoCaseLess> left_files_;
  std::vector<std::string> folders_created_;
  std::vector<std::string> keys_created_;
};

std::string ResultSummary(const UndoResult& result) {
  std::string text;
  for (UndoOutcome o :
       {UndoOutcome::kRestored, UndoOutcome::kRemoved, UndoOutcome::kAlreadyAsBefore,
        UndoOutcome::kRefused, UndoOutcome::kFailed}) {
    text += std::string(UndoOutcomeText(o)) + "\t" + std::to_string(result.Count(o)) + "\n";
  }
  return text + "metadata not restored\t" + std::to_string(result.metadata_not_restored) + "\n";
}

}  // namespace

std::string_view UndoOutcomeText(UndoOutcome outcome) {
  switch (outcome) {
    case UndoOutcome::kRestored:
      return "restored";
    case UndoOutcome::kRemoved:
      return "removed";
    case UndoOutcome::kAlreadyAsBefore:
      return "already as before";
    case UndoOutcome::kRefused:
      return "refused";
    case UndoOutcome::kFailed:
      break;
  }
  return "failed";
}

LogText UndoItemName(const UndoItem& item) {
  switch (item.subject) {
    case UndoSubject::kFile:
      return "file " + Cp932Text(item.path);
    case UndoSubject::kFolder:
      return "folder " + Cp932Text(item.path);
    case UndoSubject::kValue:
      return "value HKCU\\" + Cp932Text(item.path) + "\\" + Cp932Text(item.name);
    case UndoSubject::kKey:
      break;
  }
  return "key HKCU\\" + Cp932Text(item.path);
}

std::string UndoItemText(const UndoItem& item) { return UndoItemName(item).Utf8(); }

std::string UndoReasonText(const UndoItem& item) {
  const std::string status = " (" + std::to_string(item.status) + ")";
  const std::string cause = " (" + item.call + ": " + DescribeCode(item.status) + ")";
  switch (item.reason) {
    case UndoReason::kNone:
      return {};
    case UndoReason::kOutsideScope:
      return "outside what a Migrate writes; the journal is damaged or was altered";
    case UndoReason::kUnreadable:
      if (!item.call.empty()) return "cannot be read" + cause;
      return "cannot be read" + (item.subject == UndoSubject::kValue ? status : "");
    case UndoReason::kChangedSince:
      return "changed since the Migrate wrote it";
    case UndoReason::kNotRemovable:
      if (!item.call.empty()) {
        return "cannot be removed (" + item.call + ": " + DescribeCode(item.status) + ")";
      }
      return "cannot be removed" + (item.subject == UndoSubject::kKey ? status : "");
    case UndoReason::kSavedCopyMissing:
      return "its saved copy is missing" + cause;
    case UndoReason::kSavedCopyUnreadable:
      return "its saved copy cannot be read" + cause;
    case UndoReason::kSavedCopyBad:
      return "its saved copy is damaged: it is not what the Migrate saved";
    case UndoReason::kNotWrittenBack:
      return "cannot be written back";
    case UndoReason::kMetadata:
      return DescribeMetadataParts(item.metadata_parts) + " could not be restored (" + item.call +
             ": " + DescribeCode(item.status) + ")";
    case UndoReason::kFolderNotEmpty:
      return "not empty: it holds files the Migrate did not add";
    case UndoReason::kFolderHoldsLeftFile:
      return "not empty: it holds a file undo did not take back";
    case UndoReason::kKeyRemoved:
      return "its key was removed since the Migrate";
    case UndoReason::kKeyUnopenable:
      return "its key cannot be opened" + status;
    case UndoReason::kRegistryRefused:
      return "the registry refused" + status;
    case UndoReason::kUnopenable:
      return "cannot be opened" + status;
    case UndoReason::kHoldsKeys:
      return "holds keys the Migrate did not create";
    case UndoReason::kHoldsValues:
      return "holds values the Migrate did not write";
    case UndoReason::kValueNotRemovable:
      break;
  }
  return "a value in it cannot be removed";
}

std::string PlaceErrorText(const PlaceError& error) {
  // Kept as text in UndoResult::error, which the log and --json give as it is.
  return (error.listing ? "cannot list " : "cannot look at ") + Cp932ForDisplay(error.path) + " (" +
         Describe(error.failure) + ")";
}

size_t UndoResult::Total() const {
  size_t total = 0;
  for (size_t count : counts) total += count;
  return total;
}

namespace {

bool ListBackupsIn(FileSystem& files, const std::string& place, std::vector<BackupInfo>* backups,
                   PlaceError* error, bool read_journals) {
  if (place.empty()) return true;
  std::string root = place + "\\";
  std::vector<std::string> names;
  Result<EntryKind> there = files.Lookup(root);
  if (!there) {
    *error = {false, root, there.error()};
    return false;
  }
  if (*there != EntryKind::kFolder) return true;
  if (FileResult listed = files.ListFiles(root, &names); !listed) {
    *error = {true, root, listed};
    return false;
  }
  const std::string suffix = "\\" + std::string(kJournalName);
  for (const std::string& name : names) {
    if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
    BackupInfo info;
    info.name = name.substr(0, name.size() - suffix.size());
    if (info.name.find('\\') != std::string::npos) continue;
    info.folder = root + info.name;
    std::optional<uint64_t> sequence = ReadBackupSequence(files, info.folder);
    info.sequence = sequence.value_or(0);
    bool unreadable = !sequence;
    if (unreadable) {
      info.error = "its sequence number cannot be read";
      info.trouble = BackupInfo::Trouble::kSequenceUnreadable;
    }
    std::optional<JournalOutline> journal =
        unreadable || !read_journals ? std::nullopt
                                     : CheckJournalFile(files, root + name, &info.journal);
    if (!journal && read_journals && info.trouble == BackupInfo::Trouble::kNone) {
      unreadable = !info.journal.damaged();
      info.trouble = unreadable ? BackupInfo::Trouble::kJournalUnreadable
                                : BackupInfo::Trouble::kJournalDamaged;
      info.error = (unreadable ? "" : "the journal is damaged: ") + JournalErrorText(info.journal);
    }
    info.unreadable = unreadable;
    if (journal) {
      info.time = journal->time;
      for (Edition e : journal->editions) info.editions.emplace_back(EditionName(e));
    }
    // A marker that cannot be looked at leaves the backup as not undone, so that it still keeps
    // an older one of its edition from being undone first, with the trouble said.
    Result<EntryKind> marker = files.Lookup(info.folder + "\\" + std::string(kUndoneMarkerName));
    info.undone = marker && *marker != EntryKind::kNone;
    if (!marker && info.trouble == BackupInfo::Trouble::kNone) {
      info.trouble = BackupInfo::Trouble::kUndoneUnknown;
      info.marker = marker.error();
      info.error = "whether it was undone cannot be told (" + Describe(info.marker) + ")";
    }
    backups->push_back(std::move(info));
  }
  return true;
}

// For UndoResult::error, kept as text.
std::string PlacesForDisplay(const BackupPlaces& places) {
  return Cp932ForDisplay(places.work) +
         (places.fallback.empty() ? "" : " or " + Cp932ForDisplay(places.fallback));
}

bool ShareAnEdition(const BackupInfo& a, const BackupInfo& b) {
  return std::any_of(a.editions.begin(), a.editions.end(), [&](const std::string& e) {
    return std::find(b.editions.begin(), b.editions.end(), e) != b.editions.end();
  });
}

}  // namespace

std::vector<BackupInfo> ListBackups(FileSystem& files, const BackupPlaces& places) {
  std::vector<BackupInfo> backups;
  PlaceError error;
  // A place that cannot be listed holds no backup that could be used.
  static_cast<void>(ListBackups(files, places, &backups, &error));
  return backups;
}

bool ListBackups(FileSystem& files, const BackupPlaces& places, std::vector<BackupInfo>* found,
                 PlaceError* error, bool read_journals) {
  std::vector<BackupInfo>& backups = *found;
  backups.clear();
  bool listed = ListBackupsIn(files, places.work, &backups, error, read_journals) &&
                ListBackupsIn(files, places.fallback, &backups, error, read_journals);
  // Numbers, not names: a name is a time, and a clock can be moved back. Names order only the
  // backups made before there were numbers ("-002" sorts after its first).
  std::sort(backups.begin(), backups.end(), [](const BackupInfo& a, const BackupInfo& b) {
    return a.sequence != b.sequence ? a.sequence < b.sequence : a.name < b.name;
  });
  return listed;
}

UndoResult UndoMigrate(Registry& registry, FileSystem& files, const BackupPlaces& places,
                       std::string_view name, bool force, const UndoScope& scope,
                       const UndoObserver& observer) {
  UndoResult result;
  std::vector<BackupInfo> backups;
  if (!ListBackups(files, places, &backups, &result.place)) {
    result.error = PlaceErrorText(result.place);
    result.problem = UndoProblem::kPlaceUnlisted;
    return result;
  }
  std::vector<BackupInfo>::iterator chosen;
  if (name.empty()) {
    if (backups.empty()) {
      result.error = "there is no backup in " + PlacesForDisplay(places);
      result.problem = UndoProblem::kNoBackup;
      result.nothing_to_do = true;
      return result;
    }
    // The newest Migrate not yet taken back: after one undo the next takes back the Migrate
    // before it.
    auto newest = std::find_if(backups.rbegin(), backups.rend(),
                               [](const BackupInfo& b) { return !b.undone; });
    if (newest == backups.rend()) {
      result.error = "every backup in " + PlacesForDisplay(places) +
                     " has been undone already (name one to undo it again)";
      result.problem = UndoProblem::kAllUndone;
      result.nothing_to_do = true;
      return result;
    }
    chosen = std::prev(newest.base());
  } else {
    chosen = std::find_if(backups.begin(), backups.end(),
                          [&](const BackupInfo& b) { return b.name == name; });
    if (chosen == backups.end()) {
      result.backup = name;
      result.error =
          "there is no backup " + Cp932ForDisplay(name) + " in " + PlacesForDisplay(places);
      result.problem = UndoProblem::kNoSuchBackup;
      return result;
    }
  }
  result.backup = chosen->name;
  // A later Migrate of the same edition may have written the same items again: taking the
  // older one back first would restore what the later one then finds changed. Forced, what
  // changed since (the later Migrate's writes too) is restored anyway.
  for (auto later = std::next(chosen); !force && later != backups.end(); ++later) {
    if (!later->undone && ShareAnEdition(*chosen, *later)) {
      result.error = "the later backup " + Cp932ForDisplay(later->name) +
                     " of the same edition is not undone: undo it first";
      result.problem = UndoProblem::kLaterNotUndone;
      result.later = later->name;
      return result;
    }
  }
  std::string folder = chosen->folder;
  std::string journal_path = folder + "\\" + std::string(kJournalName);
  JournalError& error = result.journal;
  // Checked whole before anything is undone: a damaged journal undoes nothing.
  std::optional<JournalOutline> journal = CheckJournalFile(files, journal_path, &error);
  if (!journal) {
    result.error = (error.damaged() ? "the journal is damaged: " : "") + JournalErrorText(error);
    result.problem = UndoProblem::kJournal;
    return result;
  }
  Undoer undoer(registry, files, folder, force, scope, observer, &result);
  // The last edition first, as a Migrate went through them in order.
  for (size_t block = journal->editions.size(); block-- > 0;) {
    undoer.StartEdition(journal->editions[block], !journal->written[block]);
    if (!ReadJournalBlock(files, journal_path, *journal, block, &undoer, &error)) {
      undoer.RemovePending();  // the items read so far are undone, as each was when read
      result.error = JournalErrorText(error);
      result.problem = UndoProblem::kJournal;
      return result;
    }
    undoer.EndEdition();
  }
  if (journal->cut_short) {
    // A stopped run leaves its last part unfinished only before that edition's first write (the
    // part is written out first): then all of it is as before. A part cut afterwards (on the
    // way, or by hand) names only some of what the Migrate wrote, so it is not taken back.
    std::optional<Edition> edition;
    if (!ReadUnfinishedBlock(files, journal_path, *journal, nullptr, &edition, &error)) {
      result.error = JournalErrorText(error);
      result.problem = UndoProblem::kJournal;
      return result;
    }
    UndoResult written;
    const UndoObserver unseen;
    Undoer probe(registry, files, folder, false, scope, unseen, &written, true);
    if (edition) {
      probe.StartEdition(*edition);
      if (!ReadUnfinishedBlock(files, journal_path, *journal, &probe, &edition, &error)) {
        result.error = JournalErrorText(error);
        result.problem = UndoProblem::kJournal;
        return result;
      }
      probe.ProbeCreated();
    }
    if (edition && written.Total() != written.Count(UndoOutcome::kAlreadyAsBefore)) {
      result.error = "the journal ends inside the part of " + std::string(EditionName(*edition)) +
                     ", which the Migrate wrote: undo cannot know all of it, so that part was "
                     "not taken back";
      result.problem = UndoProblem::kPartNotTaken;
      result.part = *edition;
    }
  }
  if (result.content_complete()) {
    // Only a whole undo is marked; one with refusals can be run again (with --force). Metadata
    // that could not be given back does not keep the backup from counting as undone: running
    // it again by name (--backup) tries that again, and older backups can be undone meanwhile.
    // The marker only tells undo --list; a failed write leaves the backup as not yet undone.
    static_cast<void>(
        files.WriteFileAtomically(folder + "\\" + std::string(kUndoneMarkerName),
                                  CurrentStoreTime().local + "\n" + ResultSummary(result)));
  }
  return result;
}

}  // namespace kdr
