#include "settings/entry_codec.h"

#include <array>
#include <optional>

#include "platform/cp932.h"
#include "platform/hex_text.h"

namespace kdr {
namespace {

std::string_view UpToFirstZero(std::string_view text) {
  size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// The profile reader drops spaces, tabs and vertical tabs around names and values.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

}  // namespace

bool IsCredentialName(std::string_view name) {
  static constexpr std::array<std::string_view, 5> kMarkers = {"_PASS", "_USER", "_LOGIN",
                                                               "_SCHEMA", "_SEL"};
  for (std::string_view marker : kMarkers) {
    if (name.find(marker) != std::string_view::npos) return true;
  }
  return false;
}

void HexEncodeInPlace(std::string& text) {
  std::string encoded;
  AppendHex(UpToFirstZero(text), &encoded);
  text.swap(encoded);
}

bool HexDecodeInPlace(std::string& text) {
  // An odd last digit is left out.
  std::optional<std::string> decoded =
      BytesFromHex(std::string_view(text).substr(0, text.size() / 2 * 2));
  if (!decoded) return false;
  decoded->resize(UpToFirstZero(*decoded).size());
  text.swap(*decoded);
  return true;
}

std::string FormatEntry(std::string_view value_name, uint32_t type, std::string_view data,
                        bool encode_credentials) {
  std::string entry, hex;
  std::string_view text =
      FormatEntryParts(value_name, type, data, encode_credentials, &entry, &hex);
  entry += text;
  return entry;
}

std::string_view FormatEntryParts(std::string_view value_name, uint32_t type, std::string_view data,
                                  bool encode_credentials, std::string* head, std::string* hex) {
  *head = std::to_string(type);
  head->push_back(':');
  hex->clear();
  if (type == kRegBinary || type == kRegDword) {
    AppendHex(data, hex);
    return *hex;
  }
  std::string_view text = UpToFirstZero(data);
  if (!encode_credentials || !IsCredentialName(value_name)) return text;
  AppendHex(text, hex);
  return *hex;
}

ParseResult ParseEntry(std::string_view entry, ParsedEntry* parsed) {
  *parsed = ParsedEntry{};
  size_t equals = entry.find('=');
  if (equals == std::string_view::npos) return ParseResult::kNoSeparator;
  size_t colon = entry.find(':', equals + 1);
  if (colon == std::string_view::npos) return ParseResult::kNoSeparator;
  std::string_view type_text = entry.substr(equals + 1, colon - equals - 1);
  // Ten digits at most, so that the value fits in 32 bits after the range check.
  if (type_text.empty() || type_text.size() > 10) return ParseResult::kBadType;
  uint64_t type = 0;
  for (char c : type_text) {
    if (c < '0' || c > '9') return ParseResult::kBadType;
    type = type * 10 + static_cast<uint64_t>(c - '0');
  }
  if (type > 0xffffffffu) return ParseResult::kBadType;
  std::string_view data = entry.substr(colon + 1);
  if (type == kRegDword) {
    if (data.size() != 8) return ParseResult::kBadDword;
    // All four bytes, zeros too.
    std::optional<std::string> bytes = BytesFromHex(data);
    if (!bytes) return ParseResult::kBadDword;
    parsed->data = std::move(*bytes);
  } else {
    parsed->data.assign(data);
  }
  parsed->name.assign(entry.substr(0, equals));
  parsed->type = static_cast<uint32_t>(type);
  return ParseResult::kOk;
}

std::string_view UnrepresentableReason(std::string_view value_name, std::string_view entry_text) {
  if (value_name.find('=') != std::string_view::npos) return "value name holds \"=\"";
  if (value_name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return "value name holds a line break or a zero byte";
  }
  if (!value_name.empty() && (value_name.front() == '[' || value_name.front() == ';')) {
    return "value name starts with \"[\" or \";\"";
  }
  if (!value_name.empty() && (IsBlank(value_name.front()) || IsBlank(value_name.back()))) {
    return "value name starts or ends with a blank";
  }
  if (entry_text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return "text holds a line break";
  }
  if (!entry_text.empty() && IsBlank(entry_text.back())) return "text ends with a blank";
  return {};
}

std::string_view UnrepresentableSectionReason(std::string_view key_path) {
  if (key_path.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return "key path holds a line break or a zero byte";
  }
  if (!key_path.empty() && (IsBlank(key_path.front()) || IsBlank(key_path.back()))) {
    return "key path starts or ends with a blank";
  }
  if (!FindCp932Chars(key_path, ']').empty()) return "key path holds \"]\"";
  return {};
}

}  // namespace kdr
