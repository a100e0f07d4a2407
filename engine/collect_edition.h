#pragma once

#include "core/edition.h"
#include "engine/run_context.h"

namespace kdr {

// What one edition's Collect did, for the messages that follow it.
struct CollectOutcome {
  bool settings_written = false;  // the settings file is on disk as exported
  bool ok = false;                // everything of the edition was collected and sealed
  bool data_told = false;         // the data step showed a message of its own (a path not read)
};

// Collects one edition into the work folder: marks its store begun, exports its settings,
// copies its data folders, and seals the store naming what could not be taken. Records the
// result in run.summary.
CollectOutcome CollectEdition(RunContext& run, Edition edition);

}  // namespace kdr
