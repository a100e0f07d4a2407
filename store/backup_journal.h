#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "store/edition_plan.h"

// The journal of one Migrate, kept in kdr4env\backup\<YYYYMMDD-HHMMSS>\kdr4tose.undo beside
// copies of the files it replaced: for each edition what it was about to change, old and new.
// Each edition's block is appended, ending with an end line, and put on the disk before the
// edition's first write: a block without its end line is one a Migrate was still writing when it
// stopped, so nothing of that edition was changed. Once the edition's writes have ended, a written
// line follows its block: a whole block without one is an edition a Migrate was writing when it
// stopped, whose files may be cut short where the platform's copy writes in place. Text, one item a
// line, tab-separated, names and data in hex (values may hold any bytes, credentials among them).
namespace kdr {

inline constexpr std::string_view kBackupFolderName = "backup";
inline constexpr std::string_view kJournalName = "kdr4tose.undo";
inline constexpr std::string_view kUndoneMarkerName = "undone.txt";

struct JournalFile {
  PlannedFile planned;
  std::string saved_copy;  // name of the saved old content in the backup's files folder
  FileDigest old_digest;   // of the replaced file
};

struct JournalEdition {
  Edition edition = Edition::kPersonal;
  std::vector<std::string> keys_created;
  std::vector<PlannedValue> values;
  std::vector<std::string> folders_created;
  std::vector<JournalFile> files;
  bool written = true;  // its writes ended
};

struct Journal {
  std::string time;
  std::vector<JournalEdition> editions;
  // The journal ends in a block without its end line (left out of `editions`).
  bool cut_short = false;
};

// The journal's first lines; *lines is set to their number.
std::string FormatJournalStart(std::string_view time, size_t* lines);

// Appends one edition's block, with the end line that makes it count, to *out. *lines is the
// number of lines in the journal before the block, and grows by the block's. A block can hold
// the old and new data of every value of an edition: with `spill`, *out is handed to it whenever
// it has grown past kJournalSpillBytes, to be written out and emptied, so that the block is
// never held whole. False when `spill` failed (the block is then incomplete).
inline constexpr size_t kJournalSpillBytes = 1 << 20;
[[nodiscard]] bool AppendJournalEdition(const EditionPlan& plan,
                                        const std::vector<JournalFile>& files, size_t* lines,
                                        std::string* out,
                                        const std::function<bool(std::string*)>& spill = {});

// The line that follows an edition's block once its writes have ended (one line).
std::string FormatJournalWritten(Edition edition);

// Why a journal cannot be used, for a front end to say in its own words.
enum class JournalTrouble {
  kNone,
  kUnreadable,
  kChangedWhileRead,
  // Damaged at `line`:
  kNotAJournal,
  kOtherVersion,
  kNoTime,
  kEndWithoutEdition,
  kEndMiscounted,
  kWrittenOutsideBlock,
  kUnknownEdition,
  kItemBeforeEdition,
  kItemAfterEnd,
  kBadPath,
  kValueFields,
  kBadValue,
  kFileFields,  // with `fields`, the number a file line has in this version
  kBadMetadata,
  kBadFile,
  kBadSavedCopy,
  kUnknownLine,
};

struct JournalError {
  JournalTrouble trouble = JournalTrouble::kNone;
  size_t line = 0;  // 1 upwards, when damaged
  size_t fields = 0;
  bool damaged() const {
    return trouble != JournalTrouble::kNone && trouble != JournalTrouble::kUnreadable &&
           trouble != JournalTrouble::kChangedWhileRead;
  }
};

// In English, as the log and --json have it: "line 2: no time line", "the journal cannot be read".
std::string JournalErrorText(const JournalError& error);

// The journal without a block that was cut short, or nullopt with *error naming the first
// malformed line of the rest.
std::optional<Journal> ParseJournal(std::string_view text, JournalError* error);

// A journal of a million values is hundreds of megabytes: it is read from its file in pieces,
// first checked whole, then each block's items handed over one at a time.
struct JournalOutline {
  std::string time;
  std::vector<Edition> editions;  // of the whole blocks
  std::vector<bool> written;      // by block: the edition's writes ended
  bool cut_short = false;
  uint64_t counted_bytes = 0;  // up to the end of the last whole block
};

// The items of one block, in the journal's order.
class JournalItems {
 public:
  virtual ~JournalItems() = default;
  virtual void KeyCreated(std::string path) = 0;
  virtual void Value(PlannedValue value) = 0;
  virtual void FolderCreated(std::string path) = 0;
  virtual void File(JournalFile file) = 0;
};

// The outline of the journal in file `path`, checked as ParseJournal checks; nullopt with *error
// set when it cannot be read or is malformed.
std::optional<JournalOutline> CheckJournalFile(FileSystem& files, std::string_view path,
                                               JournalError* error);

// Hands the items of whole block `block` (0 is the first) of the journal `outline` was checked
// from to `items`. False with *error set when the file no longer reads as it did.
[[nodiscard]] bool ReadJournalBlock(FileSystem& files, std::string_view path,
                                    const JournalOutline& outline, size_t block,
                                    JournalItems* items, JournalError* error);

// The edition of the block that follows the whole blocks of `outline` and lacks its end, and
// its items as far as their lines are whole (to `items` when given). False with *error set when
// the file cannot be read; *edition stays empty when no such block was begun.
[[nodiscard]] bool ReadUnfinishedBlock(FileSystem& files, std::string_view path,
                                       const JournalOutline& outline, JournalItems* items,
                                       std::optional<Edition>* edition, JournalError* error);

}  // namespace kdr
