#pragma once

#include <filesystem>

// The folders this process has already cleared of the temporary files that writers gone before
// it left there. A sweep reads the whole folder; made before every atomic write it cost a Migrate
// that backs up n files into one folder n² names read. Once a process has swept a folder, a
// leftover found there later can only be of a writer stopped since, and the next process clears
// it (a folder's removal sweeps it anew).
namespace kdr {

// True the first time this process asks about `folder`, false after that.
bool FirstSweepOf(const std::filesystem::path& folder);

}  // namespace kdr
