#include "engine/edition_migration.h"

#include <algorithm>
#include <unordered_set>

#include "datafolders/copy_report.h"
#include "datafolders/data_folders.h"
#include "engine/copy_totals.h"
#include "engine/migration_plan.h"
#include "platform/folder_reach.h"
#include "settings/settings_import.h"
#include "store/unfinished_migrate.h"

namespace kdr {

MigrateBackup::MigrateBackup(const Services& services, const WorkPaths& paths, const StoreTime& now)
    : writer_(services.files, BackupPlacesFor(paths, services.user_state_folder), now.folder_name,
              now.local) {}

bool MigrateBackup::TakeElsewhereNotice() {
  if (!writer_.in_fallback() || told_elsewhere_) return false;
  told_elsewhere_ = true;
  return true;
}

EditionMigration::EditionMigration(RunContext& run, MigrateBackup& backup, Edition edition)
    : run_(run),
      backup_(backup),
      edition_(edition),
      name_(EditionName(edition)),
      keeps_(run.services.files) {
  run_.log.Done("migrate " + name_);
  run_.summary.attempted |= EditionWeight(edition);
}

bool EditionMigration::LoadPlacedRecord() {
  if (placed_) return placed_loaded_;
  // What earlier Migrates placed, from where they could write it.
  const BackupPlaces places = BackupPlacesFor(run_.paths, run_.services.user_state_folder);
  placed_.emplace(run_.services.files, MigrateRecordPath(places.work, edition_));
  placed_loaded_ = placed_->Load();
  if (!placed_loaded_ && !places.fallback.empty()) {
    placed_.emplace(run_.services.files, MigrateRecordPath(places.fallback, edition_));
    placed_loaded_ = placed_->Load();
  }
  return placed_loaded_;
}

bool EditionMigration::CheckStore() {
  if (!run_.services.verification) return true;
  run_.StartPhase(RunPhase::kCheckingStore, edition_);
  // Every store file is read: the store is refused before anything is written when one is not
  // what Collect took. The stamps taken on the way prove the files a later Migrate may keep.
  // After a Migrate that left a record, the files are only looked at here: those whose places
  // the record proves are not copied and need no read, and the plan reads the others before
  // anything is written.
  const bool look_only = run_.services.backup && LoadPlacedRecord();
  check_ = CheckEdition(run_.services.files, run_.paths, edition_, &digests_, &store_stamps_,
                        look_only ? &unread_ : nullptr);
  run_.summary.stores[EditionIndex(edition_)] = check_.state();
  for (const std::string& folder : check_.skipped_folders) {
    run_.log.Skipped("store of " + name_ + ": " + Cp932Text(folder),
                     "the folder was removed from the store; its copy is skipped");
  }
  if (!check_.usable()) return RefuseStore();
  if (!check_.has_manifest) {
    run_.summary.unverified |= EditionWeight(edition_);
    run_.log.Skipped("check of the store of " + name_,
                     "it has no manifest (collected by an older version); migrated unverified");
  } else if (unread_.empty()) {
    LogStoreWhole(0);
  }
  return true;
}

bool EditionMigration::RefuseStore() {
  run_.summary.stores[EditionIndex(edition_)] = check_.state();
  const std::string state(StoreStateName(check_.state()));
  if (!check_.manifest_error.empty()) run_.log.Skipped("store of " + name_, check_.manifest_error);
  for (const ManifestMiss& miss : check_.missed) {
    run_.log.Skipped("store of " + name_ + ": " + miss.what, "not collected: " + miss.why);
  }
  for (const StoreProblem& problem : check_.problems) {
    run_.log.Skipped("store of " + name_ + ": " + Cp932Text(problem.path),
                     ProblemText(problem.kind));
  }
  run_.log.Skipped("migrate " + name_,
                   "the store is " + state + "; nothing of the edition written");
  run_.summary.damaged |= EditionWeight(edition_);
  run_.summary.Fail(edition_, EditionFailure::kStoreRefused);
  return false;
}

void EditionMigration::LogStoreWhole(size_t proven_by_record) {
  run_.log.Done("store of " + name_ + " checked: whole, " + std::to_string(check_.files_checked) +
                " file(s) as collected" +
                (proven_by_record == 0 ? std::string()
                                       : " (" + std::to_string(proven_by_record) +
                                             " unchanged since a Migrate placed them, not read)"));
}

bool EditionMigration::ReadUnreadStoreFiles(const EditionPlan& plan) {
  if (unread_.empty()) return true;
  // A store file need not be read when each of its copies is kept on the record's proof (one
  // a stopped Migrate wrote stays among the plan's files for the backup, not for the copy).
  std::unordered_set<std::string> on_record;
  for (const KeptFile& file : plan.kept) {
    if (file.on_record) on_record.insert(file.destination);
  }
  std::unordered_set<std::string> needed;
  for (const PlannedFile& file : plan.files) {
    if (!on_record.contains(file.destination)) needed.insert(file.source);
  }
  for (const KeptFile& file : plan.kept) {
    if (!file.on_record) needed.insert(file.source);
  }
  std::unordered_set<std::string> proven;
  for (const KeptFile& file : plan.kept) {
    if (file.on_record && !needed.contains(file.source)) proven.insert(file.source);
  }
  std::erase_if(unread_, [&](const UnreadStoreFile& file) { return proven.contains(file.path); });
  ReadStoreFiles(run_.services.files, unread_, run_.paths.Folder(edition_) + "\\", &check_,
                 &digests_, &store_stamps_);
  unread_.clear();
  if (!check_.usable()) return RefuseStore();
  LogStoreWhole(proven.size());
  return true;
}

bool EditionMigration::DestinationsUsable(const EditionPlan& plan) {
  for (std::string folder : plan.destinations) {
    if (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
    FileResult why = FileResult::Ok();
    if (ReachFolder(run_.services.files, folder, &why) != FolderReach::kUnreachable) continue;
    unusable_folder_ = folder;
    run_.log.Skipped("data folder " + Cp932Text(folder),
                     Describe(why) + "; nothing of the edition written");
    run_.summary.Fail(edition_, EditionFailure::kDestinationUnusable);
    return false;
  }
  return true;
}

bool EditionMigration::WriteBackup() {
  hold_.emplace(run_.services.profiles, run_.paths.SettingsFile(edition_));
  if (!run_.services.backup) return true;
  run_.StartPhase(RunPhase::kWritingBackup, edition_);
  EditionPlan plan;
  std::string error;
  PlanError plan_error;
  PlanInputs inputs{run_.services.registry, run_.services.files,
                    run_.services.profiles, run_.paths,
                    run_.services.max_path, &digests_};
  BackupWriter& writer = backup_.writer();
  if (!PlanMigrate(inputs, edition_, &plan, &plan_error, &planned_)) {
    run_.log.Skipped("backup before migrating " + name_,
                     PlanErrorText(plan_error) + "; nothing of the edition written");
    run_.summary.Fail(edition_, EditionFailure::kBackupNotWritten);
    return false;
  }
  if (!DestinationsUsable(plan)) return false;
  if (!TakeOldContentOfUnfinished(run_.services.files,
                                  BackupPlacesFor(run_.paths, run_.services.user_state_folder),
                                  &plan, &error)) {
    run_.log.Skipped("backup before migrating " + name_,
                     error + "; nothing of the edition written");
    run_.summary.Fail(edition_, EditionFailure::kBackupNotWritten);
    return false;
  }
  // Files the data folders hold already as the store has them are neither copied nor saved.
  // A file left out of the backup must be left as it is by the copy too: a copy that cannot
  // leave single files keeps them only where it is not made at all.
  if (run_.services.verification) {
    LoadPlacedRecord();
    KeepFilesInPlace(run_.services.files, &plan, &*placed_, &store_stamps_.found,
                     !run_.services.files.CopyCanKeepFiles());
    if (!ReadUnreadStoreFiles(plan)) return false;
    RecordKeptFiles(plan, &*placed_, store_stamps_.found);
    keeps_.RecordIn(&*placed_, &store_stamps_.found);
    keeps_.SetWhole(CopiesKeptWhole(run_.services.files, plan));
  }
  keeps_.Set(plan.kept);
  if (!writer.Add(plan, &error)) {
    run_.log.Skipped("backup before migrating " + name_,
                     error + "; nothing of the edition written");
    run_.summary.Fail(edition_, EditionFailure::kBackupNotWritten);
    return false;
  }
  refused_copies_ = plan.refused_copies;
  // The record lies beside the backups: in the user's own folder when the work folder cannot
  // be written.
  if (placed_) {
    const BackupPlaces places = BackupPlacesFor(run_.paths, run_.services.user_state_folder);
    placed_->set_path(
        MigrateRecordPath(writer.in_fallback() ? places.fallback : places.work, edition_));
  }
  run_.summary.backup_name = writer.name();
  run_.summary.backup_folder = writer.folder();
  if (backup_.TakeElsewhereNotice()) {
    backup_elsewhere_ = true;
    run_.log.Done("the work folder cannot be written: the backup is in " +
                  Cp932Text(writer.folder()));
  }
  const size_t not_saved = std::count_if(plan.kept.begin(), plan.kept.end(),
                                         [](const KeptFile& file) { return !file.in_backup; });
  run_.log.Done("backup of " + name_ + " in " + Cp932Text(writer.folder()) + ": " +
                std::to_string(plan.values.size()) + " value(s), " +
                std::to_string(plan.keys_created.size()) + " new key(s), " +
                std::to_string(plan.files.size()) + " file(s)" +
                (not_saved == 0
                     ? std::string()
                     : ", " + std::to_string(not_saved) + " file(s) in place already, not saved"));
  return true;
}

bool EditionMigration::WriteSettingsAndData() {
  if (!hold_) hold_.emplace(run_.services.profiles, run_.paths.SettingsFile(edition_));
  const bool guard = run_.services.backup;
  // A settings file read on every call may still say more to the import than it did to the
  // plan: the import writes only what the backup recorded.
  PlannedWritesRegistry guarded(run_.services.registry, planned_,
                                PlannedWritesRegistry::Mode::kGuard);
  SettingsImporter importer(guard ? guarded : run_.services.registry, run_.services.profiles,
                            run_.log);
  run_.StartPhase(RunPhase::kSettings, edition_);
  importer.ImportSettingsFile(run_.paths.SettingsFile(edition_));
  unrecorded_ = guarded.refused();
  if (unrecorded_ != 0) {
    run_.log.Skipped("migrate " + name_,
                     std::to_string(unrecorded_) +
                         " key(s) or value(s) the backup had not recorded refused: the settings "
                         "file differed from the one read for the backup");
  }
  ProgressCopyObserver progress(run_.progress, run_.services.copy_observer);
  CopyRecorder recorder(run_.summary.Copies(edition_), run_.log, &progress);
  DataFolderContext data{run_.services.registry,
                         run_.services.files,
                         run_.paths,
                         run_.log,
                         &recorder,
                         run_.copy_owner,
                         run_.show_message,
                         run_.services.max_path};
  data.verify_copies = run_.services.verification;
  data.digests = &digests_;
  data.refused_copies = &refused_copies_;
  data.keeper = &keeps_;
  FolderIdentities folders(run_.services.files);
  data.folders = &folders;
  DigestWorker read_ahead;
  data.read_ahead = &read_ahead;
  StartCopying(run_, edition_, /*migrate=*/true);
  const bool data_ok = MigrateEditionData(data, edition_);
  // Written also when stopped: what was proven so far need not be read again.
  if (placed_ && !placed_->Rewrite()) {
    run_.log.Skipped("record of the files placed for " + name_,
                     "could not be written; the next Migrate reads them again");
  }
  LogKept(run_.log, name_, run_.summary.Copies(edition_).files_kept, "the data folders");
  // Stopped among the copies: the journal is left open, so that the next start tells a Migrate
  // that did not finish, and undo takes back what it wrote.
  if (run_.StopRequested()) {
    run_.log.Skipped("migrate " + name_, "interrupted; undo takes back what was written");
    run_.summary.Fail(edition_, EditionFailure::kInterrupted);
    return false;
  }
  if (guard && !backup_.writer().MarkWritten(edition_)) {
    run_.log.Skipped("backup of " + name_,
                     "the journal could not be told that the edition's writes ended; the next "
                     "start reads it as a Migrate that did not finish");
  }
  const EditionFailure cause = unrecorded_ != 0 ? EditionFailure::kSettingsChanged
                               : !run_.summary.Copies(edition_).not_copied.empty()
                                   ? EditionFailure::kFilesNotCopied
                               : !data_ok ? EditionFailure::kPathNotRead
                                          : EditionFailure::kNone;
  if (cause == EditionFailure::kNone) return true;
  run_.summary.Fail(edition_, cause);
  return false;
}

bool EditionMigration::StoppedBeforeWriting() {
  if (!run_.StopRequested()) return false;
  // Nothing of the edition was written: its journal says so, as after any edition's writes.
  if (run_.services.backup && hold_) (void)backup_.writer().MarkWritten(edition_);
  run_.log.Skipped("migrate " + name_, "interrupted; nothing of the edition written");
  run_.summary.Fail(edition_, EditionFailure::kInterrupted);
  return true;
}

}  // namespace kdr
