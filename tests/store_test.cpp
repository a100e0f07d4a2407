// Content hashes and the store's manifest.
#include <gtest/gtest.h>

#include "store/content_hash.h"
#include "store/manifest.h"

namespace kdr {
namespace {

TEST(ContentHash, MatchesTheReferenceAndIgnoresHowBytesAreCut) {
  // XXH3-128 of no bytes, as xxhsum -H2 prints it.
  EXPECT_EQ("99aa06d3014798d86001c324468d497f", HashToHex(HashBytes("")));
  std::string text(100000, 'x');
  text[77777] = 'y';
  ContentHasher hasher;
  for (size_t i = 0; i < text.size(); i += 333) hasher.Add(std::string_view(text).substr(i, 333));
  EXPECT_EQ(HashBytes(text), hasher.Finish());
  EXPECT_EQ(text.size(), hasher.size());
  text[77777] = 'x';
  EXPECT_NE(HashBytes(text), hasher.Finish());
  EXPECT_EQ(HashBytes(text), HashFromHex(HashToHex(HashBytes(text))));
}

TEST(Manifest, RoundTripsNamesWithTabsPercentAndDoubleByteCharacters) {
  Manifest m;
  m.tool_version = "1.0.0.1";
  m.time = "2026-12-08T23:50:00Z";
  // "表" is 0x95 0x5C: its second byte is a backslash but not a separator.
  m.files = {{"DDBVID\\\x95\x5c\\a.dat", {3, HashBytes("abc")}},
             {"kdr4reg.fil", {0, HashBytes("")}},
             {"plog\\50%\tx.log", {1, HashBytes("z")}}};
  std::optional<std::string> text = FormatManifest(m);
  ASSERT_TRUE(text);
  EXPECT_NE(std::string::npos, text->find("50%25%09x.log"));
  ManifestParseResult back = ParseManifest(*text);
  ASSERT_TRUE(back.manifest) << back.error_line << ": " << back.error;
  ASSERT_EQ(3u, back.manifest->files.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(m.files[i].path, back.manifest->files[i].path);
    EXPECT_EQ(m.files[i].digest, back.manifest->files[i].digest);
  }
  EXPECT_EQ(m.time, back.manifest->time);
}

TEST(Manifest, RefusesAnythingMalformedNamingTheLine) {
  const std::string head = "kdr4tose-manifest\t1\ntool\t1\ntime\tt\n";
  const std::string hash = HashToHex(HashBytes("a"));
  const std::string good = "file\t1\t" + hash + "\ta.dat\n";
  struct Case {
    std::string text;
    size_t line;
  };
  const Case cases[] = {
      {"", 1},                                                  // empty
      {"kdr4tose-manifest\t2\ntool\t1\ntime\tt\nend\t0\n", 1},  // a later format
      {head + good, 5},                                         // cut before the end line
      {head + good + "end\t1", 5},                              // last line without its end
      {head + good + "end\t2\n", 5},                            // count does not match
      {head + good + "end\t1\nfile\n", 6},                      // text after the end
      {head + "file\t1\t" + hash + "\ta.dat\textra\nend\t1\n", 4},
      {head + "file\t01\t" + hash + "\ta.dat\nend\t1\n", 4},
      {head + "file\t-1\t" + hash + "\ta.dat\nend\t1\n", 4},
      {head + "file\t1\t" + hash.substr(1) + "\ta.dat\nend\t1\n", 4},
      {head + "file\t1\t" + std::string(32, 'A') + "\ta.dat\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\t..\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\tC:\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\t\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\ta\\\\x\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\ta%2\nend\t1\n", 4},
      {head + "file\t1\t" + hash + "\t\xff\nend\t1\n", 4},          // not UTF-8
      {head + good + "file\t1\t" + hash + "\tA.DAT\nend\t2\n", 5},  // twice, by Windows' rule
      {head + "tool\t1\nend\t0\n", 4},
  };
  for (const Case& c : cases) {
    ManifestParseResult r = ParseManifest(c.text);
    EXPECT_FALSE(r.manifest) << c.text;
    EXPECT_EQ(c.line, r.error_line) << c.text << " -> " << r.error;
    EXPECT_FALSE(r.error.empty());
  }
  EXPECT_TRUE(ParseManifest(head + good + "end\t1\n").manifest);
}

}  // namespace
}  // namespace kdr
