#pragma once

#include <string>

#include "platform/file_result.h"

namespace kdr::cli {

// A failed file call as the console says it: the call, its path and the error's number, with
// the error's name in English (as the log has it) and the number alone in Japanese.
std::string FileErrorShown(const FileResult& failure);

}  // namespace kdr::cli
