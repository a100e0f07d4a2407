#include "app/migrate_dlg.h"

#include "app/messages.h"
#include "app/migration_plan.h"
#include "core/edition_folders.h"
#include "core/presence.h"
#include "platform/text_encoding.h"
#include "settings/settings_export.h"
#include "settings/settings_import.h"
#include "store/store_check.h"
#include "store/store_time.h"
#include "store/unfinished_migrate.h"

namespace kdr {

namespace {

// Marks a command as running for as long as it lives.
class RunningScope {
 public:
  explicit RunningScope(bool* running) : running_(running) { *running_ = true; }
  ~RunningScope() { *running_ = false; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  bool* running_;
};

}  // namespace

CMigrateDlg::CMigrateDlg(const Services& services, DialogView& view)
    : services_(services), view_(view), log_(services.log, &work_log_) {}

void CMigrateDlg::ShowMessage(std::string_view text) {
  log_.Shown(text);
  // Written before the message waits for the user, who may end the program there.
  FlushWorkLog();
  view_.ShowMessage(text);
}

void CMigrateDlg::FlushWorkLog() {
  if (work_log_.empty() || !paths_valid_) return;
  if (!log_file_.empty()) {
    // A log that cannot be written loses only the log, and there is nowhere left to say so;
    // the run's outcome is told all the same.
    (void)services_.files.AppendToFile(log_file_, work_log_.Take());
    return;
  }
  if (log_lost_) {
    work_log_.Take();
    return;
  }
  // The first write of a command decides where its log goes: the work folder, or, when that
  // exists but cannot be written (a write-protected stick, a file in its place), the user's own
  // folder. A work folder not made yet keeps the lines until it is.
  std::string text = work_log_.Take();
  std::string in_work = paths_.root + "\\" + std::string(kWorkLogName);
  if (services_.files.IsFolder(paths_.root)) {
    if (services_.files.AppendToFile(in_work, text)) {
      log_file_ = in_work;
      return;
    }
  } else if (!services_.files.Exists(paths_.root)) {
    work_log_.Restore(std::move(text));
    return;
  }
  if (!services_.user_state_folder.empty()) {
    std::string in_user = services_.user_state_folder + "\\" + std::string(kWorkLogName);
    if (services_.files.MakeSurePathExists(in_user) &&
        services_.files.AppendToFile(in_user, text)) {
      log_file_ = in_user;
      return;
    }
  }
  log_lost_ = true;
}

void CMigrateDlg::WorkLog::LineAdded() {
  if (size() < next_flush_) return;
  owner_.FlushWorkLog();
  // Before the work tree exists nothing can be written: try again only once as much again has
  // gathered, so that each line does not ask the file system.
  next_flush_ = empty() ? kFlushBytes : 2 * size();
}

void CMigrateDlg::ShowCopyFailures(Edition edition) {
  size_t count = last_run_.Copies(edition).not_copied.size();
  if (count != 0) ShowMessage(NotCopiedMessage(count, LogNameForMessages()));
}

bool CMigrateDlg::InitWorkPaths(std::string_view executable_path) {
  return InitWorkPathsFromFolder(ExecutableFolder(executable_path));
}

bool CMigrateDlg::InitWorkPathsFromFolder(std::string_view folder) {
  paths_valid_ = kdr::InitWorkPathsFromFolder(folder, services_.max_path, &paths_);
  if (!paths_valid_) ShowMessage(kFolderTooLongMessage);
  return paths_valid_;
}

void CMigrateDlg::TellUnfinishedMigrate() {
  if (!paths_valid_ || !services_.files.IsFolder(paths_.root)) return;
  std::vector<UnfinishedMigrate> unfinished =
      FindUnfinishedMigrates(services_.files, BackupPlacesFor(paths_, services_.user_state_folder));
  if (unfinished.empty()) return;
  for (const UnfinishedMigrate& u : unfinished) {
    log_.Skipped("migrate " + std::string(EditionName(u.edition)) + " with backup " +
                     Cp932ForDisplay(u.backup),
                 "it stopped while it wrote; migrate again or undo it");
  }
  ShowMessage(kUnfinishedMigrateMessage);
}

EditionCode CMigrateDlg::DetectOldEditions() { return kdr::DetectOldEditions(services_.registry); }

EditionCode CMigrateDlg::DetectNewEditions() { return kdr::DetectNewEditions(services_.registry); }

EditionCode CMigrateDlg::DetectCollectedEditions() {
  if (!paths_valid_) return 0;
  return kdr::DetectCollectedEditions(services_.files, paths_);
}

void CMigrateDlg::RefreshButtons() {
  if (!running_) ApplyButtonRule();
}

void CMigrateDlg::ApplyButtonRule() {
  EditionCode old_code = DetectOldEditions();
  EditionCode new_code = DetectNewEditions();
  EditionCode collected = DetectCollectedEditions();
  // Without usable work paths neither command can do anything.
  view_.EnableControl(kCollectButton, paths_valid_ && old_code != 0);
  view_.EnableControl(kMigrateButton, paths_valid_ && SharesAnEdition(new_code, collected));
}

DataFolderContext CMigrateDlg::DataContext(CopyObserver* recorder) {
  DataFolderContext ctx{services_.registry,
                        services_.files,
                        paths_,
                        log_,
                        recorder,
                        view_.CopyOwner(),
                        [this](std::string_view text) { ShowMessage(text); },
                        services_.max_path};
  ctx.verify_copies = services_.verification;
  return ctx;
}

std::string CMigrateDlg::LogPathForDisplay() const {
  if (log_lost_) return {};
  return Cp932ForDisplay(log_file_.empty() ? paths_.root + "\\" + std::string(kWorkLogName)
                                           : log_file_);
}

std::string CMigrateDlg::LogNameForMessages() const {
  if (log_lost_) return {};
  if (!log_file_.empty() && log_file_ != paths_.root + "\\" + std::string(kWorkLogName)) {
    return Cp932ForDisplay(log_file_);
  }
  return std::string(kWorkLogShown);
}

void CMigrateDlg::WriteManifest(Edition edition, DigestCache* digests, bool* ok,
                                bool* settings_written) {
  const std::string what = "manifest of " + std::string(EditionName(edition));
  // The settings file must be on disk before it is hashed.
  if (*settings_written && !services_.profiles.Flush()) *settings_written = false;
  std::vector<ManifestMiss> missed;
  if (!*settings_written) {
    missed.push_back({Cp932ForDisplay(paths_.SettingsFile(edition)), "could not be written"});
  }
  for (const FailedItem& item : last_run_.Copies(edition).not_copied) {
    missed.push_back({Cp932ForDisplay(item.source), Describe(item.error)});
  }
  // A data path that could not be read leaves whole folders out, with no file to name.
  if (!*ok && missed.empty()) missed.push_back({"data folders", "not collected (see the log)"});
  std::string error;
  if (!WriteEditionManifest(services_.files, paths_, edition, ToolVersion(),
                            services_.clock().local, digests, missed, &error)) {
    // The manifest that says Collect began stays: the store reads as unfinished.
    log_.Skipped(what, error);
    *ok = false;
    return;
  }
  if (missed.empty()) {
    last_run_.sealed += EditionWeight(edition);
    log_.Done(what + " written: the store is whole");
  } else {
    log_.Done(what + " written: the store is incomplete, " + std::to_string(missed.size()) +
              " item(s) not collected");
  }
}

void CMigrateDlg::CollectEdition(Edition edition) {
  log_.Done("collect " + std::string(EditionName(edition)));
  last_run_.attempted += EditionWeight(edition);
  MakeEditionFolders(services_.files, paths_, edition);
  // Before anything of the edition is written, its store says Collect has begun, so that a
  // Collect that never ends is never taken for one that did.
  std::string begun_error;
  if (services_.verification && !MarkEditionBegun(services_.files, paths_, edition, ToolVersion(),
                                                  services_.clock().local, &begun_error)) {
    log_.Skipped("collect " + std::string(EditionName(edition)),
                 begun_error + "; nothing of the edition written");
    last_run_.failed += EditionWeight(edition);
    ShowMessage(CollectedMessage(edition));
    ShowMessage(SettingsNotWrittenMessage(LogNameForMessages()));
    return;
  }
  ExportContext exports{services_.registry, services_.profiles, log_};
  CopyRecorder recorder(last_run_.Copies(edition), log_, services_.copy_observer);
  DataFolderContext data = DataContext(&recorder);
  DigestCache digests;
  data.digests = &digests;
  bool settings_written = ExportEditionSettings(exports, paths_, edition);
  bool ok = CollectEditionData(data, edition) && settings_written;
  if (services_.verification) WriteManifest(edition, &digests, &ok, &settings_written);
  if (!ok || !last_run_.Copies(edition).not_copied.empty()) {
    last_run_.failed += EditionWeight(edition);
  }
  // The settings file is written out before the edition's message, so the message that it was
  // not can follow it at once, before the data files' count.
  ShowMessage(CollectedMessage(edition));
  if (!settings_written) ShowMessage(SettingsNotWrittenMessage(LogNameForMessages()));
  ShowCopyFailures(edition);
}

bool CMigrateDlg::BeginCommand() {
  view_.EnableControl(kCollectButton, false);
  view_.EnableControl(kMigrateButton, false);
  view_.EnableControl(kExitButton, false);
  last_run_ = RunSummary{};
  log_file_.clear();
  log_lost_ = false;
  if (!paths_valid_) ShowMessage(kFolderTooLongMessage);
  return paths_valid_;
}

bool CMigrateDlg::LockWork(bool will_write, std::unique_ptr<HostFileLock>* lock) {
  if (services_.work_locks == nullptr || !paths_valid_ || !will_write) return true;
  std::string error;
  if (services_.work_locks->TryLock(paths_.root, lock, &error) != LockResult::kBusy) return true;
  // Not logged: the log is the other run's to write now.
  view_.ShowMessage(kWorkFolderBusyMessage);
  return false;
}

void CMigrateDlg::EndCommand() {
  if (paths_valid_) {
    log_.Comment("editions attempted " + std::to_string(last_run_.attempted) + ", failed " +
                 std::to_string(last_run_.failed));
  }
  FlushWorkLog();
  work_log_.Take();  // nothing kept for a later run when there was no work tree to write to
  ApplyButtonRule();
  view_.EnableControl(kExitButton, true);
}

void CMigrateDlg::OnCollect() {
  if (running_) return;
  RunningScope running(&running_);
  std::unique_ptr<HostFileLock> lock;
  // Asked only for the window, so that the console's runs make the same calls as before.
  bool will_write = services_.work_locks != nullptr && DetectOldEditions() != 0;
  if (!LockWork(will_write, &lock)) return;
  if (BeginCommand()) {
    log_.Comment("collect, " + services_.clock().local);
    FlushWorkLog();
    EditionCode code = DetectOldEditions();
    bool collected_any = false;
    for (Edition edition : kAllEditions) {
      if (!HasEdition(code, edition)) continue;
      CollectEdition(edition);
      collected_any = true;
    }
    if (!collected_any) ShowMessage(kNothingToCollectMessage);
  }
  EndCommand();
}

bool CMigrateDlg::CheckStore(Edition edition, DigestCache* digests) {
  std::string name(EditionName(edition));
  EditionCheck check = CheckEdition(services_.files, paths_, edition, digests);
  last_run_.stores[EditionIndex(edition)] = check.state();
  for (const std::string& folder : check.skipped_folders) {
    log_.Skipped("store of " + name + ": " + Cp932ForDisplay(folder),
                 "the folder was removed from the store; its copy is skipped");
  }
  if (!check.usable()) {
    const std::string state(StoreStateName(check.state()));
    if (!check.manifest_error.empty()) log_.Skipped("store of " + name, check.manifest_error);
    for (const ManifestMiss& miss : check.missed) {
      log_.Skipped("store of " + name + ": " + miss.what, "not collected: " + miss.why);
    }
    for (const StoreProblem& problem : check.problems) {
      log_.Skipped("store of " + name + ": " + Cp932ForDisplay(problem.path),
                   ProblemText(problem.kind));
    }
    log_.Skipped("migrate " + name, "the store is " + state + "; nothing of the edition written");
    last_run_.damaged += EditionWeight(edition);
    ShowMessage(StoreRefusedMessage(edition, check, LogPathForDisplay()));
    return false;
  }
  if (!check.has_manifest) {
    last_run_.unverified += EditionWeight(edition);
    log_.Skipped("check of the store of " + name,
                 "it has no manifest (collected by an older version); migrated unverified");
  } else {
    log_.Done("store of " + name + " checked: whole, " + std::to_string(check.files_checked) +
              " file(s) as collected");
  }
  return true;
}

bool CMigrateDlg::WriteBackup(Edition edition, const DigestCache* digests, PlannedWrites* writes,
                              std::vector<RefusedCopy>* refused) {
  std::string name(EditionName(edition));
  EditionPlan plan;
  std::string error;
  PlanInputs inputs{services_.registry, services_.files, services_.profiles, paths_,
                    services_.max_path, digests};
  if (!PlanMigrate(inputs, edition, &plan, &error, writes) ||
      !TakeOldContentOfUnfinished(
          services_.files, BackupPlacesFor(paths_, services_.user_state_folder), &plan, &error) ||
      !backup_->Add(plan, &error)) {
    log_.Skipped("backup before migrating " + name, error + "; nothing of the edition written");
    ShowMessage(BackupFailedMessage(edition, LogPathForDisplay()));
    return false;
  }
  *refused = plan.refused_copies;
  last_run_.backup_name = backup_->name();
  last_run_.backup_folder = backup_->folder();
  if (backup_->in_fallback() && !told_fallback_) {
    told_fallback_ = true;
    log_.Done("the work folder cannot be written: the backup is in " +
              Cp932ForDisplay(backup_->folder()));
    ShowMessage(BackupElsewhereMessage(Cp932ForDisplay(backup_->folder())));
  }
  log_.Done("backup of " + name + " in " + Cp932ForDisplay(backup_->folder()) + ": " +
            std::to_string(plan.values.size()) + " value(s), " +
            std::to_string(plan.keys_created.size()) + " new key(s), " +
            std::to_string(plan.files.size()) + " file(s)");
  return true;
}

bool CMigrateDlg::MigrateEdition(Edition edition) {
  log_.Done("migrate " + std::string(EditionName(edition)));
  last_run_.attempted += EditionWeight(edition);
  auto refused = [&] {
    last_run_.failed += EditionWeight(edition);
    return false;
  };
  DigestCache digests;
  if (services_.verification && !CheckStore(edition, &digests)) return refused();
  // Once checked, the settings file is read once for both the plan and the import, which thus
  // see the same content.
  // A settings file read on every call may still say more to the import than it did to the
  // plan: the import writes only what the backup recorded.
  ProfileFileHold hold(services_.profiles, paths_.SettingsFile(edition));
  PlannedWrites planned;
  std::vector<RefusedCopy> refused_copies;
  if (services_.backup && !WriteBackup(edition, &digests, &planned, &refused_copies)) {
    return refused();
  }
  PlannedWritesRegistry guarded(services_.registry, planned, PlannedWritesRegistry::Mode::kGuard);
  SettingsImporter importer(services_.backup ? guarded : services_.registry, services_.profiles,
                            log_);
  importer.ImportSettingsFile(paths_.SettingsFile(edition));
  size_t unrecorded = guarded.refused();
  if (unrecorded != 0) {
    log_.Skipped("migrate " + std::string(EditionName(edition)),
                 std::to_string(unrecorded) +
                     " key(s) or value(s) the backup had not recorded refused: the settings "
                     "file differed from the one read for the backup");
  }
  CopyRecorder recorder(last_run_.Copies(edition), log_, services_.copy_observer);
  DataFolderContext data = DataContext(&recorder);
  data.digests = &digests;
  data.refused_copies = &refused_copies;
  bool ok = MigrateEditionData(data, edition) && unrecorded == 0;
  if (services_.backup && !backup_->MarkWritten(edition)) {
    log_.Skipped("backup of " + std::string(EditionName(edition)),
                 "the journal could not be told that the edition's writes ended; the next start "
                 "reads it as a Migrate that did not finish");
  }
  if (!ok || !last_run_.Copies(edition).not_copied.empty()) {
    last_run_.failed += EditionWeight(edition);
  }
  if (unrecorded != 0) ShowMessage(SettingsChangedMessage(edition, LogPathForDisplay()));
  return ok;
}

void CMigrateDlg::OnMigrate() {
  if (running_) return;
  RunningScope running(&running_);
  std::unique_ptr<HostFileLock> lock;
  // Without a work tree there is no store to migrate and no log to append to.
  bool will_write = services_.work_locks != nullptr && services_.files.Exists(paths_.root);
  if (!LockWork(will_write, &lock)) return;
  StoreTime now = services_.clock();
  BackupWriter backup(services_.files, BackupPlacesFor(paths_, services_.user_state_folder),
                      now.folder_name, now.local);
  backup_ = &backup;
  if (BeginCommand()) {
    log_.Comment("migrate, " + now.local);
    // Where the log goes is settled before any message names it.
    FlushWorkLog();
    EditionCode new_code = DetectNewEditions();
    EditionCode collected = DetectCollectedEditions();
    auto shared = [&](Edition e) { return HasEdition(new_code, e) && HasEdition(collected, e); };
    // `flag` holds the outcome of the last of Personal and Client that was attempted.
    bool flag = false;
    Edition last_attempted = Edition::kPersonal;
    auto refused_for_store = [&] { return HasEdition(last_run_.damaged, last_attempted); };
    if (shared(Edition::kPersonal)) {
      last_attempted = Edition::kPersonal;
      flag = MigrateEdition(Edition::kPersonal);
      if (flag) ShowMessage(MigratedMessage(Edition::kPersonal));
      ShowCopyFailures(Edition::kPersonal);
    }
    if (shared(Edition::kClient)) {
      last_attempted = Edition::kClient;
      flag = MigrateEdition(Edition::kClient);
      if (flag) ShowMessage(MigratedMessage(Edition::kClient));
      ShowCopyFailures(Edition::kClient);
    }
    if (shared(Edition::kServer)) {
      if (MigrateEdition(Edition::kServer)) {
        ShowMessage(MigratedMessage(Edition::kServer));
      } else if (!HasEdition(last_run_.damaged, Edition::kServer)) {
        ShowMessage(kNotMigratedMessage);
      }
      ShowCopyFailures(Edition::kServer);
    } else if (!flag && !refused_for_store()) {
      // A refused store has told its own cause; this message would name another.
      ShowMessage(kNotMigratedMessage);
    }
  }
  backup_ = nullptr;
  told_fallback_ = false;
  EndCommand();
}

}  // namespace kdr
