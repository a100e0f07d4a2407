#pragma once

#include <string_view>

namespace kdr {

// Why an edition of a Collect or Migrate failed: the first cause found. Each has a code that
// --json and the log give, stable from one version to the next, and a text beside it.
enum class EditionFailure {
  kNone,
  kStoreRefused,         // Migrate: the store is unfinished, incomplete or changed
  kBackupNotWritten,     // Migrate: nothing written, as undo would have nothing to go by
  kStoreNotMarked,       // Collect: the store could not be marked as being collected
  kSettingsNotWritten,   // Collect: the settings file could not be written
  kPathNotRead,          // a data path value could not be read: its folders were not copied
  kFilesNotCopied,       // some data files were not copied
  kSettingsChanged,      // Migrate: the settings file said more than the backup recorded
  kStoreNotSealed,       // Collect: the store's manifest could not be written
  kDestinationUnusable,  // Migrate: a data folder it would write into cannot be used
  kInterrupted,          // the run was asked to stop before the edition was done
};

std::string_view EditionFailureCode(EditionFailure failure);
std::string_view EditionFailureText(EditionFailure failure);

// A Migrate that failed this way wrote nothing of the edition.
constexpr bool WroteNothing(EditionFailure failure) {
  return failure == EditionFailure::kStoreRefused || failure == EditionFailure::kBackupNotWritten ||
         failure == EditionFailure::kDestinationUnusable;
}

}  // namespace kdr
