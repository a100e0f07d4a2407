#include "core/log_text.h"

#include <gtest/gtest.h>

#include <string>

#include "core/log_lines.h"
#include "platform/file_result.h"

namespace kdr {
namespace {

// Each name is shown on its own, as a line built from converted pieces showed it: bytes of a
// name never join the English around it or another name into one character.
TEST(LogTextTest, NamesAreShownEachOnItsOwn) {
  LogText lead = "x " + Cp932Text("\x95");  // a lead byte with nothing after it
  LogText joined = lead;
  joined += LogText(Cp932Text("\x5c"));
  const struct {
    LogText text;
    std::string shown;
  } cases[] = {
      {"a\tb", "a\tb"},
      // 表 is 0x95 0x5C; 0x85 alone is no character.
      {"copy " + Cp932Text("\x95\x5c\x85") + " -> " + Cp932Text("C:\\\x95\x5c"),
       "copy \xe8\xa1\xa8\\x85 -> C:\\\xe8\xa1\xa8"},
      {lead + "\\", "x \\x95\\"},
      {joined, "x \\x95\\"},
      // The cut falls inside ソ (0x83 0x5C): the whole character is left out, not half of it.
      {"= " + Cp932Excerpt{"a\x83\x5c\x83\x5c", 2, 5}, "= a... (5 bytes)"},
      {"= " + Cp932Excerpt{"a\x83\x5c", 3, 3}, "= a\xe3\x82\xbd"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.shown, c.text.Utf8());

  LogLines log;
  log.Skipped("value " + Cp932Text("a\tb\x95\x5c"), "reason " + Cp932Text("\x95"));
  EXPECT_EQ("SKIP\tvalue a\\x09b\xe8\xa1\xa8\treason \\x95\n", log.Take());
}

// A copy line shows its paths with one kind of separator: a POSIX host path (the work folder,
// with the tool's names below it) in slashes, never the second byte of "表" (0x95 0x5C); a path
// on a drive, and every path on Windows, as it is.
TEST(LogTextTest, ACopyLineShowsItsPathWithOneKindOfSeparator) {
#ifdef _WIN32
  constexpr bool kPosix = false;
#else
  constexpr bool kPosix = true;
#endif
  const struct {
    std::string source;
    std::string posix;  // shown on POSIX; on Windows the path as it is (in UTF-8)
    std::string windows;
  } cases[] = {
      {"/home/u/kdr\\client\\DDBVID\\a.dat", "/home/u/kdr/client/DDBVID/a.dat",
       "/home/u/kdr\\client\\DDBVID\\a.dat"},
      {"/w\\\x95\x5c\\sub\\", "/w/\xe8\xa1\xa8/sub/", "/w\\\xe8\xa1\xa8\\sub\\"},
      {"/w\\\x95\x5c", "/w/\xe8\xa1\xa8", "/w\\\xe8\xa1\xa8"},
      {"C:\\old\\\x95\x5c\\", "C:\\old\\\xe8\xa1\xa8\\", "C:\\old\\\xe8\xa1\xa8\\"},
  };
  for (const auto& c : cases) {
    LogLines log;
    log.Copied(c.source, 3);
    // The error names a path too: the destination's, or the source's.
    log.CopyFailed(c.source, Describe(FileResult::Fail(kAccessDenied, "open", c.source)));
    const std::string& shown = kPosix ? c.posix : c.windows;
    EXPECT_EQ("COPY\t" + shown + "\t3\nFAIL\t" + shown + "\topen " + shown + ": " +
                  DescribeCode(kAccessDenied) + "\n",
              log.Take());
  }
}

}  // namespace
}  // namespace kdr
