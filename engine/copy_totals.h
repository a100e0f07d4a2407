#pragma once

#include <cstdint>
#include <vector>

#include "core/edition.h"
#include "datafolders/data_folders.h"
#include "engine/run_context.h"
#include "platform/file_system.h"

namespace kdr {

// The files and bytes a set of folder copies would copy, counted before they start, so that
// their progress can be told against a total.
struct CopyTotals {
  uint64_t files = 0;
  uint64_t bytes = 0;
};

// A folder that cannot be listed counts what could be; a file that cannot be read counts as one
// file of no bytes.
CopyTotals MeasureCopies(FileSystem& files, const std::vector<FolderCopy>& copies);

// Starts the copying step of an edition's Collect (or Migrate, `migrate`), with its totals when
// anyone follows the progress.
void StartCopying(const RunContext& run, Edition edition, bool migrate);

}  // namespace kdr
