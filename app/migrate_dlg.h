#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "app/dialog_view.h"
#include "core/activity_log.h"
#include "core/edition.h"
#include "core/log_lines.h"
#include "core/work_paths.h"
#include "engine/edition_migration.h"
#include "engine/run_context.h"
#include "engine/run_summary.h"
#include "engine/services.h"
#include "platform/work_folder_lock.h"

namespace kdr {

// The main dialog's state and logic: the work paths, the button rule and the two commands.
// The view shows it; this class knows nothing of windows.
class CMigrateDlg {
 public:
  CMigrateDlg(const Services& services, DialogView& view);
  // log_ may refer to null_log_, a member: a copy would keep pointing at the original's.
  CMigrateDlg(const CMigrateDlg&) = delete;
  CMigrateDlg& operator=(const CMigrateDlg&) = delete;

  // Derives the work paths from the executable's full path (or from a folder). When the folder
  // is too long for the platform's paths, shows a message and returns false; the commands then
  // stay disabled.
  bool InitWorkPaths(std::string_view executable_path);
  bool InitWorkPathsFromFolder(std::string_view folder);

  // Enables Collect when an old edition is installed, Migrate when an edition is both installed
  // in the new product and collected. Exit is not touched. Does nothing while a command runs:
  // its buttons stay disabled until it ends.
  void RefreshButtons();

  // The two commands behind the buttons. Neither starts while a command runs (a message box
  // of that run passes the window's messages on, a click among them).
  void OnCollect();
  void OnMigrate();

  // Shows a message and records it in the logs.
  void ShowMessage(std::string_view text);

  // Adds a line to the log of the last command, for what its caller did after it (the console
  // saving its results, its exit code).
  void RecordInWorkLog(std::string_view comment);

  // On start: tells the user when a Migrate stopped while it wrote (its window ended by force),
  // and what to do.
  void TellUnfinishedMigrate();

  EditionCode DetectOldEditions();
  EditionCode DetectNewEditions();
  EditionCode DetectCollectedEditions();

  // Where the commands tell their progress and look for a request to stop (may be null). A
  // command asked to stop ends after the file it copies, shows no more messages and logs that
  // it was interrupted.
  void set_progress(RunProgress* progress) { progress_ = progress; }
  // The last run was cut short by a stop: an edition left undone, or not begun. A stop asked
  // once every edition was done stopped nothing, and is not told as one.
  bool stopped() const { return cut_short_; }

  const WorkPaths& paths() const { return paths_; }
  bool paths_valid() const { return paths_valid_; }
  const RunSummary& last_run() const { return last_run_; }
  // The log file of the last command (code page 932); empty when none was written.
  const std::string& log_file() const { return log_file_; }

 private:
  // Every command starts with all three buttons disabled and ends with the button rule applied
  // and Exit enabled. BeginCommand is false when there are no usable work paths.
  bool BeginCommand(bool migrate);
  void ApplyButtonRule();
  // The first lines of a command's log: what, when, which version, where and as whom.
  void LogHeader(std::string_view command, const StoreTime& now);
  // False, with the user told, when another run holds the work folder. A lock that cannot be
  // taken for any other reason stops nothing: the command then fails or not on its own. Without
  // `will_write` no lock is taken, so that a command with nothing to do leaves no work tree.
  bool LockWork(bool will_write, std::unique_ptr<HostFileLock>* lock);
  void EndCommand(std::string_view command);
  // True when a stop was asked: the next edition is not begun, and the run is cut short.
  bool StopsBeforeNextEdition();
  // Notes an edition that the stop left undone.
  void NoteIfInterrupted(Edition edition);
  // What the engine's steps of this command work with.
  RunContext Run();
  void CollectEdition(Edition edition);
  // The store checked, the backup written, the settings and data written, each step's failure
  // told. False when the edition was not migrated whole.
  bool MigrateEdition(MigrateBackup& backup, Edition edition);
  // The log's full path for messages; empty when no log could be written.
  std::string LogPathForDisplay();
  // Tells the files of the edition that were not copied, if any; true when it did.
  bool TellCopyFailures(Edition edition, bool collect);
  // Appends what the run logged so far to kdr4env\kdr4tose.log, once the work tree exists.
  void FlushWorkLog();

  // kdr4env\kdr4tose.log: written out whenever enough has gathered, so that a long run's log
  // is not held in memory to its end. Each write waits for the disk, so not too often: a run of
  // 100 000 values logs about 12 MB.
  class WorkLog : public LogLines {
   public:
    explicit WorkLog(CMigrateDlg& owner) : owner_(owner) {}

   private:
    void LineAdded() override;
    CMigrateDlg& owner_;
    size_t next_flush_ = kFlushBytes;
    static constexpr size_t kFlushBytes = 1024 * 1024;
  };

  Services services_;
  DialogView& view_;
  WorkLog work_log_{*this};
  LogTee log_;  // the services' log (the console's --log) and the work folder's
  WorkPaths paths_;
  bool paths_valid_ = false;
  RunSummary last_run_;
  std::string log_file_;   // where this command's log goes, once its first write settled it
  bool log_lost_ = false;  // no log could be written for this command
  bool running_ = false;   // a command runs
  RunProgress* progress_ = nullptr;
  bool cut_short_ = false;
};

}  // namespace kdr
