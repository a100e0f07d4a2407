#pragma once

#include <functional>
#include <string_view>

#include "core/activity_log.h"
#include "core/work_paths.h"
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
};

}  // namespace kdr
