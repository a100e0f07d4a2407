#pragma once

#include <optional>
#include <string>
#include <string_view>

// Rules for the paths of the data step, on every platform.
namespace kdr {

// Why a data path value read from the registry may not be used, or nullopt when it may. It must
// name a drive ("X:\...") or a share ("\\server\share\...") and stay inside it: no ".."
// component, no character that Windows names cannot hold ("?", "*", ...), never empty. Such a
// value is treated as one that could not be read.
std::optional<std::string> DataPathProblem(std::string_view value);

}  // namespace kdr
