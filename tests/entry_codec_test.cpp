#include "settings/entry_codec.h"

#include <gtest/gtest.h>

#include "platform/registry.h"

namespace kdr {
namespace {

TEST(FormatEntryTest, DwordAndBinaryAsLowercaseHexInStoredOrder) {
  EXPECT_EQ("4:01000000", FormatEntry("A", 4, DwordData(1), true));
  EXPECT_EQ("4:78563412", FormatEntry("A", 4, DwordData(0x12345678), true));
  EXPECT_EQ("3:0aff", FormatEntry("B", 3, std::string("\x0a\xff", 2), true));
  EXPECT_EQ("3:", FormatEntry("B", 3, "", true));
  // Type 3 and 4 are hex even for credential names: every byte, zero bytes included.
  EXPECT_EQ("3:00ab00", FormatEntry("X_PASS", 3, std::string("\0\xab\0", 3), true));
}

TEST(FormatEntryTest, TextUpToFirstZeroAndCredentialsOnlyWhenAsked) {
  EXPECT_EQ("1:abc", FormatEntry("Host", 1, std::string("abc\0", 4), true));
  EXPECT_EQ("1:616263", FormatEntry("X_PASS", 1, std::string("abc\0", 4), true));
  EXPECT_EQ("1:abc", FormatEntry("X_PASS", 1, std::string("abc\0", 4), false));
  EXPECT_EQ("2:616263", FormatEntry("X_USER", 2, std::string("abc\0", 4), true));
  // REG_MULTI_SZ: only its first string.
  EXPECT_EQ("7:one", FormatEntry("M", 7, std::string("one\0two\0\0", 9), true));
  EXPECT_EQ("1:", FormatEntry("E", 1, "", true));
  EXPECT_EQ("11:x", FormatEntry("E", 11, "x", true));
  // Code page 932 bytes pass through as they are, or encode like any other byte.
  EXPECT_EQ("1:\x93\xfa\x96\x7b", FormatEntry("J", 1, "\x93\xfa\x96\x7b", true));
  EXPECT_EQ("1:93fa967b", FormatEntry("DB_SEL", 1, "\x93\xfa\x96\x7b", true));
}

TEST(FormatEntryTest, LongCredentialTextIsEncodedWhole) {
  std::string secret(5000, 'k');
  std::string entry = FormatEntry("APP_PASSWORD", 1, secret, true);
  ASSERT_EQ(2 + secret.size() * 2, entry.size());
  EXPECT_EQ("6b6b", entry.substr(entry.size() - 4));
}

TEST(CredentialNameTest, MarkersAreCaseSensitiveSubstrings) {
  EXPECT_TRUE(IsCredentialName("X_PASSWORD"));
  EXPECT_TRUE(IsCredentialName("DB_SELECT"));
  EXPECT_TRUE(IsCredentialName("A_LOGIN"));
  EXPECT_TRUE(IsCredentialName("A_SCHEMA_NAME"));
  EXPECT_TRUE(IsCredentialName("_USER"));
  EXPECT_FALSE(IsCredentialName("PASS"));
  EXPECT_FALSE(IsCredentialName("X_pass"));
  EXPECT_FALSE(IsCredentialName("USER_LEVEL_"));
  EXPECT_FALSE(IsCredentialName("TBL_LEVEL"));
  EXPECT_FALSE(IsCredentialName(""));
}

TEST(HexCodecTest, EncodeDecodeRoundTripAndOddInput) {
  std::string text = "abc";
  HexEncodeInPlace(text);
  EXPECT_EQ("616263", text);
  ASSERT_TRUE(HexDecodeInPlace(text));
  EXPECT_EQ("abc", text);
  std::string odd = "6162636";
  ASSERT_TRUE(HexDecodeInPlace(odd));
  EXPECT_EQ("abc", odd);
  std::string short_text = "616";
  ASSERT_TRUE(HexDecodeInPlace(short_text));
  EXPECT_EQ("a", short_text);
  std::string one = "6";
  ASSERT_TRUE(HexDecodeInPlace(one));
  EXPECT_EQ("", one);
  std::string upper = "4A4b";
  ASSERT_TRUE(HexDecodeInPlace(upper));
  EXPECT_EQ("JK", upper);
  // A decoded zero byte ends the text, as the stored string would.
  std::string zero = "610062";
  ASSERT_TRUE(HexDecodeInPlace(zero));
  EXPECT_EQ("a", zero);
  std::string empty;
  HexEncodeInPlace(empty);
  EXPECT_EQ("", empty);
}

TEST(HexCodecTest, NonHexPairIsRefusedAndLeavesTextAlone) {
  std::string text = "61zz";
  EXPECT_FALSE(HexDecodeInPlace(text));
  EXPECT_EQ("61zz", text);
}

TEST(ParseEntryTest, SplitsNameTypeAndData) {
  ParsedEntry e;
  ASSERT_EQ(ParseResult::kOk, ParseEntry("SRVPORT=4:01000000", &e));
  EXPECT_EQ("SRVPORT", e.name);
  EXPECT_EQ(4u, e.type);
  EXPECT_EQ(std::string("\x01\0\0\0", 4), e.data);
  ASSERT_EQ(ParseResult::kOk, ParseEntry("A=4:0a000000", &e));
  EXPECT_EQ(std::string("\x0a\0\0\0", 4), e.data);
  ASSERT_EQ(ParseResult::kOk, ParseEntry("Host=1:srv:01", &e));
  EXPECT_EQ("Host", e.name);
  EXPECT_EQ(1u, e.type);
  EXPECT_EQ("srv:01", e.data);
  ASSERT_EQ(ParseResult::kOk, ParseEntry("X=1:", &e));
  EXPECT_EQ("", e.data);
}

TEST(ParseEntryTest, NameWithColonReadsBackWhole) {
  // The data begins after the first ":" that follows the "=", not after the first ":" at all.
  ParsedEntry e;
  ASSERT_EQ(ParseResult::kOk, ParseEntry("C:\\path=1:value", &e));
  EXPECT_EQ("C:\\path", e.name);
  EXPECT_EQ(1u, e.type);
  EXPECT_EQ("value", e.data);
}

TEST(ParseEntryTest, WholeTypeNumberIsRead) {
  ParsedEntry e;
  ASSERT_EQ(ParseResult::kOk, ParseEntry("T=11:abc", &e));
  EXPECT_EQ(11u, e.type);
  ASSERT_EQ(ParseResult::kOk, ParseEntry("B=3:0aff", &e));
  EXPECT_EQ(3u, e.type);
  EXPECT_EQ(ParseResult::kBadType, ParseEntry("T=:abc", &e));
  EXPECT_EQ(ParseResult::kBadType, ParseEntry("T=x1:abc", &e));
  EXPECT_EQ(ParseResult::kBadType, ParseEntry("T=99999999999:abc", &e));
  EXPECT_EQ(ParseResult::kBadType, ParseEntry("T= 1:abc", &e));
}

TEST(ParseEntryTest, ShortOrNonHexDwordIsRefused) {
  ParsedEntry e;
  EXPECT_EQ(ParseResult::kBadDword, ParseEntry("A=4:0100", &e));
  EXPECT_EQ(ParseResult::kBadDword, ParseEntry("A=4:010000000", &e));
  EXPECT_EQ(ParseResult::kBadDword, ParseEntry("A=4:0100zz00", &e));
  EXPECT_EQ(ParseResult::kBadDword, ParseEntry("A=4:", &e));
}

TEST(ParseEntryTest, MissingSeparatorsGiveEmptyResult) {
  ParsedEntry e;
  e.name = "stale";
  EXPECT_EQ(ParseResult::kNoSeparator, ParseEntry("no separators", &e));
  EXPECT_EQ(1u, e.type);
  EXPECT_EQ("", e.name);
  EXPECT_EQ(ParseResult::kNoSeparator, ParseEntry("A=1", &e));
  EXPECT_EQ(ParseResult::kNoSeparator, ParseEntry("A:1", &e));  // colon but no "="
  EXPECT_EQ(ParseResult::kNoSeparator, ParseEntry("", &e));
}

TEST(UnrepresentableTest, NamesAndTextsTheFileCannotCarry) {
  EXPECT_EQ("", UnrepresentableReason("Host", "1:abc"));
  EXPECT_EQ("", UnrepresentableReason("C:\\x", "1:a b"));
  EXPECT_NE("", UnrepresentableReason("a=b", "1:x"));
  EXPECT_NE("", UnrepresentableReason("a\nb", "1:x"));
  EXPECT_NE("", UnrepresentableReason("[sec", "1:x"));
  EXPECT_NE("", UnrepresentableReason(";c", "1:x"));
  EXPECT_NE("", UnrepresentableReason(" lead", "1:x"));
  EXPECT_NE("", UnrepresentableReason("trail ", "1:x"));
  EXPECT_NE("", UnrepresentableReason("n", "1:line\r\nbreak"));
  EXPECT_NE("", UnrepresentableReason("n", "1:ends with blank "));
}

}  // namespace
}  // namespace kdr

namespace kdr {
namespace {

TEST(UnrepresentableTest, SectionNamesTheFileCannotCarry) {
  EXPECT_EQ("", UnrepresentableSectionReason("Software\\VTQ\\Kodrel\\Client\\AppInfo"));
  EXPECT_NE("", UnrepresentableSectionReason("Software\\VTQ\\Kodrel\\a]b"));
  EXPECT_NE("", UnrepresentableSectionReason("Software\\VTQ\\Kodrel\\a "));
  EXPECT_NE("", UnrepresentableSectionReason("Software\\VTQ\\Kodrel\\a\nb"));
  // 0x5D as the second byte of a double-byte character is not a "]" (0x81 0x5D is "‐").
  EXPECT_EQ("", UnrepresentableSectionReason("Software\\VTQ\\Kodrel\\\x81\x5d"));
  EXPECT_NE("", UnrepresentableSectionReason("Software\\VTQ\\Kodrel\\a\x81\x5d]"));
}

}  // namespace
}  // namespace kdr
