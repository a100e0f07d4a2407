#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/edition_plan.h"

// The journal of one Migrate, kept in kdr4env\backup\<YYYYMMDD-HHMMSS>\kdr4tose.undo beside
// copies of the files it replaced: for each edition what it was about to change, old and new.
// Written whole before the edition's first write. Text, one item a line, tab-separated, names
// and data in hex (values may hold any bytes, credentials among them).
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
};

struct Journal {
  std::string time;
  std::vector<JournalEdition> editions;
};

std::string FormatJournal(const Journal& journal);

// The journal, or nullopt with *error naming the first malformed line.
std::optional<Journal> ParseJournal(std::string_view text, std::string* error);

}  // namespace kdr
