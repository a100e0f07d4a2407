#pragma once

#include <cstddef>
#include <string>

#include "core/activity_log.h"
#include "platform/file_system.h"
#include "platform/profile_file.h"
#include "platform/registry.h"
#include "platform/work_folder_lock.h"
#include "store/store_time.h"

namespace kdr {

// The platform services the tool works through, built once per platform and passed down.
struct Services {
  Registry& registry;
  FileSystem& files;
  ProfileFile& profiles;
  size_t max_path = 260;       // the longest path, terminators included, the file calls accept
  ActivityLog* log = nullptr;  // optional
  CopyObserver* copy_observer = nullptr;  // optional
  // Manifests on Collect, copies read back and the store checked before Migrate. Off only to
  // measure what they cost.
  bool verification = true;
  // The backup a Migrate writes before it changes anything, for undo. Off only to measure.
  bool backup = true;
  // The window's hold on the work folder for each command; the console tool takes it itself,
  // waiting for it, before it runs one. Null: no lock taken.
  WorkFolderLocks* work_locks = nullptr;
  // The user's own folder on this machine (UserStateFolder): where Migrate keeps its backup,
  // and both commands their log, when the work folder cannot be written. Empty: none.
  std::string user_state_folder{};
  // The clock of backup names, manifests and the log; a test sets its own.
  StoreTime (*clock)() = &CurrentStoreTime;
  // Who runs the tool where, and whose settings it reads, for the head of each log (UTF-8).
  std::string machine_name = "?";
  std::string user_name = "?";
  std::string registry_source = "the registry of the user running it";
  // The work log is written as Windows text (CR LF, a byte order mark): on Windows.
  bool windows_text_files = false;
};

}  // namespace kdr
