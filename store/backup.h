#pragma once

#include <string>
#include <string_view>

#include "core/work_paths.h"
#include "platform/file_system.h"
#include "store/backup_journal.h"

// The backup one Migrate makes before it writes: a folder kdr4env\backup\<YYYYMMDD-HHMMSS>
// with the journal and the old content of every file the Migrate replaces.
namespace kdr {

class BackupWriter {
 public:
  // Nothing is written until the first Add. `name` is the wanted folder name; a taken one
  // gets "-002", "-003", ... appended.
  BackupWriter(FileSystem& files, const WorkPaths& paths, std::string name, std::string time);

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

 private:
  bool Open(std::string* error);

  FileSystem& files_;
  const WorkPaths& paths_;
  std::string name_;
  std::string folder_;
  std::string time_;
  size_t journal_lines_ = 0;  // 0 before the journal's first lines are written
  bool journal_broken_ = false;
  size_t saved_ = 0;
};

// kdr4env\backup
std::string BackupRoot(const WorkPaths& paths);

}  // namespace kdr
