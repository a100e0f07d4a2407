#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kdr {
namespace {

// "カ" 0x83 0x4A and "ニ" 0x83 0x6A differ only by the case of an ASCII letter in their second
// byte; "ソ" 0x83 0x5C has a backslash there.
const std::string kKa = "\x83\x4a", kNi = "\x83\x6a", kSo = "\x83\x5c";

TEST(Cp932Test, CharactersAndSeparatorsAreFoundByCharacter) {
  struct Case {
    std::string text;
    std::vector<size_t> backslashes;
    size_t last_separator;  // of "\\/"
  };
  const Case cases[] = {
      {"a\\b", {1}, 1},       {kSo + "\\x", {2}, 2},
      {"\\" + kSo, {0}, 0},   {"\x81", {}, std::string::npos},  // a lone lead byte at the end
      {"\x81\x1f\\", {2}, 2},  // 0x1F is no trail byte: the "\" stands
      {"\x81/" + kSo, {}, 1},  // nor is "/"
      {"\xfc\xfc\\", {2}, 2},  // the last lead and trail bytes
      {"\xfd\\", {1}, 1},      // 0xFD is no lead byte
      {"\x81\x7f\\", {2}, 2},  // 0x7F is no trail byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.backslashes, FindCp932Chars(c.text, '\\')) << c.text;
    EXPECT_EQ(c.last_separator, FindLastCp932Separator(c.text, "\\/")) << c.text;
  }
  // A quote after a lead byte that has no trail byte is a quote (a tampered entry's end).
  EXPECT_EQ(std::vector<size_t>{1}, FindCp932Chars("\x81\"", '"'));
}

TEST(Cp932Test, OnlySingleByteAsciiLettersFold) {
  struct Case {
    std::string a, b;
    bool equal;
  };
  const Case cases[] = {
      {"Software", "SOFTWARE", true},
      {kKa + "-do", kKa + "-DO", true},
      {kKa, kNi, false},
      {kKa + "x", kNi + "x", false},
      {"\x81"
       "a",
       "\x81"
       "A",
       false},  // 0x81 0x61 is one character
      {"\x81\x1f"
       "a",
       "\x81\x1f"
       "A",
       true},
      {"a", "ab", false},
      // The same after a run of ASCII, which is compared by a quicker loop.
      {"dir\\\x81"
       "a",
       "DIR\\\x81"
       "A",
       false},
      {"dir\\" + kKa + "-do", "DIR\\" + kKa + "-DO", true},
      {"dir\\" + kKa, "dir\\" + kNi, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.equal, Cp932EqualNoCase(c.a, c.b)) << c.a << " / " << c.b;
    EXPECT_EQ(!c.equal, Cp932NoCaseLess()(c.a, c.b) || Cp932NoCaseLess()(c.b, c.a));
    EXPECT_EQ(c.equal, Cp932UpperCase(c.a) == Cp932UpperCase(c.b));
  }
  EXPECT_EQ("SOFT" + kNi + "X", Cp932UpperCase("soft" + kNi + "x"));
  EXPECT_TRUE(Cp932NoCaseLess()("abc", "ABD"));
  EXPECT_TRUE(Cp932NoCaseLess()("Z", kKa));  // unsigned bytes
  EXPECT_TRUE(Cp932NoCaseLess()("dir\\Z", "DIR\\" + kKa));
  EXPECT_TRUE(Cp932NoCaseLess()("dir\\a", "DIR\\a" + kKa));
}

TEST(Cp932Test, StartsWithWholeCharacters) {
  EXPECT_TRUE(Cp932StartsWithNoCase("software\\VTQ", "SOFTWARE"));
  EXPECT_FALSE(Cp932StartsWithNoCase(kNi, kKa));
  EXPECT_FALSE(Cp932StartsWithNoCase(kSo, "\x83"));  // half a character
  EXPECT_FALSE(Cp932StartsWithNoCase("So", "Sof"));
}

TEST(Cp932Test, PathsSplitAtRealBackslashesOnly) {
  std::vector<std::string_view> names;
  const std::string path = "A\\" + kSo + "\\b";
  ASSERT_TRUE(SplitCp932Path(path, &names));
  EXPECT_EQ((std::vector<std::string_view>{"A", kSo, "b"}), names);
  EXPECT_FALSE(SplitCp932Path("A\\\\b", &names));
  EXPECT_FALSE(SplitCp932Path("\\A", &names));
  EXPECT_FALSE(SplitCp932Path("A\\", &names));
}

TEST(Cp932Test, PathAtOrBelowComparesWholeNames) {
  const std::string so_folder = "C:\\" + kSo;  // ends in a second byte 0x5C
  const struct {
    std::string path, base;
    bool below;
  } cases[] = {
      {"c:\\kodrelse\\Client", "C:\\KodrelSE", true},
      {"C:\\KodrelSE", "C:\\KodrelSE", true},
      {"C:\\KodrelSEX\\a", "C:\\KodrelSE", false},
      {"C:\\KodrelSE\\\\a", "C:\\KodrelSE", false},
      {"C:\\KodrelSE\\", "C:\\KodrelSE", false},
      {so_folder + "\\a", so_folder, true},
      {so_folder + "a", so_folder, false},
      {"C:\\" + kKa + "\\a", "C:\\" + kNi, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.below, Cp932PathAtOrBelow(c.path, c.base)) << c.path;
}

}  // namespace
}  // namespace kdr
