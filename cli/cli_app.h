#pragma once

// The console front end: parses the command line (UTF-8), runs one command and returns the
// process exit code.
namespace kdr::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitEditionFailed = 1;
inline constexpr int kExitNothingToDo = 2;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitInternal = 70;
inline constexpr int kExitBusy = 75;  // another run holds the registry file or the work folder

int RunCli(int argc, const char* const* argv);

}  // namespace kdr::cli
