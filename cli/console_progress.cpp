#include "cli/console_progress.h"

#include <cstdio>

#include "app/progress_text.h"
#include "cli/cli_messages.h"
#include "cli/cli_platform.h"

namespace kdr::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::string StepName(RunPhase phase) {
  switch (phase) {
    case RunPhase::kNone:
      return Text(Msg::kStepStarting);
    case RunPhase::kCheckingStore:
      return Text(Msg::kStepCheckingStore);
    case RunPhase::kWritingBackup:
      return Text(Msg::kStepWritingBackup);
    case RunPhase::kSettings:
      return Text(Msg::kStepSettings);
    case RunPhase::kCopying:
      return Text(Msg::kStepCopying);
  }
  return "";
}

std::string Duration(std::chrono::seconds time) {
  const int64_t s = time.count();
  if (s >= 3600) {
    return Text(Msg::kHoursMinutes, {std::to_string(s / 3600), std::to_string(s % 3600 / 60)});
  }
  if (s >= 60) return Text(Msg::kMinutesSeconds, {std::to_string(s / 60), std::to_string(s % 60)});
  return Text(Msg::kSeconds, {std::to_string(s)});
}

}  // namespace

std::string ProgressLine(const ProgressState& state) {
  std::string line = state.migrate ? "migrate" : "collect";
  if (state.phase != RunPhase::kNone) line += " " + std::string(EditionName(state.edition));
  line += ": " + StepName(state.phase);
  if (state.files_total != 0 || state.files_done != 0) {
    line += Text(Msg::kProgressFiles,
                 {std::to_string(state.files_done), std::to_string(state.files_total),
                  ByteSize(state.bytes_done), ByteSize(state.bytes_total)});
  }
  if (std::optional<int> permille = PermilleDone(state)) {
    line += Text(Msg::kProgressPercent, {std::to_string(*permille / 10)});
  }
  if (std::optional<std::chrono::seconds> left = TimeLeft(state)) {
    line += Text(Msg::kProgressLeft, {Duration(*left)});
  }
  return line;
}

bool LineDue(const LineCadence& cadence) {
  if (cadence.since_last < std::chrono::seconds(5)) return false;
  if (cadence.step_changed || cadence.permille_now < 0 || cadence.permille_last < 0) return true;
  return cadence.permille_now - cadence.permille_last >= 100;
}

std::string SummaryLine(std::string_view command, const RunSummary& summary,
                        const ProgressState& state) {
  int editions = 0;
  int failed = 0;
  for (Edition e : kAllEditions) {
    editions += HasEdition(summary.attempted, e) ? 1 : 0;
    failed += HasEdition(summary.failed, e) ? 1 : 0;
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f",
                std::chrono::duration<double>(state.run_elapsed).count());
  return Text(Msg::kSummaryLine,
              {command, std::to_string(editions), std::to_string(state.run_files),
               std::to_string(state.run_bytes), seconds, std::to_string(failed)});
}

void ConsoleProgress::Changed(const ProgressState& state) {
  if (mode_ == Mode::kOff) return;
  const Clock::time_point now = Clock::now();
  if (mode_ == Mode::kLines) {
    if (state.phase == RunPhase::kNone) {
      // A new run: its first line comes 5 seconds in at the earliest.
      last_line_ = now;
      permille_last_ = -1;
      phase_last_ = RunPhase::kNone;
      return;
    }
    const int permille = PermilleDone(state).value_or(-1);
    const bool step_changed = state.phase != phase_last_ || state.edition != edition_last_;
    if (!LineDue({now - last_line_, permille_last_, permille, step_changed})) return;
    last_line_ = now;
    permille_last_ = permille;
    phase_last_ = state.phase;
    edition_last_ = state.edition;
    WriteStderr(ProgressLine(state) + "\n");
    return;
  }
  if (shown_ && now - last_line_ < std::chrono::milliseconds(100)) return;
  last_line_ = now;
  shown_ = true;
  std::string line = ProgressLine(state);
  const size_t width = line.size();
  if (line.size() < width_) line.append(width_ - line.size(), ' ');
  width_ = width;
  line.insert(line.begin(), '\r');
  WriteStderr(line);
}

void ConsoleProgress::Clear() {
  if (mode_ != Mode::kTerminal || !shown_) return;
  shown_ = false;
  std::string blank(width_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  WriteStderr(blank);
  width_ = 0;
}

}  // namespace kdr::cli
