#include "engine/run_progress.h"

namespace kdr {

using Clock = std::chrono::steady_clock;

std::optional<int> PermilleDone(const ProgressState& state) {
  auto permille = [](uint64_t done, uint64_t total) {
    return static_cast<int>(std::min<uint64_t>(done, total) * 1000 / total);
  };
  if (state.bytes_total != 0) return permille(state.bytes_done, state.bytes_total);
  if (state.files_total != 0) return permille(state.files_done, state.files_total);
  return std::nullopt;
}

std::optional<std::chrono::seconds> TimeLeft(const ProgressState& state) {
  std::optional<int> done = PermilleDone(state);
  // Too early to tell a rate: less than a second or nothing done.
  if (!done || *done == 0 || state.phase_elapsed < std::chrono::seconds(1)) return std::nullopt;
  const double elapsed = std::chrono::duration<double>(state.phase_elapsed).count();
  const double left = elapsed * (1000 - *done) / *done;
  return std::chrono::seconds(static_cast<int64_t>(left + 0.5));
}

void RunProgress::Start(bool migrate) {
  ProgressState state;
  {
    std::lock_guard lock(mutex_);
    run_start_ = phase_start_ = Clock::now();
    state_ = ProgressState{};
    state_.migrate = migrate;
    state = state_;
  }
  Changed(state);
}

void RunProgress::StartPhase(RunPhase phase, Edition edition, uint64_t files_total,
                             uint64_t bytes_total) {
  ProgressState state;
  {
    std::lock_guard lock(mutex_);
    phase_start_ = Clock::now();
    state_.phase = phase;
    state_.edition = edition;
    state_.files_done = state_.bytes_done = 0;
    state_.files_total = files_total;
    state_.bytes_total = bytes_total;
    state = StateLocked(phase_start_);
  }
  Changed(state);
}

void RunProgress::AddDone(uint64_t files, uint64_t bytes) {
  ProgressState state;
  {
    std::lock_guard lock(mutex_);
    state_.files_done += files;
    state_.bytes_done += bytes;
    state_.run_files += files;
    state_.run_bytes += bytes;
    state = StateLocked(Clock::now());
  }
  Changed(state);
}

ProgressState RunProgress::State() const {
  std::lock_guard lock(mutex_);
  return StateLocked(Clock::now());
}

ProgressState RunProgress::StateLocked(Clock::time_point now) const {
  ProgressState state = state_;
  state.phase_elapsed = now - phase_start_;
  state.run_elapsed = now - run_start_;
  state.stopping = StopRequested();
  return state;
}

void ProgressCopyObserver::FileCopied(std::string_view source_path, uint64_t bytes) {
  if (progress_) progress_->AddDone(1, bytes);
  ForwardingCopyObserver::FileCopied(source_path, bytes);
}

void ProgressCopyObserver::CopyFailed(std::string_view source_path, const FileResult& error) {
  // A file not copied is done with all the same; the copies a stop leaves out are not. A folder
  // is none of the files counted: those of it that were counted are not done.
  if (progress_ && !progress_->StopRequested() && !NamesFolder(source_path)) {
    progress_->AddDone(1, 0);
  }
  ForwardingCopyObserver::CopyFailed(source_path, error);
}

// A file kept as it was is as done as one copied.
void ProgressCopyObserver::FileKept(std::string_view source_path, uint64_t bytes) {
  if (progress_) progress_->AddDone(1, bytes);
  ForwardingCopyObserver::FileKept(source_path, bytes);
}

bool ProgressCopyObserver::StopRequested() {
  return (progress_ && progress_->StopRequested()) || ForwardingCopyObserver::StopRequested();
}

}  // namespace kdr
