#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/registry.h"

// Taking a Migrate back from its backup: replaced values and files restored, created values,
// keys, files and folders removed. An item that no longer holds what Migrate wrote is refused
// (and named) unless forced; the rest goes on.
namespace kdr {

enum class UndoOutcome { kRestored, kRemoved, kAlreadyAsBefore, kRefused, kFailed };

std::string_view UndoOutcomeText(UndoOutcome outcome);

struct UndoItem {
  std::string what;  // UTF-8: "value HKCU\...\Host", "file C:\...\a.dat"
  UndoOutcome outcome;
  std::string reason;  // for kRefused and kFailed
};

struct UndoResult {
  std::string backup;          // the backup's folder name
  std::string error;           // set when the backup could not be used at all
  bool nothing_to_do = false;  // (with error) no backup left to undo: none, or all undone
  // Items by outcome: a Migrate of a million values is undone without holding its items.
  std::array<size_t, 5> counts{};
  size_t Count(UndoOutcome outcome) const { return counts[static_cast<size_t>(outcome)]; }
  size_t Total() const;
  // Everything is as it was before the Migrate.
  bool complete() const {
    return error.empty() && Count(UndoOutcome::kRefused) == 0 && Count(UndoOutcome::kFailed) == 0;
  }
};

// Where a Migrate writes: the new product's branch below HKEY_CURRENT_USER and each edition's
// destination folders (ending with a backslash). The journal lies in the work folder, which
// travels on USB sticks: an item it names outside these was not written by a Migrate, and undo
// refuses it, even when forced, rather than remove or overwrite something the tool does not own.
struct UndoScope {
  std::string branch;
  std::array<std::vector<std::string>, kEditionCount> folders;
};

struct BackupInfo {
  std::string name;
  std::string time;
  std::vector<std::string> editions;  // names
  bool undone = false;
  std::string error;  // the journal cannot be read
};

// The backups in kdr4env\backup, oldest first.
std::vector<BackupInfo> ListBackups(FileSystem& files, const WorkPaths& paths);

// Undoes the backup `name` (when empty, the newest that has not been undone). With `force`, items
// changed since the Migrate are restored too; items outside `scope` never are. Each item is
// handed to `observer` (when given) as soon as it is done.
using UndoObserver = std::function<void(const UndoItem&)>;
UndoResult UndoMigrate(Registry& registry, FileSystem& files, const WorkPaths& paths,
                       std::string_view name, bool force, const UndoScope& scope,
                       const UndoObserver& observer = {});

}  // namespace kdr
