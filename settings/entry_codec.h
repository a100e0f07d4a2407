#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

// One registry value as an entry of the collected settings file: the entry's key is the value
// name, its text "<type>:<data>". Types 3 and 4 carry their bytes as lowercase hex pairs; other
// types their text up to the first zero byte, hex-encoded for credential names when asked.
namespace kdr {

// True when `name` holds one of "_PASS", "_USER", "_LOGIN", "_SCHEMA", "_SEL" (case-sensitive).
bool IsCredentialName(std::string_view name);

// What the log, --json and the English console show in place of a credential's value.
inline constexpr std::string_view kCredentialHidden = "(credential, hidden)";

// Replaces `text` (up to its first zero byte) by two lowercase hex digits per byte.
void HexEncodeInPlace(std::string& text);

// Replaces a text of hex pairs by the bytes they denote; a last, odd character is ignored. The
// result ends at its first zero byte, as a stored text would. Returns false, leaving `text`
// unchanged, when a pair is not two hex digits.
[[nodiscard]] bool HexDecodeInPlace(std::string& text);

// The entry text of a value: the type in decimal, ":" and the data text.
std::string FormatEntry(std::string_view value_name, uint32_t type, std::string_view data,
                        bool encode_credentials);

// The same in two parts, so that a long text is not copied to be written: the type and ":" go
// into `*head`; the data text is returned, a view of `data` or, when hex-encoded, of `*hex`.
std::string_view FormatEntryParts(std::string_view value_name, uint32_t type, std::string_view data,
                                  bool encode_credentials, std::string* head, std::string* hex);

// An entry as a profile read gives it, "name=type:data", split up.
struct ParsedEntry {
  std::string name;
  uint32_t type = kRegSz;
  std::string data;  // type 1: the text; type 4: the four bytes; other types: the data text
};

enum class ParseResult {
  kOk,
  kNoSeparator,  // no "=" or no ":" after it
  kBadType,      // the type is not a decimal number
  kBadDword,     // a type-4 entry whose data is not exactly eight hex digits
};

// The name is everything before the first "="; the type is the whole number between it and the
// next ":"; the data begins after that ":". So names holding ":" read back right.
ParseResult ParseEntry(std::string_view entry, ParsedEntry* parsed);

// Why a value cannot travel through the settings file unchanged, or empty when it can. The
// profile format has no escapes: a name holding "=" or a line break, or starting with "[" or
// ";", or with blanks at either end, and a text holding a line break or ending in blanks would
// read back as something else.
std::string_view UnrepresentableReason(std::string_view value_name, std::string_view entry_text);

// The same for a key path as a section name: a "]" (not the second byte of a double-byte
// character) would end the name early, a line break would end the line, and blanks at either
// end are dropped when the file is read.
std::string_view UnrepresentableSectionReason(std::string_view key_path);

}  // namespace kdr
