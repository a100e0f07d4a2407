#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "platform/file_result.h"
#include "platform/put_bytes.h"

// The one atomic file writer of each platform, shared by the file-system services and the
// console tool. Paths are host paths.
namespace kdr {

// Replaces (or creates) `path` with `bytes` so that readers see the old or the new content,
// never a part: a temporary file (see temp_file_name.h) in the same folder, written out to the
// disk, then renamed over the old one. An existing file keeps its permissions (POSIX) or its
// attributes (Windows; being read-only does not keep it from being replaced); a new one gets
// the process's defaults. Temporary files of writers that are gone are removed first (once a
// process, by its first write into the folder: swept_folders.h). On
// failure the old file is unchanged and no temporary file is left; the result names the call
// that failed (its path is left for the caller to fill in).
FileResult WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// What a replacement keeps of the file it replaces beyond its permissions, for files that are
// not the tool's own.
struct AtomicWriteOptions {
  // Replace the file a symbolic link names, and keep the link (POSIX).
  bool through_links = false;
  // Keep the old file's owner and group (POSIX; refused when they cannot be kept).
  bool keep_owner = false;
  // Keep them where the process may (POSIX): a replaced file of the user's stays the user's
  // when the tool runs as root; otherwise it stays as the process can leave it.
  bool try_keep_owner = false;
  // Try the rename again for a moment while another program has the file open (Windows).
  bool wait_while_open = false;
  // Asked with the file's path just before the rename: false leaves the old file as it is and
  // fails the write (kCancelled, with the rename's call).
  std::function<bool(const std::filesystem::path&)> unchanged;
};

// The same with the content produced piece by piece, so that a large file is never held whole.
// When `produce` gives up or a piece cannot be written, the old file is unchanged and no
// temporary file is left; a producer that gave up gets kCancelled (with the write's call).
FileResult WriteFileAtomically(const std::filesystem::path& path, const ProduceBytes& produce,
                               const AtomicWriteOptions& options = {});

// A temporary-file name in `folder` that no other writer of this process or another one uses,
// for writers that must do more than this one between writing and renaming.
std::filesystem::path TempPathIn(const std::filesystem::path& folder);

// Removes from `folder` the temporary files (and folder copies' staging folders, of the same
// names) whose writer process no longer runs.
void RemoveStaleTempFiles(const std::filesystem::path& folder);

// Appends `bytes` to `path`, creating it when missing (owner-only on POSIX), and writes them out
// to the disk before it returns. A process stopped meanwhile may leave a part of them.
FileResult AppendToFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kdr
