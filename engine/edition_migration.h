#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/edition.h"
#include "engine/migration_plan.h"
#include "engine/run_context.h"
#include "platform/profile_file.h"
#include "store/backup.h"
#include "store/edition_plan.h"
#include "store/planned_writes.h"
#include "store/store_check.h"
#include "store/verified_copy.h"

namespace kdr {

// The backup one Migrate writes for all its editions, and whether the user has been told it
// lies outside the work folder.
class MigrateBackup {
 public:
  MigrateBackup(const Services& services, const WorkPaths& paths, const StoreTime& now);
  BackupWriter& writer() { return writer_; }
  const BackupWriter& writer() const { return writer_; }
  // True once per Migrate, the first time its backup is found outside the work folder.
  bool TakeElsewhereNotice();

 private:
  BackupWriter writer_;
  bool told_elsewhere_ = false;
};

// One edition's Migrate, step by step in its order: the store checked, the backup written,
// then the settings and data written. Each step that returns false ends the edition; it has
// then logged why and recorded the failure in the run's summary.
class EditionMigration {
 public:
  EditionMigration(RunContext& run, MigrateBackup& backup, Edition edition);
  EditionMigration(const EditionMigration&) = delete;
  EditionMigration& operator=(const EditionMigration&) = delete;

  // False when the store must not be migrated; check() then says why (as it does when
  // WriteBackup refuses it on reading the files this only looked at).
  bool CheckStore();
  // Plans the edition's writes and saves what they replace. False when the backup could not be
  // written, or when a data folder the copies would write into is there but cannot be used (a
  // link off its drive, a drive or share that cannot be reached now; unusable_folder() names
  // it): nothing of the edition is written.
  bool WriteBackup();
  // True when the run was asked to stop before this edition wrote anything (after the store
  // check or the backup): the edition is then recorded as interrupted.
  bool StoppedBeforeWriting();
  // Imports the settings (only what the backup recorded) and copies the data. False when
  // anything of it failed, a file not copied or a value refused included.
  bool WriteSettingsAndData();

  const EditionCheck& check() const { return check_; }
  const std::string& unusable_folder() const { return unusable_folder_; }
  // Keys or values the settings file asked for that the backup had not recorded: refused.
  size_t unrecorded() const { return unrecorded_; }
  // This edition's backup is the first of the Migrate written outside the work folder.
  bool backup_elsewhere() const { return backup_elsewhere_; }
  const std::string& backup_folder() const { return backup_.writer().folder(); }

 private:
  bool DestinationsUsable(const EditionPlan& plan);
  // Loads what earlier Migrates placed (once); false when there is no such record.
  bool LoadPlacedRecord();
  // Logs why the store is not migrated and records it: returns false.
  bool RefuseStore();
  void LogStoreWhole(size_t proven_by_record);
  // Reads the store files the check only looked at, but those the plan keeps on the record's
  // proof. False when one is not as collected: the store is refused.
  bool ReadUnreadStoreFiles(const EditionPlan& plan);

  RunContext& run_;
  MigrateBackup& backup_;
  Edition edition_;
  std::string name_;
  DigestCache digests_;
  // Once checked, the settings file is read once for both the plan and the import, which thus
  // see the same content.
  std::optional<ProfileFileHold> hold_;
  EditionCheck check_;
  PlannedWrites planned_;
  std::vector<RefusedCopy> refused_copies_;
  PlannedKeeps keeps_;  // files the plan found in place already
  StoreStamps store_stamps_;
  // What Migrates placed in the data folders and proved equal to the store's files.
  std::optional<CopyRecord> placed_;
  bool placed_loaded_ = false;
  // Store files the check looked at without reading them.
  std::vector<UnreadStoreFile> unread_;
  size_t unrecorded_ = 0;
  bool backup_elsewhere_ = false;
  std::string unusable_folder_;
};

}  // namespace kdr
