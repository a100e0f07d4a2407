#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "core/edition.h"
#include "platform/file_system.h"

namespace kdr {

// The step of a Collect or Migrate that is running, for whoever shows its progress.
enum class RunPhase {
  kNone,
  kCheckingStore,  // Migrate: the store read and compared with its manifest
  kWritingBackup,  // Migrate: what it will replace saved for undo
  kSettings,       // the settings exported or imported
  kCopying,        // the data folders copied and read back
};

// Where a run is: its step, the step's files and bytes done of its totals (0: not known), and
// what the whole run has copied so far.
struct ProgressState {
  bool migrate = false;  // the run is a Migrate, not a Collect
  RunPhase phase = RunPhase::kNone;
  Edition edition = Edition::kPersonal;
  uint64_t files_done = 0;
  uint64_t files_total = 0;
  uint64_t bytes_done = 0;
  uint64_t bytes_total = 0;
  uint64_t run_files = 0;
  uint64_t run_bytes = 0;
  std::chrono::steady_clock::duration phase_elapsed{};
  std::chrono::steady_clock::duration run_elapsed{};
  bool stopping = false;  // asked to stop: the run ends at its next stopping point
};

// Per mille of the step done, by bytes where their total is known, else by files; nullopt when
// neither total is known.
std::optional<int> PermilleDone(const ProgressState& state);

// The time the step still needs at the rate it went so far; nullopt until it can be told.
std::optional<std::chrono::seconds> TimeLeft(const ProgressState& state);

// The progress of one run, written by the run's thread and read from any thread; and the
// request to stop it, which the run honours between files.
class RunProgress {
 public:
  virtual ~RunProgress() = default;

  // A new run: counts cleared. A stop asked for before it stands (an interruption that came
  // early).
  void Start(bool migrate);
  // A new step; its counts start from nothing.
  void StartPhase(RunPhase phase, Edition edition, uint64_t files_total, uint64_t bytes_total);
  void AddDone(uint64_t files, uint64_t bytes);
  ProgressState State() const;

  // Whether the totals of a step are shown: when not, the files are not counted before the
  // copies (a walk of every source folder, nearly all of what the progress costs).
  virtual bool ShowsTotals() const { return true; }

  // May be called from any thread, and from a signal handler (a lock-free store).
  void RequestStop() { stop_.store(true, std::memory_order_relaxed); }
  bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }

 protected:
  // Called on the run's thread after each change, with the lock released.
  virtual void Changed(const ProgressState& /*state*/) {}

 private:
  ProgressState StateLocked(std::chrono::steady_clock::time_point now) const;

  mutable std::mutex mutex_;
  ProgressState state_;
  std::chrono::steady_clock::time_point run_start_{};
  std::chrono::steady_clock::time_point phase_start_{};
  std::atomic<bool> stop_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};

// Moves a run's progress on with each file copied (or not), and asks the copy to stop once the
// run was asked to. Passes every call on to `next`.
class ProgressCopyObserver : public ForwardingCopyObserver {
 public:
  ProgressCopyObserver(RunProgress* progress, CopyObserver* next)
      : ForwardingCopyObserver(next), progress_(progress) {}
  void FileCopied(std::string_view source_path, uint64_t bytes) override;
  void CopyFailed(std::string_view source_path, const FileResult& error) override;
  void FileKept(std::string_view source_path, uint64_t bytes) override;
  bool StopRequested() override;

 private:
  RunProgress* progress_;  // may be null
};

}  // namespace kdr
