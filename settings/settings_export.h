#pragma once

#include <string_view>

#include "core/activity_log.h"
#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/profile_file.h"
#include "platform/registry.h"

// Collect of registry settings: the old product's keys under HKEY_CURRENT_USER into an
// edition's settings file. Nothing in the registry is changed and nothing stops an export.
namespace kdr {

struct ExportContext {
  Registry& registry;
  ProfileFile& profiles;
  ActivityLog& log;
};

// The edition's export list into its settings file, then the file written out. False when the
// file could not be written (the window tool does not look at this).
[[nodiscard]] bool ExportEditionSettings(ExportContext& ctx, const WorkPaths& paths,
                                         Edition edition);
[[nodiscard]] bool ExportPersonalSettings(ExportContext& ctx, const WorkPaths& paths);
[[nodiscard]] bool ExportClientSettings(ExportContext& ctx, const WorkPaths& paths);
[[nodiscard]] bool ExportServerSettings(ExportContext& ctx, const WorkPaths& paths);

// A key with its values and all its subkeys, in pre-order, one section per key.
void ExportKeyTree(ExportContext& ctx, std::string_view key_path, std::string_view settings_file);

// The values of one key into its section, which is emptied first (and so exists afterwards even
// when the key does not). "PRVSAVE" and "RSTFILE" are never exported; credential texts are
// hex-encoded.
void ExportKeyValues(ExportContext& ctx, std::string_view key_path, std::string_view settings_file);

// One named value, as it is: no emptying, no skip list, no encoding. Nothing is written when the
// key or the value cannot be read.
void ExportSingleValue(ExportContext& ctx, std::string_view key_path, std::string_view value_name,
                       std::string_view settings_file);

}  // namespace kdr
