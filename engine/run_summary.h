#pragma once

#include <array>
#include <string>

#include "core/edition.h"
#include "datafolders/copy_report.h"
#include "engine/edition_failure.h"
#include "store/store_check.h"

namespace kdr {

// What the last command did, per edition: for the console tool's exit code and list of files
// not copied, and for whatever checks a run afterwards.
struct RunSummary {
  EditionCode attempted = 0;   // editions the command worked on
  EditionCode failed = 0;      // of those, the ones that reported a failure
  EditionCode damaged = 0;     // Migrate: editions refused for their store's state
  EditionCode unverified = 0;  // Migrate: editions collected without a manifest
  EditionCode sealed = 0;      // Collect: editions whose store was sealed whole
  EditionCode told = 0;        // editions whose failure the user was told with its cause
  // Migrate: each edition's store as checked, in kAllEditions order.
  std::array<StoreState, 3> stores{StoreState::kNoManifest, StoreState::kNoManifest,
                                   StoreState::kNoManifest};
  std::string backup_name;                  // Migrate: the backup written, if any
  std::string backup_folder;                // Migrate: where it lies
  std::array<EditionCopyReport, 3> copies;  // the data step of each edition, in kAllEditions order
  // Why each edition failed, in kAllEditions order.
  std::array<EditionFailure, 3> causes{EditionFailure::kNone, EditionFailure::kNone,
                                       EditionFailure::kNone};

  EditionCopyReport& Copies(Edition edition) { return copies[static_cast<int>(edition) - 1]; }
  const EditionCopyReport& Copies(Edition edition) const {
    return copies[static_cast<int>(edition) - 1];
  }
  StoreState Store(Edition edition) const { return stores[EditionIndex(edition)]; }
  EditionFailure Cause(Edition edition) const { return causes[EditionIndex(edition)]; }
  // Records the edition as failed; the first cause given is the one kept.
  void Fail(Edition edition, EditionFailure cause) {
    failed |= EditionWeight(edition);
    if (causes[EditionIndex(edition)] == EditionFailure::kNone) {
      causes[EditionIndex(edition)] = cause;
    }
  }
};

}  // namespace kdr
