// Code page 932 <-> UTF-8, the same expectations for each build's conversions: iconv on a POSIX
// host, MultiByteToWideChar / WideCharToMultiByte on Windows (and under Wine). Where code page
// 932 has two codes for one character, both read to that character and it is written back as
// Windows writes it.

#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/utf8.h"

namespace kdr {
namespace {

struct Pair {
  const char* cp932;
  const char* utf8;
};

TEST(TextEncodingTest, RoundTripsEveryKindOfCharacter) {
  const Pair pairs[] = {
      {"", ""},
      {"C:\\Tools\\a~b", "C:\\Tools\\a~b"},              // 0x5C and 0x7E stay ASCII
      {"\x95\x5c\x8e\xa6", "\xe8\xa1\xa8\xe7\xa4\xba"},  // 表示, 0x5C as a second byte
      {"\x83\x5c\x83\x74\x83\x67", "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88"},  // ソフト
      {"\xb1\xdd", "\xef\xbd\xb1\xef\xbe\x9d"},  // ｱﾝ, half-width katakana
      {"\x87\x40", "\xe2\x91\xa0"},              // ①, NEC special
      {"\xfa\x40", "\xe2\x85\xb0"},              // ⅰ, IBM extension
      {"\x81\x60", "\xef\xbd\x9e"},              // ～ U+FF5E, not U+301C
      {"\x81\x7c", "\xef\xbc\x8d"},              // － U+FF0D
      {"\x81\xca", "\xef\xbf\xa2"},              // ￢ U+FFE2
      {"\x81\x5f", "\xef\xbc\xbc"},              // ＼ U+FF3C
  };
  for (const Pair& pair : pairs) {
    EXPECT_EQ(std::optional<std::string>(pair.utf8), Cp932ToUtf8(pair.cp932)) << pair.utf8;
    EXPECT_EQ(std::optional<std::string>(pair.cp932), Utf8ToCp932(pair.utf8)) << pair.utf8;
  }
}

TEST(TextEncodingTest, DuplicateCodesReadAsOneCharacterAndWriteAsWindowsDoes) {
  // ∵ has a JIS code 0x81E6, an NEC one 0x879A and an IBM one 0xFA5B.
  EXPECT_EQ(std::optional<std::string>("\xe2\x88\xb5"), Cp932ToUtf8("\x87\x9a"));
  EXPECT_EQ(std::optional<std::string>("\xe2\x88\xb5"), Cp932ToUtf8("\xfa\x5b"));
  EXPECT_EQ(std::optional<std::string>("\x81\xe6"), Utf8ToCp932("\xe2\x88\xb5"));
  // ≒: JIS 0x81E0, NEC 0x8790.
  EXPECT_EQ(std::optional<std::string>("\xe2\x89\x92"), Cp932ToUtf8("\x87\x90"));
  EXPECT_EQ(std::optional<std::string>("\x81\xe0"), Utf8ToCp932("\xe2\x89\x92"));
}

TEST(TextEncodingTest, RefusesWhatIsNotValidCp932) {
  EXPECT_EQ(std::nullopt, Cp932ToUtf8("\x95"));      // lead byte at the end
  EXPECT_EQ(std::nullopt, Cp932ToUtf8("ab\x95"));    // the same after text
  EXPECT_EQ(std::nullopt, Cp932ToUtf8("\x81\x20"));  // no such second byte
  EXPECT_EQ(std::nullopt, Cp932ToUtf8("\x85\x40"));  // unassigned row
}

TEST(TextEncodingTest, RefusesWhatCp932CannotHoldInsteadOfAGuess) {
  EXPECT_EQ(std::nullopt, Utf8ToCp932("\xe2\x82\xac"));      // €
  EXPECT_EQ(std::nullopt, Utf8ToCp932("caf\xc3\xa9"));       // é: no best-fit "e"
  EXPECT_EQ(std::nullopt, Utf8ToCp932("\xf0\x9f\x98\x80"));  // an emoji
  EXPECT_EQ(std::nullopt, Utf8ToCp932("\xff"));              // not UTF-8
  EXPECT_EQ(std::nullopt, Utf8ToCp932("\xe8\xa1"));          // cut short
  // Characters that a converter may write as the code of another one (best fit): each would
  // read back as something else, "¥" even as a path or key separator.
  const char* look_alikes[] = {
      "a\xc2\xa5"
      "b",             // ¥ U+00A5 (0x5C reads back as a backslash)
      "\xe2\x80\xbe",  // ‾ U+203E (0x7E reads back as a tilde)
      "\xe3\x80\x9c",  // 〜 U+301C (0x8160 reads back as U+FF5E)
      "\xe2\x80\x94",  // — U+2014 (0x815C reads back as U+2015)
      "\xe2\x88\x92",  // − U+2212 (0x817C reads back as U+FF0D)
      "\xc2\xa2",      // ¢ U+00A2
  };
  for (const char* text : look_alikes) EXPECT_EQ(std::nullopt, Utf8ToCp932(text)) << text;
  // A '?' of its own is fine: only a substituted character fails.
  EXPECT_EQ(std::optional<std::string>("?"), Utf8ToCp932("?"));
}

TEST(TextEncodingTest, LongTextIsConvertedWhole) {
  std::string cp932;
  std::string utf8;
  for (int i = 0; i < 40000; ++i) {
    cp932 +=
        "\x95\x5c"
        "a";  // 表a
    utf8 +=
        "\xe8\xa1\xa8"
        "a";
  }
  EXPECT_EQ(std::optional<std::string>(utf8), Cp932ToUtf8(cp932));
  EXPECT_EQ(std::optional<std::string>(cp932), Utf8ToCp932(utf8));
}

TEST(TextEncodingTest, DisplayShowsUndecodableBytesAsEscapes) {
  EXPECT_EQ("\xe8\xa1\xa8\\x85", Cp932ForDisplay("\x95\x5c\x85"));
}

TEST(TextEncodingTest, ExcerptCutsBetweenCharactersAndTellsTheSize) {
  const struct {
    std::string_view text;
    size_t max;
    std::string shown;
  } cases[] = {
      {"abc", 3, "abc"},
      {"abcd", 3, "abc... (4 bytes)"},
      // ソ is 0x83 0x5C: its second byte is never cut off and shown as a backslash.
      {"a\x83\x5c\x83\x5c", 4, "a\xe3\x82\xbd... (5 bytes)"},
      {"\x83\x5c\x83\x5c", 1, "... (4 bytes)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.shown, Cp932ExcerptForDisplay(c.text, c.max)) << c.text;
}

// The one UTF-8 reader of the program: well-formed sequences only.
TEST(TextEncodingTest, Utf8SequencesAreReadStrictly) {
  const struct {
    const char* bytes;
    size_t length;
    uint32_t code_point;
  } cases[] = {
      {"A", 1, 0x41},
      {"\xC2\xA0", 2, 0xA0},
      {"\xE3\x81\x82", 3, 0x3042},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"\xC0\x80", 0, 0},          // overlong NUL
      {"\xC1\xBF", 0, 0},          // overlong
      {"\xE0\x80\xAF", 0, 0},      // overlong "/"
      {"\xF0\x80\x80\xAF", 0, 0},  // overlong "/"
      {"\xED\xA0\x80", 0, 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // beyond U+10FFFF
      {"\xE3\x81", 0, 0},          // cut
      {"\x82\xA0", 0, 0},          // code page 932
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Cp932ForDisplay(c.bytes));
    EXPECT_EQ(c.length, Utf8SequenceLength(c.bytes));
    if (c.length) {
      EXPECT_EQ(c.code_point, Utf8CodePoint(c.bytes, c.length));
    }
  }
}

}  // namespace
}  // namespace kdr
