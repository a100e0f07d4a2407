#pragma once

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/registry.h"

// Which editions are installed in each product and which are collected in the work tree.
namespace kdr {

// Editions of the old product whose installation marker is present (and not withdrawn by a
// "Keys" subkey) under HKEY_LOCAL_MACHINE.
EditionCode DetectOldEditions(Registry& registry);

// The same for the new product.
EditionCode DetectNewEditions(Registry& registry);

// Editions whose work folder exists (the settings file is not looked at).
EditionCode DetectCollectedEditions(FileSystem& files, const WorkPaths& paths);

// The installation marker key of an edition, e.g. "Software\VTQ\Kodrel Personal".
std::string_view OldMarkerKey(Edition edition);
std::string_view NewMarkerKey(Edition edition);

}  // namespace kdr
