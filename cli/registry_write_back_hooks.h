#pragma once

#include <filesystem>

namespace kdr::cli {

// Two moments of the registry file's write-back: just before the run reads the file again, and
// just before the new text starts to be written. The program does nothing at them; a build for
// the tests puts another program's change of the file there, which cannot be timed from
// outside while the run holds the file locked.
void BeforeRegistryFileReadAgain(const std::filesystem::path& path);
void BeforeRegistryFileWritten(const std::filesystem::path& path);

}  // namespace kdr::cli
