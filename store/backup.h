#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/work_paths.h"
#include "platform/file_system.h"
#include "store/backup_journal.h"

// The backup one Migrate makes before it writes: a folder kdr4env\backup\<YYYYMMDD-HHMMSS>
// with the journal, the old content of every file the Migrate replaces, and its sequence number.
namespace kdr {

// Where backups lie: the work folder's, and the user's own folder on this machine, which a
// Migrate uses when the work folder cannot be written (a write-protected stick).
struct BackupPlaces {
  std::string work;      // kdr4env\backup
  std::string fallback;  // <user state folder>\backup; empty when there is none
};

BackupPlaces BackupPlacesFor(const WorkPaths& paths, std::string_view user_state_folder);

// The number that orders backups: one more than the highest in any of the places when a backup
// is made, so that no clock can confuse which Migrate came last. 0 for a backup made before
// backups had numbers (and for a number that is not one); nullopt when it is there but cannot
// be read.
std::optional<uint64_t> ReadBackupSequence(FileSystem& files, const std::string& folder);

class BackupWriter {
 public:
  // Nothing is written until the first Add. `name` is the wanted folder name; a taken one
  // gets "-002", "-003", ... appended.
  BackupWriter(FileSystem& files, BackupPlaces places, std::string name, std::string time);

  // Saves the old content of the files `plan` replaces (each read back and compared) and
  // appends the edition to the journal, on the disk when it returns. False with *error when
  // anything could not be saved: the edition must then not be migrated. After a failed append
  // the journal may end in a part of a block, so no later edition is added to it.
  bool Add(const EditionPlan& plan, std::string* error);

  // Tells the journal that the writes of the edition last added have ended, so that undo and
  // the next start know the Migrate did not stop in them. False when it could not be written
  // (the edition then reads as one whose writes were cut short).
  bool MarkWritten(Edition edition);

  // The backup folder (empty before the first Add).
  const std::string& folder() const { return folder_; }
  const std::string& name() const { return name_; }
  // The backup lies in the user's folder, as the work folder could not be written.
  bool in_fallback() const { return in_fallback_; }

 private:
  bool Open(std::string* error);
  bool OpenIn(const std::string& root, uint64_t sequence);

  FileSystem& files_;
  BackupPlaces places_;
  bool in_fallback_ = false;
  std::string name_;
  std::string folder_;
  std::string time_;
  size_t journal_lines_ = 0;  // 0 before the journal's first lines are written
  bool journal_broken_ = false;
  size_t saved_ = 0;
};

// kdr4env\backup
std::string BackupRoot(const WorkPaths& paths);

// The name of the file that holds a backup's sequence number.
inline constexpr std::string_view kSequenceName = "sequence.txt";

}  // namespace kdr
