#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/edition.h"
#include "platform/file_metadata.h"
#include "platform/file_system.h"
#include "store/content_hash.h"
#include "store/planned_values.h"

// What a Migrate of one edition will change, found before anything is written: for the backup
// that undo restores from, and for the preview.
namespace kdr {

// A planned value as read back from a backup journal.
using PlannedValue = BasicPlannedValue<std::string>;

struct PlannedFile {
  std::string source;       // in the store
  std::string destination;  // in the new product's data folder
  bool replaces = false;
  uint64_t old_size = 0;
  FileDigest new_digest;  // the source's
  // Where the old content is read for the backup when not from `destination`: the copy an
  // unfinished Migrate saved, which is what the user had (the file may now be cut short).
  std::string old_content_from;
  // The replaced file's metadata, as the backup read it (or found it in the journal of a
  // Migrate that stopped while it wrote the file); none where the platform or an older
  // backup kept none.
  std::optional<FileMetadata> old_metadata = std::nullopt;
  // The replaced file's stamp as the plan found it: what a file kept in place is held to.
  std::optional<FileStamp> old_stamp = std::nullopt;
};

// A file the data folder already holds as the store has it: nothing to replace or back up
// (but see `in_backup`).
struct KeptFile {
  std::string destination;
  FileStamp stamp;  // the file's before it was read: one written since is not the one read
  FileDigest digest;
  std::string source;  // the store file
  // Proven by the record of an earlier Migrate, with its store file unchanged since: that
  // store file need not be read for it.
  bool on_record = false;
  // Still among the plan's files for the backup (one a Migrate that did not finish wrote):
  // only the copy leaves it.
  bool in_backup = false;
};

// A data folder copy the Migrate leaves out: its files would land on another copy's.
struct RefusedCopy {
  std::string source;
  std::string destination;
};

// A data folder copy the plan looked into: its store folder and where it goes (both end with a
// backslash).
struct PlannedCopy {
  std::string source;
  std::string destination;
};

// What a Migrate or Collect would fail to do, for the preview; paths in code page 932.
struct PlanFailure {
  enum class Kind {
    kValueUnreadable,  // the data path value `path` of key `other` cannot be read
    kUnlisted,         // the folder `path` cannot be listed
    kWritesOver,       // the copy of `path` would write over another copy's files in `other`
    kFolderInTheWay,   // the file `path` would replace a folder
  };
  Kind kind;
  std::string path;
  std::string other;
};

struct EditionPlan {
  Edition edition = Edition::kPersonal;
  std::vector<std::string> keys_created;     // parents first
  PlannedValues values;                      // created or replaced
  std::vector<std::string> folders_created;  // parents first, no trailing backslash
  std::vector<PlannedFile> files;            // added or replaced
  std::vector<KeptFile> kept;                // in place already (KeepFilesInPlace)
  std::vector<PlanFailure> failures;
  std::vector<RefusedCopy> refused_copies;
  std::vector<std::string> destinations;  // the data folders the copies write into
  std::vector<PlannedCopy> copies;        // those whose files are among `files`
};

}  // namespace kdr
