#include "cli/cli_messages.h"

namespace kdr::cli {
namespace {

Language current_language = Language::kEnglish;

std::string_view Find(std::span<const MessageText> table, Msg key) {
  // The tables are written in the order of the keys; a search covers one that is not.
  const size_t index = static_cast<size_t>(key);
  if (index < table.size() && table[index].key == key) return table[index].text;
  for (const MessageText& entry : table) {
    if (entry.key == key) return entry.text;
  }
  return {};
}

}  // namespace

std::span<const MessageText> MessagesOf(Language language) {
  return language == Language::kJapanese ? JapaneseMessages() : EnglishMessages();
}

void SetLanguage(Language language) { current_language = language; }

Language CurrentLanguage() { return current_language; }

bool LanguageNamed(std::string_view name, Language* language) {
  if (name == "ja") {
    *language = Language::kJapanese;
  } else if (name == "en") {
    *language = Language::kEnglish;
  } else {
    return false;
  }
  return true;
}

Language LanguageOfLocale(const char* lc_all, const char* lc_messages, const char* lang) {
  for (const char* value : {lc_all, lc_messages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    return std::string_view(value).starts_with("ja") ? Language::kJapanese : Language::kEnglish;
  }
  return Language::kEnglish;
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size());
  size_t i = 0;
  while (i < pattern.size()) {
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 1] >= '0' &&
        pattern[i + 1] <= '9' && pattern[i + 2] == '}') {
      const size_t n = static_cast<size_t>(pattern[i + 1] - '0');
      if (n < args.size()) out += *(args.begin() + n);
      i += 3;
      continue;
    }
    out += pattern[i];
    ++i;
  }
  return out;
}

std::string Text(Msg key, std::initializer_list<std::string_view> args) {
  std::string_view pattern = Find(MessagesOf(current_language), key);
  // A text missing in one table (the tables' test refuses that) is said in English.
  if (pattern.empty()) pattern = Find(EnglishMessages(), key);
  return FormatText(pattern, args);
}

}  // namespace kdr::cli
