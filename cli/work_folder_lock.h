#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "cli/cli_platform.h"

// One run at a time writes a work folder: two Collects at once would leave one run's settings
// file beside the other's manifest and read back each other's half-made copies.
namespace kdr::cli {

inline constexpr std::string_view kWorkLockName = "kdr4tose.lock";

// Locks kdr4env\kdr4tose.lock below `work_folder` (creating kdr4env and the empty lock file
// when missing), waiting at most `wait_ms` for another run that holds it. *error says why on
// kBusy and kFailed (a lock path that is not a regular file is refused, never followed).
LockResult LockWorkFolder(const std::filesystem::path& work_folder, int wait_ms,
                          std::unique_ptr<HostFileLock>* lock, std::string* error);

}  // namespace kdr::cli
