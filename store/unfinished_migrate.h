#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "store/backup.h"
#include "store/backup_journal.h"
#include "store/edition_plan.h"

// A Migrate that stopped while it wrote an edition (its window ended by force, the machine
// down): the edition's settings and files are part old, part new, and a file may be cut short
// where the platform's copy writes in place. It stays unfinished until it is undone or a later
// Migrate of the edition ends.
namespace kdr {

struct UnfinishedMigrate {
  std::string backup;  // the backup's folder name
  std::string folder;  // where it lies
  Edition edition = Edition::kPersonal;
  JournalOutline journal;  // its journal's, as the search read it
};

// The editions left so, oldest backup first. False with *error when the backups cannot be
// listed or a journal cannot be read (a damaged journal, which undo refuses too, is passed by).
// With `only`, that edition's alone: the backups older than its newest Migrate are not read.
bool FindUnfinishedMigrates(FileSystem& files, const BackupPlaces& places,
                            std::vector<UnfinishedMigrate>* found, std::string* error,
                            std::optional<Edition> only = std::nullopt);

// The same, for what is only told: nothing when they cannot be read.
std::vector<UnfinishedMigrate> FindUnfinishedMigrates(FileSystem& files,
                                                      const BackupPlaces& places);

// Points each planned file that an unfinished Migrate of the edition was writing at what that
// Migrate found there (the copy it saved, or no file): what it left may be cut short, and is not
// the user's to keep in a backup. False with *error when its journal cannot be read.
bool TakeOldContentOfUnfinished(FileSystem& files, const BackupPlaces& places, EditionPlan* plan,
                                std::string* error);

}  // namespace kdr
