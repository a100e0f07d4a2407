#pragma once

#include <functional>
#include <string_view>

#include "core/activity_log.h"
#include "core/work_paths.h"
#include "engine/run_progress.h"
#include "engine/run_summary.h"
#include "engine/services.h"
#include "platform/owner_window.h"

namespace kdr {

// What the steps of one Collect or Migrate work with, from its start to its end.
struct RunContext {
  const Services& services;
  const WorkPaths& paths;
  ActivityLog& log;
  RunSummary& summary;
  OwnerWindow* copy_owner;  // owns the platform copy's own messages (may be null)
  // The messages the data step shows itself, where it shows them (a path value not read).
  std::function<void(std::string_view)> show_message;
  // Told how far the run got; its stop request ends the run between files (may be null).
  RunProgress* progress = nullptr;

  bool StopRequested() const { return progress && progress->StopRequested(); }
  void StartPhase(RunPhase phase, Edition edition, uint64_t files_total = 0,
                  uint64_t bytes_total = 0) const {
    if (progress) progress->StartPhase(phase, edition, files_total, bytes_total);
  }
};

}  // namespace kdr
