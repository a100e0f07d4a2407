#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_progress.h"
#include "engine/run_summary.h"

// The progress of a Collect or Migrate on standard error, and the line that sums it up.
namespace kdr::cli {

// "collect Client: copying, 1234/20010 files, 512.0 MB/2.1 GB (24%), 3 min 10 s left".
std::string ProgressLine(const ProgressState& state);

// Whether a log-like progress line (standard error not a terminal) is due: 5 seconds since the
// last one and 10 points more done, or a new step begun; whichever comes later.
struct LineCadence {
  std::chrono::steady_clock::duration since_last{};
  int permille_last = -1;  // of the last line; -1 when it had no total
  int permille_now = -1;
  bool step_changed = false;
};
bool LineDue(const LineCadence& cadence);

// "collect: 2 edition(s), 20010 files, 2284179785 bytes, 354.2 s, 0 failed".
std::string SummaryLine(std::string_view command, const RunSummary& summary,
                        const ProgressState& state);

// Shows the progress of a run on standard error: on a terminal one line redrawn in place (at
// most ten times a second); otherwise a line whenever LineDue says so; not at all when off.
class ConsoleProgress : public RunProgress {
 public:
  enum class Mode { kOff, kTerminal, kLines };
  explicit ConsoleProgress(Mode mode) : mode_(mode) {}
  bool ShowsTotals() const override { return mode_ != Mode::kOff; }
  // Removes the terminal's progress line (before other output, and at the end).
  void Clear();

 private:
  void Changed(const ProgressState& state) override;

  Mode mode_;
  bool shown_ = false;
  size_t width_ = 0;  // of the line on the terminal
  std::chrono::steady_clock::time_point last_line_{};
  int permille_last_ = -1;
  RunPhase phase_last_ = RunPhase::kNone;
  Edition edition_last_ = Edition::kPersonal;
};

}  // namespace kdr::cli
