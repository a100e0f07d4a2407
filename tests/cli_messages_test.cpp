#include "cli/cli_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace kdr::cli {
namespace {

// Each {N} of a text, in order.
std::vector<std::string> Placeholders(std::string_view text) {
  std::vector<std::string> found;
  static const std::regex kPlaceholder(R"(\{[0-9]\})");
  const std::string copy(text);
  for (auto it = std::sregex_iterator(copy.begin(), copy.end(), kPlaceholder);
       it != std::sregex_iterator(); ++it) {
    found.push_back(it->str());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The codes the exit-code table of the help lists.
std::set<std::string> ExitCodesListed(std::string_view help) {
  std::set<std::string> codes;
  static const std::regex kLine(R"((^|\n)  ([0-9]+) +[^ ])");
  const std::string copy(help);
  for (auto it = std::sregex_iterator(copy.begin(), copy.end(), kLine);
       it != std::sregex_iterator(); ++it) {
    codes.insert((*it)[2].str());
  }
  return codes;
}

TEST(CliMessagesTest, EveryTableHasEveryKeyOnceWithTheSamePlaceholders) {
  const size_t count = static_cast<size_t>(Msg::kCount);
  std::map<Language, std::map<size_t, std::string_view>> tables;
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    SCOPED_TRACE(language == Language::kEnglish ? "en" : "ja");
    std::map<size_t, std::string_view>& texts = tables[language];
    for (const MessageText& entry : MessagesOf(language)) {
      const size_t key = static_cast<size_t>(entry.key);
      EXPECT_LT(key, count);
      EXPECT_TRUE(texts.emplace(key, entry.text).second) << "key " << key << " twice";
      EXPECT_FALSE(entry.text.empty()) << "key " << key << " has no text";
    }
    for (size_t key = 0; key < count; ++key) {
      EXPECT_TRUE(texts.contains(key)) << "key " << key << " missing";
    }
  }
  for (const auto& [key, english] : tables[Language::kEnglish]) {
    const std::string_view japanese = tables[Language::kJapanese][key];
    EXPECT_EQ(Placeholders(english), Placeholders(japanese))
        << "key " << key << ": \"" << english << "\" and \"" << japanese << "\"";
  }
  // Both help texts list every exit code.
  const std::set<std::string> codes{"0", "1", "2", "64", "70", "75", "130"};
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    EXPECT_EQ(ExitCodesListed(tables[language][static_cast<size_t>(Msg::kHelpExitCodes)]), codes);
  }
}

TEST(CliMessagesTest, FormatsAndChoosesTheLanguage) {
  struct FormatCase {
    std::string_view pattern;
    std::string expected;
  };
  for (const FormatCase& c : std::vector<FormatCase>{
           {"{1} of {0}", "b of a"},
           {"{0}{0}", "aa"},
           {"{2} is not given", " is not given"},  // a missing argument leaves nothing
           {"{x} {} {0", "{x} {} {0"},             // not placeholders: kept
           {"「{0}」です。", "「a」です。"},
       }) {
    EXPECT_EQ(FormatText(c.pattern, {"a", "b"}), c.expected) << c.pattern;
  }

  struct LocaleCase {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    Language expected;
  };
  for (const LocaleCase& c : std::vector<LocaleCase>{
           {nullptr, nullptr, "ja_JP.UTF-8", Language::kJapanese},
           {nullptr, nullptr, "en_US.UTF-8", Language::kEnglish},
           {"C", nullptr, "ja_JP.UTF-8", Language::kEnglish},  // LC_ALL first
           {"", "ja_JP.eucJP", "en_US.UTF-8", Language::kJapanese},
           {"", "", "ja", Language::kJapanese},
           {nullptr, nullptr, nullptr, Language::kEnglish},
           {"", "", "", Language::kEnglish},
           {"jv_ID", nullptr, nullptr, Language::kEnglish},
       }) {
    EXPECT_EQ(LanguageOfLocale(c.lc_all, c.lc_messages, c.lang), c.expected)
        << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_messages ? c.lc_messages : "-") << " "
        << (c.lang ? c.lang : "-");
  }

  Language language = Language::kEnglish;
  EXPECT_TRUE(LanguageNamed("ja", &language));
  EXPECT_EQ(language, Language::kJapanese);
  EXPECT_TRUE(LanguageNamed("en", &language));
  EXPECT_EQ(language, Language::kEnglish);
  for (std::string_view bad : {"", "JA", "ja_JP", "fr", "english"}) {
    EXPECT_FALSE(LanguageNamed(bad, &language)) << bad;
  }

  SetLanguage(Language::kJapanese);
  EXPECT_EQ(Text(Msg::kStateWhole), "完全");
  EXPECT_EQ(Text(Msg::kNotCollectedIn, {"Client", "C:\\w"}),
            "Client は C:\\w に収集されていません。");
  SetLanguage(Language::kEnglish);
  EXPECT_EQ(Text(Msg::kNotCollectedIn, {"Client", "C:\\w"}), "Client is not collected in C:\\w");
}

}  // namespace
}  // namespace kdr::cli
