#pragma once

#include <optional>
#include <string>
#include <string_view>

// The tool's 8-bit texts (registry and file names, profile text) are in code page 932; the
// texts it shows are kept in UTF-8. These convert at the edges.
namespace kdr {

// Code page 932 to UTF-8. nullopt when `text` is not valid code page 932.
std::optional<std::string> Cp932ToUtf8(std::string_view text);

// UTF-8 to code page 932. nullopt when a character has no code page 932 form.
std::optional<std::string> Utf8ToCp932(std::string_view text);

// For logs and messages: code page 932 shown as UTF-8, any byte that does not decode as \xNN.
std::string Cp932ForDisplay(std::string_view text);

// For a log line: a path as Cp932ForDisplay shows it, with one kind of separator. A POSIX host
// path (the console tool's work folder, "/home/u/kdr" + "\\Client\\DDBVID\\a.dat") shows every
// backslash of its own as "/"; on Windows, and for a path on a drive, the path is as it is.
std::string PathForDisplay(std::string_view path);

// For a log line: at most `max_bytes` of `text`, cut between characters, shown as
// Cp932ForDisplay does; a longer text ends with "... (N bytes)". A value of many megabytes
// would otherwise be copied into the log whole, several times over.
std::string Cp932ExcerptForDisplay(std::string_view text, size_t max_bytes);
// The same for a text of `whole_size` bytes of which `start` is the beginning (at least
// `max_bytes` of it, or all).
std::string Cp932ExcerptForDisplay(std::string_view start, size_t max_bytes, size_t whole_size);

}  // namespace kdr
