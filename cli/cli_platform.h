#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/cli_messages.h"
#include "engine/run_progress.h"
#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace kdr::cli {
class UserProfiles;
class UserRegistry;
// The PC's user profiles, each user's registry reached as the system allows it (the loaded hive
// of a user who is logged on, else the profile's NTUSER.DAT loaded for the run); null where
// there are none.
std::unique_ptr<UserProfiles> MakeSystemUserProfiles();

// A registry hive file (a user's NTUSER.DAT) loaded for the run as the user's registry, the
// machine's own keys read from the system; null with *error (and *busy when another program
// holds the file) where it cannot be loaded, or where the platform has no such load.
std::unique_ptr<UserRegistry> OpenUserHive(const std::filesystem::path& file, bool writable,
                                           std::string* error, bool* busy);

}  // namespace kdr::cli

// What the console front end needs of the operating system beyond the tool's own services.
// One implementation per platform; the rest of the front end asks nothing about the platform.
namespace kdr::cli {

// Writes UTF-8 text as it is to standard output or standard error: on a Windows console as
// UTF-16 through the console, elsewhere as UTF-8 bytes. WriteStdout goes through
// WriteHostStdout unless it is captured (stdout_capture.cpp).
void WriteStdout(std::string_view text);
void WriteHostStdout(std::string_view text);
void WriteStderr(std::string_view text);

// The user's language: on Windows the user's default UI language, elsewhere the locale's
// (LC_ALL, LC_MESSAGES, LANG).
Language UserLanguage();

// From now on, what WriteStdout writes is appended to *into instead (null: written again). A run
// over several users gathers each one's --json result this way.
void CaptureStdout(std::string* into);

// True when standard error is a terminal (progress is shown only there).
bool StderrIsTerminal();

// The folder of the running executable; nullopt when it cannot be found.
std::optional<std::filesystem::path> ExecutableFolder();

// A host path from UTF-8 text, and back.
std::filesystem::path HostPathFromUtf8(std::string_view utf8);
std::string HostPathToUtf8(const std::filesystem::path& path);

// `path` made absolute against the current folder, with "." and ".." resolved; on Windows a
// UNC path (\\server\share\...) keeps its server and share. Nullopt with *error on failure.
std::optional<std::filesystem::path> AbsoluteHostPath(const std::filesystem::path& path,
                                                      std::string* error);

// Makes every file and folder the run creates private to the user (umask 077 on POSIX;
// Windows gives new files the folder's inherited rights and nothing changes there).
void RestrictNewFilesToOwner();

// Reads a whole regular host file; on failure nullopt and *error says why (a folder is refused).
std::optional<std::string> ReadHostFile(const std::filesystem::path& path, std::string* error,
                                        FileStamp* identity);

// Whether `path` (through a symbolic link, its target) still names the file `read` describes,
// unchanged.
bool HostFileUnchanged(const std::filesystem::path& path, const FileStamp& read);

// Whether a file must be closed everywhere, the run's own lock included, before it can be
// replaced (Windows refuses to rename over an open file). The lock is then given up just before
// the rename; a run that takes it meanwhile read the old file, and its own check before its
// rename refuses to write over this run's file.
inline constexpr bool kReplaceNeedsFileClosed =
#ifdef _WIN32
    true;
#else
    false;
#endif

// Whether the work log is written as Windows text (CR LF, a byte order mark).
inline constexpr bool kWindowsTextFiles =
#ifdef _WIN32
    true;
#else
    false;
#endif

// Whether "/?" asks for the help, as it does of Windows' own console programs.
inline constexpr bool kSlashQuestionIsHelp =
#ifdef _WIN32
    true;
#else
    false;
#endif

// From now on, an interruption (Ctrl-C, SIGTERM, SIGHUP; the console window closed) asks
// `stop` (when given) to stop the run between files: the run then ends on its own, logs that it
// was interrupted and tells so. A second interruption, or the first without `stop`, appends
// `line` to the log at `log` when that file exists, says on standard error that the run did not
// finish, and ends the process at once (128 + the signal on POSIX). What the run logged before is
// in the log already: it writes its log out at each edition's end.
void NoteInterruptionIn(const std::filesystem::path& log, std::string line,
                        RunProgress* stop = nullptr);

// The exit code of a run that stopped when interrupted: 128 + the signal on POSIX, 130 on
// Windows.
int InterruptedExitCode();

// The longest path, terminators included, that the platform's file calls accept.
size_t MaxPath();

// The system registry; null where there is none.
std::unique_ptr<Registry> MakeSystemRegistry();

// The file system, with drive letters mapped to host folders: on Windows every path on a
// mapped drive but those at or below `host_folders` (code page 932: the work folder, the
// user's state folder), which are the host's own.
std::unique_ptr<FileSystem> MakeFileSystem(
    const std::vector<std::pair<char, std::filesystem::path>>& drives,
    const std::vector<std::string>& host_folders);

// The PC's user profiles, each user's registry reached as the system allows it (the loaded hive
// of a user who is logged on, else the profile's NTUSER.DAT loaded for the run); null where
// there are none.
std::unique_ptr<UserProfiles> MakeSystemUserProfiles();

// A registry hive file (a user's NTUSER.DAT) loaded for the run as the user's registry, the
// machine's own keys read from the system; null with *error (and *busy when another program
// holds the file) where it cannot be loaded, or where the platform has no such load.
std::unique_ptr<UserRegistry> OpenUserHive(const std::filesystem::path& file, bool writable,
                                           std::string* error, bool* busy);

}  // namespace kdr::cli
