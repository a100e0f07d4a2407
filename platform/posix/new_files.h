#pragma once

#include <filesystem>
#include <string_view>

#include "platform/file_result.h"

// Files made in bulk and put on the disk together (FileSystem::WriteNewFile): each written
// without waiting for the disk, then one write-out of the file system that holds them, where a
// flush of each would wait for the disk once a file. Paths are host paths.
namespace kdr {

// Creates `path`, which must not exist (a link in its place is refused too), with `bytes`. On
// failure nothing of it is left.
FileResult WriteNewFile(const std::filesystem::path& path, std::string_view bytes);

// Writes out to the disk everything written to the file system that holds `folder`.
FileResult WriteOutFileSystemOf(const std::filesystem::path& folder);

}  // namespace kdr
