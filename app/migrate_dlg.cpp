#include "app/migrate_dlg.h"

#include <algorithm>

#include "app/messages.h"
#include "core/presence.h"
#include "engine/collect_edition.h"
#include "engine/work_log_file.h"
#include "platform/text_encoding.h"
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

void CMigrateDlg::RecordInWorkLog(std::string_view comment) {
  work_log_.Comment(comment);
  FlushWorkLog();
  work_log_.Take();  // a command without a work tree to write to keeps nothing for the next
}

void CMigrateDlg::FlushWorkLog() {
  if (work_log_.empty() || !paths_valid_) return;
  if (!log_file_.empty()) {
    // A log that cannot be written loses only the log, and there is nowhere left to say so;
    // the run's outcome is told all the same.
    (void)AppendToWorkLog(services_, log_file_, work_log_.Take());
    return;
  }
  if (log_lost_) {
    work_log_.Take();
    return;
  }
  // The first write of a command decides where its log goes. A work folder not made yet keeps
  // the lines until it is.
  std::string text = work_log_.Take();
  WorkLogPlace place = AppendToCommandLog(services_, paths_, text);
  if (place.no_work_folder) {
    work_log_.Restore(std::move(text));
  } else if (place.file.empty()) {
    log_lost_ = true;
  } else {
    log_file_ = std::move(place.file);
  }
}

void CMigrateDlg::WorkLog::LineAdded() {
  if (size() < next_flush_) return;
  owner_.FlushWorkLog();
  // Before the work tree exists nothing can be written: try again only once as much again has
  // gathered, so that each line does not ask the file system.
  next_flush_ = empty() ? kFlushBytes : 2 * size();
}

bool CMigrateDlg::TellCopyFailures(Edition edition, bool collect) {
  const std::vector<FailedItem>& items = last_run_.Copies(edition).not_copied;
  if (items.empty()) return false;
  const size_t folders = static_cast<size_t>(
      std::count_if(items.begin(), items.end(), [](const FailedItem& i) { return i.folder(); }));
  ShowMessage(NotCopiedMessage(collect ? CollectedProduct(edition) : MigratedProduct(edition),
                               collect, items.size() - folders, folders, LogPathForDisplay()));
  return true;
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

RunContext CMigrateDlg::Run() {
  return RunContext{services_,
                    paths_,
                    log_,
                    last_run_,
                    view_.CopyOwner(),
                    [this](std::string_view text) { ShowMessage(text); },
                    progress_};
}

std::string CMigrateDlg::LogPathForDisplay() {
  // A message names only a log that is there: what gathered so far is written out first.
  if (log_file_.empty()) FlushWorkLog();
  return log_file_.empty() ? std::string() : Cp932ForDisplay(log_file_);
}

void CMigrateDlg::CollectEdition(Edition edition) {
  RunContext run = Run();
  CollectOutcome outcome = kdr::CollectEdition(run, edition);
  if (last_run_.Cause(edition) == EditionFailure::kInterrupted) return;
  if (outcome.ok) {
    ShowMessage(CollectedMessage(edition));
    return;
  }
  // A failed edition is told by its causes, never by the message that it was collected.
  bool told = false;
  if (!outcome.settings_written) {
    ShowMessage(SettingsNotWrittenMessage(CollectedProduct(edition), LogPathForDisplay()));
    told = true;
  }
  told = TellCopyFailures(edition, /*collect=*/true) || told;
  // A data path not read has shown its own message.
  if (!told && !outcome.data_told) {
    ShowMessage(CollectFailedMessage(CollectedProduct(edition), LogPathForDisplay()));
  }
}

void CMigrateDlg::LogHeader(std::string_view command, const StoreTime& now) {
  log_.Comment(std::string(command) + ", " + now.local);
  log_.Comment(RunIdentity(services_));
  log_.Comment("work folder " + Cp932ForDisplay(paths_.root) + ", settings from " +
               services_.registry_source);
}

bool CMigrateDlg::BeginCommand(bool migrate) {
  view_.EnableControl(kCollectButton, false);
  view_.EnableControl(kMigrateButton, false);
  view_.EnableControl(kExitButton, false);
  last_run_ = RunSummary{};
  cut_short_ = false;
  if (progress_) progress_->Start(migrate);
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

void CMigrateDlg::EndCommand(std::string_view command) {
  if (paths_valid_) {
    if (stopped()) log_.Comment("interrupted: " + std::string(command) + " did not finish");
    for (Edition e : kAllEditions) {
      if (!HasEdition(last_run_.attempted, e)) continue;
      const EditionFailure cause = last_run_.Cause(e);
      log_.Comment("outcome of " + std::string(EditionName(e)) + ": " +
                   (HasEdition(last_run_.failed, e)
                        ? "failed, " + std::string(EditionFailureCode(cause)) + " (" +
                              std::string(EditionFailureText(cause)) + ")"
                        : std::string("done")));
    }
    log_.Comment("editions attempted " + std::to_string(last_run_.attempted) + ", failed " +
                 std::to_string(last_run_.failed));
  }
  FlushWorkLog();
  work_log_.Take();  // nothing kept for a later run when there was no work tree to write to
  ApplyButtonRule();
  view_.EnableControl(kExitButton, true);
}

bool CMigrateDlg::StopsBeforeNextEdition() {
  if (progress_ && progress_->StopRequested()) cut_short_ = true;
  return cut_short_;
}

void CMigrateDlg::NoteIfInterrupted(Edition edition) {
  if (last_run_.Cause(edition) == EditionFailure::kInterrupted) cut_short_ = true;
}

void CMigrateDlg::OnCollect() {
  if (running_) return;
  RunningScope running(&running_);
  std::unique_ptr<HostFileLock> lock;
  // Asked only for the window, so that the console's runs make the same calls as before.
  bool will_write = services_.work_locks != nullptr && DetectOldEditions() != 0;
  if (!LockWork(will_write, &lock)) return;
  if (BeginCommand(false)) {
    LogHeader("collect", services_.clock());
    FlushWorkLog();
    EditionCode code = DetectOldEditions();
    bool collected_any = false;
    for (Edition edition : kAllEditions) {
      if (!HasEdition(code, edition)) continue;
      if (StopsBeforeNextEdition()) break;
      CollectEdition(edition);
      NoteIfInterrupted(edition);
      collected_any = true;
    }
    if (!collected_any && !stopped()) ShowMessage(kNothingToCollectMessage);
  }
  EndCommand("collect");
}

bool CMigrateDlg::MigrateEdition(MigrateBackup& backup, Edition edition) {
  RunContext run = Run();
  EditionMigration migration(run, backup, edition);
  auto told = [&] {
    last_run_.told |= EditionWeight(edition);
    return false;
  };
  const bool checked = migration.CheckStore();
  // Asked to stop: nothing more is shown, nor written.
  if (migration.StoppedBeforeWriting()) return told();
  if (!checked) {
    ShowMessage(StoreRefusedMessage(edition, migration.check(), LogPathForDisplay()));
    return told();
  }
  if (!migration.WriteBackup()) {
    // The plan reads the store files the check only looked at: one of them may refuse it.
    if (!migration.check().usable()) {
      ShowMessage(StoreRefusedMessage(edition, migration.check(), LogPathForDisplay()));
      return told();
    }
    ShowMessage(migration.unusable_folder().empty()
                    ? BackupFailedMessage(edition, LogPathForDisplay())
                    : DestinationUnusableMessage(edition,
                                                 Cp932ForDisplay(migration.unusable_folder()),
                                                 LogPathForDisplay()));
    return told();
  }
  if (migration.StoppedBeforeWriting()) return told();
  if (migration.backup_elsewhere()) {
    ShowMessage(BackupElsewhereMessage(Cp932ForDisplay(migration.backup_folder())));
  }
  bool ok = migration.WriteSettingsAndData();
  // Asked to stop: the window is on its way out, and shows nothing more.
  if (progress_ && progress_->StopRequested()) return told();
  if (migration.unrecorded() != 0) {
    ShowMessage(SettingsChangedMessage(edition, LogPathForDisplay()));
    last_run_.told |= EditionWeight(edition);
  }
  if (TellCopyFailures(edition, /*collect=*/false)) last_run_.told |= EditionWeight(edition);
  return ok;
}

void CMigrateDlg::OnMigrate() {
  if (running_) return;
  RunningScope running(&running_);
  std::unique_ptr<HostFileLock> lock;
  // Without a work tree there is no store to migrate and no log to append to. One that cannot
  // be looked at may be there: it is locked as one that is.
  bool will_write = services_.work_locks != nullptr &&
                    services_.files.Lookup(paths_.root) != std::optional(EntryKind::kNone);
  if (!LockWork(will_write, &lock)) return;
  StoreTime now = services_.clock();
  MigrateBackup backup(services_, paths_, now);
  if (BeginCommand(true)) {
    LogHeader("migrate", now);
    // Where the log goes is settled before any message names it.
    FlushWorkLog();
    EditionCode new_code = DetectNewEditions();
    EditionCode collected = DetectCollectedEditions();
    auto shared = [&](Edition e) { return HasEdition(new_code, e) && HasEdition(collected, e); };
    // `flag` holds the outcome of the last of Personal and Client that was attempted. An
    // edition that failed shows no message that it was migrated; one whose failure was told with
    // its cause is not followed by the message that names another.
    bool flag = false;
    Edition last_attempted = Edition::kPersonal;
    auto told = [&](Edition e) { return HasEdition(last_run_.told, e); };
    for (Edition e : {Edition::kPersonal, Edition::kClient}) {
      if (!shared(e) || StopsBeforeNextEdition()) continue;
      last_attempted = e;
      flag = MigrateEdition(backup, e);
      NoteIfInterrupted(e);
      if (flag) ShowMessage(MigratedMessage(e));
    }
    // A run cut short is told by the front end that asked for the stop.
    if (shared(Edition::kServer)) {
      if (!StopsBeforeNextEdition()) {
        const bool migrated = MigrateEdition(backup, Edition::kServer);
        NoteIfInterrupted(Edition::kServer);
        if (migrated) {
          ShowMessage(MigratedMessage(Edition::kServer));
        } else if (!told(Edition::kServer)) {
          ShowMessage(kNotMigratedMessage);
        }
      }
    } else if (!stopped() && !flag && !told(last_attempted)) {
      ShowMessage(kNotMigratedMessage);
    }
  }
  EndCommand("migrate");
}

}  // namespace kdr
