#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The temporary files and folders of the atomic writer and the folder copy:
// ".kdr4tose-<process id>-<n>.tmp" in the folder of the file they will replace. Whoever writes
// them, they are never copied on, and one whose writer is gone is removed by the next write into
// that folder.
namespace kdr {

std::string TempFileName(uint64_t process_id, uint64_t serial);

// The next name of that form for this process: one count for every writer of temporary files,
// so that no two of them ever pick the same name.
std::string NextTempFileName(uint64_t process_id);

// The process id of a name of that form; nullopt for any other name.
std::optional<uint64_t> TempFileWriter(std::string_view name);

inline bool IsTempFileName(std::string_view name) { return TempFileWriter(name).has_value(); }

}  // namespace kdr
