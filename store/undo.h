#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/edition.h"
#include "core/log_text.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "store/backup.h"
#include "store/backup_journal.h"

// Taking a Migrate back from its backup: replaced values and files restored, created values,
// keys, files and folders removed. An item that no longer holds what Migrate wrote is refused
// (and named) unless forced; the rest goes on.
namespace kdr {

enum class UndoOutcome { kRestored, kRemoved, kAlreadyAsBefore, kRefused, kFailed };

std::string_view UndoOutcomeText(UndoOutcome outcome);

enum class UndoSubject { kFile, kFolder, kValue, kKey };

// Why an item was refused or failed, or what of a restored file was not given back.
enum class UndoReason {
  kNone,
  kOutsideScope,
  // Cannot be read (a folder: looked at): `call` failed with `status`; a value with `status`.
  kUnreadable,
  kChangedSince,         // changed since the Migrate wrote it
  kNotRemovable,         // a file; a key with `status`
  kSavedCopyMissing,     // the saved copy is not there (`call`, `status`)
  kSavedCopyUnreadable,  // the saved copy cannot be read: `call` failed with `status`
  kSavedCopyBad,         // the saved copy is not what the Migrate saved
  kNotWrittenBack,       // the saved copy cannot be written back
  kMetadata,             // `metadata_parts` could not be restored: `call` refused with `status`
  kFolderNotEmpty,       // it holds a file that is not in the Migrate's record
  kFolderHoldsLeftFile,  // it holds a file of the Migrate's that undo did not remove
  kKeyRemoved,           // a value's key was removed since the Migrate
  kKeyUnopenable,        // with `status`
  kRegistryRefused,
  kUnopenable,  // a key, with `status`
  kHoldsKeys,
  kHoldsValues,
  kValueNotRemovable,
};

// One item as undo met it; the front ends make the text. Paths and names are code page 932,
// as the journal holds them.
struct UndoItem {
  UndoSubject subject = UndoSubject::kFile;
  std::string path;  // the file or folder, or the key below HKEY_CURRENT_USER
  std::string name;  // the value's name
  UndoOutcome outcome = UndoOutcome::kRestored;
  UndoReason reason = UndoReason::kNone;
  Status status = kOk;
  unsigned metadata_parts = 0;
  std::string call;
};

// The item and its reason in English, as the log and --json have them:
// "value HKCU\...\Host", "changed since the Migrate wrote it" ("" without a reason). The item
// as the log takes it, and in UTF-8 for a front end.
LogText UndoItemName(const UndoItem& item);
std::string UndoItemText(const UndoItem& item);
std::string UndoReasonText(const UndoItem& item);

// Why a backup could not be used at all.
enum class UndoProblem {
  kNone,
  kNoBackup,
  kAllUndone,
  kNoSuchBackup,    // `backup` is not in either place
  kLaterNotUndone,  // `later` of the same edition is not undone
  kJournal,         // the journal is damaged or unreadable: `journal` says how
  kPartNotTaken,    // the journal ends inside `part`, which the Migrate wrote: kept as it is
  kPlaceUnlisted,   // a place cannot be looked at or listed (`place` says how): a newer backup
                    // may lie there
};

// A backup place that could not be looked at or listed.
struct PlaceError {
  bool listing = false;  // the listing failed (else: asking what is there did)
  std::string path;      // code page 932
  FileResult failure;
};

// In English and UTF-8, as the log and --json have it: "cannot list <path> (<call>: <error>)".
std::string PlaceErrorText(const PlaceError& error);

struct UndoResult {
  std::string backup;  // the backup's folder name
  // Set when the backup could not be used at all: English with its names in UTF-8, as the log,
  // --json and the tests take it whole.
  std::string error;
  UndoProblem problem = UndoProblem::kNone;
  std::string later;  // kLaterNotUndone: that backup's name
  Edition part = Edition::kPersonal;
  JournalError journal;
  PlaceError place;            // kPlaceUnlisted
  bool nothing_to_do = false;  // (with error) no backup left to undo: none, or all undone
  // Items by outcome: a Migrate of a million values is undone without holding its items.
  std::array<size_t, 5> counts{};
  size_t Count(UndoOutcome outcome) const { return counts[static_cast<size_t>(outcome)]; }
  size_t Total() const;
  // Files whose content is as before but whose recorded metadata (attributes, owner, mode,
  // time) could not all be given back; each such item's reason says what was not.
  size_t metadata_not_restored = 0;
  // Every value and file holds what it held before the Migrate.
  bool content_complete() const {
    return error.empty() && Count(UndoOutcome::kRefused) == 0 && Count(UndoOutcome::kFailed) == 0;
  }
  // Everything is as it was before the Migrate.
  bool complete() const { return content_complete() && metadata_not_restored == 0; }
};

// Where a Migrate writes: the new product's branch below HKEY_CURRENT_USER and each edition's
// destination folders (ending with a backslash). The journal lies in the work folder, which
// travels on USB sticks: an item it names outside these was not written by a Migrate, and undo
// refuses it, even when forced, rather than remove or overwrite something the tool does not own.
struct UndoScope {
  std::string branch;
  std::array<std::vector<std::string>, kEditionCount> folders;
};

struct BackupInfo {
  std::string name;
  std::string folder;     // where it lies
  uint64_t sequence = 0;  // 0: made before backups had numbers
  std::string time;
  std::vector<std::string> editions;  // names
  bool undone = false;
  std::string error;        // the journal cannot be read (English, for --json)
  bool unreadable = false;  // ... because the file could not be read (not: is damaged)
  // The same for a front end to say: the sequence number or the journal could not be read,
  // the journal is damaged (`journal` says where), or whether it was undone cannot be told
  // (`marker` says why; `undone` is then false).
  enum class Trouble {
    kNone,
    kSequenceUnreadable,
    kJournalUnreadable,
    kJournalDamaged,
    kUndoneUnknown
  };
  Trouble trouble = Trouble::kNone;
  JournalError journal;
  FileResult marker;
};

// The backups in both places, oldest first: by sequence number (those without one first, by
// name), never by the clock.
std::vector<BackupInfo> ListBackups(FileSystem& files, const BackupPlaces& places);
// The same, false with *error when a place cannot be looked at or listed. Without
// `read_journals`, the journals are left for the caller to read (time, editions and any trouble
// with them are then not filled in): each is read whole, and backups pile up run after run.
bool ListBackups(FileSystem& files, const BackupPlaces& places, std::vector<BackupInfo>* backups,
                 PlaceError* error, bool read_journals = true);

// Undoes the backup `name` (when empty, the newest that has not been undone). An older one is
// refused while a newer one of the same edition is not undone: its items may be the newer
// Migrate's now. With `force`, that is not asked, and items changed since the Migrate are
// restored too; items outside `scope` never are. Each item is handed to `observer` (when given) as
// soon as it is done.
using UndoObserver = std::function<void(const UndoItem&)>;
UndoResult UndoMigrate(Registry& registry, FileSystem& files, const BackupPlaces& places,
                       std::string_view name, bool force, const UndoScope& scope,
                       const UndoObserver& observer = {});

}  // namespace kdr
