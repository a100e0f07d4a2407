#include "app/migrate_dlg.h"

#include <chrono>

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

// "2026-12-09 00:30:05 UTC", to tell the runs apart in the work folder's log.
std::string TimeNow() {
  using namespace std::chrono;
  auto now = floor<seconds>(system_clock::now());
  auto day = floor<days>(now);
  year_month_day date(day);
  hh_mm_ss time(now - day);
  auto two = [](long v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  return std::to_string(static_cast<int>(date.year())) + "-" +
         two(static_cast<unsigned>(date.month())) + "-" + two(static_cast<unsigned>(date.day())) +
         " " + two(time.hours().count()) + ":" + two(time.minutes().count()) + ":" +
         two(time.seconds().count()) + " UTC";
}

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
  if (work_log_.empty() || !paths_valid_ || !services_.files.IsFolder(paths_.root)) return;
  std::string path = paths_.root + "\\" + std::string(kWorkLogName);
  // A log that cannot be written loses only the log, and there is nowhere left to say so; the
  // run's outcome is told all the same.
  (void)services_.files.AppendToFile(path, work_log_.Take());
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
  if (count != 0) ShowMessage(NotCopiedMessage(count));
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
  std::vector<UnfinishedMigrate> unfinished = FindUnfinishedMigrates(services_.files, paths_);
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
  return Cp932ForDisplay(paths_.root + "\\kdr4tose.log");
}

void CMigrateDlg::WriteManifest(Edition edition, DigestCache* digests, bool* ok,
                                bool* settings_written) {
  // The settings file must be on disk before it is hashed; a store whose settings file was not
  // written gets no manifest, which would call it whole.
  if (!*settings_written || !services_.profiles.Flush()) {
    log_.Skipped("manifest of " + std::string(EditionName(edition)),
                 "the settings file could not be written");
    *ok = false;
    *settings_written = false;
    return;
  }
  std::string error;
  if (!WriteEditionManifest(services_.files, paths_, edition, ToolVersion(), CurrentStoreTime().utc,
                            digests, &error)) {
    log_.Skipped("manifest of " + std::string(EditionName(edition)), error);
    *ok = false;
    return;
  }
  log_.Done("manifest of " + std::string(EditionName(edition)) + " written");
}

void CMigrateDlg::CollectEdition(Edition edition) {
  log_.Done("collect " + std::string(EditionName(edition)));
  last_run_.attempted += EditionWeight(edition);
  MakeEditionFolders(services_.files, paths_, edition);
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
  if (!settings_written) ShowMessage(kSettingsNotWrittenMessage);
  ShowCopyFailures(edition);
}

bool CMigrateDlg::BeginCommand() {
  view_.EnableControl(kCollectButton, false);
  view_.EnableControl(kMigrateButton, false);
  view_.EnableControl(kExitButton, false);
  last_run_ = RunSummary{};
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
    log_.Comment("collect, " + TimeNow());
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
  if (!check.usable()) {
    if (!check.manifest_error.empty()) log_.Skipped("store of " + name, check.manifest_error);
    for (const StoreProblem& problem : check.problems) {
      log_.Skipped("store of " + name + ": " + Cp932ForDisplay(problem.path),
                   ProblemText(problem.kind));
    }
    log_.Skipped("migrate " + name, std::to_string(check.bad_count()) +
                                        " file(s) of the store are not as collected; "
                                        "nothing of the edition written");
    last_run_.damaged += EditionWeight(edition);
    ShowMessage(StoreDamagedMessage(edition, check.bad_count(), LogPathForDisplay()));
    return false;
  }
  if (!check.has_manifest) {
    last_run_.unverified += EditionWeight(edition);
    log_.Skipped("check of the store of " + name,
                 "it has no manifest (collected by an older version); migrated unverified");
  } else {
    log_.Done("store of " + name + " checked: " + std::to_string(check.files_checked) +
              " file(s) as collected");
  }
  return true;
}

bool CMigrateDlg::WriteBackup(Edition edition, const DigestCache* digests, PlannedWrites* writes) {
  std::string name(EditionName(edition));
  EditionPlan plan;
  std::string error;
  PlanInputs inputs{services_.registry, services_.files, services_.profiles, paths_,
                    services_.max_path, digests};
  if (!PlanMigrate(inputs, edition, &plan, &error, writes) ||
      !TakeOldContentOfUnfinished(services_.files, paths_, &plan, &error) ||
      !backup_->Add(plan, &error)) {
    log_.Skipped("backup before migrating " + name, error + "; nothing of the edition written");
    ShowMessage(BackupFailedMessage(edition, LogPathForDisplay()));
    return false;
  }
  last_run_.backup_name = backup_->name();
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
  if (services_.backup && !WriteBackup(edition, &digests, &planned)) return refused();
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
  StoreTime now = CurrentStoreTime();
  BackupWriter backup(services_.files, paths_, now.folder_name, now.utc);
  backup_ = &backup;
  if (BeginCommand()) {
    log_.Comment("migrate, " + TimeNow());
    EditionCode new_code = DetectNewEditions();
    EditionCode collected = DetectCollectedEditions();
    auto shared = [&](Edition e) { return HasEdition(new_code, e) && HasEdition(collected, e); };
    // `flag` holds the outcome of the last of Personal and Client that was attempted.
    bool flag = false;
    if (shared(Edition::kPersonal)) {
      flag = MigrateEdition(Edition::kPersonal);
      if (flag) ShowMessage(MigratedMessage(Edition::kPersonal));
      ShowCopyFailures(Edition::kPersonal);
    }
    if (shared(Edition::kClient)) {
      flag = MigrateEdition(Edition::kClient);
      if (flag) ShowMessage(MigratedMessage(Edition::kClient));
      ShowCopyFailures(Edition::kClient);
    }
    if (shared(Edition::kServer)) {
      if (MigrateEdition(Edition::kServer)) {
        ShowMessage(MigratedMessage(Edition::kServer));
      } else {
        ShowMessage(kNotMigratedMessage);
      }
      ShowCopyFailures(Edition::kServer);
    } else if (!flag) {
      ShowMessage(kNotMigratedMessage);
    }
  }
  backup_ = nullptr;
  EndCommand();
}

}  // namespace kdr
