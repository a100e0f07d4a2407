#include "engine/edition_failure.h"

namespace kdr {

namespace {

struct FailureNames {
  std::string_view code;
  std::string_view text;
};

FailureNames Names(EditionFailure failure) {
  switch (failure) {
    case EditionFailure::kNone:
      return {"", ""};
    case EditionFailure::kStoreRefused:
      return {"store_refused", "the store is not as Collect sealed it"};
    case EditionFailure::kBackupNotWritten:
      return {"backup_not_written", "the backup for undo could not be written"};
    case EditionFailure::kStoreNotMarked:
      return {"store_not_marked", "the store could not be marked as being collected"};
    case EditionFailure::kSettingsNotWritten:
      return {"settings_not_written", "the settings file could not be written"};
    case EditionFailure::kPathNotRead:
      return {"data_path_not_read", "a data path value could not be read"};
    case EditionFailure::kFilesNotCopied:
      return {"files_not_copied", "some data files were not copied"};
    case EditionFailure::kSettingsChanged:
      return {"settings_changed", "the settings file changed after the backup was made"};
    case EditionFailure::kStoreNotSealed:
      return {"store_not_sealed", "the store's manifest could not be written"};
    case EditionFailure::kDestinationUnusable:
      return {"destination_unusable", "a data folder it would write into cannot be used"};
    case EditionFailure::kInterrupted:
      return {"interrupted", "the run was stopped before the edition was done"};
  }
  return {"unknown", "unknown"};
}

}  // namespace

std::string_view EditionFailureCode(EditionFailure failure) { return Names(failure).code; }
std::string_view EditionFailureText(EditionFailure failure) { return Names(failure).text; }

}  // namespace kdr
