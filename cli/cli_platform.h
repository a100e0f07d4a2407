#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry.h"

// What the console front end needs of the operating system beyond the tool's own services.
// One implementation per platform; the rest of the front end asks nothing about the platform.
namespace kdr::cli {

// Writes UTF-8 text as it is to standard output or standard error: on a Windows console as
// UTF-16 through the console, elsewhere as UTF-8 bytes.
void WriteStdout(std::string_view text);
void WriteStderr(std::string_view text);

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

// Reads a whole host file; on failure nullopt and *error says why.
std::optional<std::string> ReadHostFile(const std::filesystem::path& path, std::string* error);

// Replaces a host file with `bytes` atomically (a temporary file in the same folder, written
// out to the disk, then renamed over it), keeping the old file's permissions. False with
// *error on failure; the old file is then unchanged.
bool WriteHostFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                             std::string* error);

// The platform's services.
inline constexpr bool kDriveMappingSupported =
#ifdef _WIN32
    false;
#else
    true;
#endif

// The longest path, terminators included, that the platform's file calls accept.
size_t MaxPath();

// The system registry; null where there is none.
std::unique_ptr<Registry> MakeSystemRegistry();

// The file system, with drive letters mapped to host folders where the platform allows it.
std::unique_ptr<FileSystem> MakeFileSystem(
    const std::vector<std::pair<char, std::filesystem::path>>& drives);

}  // namespace kdr::cli
