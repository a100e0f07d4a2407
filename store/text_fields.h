#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/hex_text.h"

// Reading the store's text files (the manifest, the backup journal): lines that end with "\n",
// fields separated by tabs, numbers in decimal, bytes in hex.
namespace kdr {

// Takes the next line (without its "\n") off the front of *text. False when what is left has
// no line end: the file was cut short.
bool TakeLine(std::string_view* text, std::string_view* line);

// The tab-separated fields of a line; a line without tabs is one field.
std::vector<std::string_view> SplitTabs(std::string_view line);

// A decimal number without sign, blanks or leading zeros, as the writers print it.
std::optional<uint64_t> ParseDecimal(std::string_view text);

// A header field (a time, a version) as the writers print it: printable ASCII, not empty. Such
// a field is shown as it is, so a byte a person could have put there otherwise is refused.
bool IsPlainField(std::string_view text);

}  // namespace kdr
