#pragma once

#include <string>
#include <vector>

// kdr4tose-cli report DIR...: what the runs left in the fleet's work folders, one line per PC
// and user. Reads only: nothing is written, locked or made in the folders.
namespace kdr::cli {

enum class ReportFormat { kText, kCsv, kJson };

// Prints the report on standard output; the exit code: 0 when every folder was read, 1 when
// some could not be (each is a line saying why), 2 when no work folder was found.
int RunReport(const std::vector<std::string>& folders, ReportFormat format);

}  // namespace kdr::cli
