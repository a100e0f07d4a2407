#include "platform/memory/registry_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "platform/text_encoding.h"
#include "tests/seeded_random.h"
#include "tests/support/registry_values.h"

namespace kdr {
namespace {

using namespace std::string_literals;
using Node = MemoryRegistry::Node;
constexpr RootKey kHkcu = RootKey::kCurrentUser;
constexpr RootKey kHklm = RootKey::kLocalMachine;
constexpr RegistryFileFormat k4 = RegistryFileFormat::kRegedit4;
constexpr RegistryFileFormat k5 = RegistryFileFormat::kVersion5;

// Code page 932 spellings used below.
const std::string kSoft = "\x83\x5c\x83\x74\x83\x67";  // "ソフト": the first trail byte is '\'
const std::string kHyouji = "\x95\x5c\x8e\xa6";        // "表示": so is this one
const std::string kDash = "\x81\x5c";                  // U+2015

std::string Cp932(std::string_view utf8) {
  std::optional<std::string> converted = Utf8ToCp932(utf8);
  EXPECT_TRUE(converted.has_value()) << utf8;
  return converted.value_or("");
}

// UTF-8 to UTF-16LE bytes, written out here so that the tests do not lean on the code they test.
std::string Utf16(std::string_view utf8) {
  std::string out;
  auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xff));
    out.push_back(static_cast<char>(unit >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c, len = 1;
    } else if (c < 0xe0) {
      cp = c & 0x1f, len = 2;
    } else if (c < 0xf0) {
      cp = c & 0x0f, len = 3;
    } else {
      cp = c & 0x07, len = 4;
    }
    for (size_t k = 1; k < len; ++k)
      cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
    i += len;
    if (cp >= 0x10000) {
      put(0xd800 + ((cp - 0x10000) >> 10));
      put(0xdc00 + ((cp - 0x10000) & 0x3ff));
    } else {
      put(cp);
    }
  }
  return out;
}

// A version 5 file from UTF-8 text.
std::string V5(std::string_view utf8) { return "\xff\xfe" + Utf16(utf8); }

std::string DataPath(const std::string& name) {
  std::string dir = __FILE__;
  dir.resize(dir.find_last_of("/\\") + 1);
#ifdef _WIN32
  // Built on Linux, run under Wine: the source tree is reached through drive Z:.
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
  return dir + "data/regedit/" + name;
}

std::string ReadDataFile(const std::string& name) {
  std::ifstream in(DataPath(name), std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << DataPath(name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Sz(std::string_view text) { return std::string(text) + '\0'; }

const Node* FindNode(const MemoryRegistry& reg, RootKey root, std::vector<std::string> path) {
  const Node* node = &reg.Root(root);
  for (const std::string& name : path) {
    if (!node) return nullptr;
    node = node->FindChild(name);
  }
  return node;
}

// Type and data of a value, or "missing".
std::string ValueOf(const MemoryRegistry& reg, RootKey root, std::vector<std::string> path,
                    std::string_view name) {
  const Node* node = FindNode(reg, root, std::move(path));
  if (!node) return "missing key";
  const MemoryRegistry::Value* value = node->FindValue(name);
  if (!value) return "missing";
  return std::to_string(value->type()) + ":" + std::string(value->data());
}
std::string Typed(uint32_t type, std::string_view data) {
  return std::to_string(type) + ":" + std::string(data);
}

// The whole tree as text: key paths with their values in order, subkeys in order.
void Describe(const Node& node, const std::string& path, bool sort_values, std::string* out) {
  std::vector<std::string> values;
  for (const MemoryRegistry::Value& value : node.values()) {
    std::ostringstream line;
    line << "  [" << value.name() << "] type " << value.type() << " =";
    for (unsigned char c : value.data()) line << ' ' << std::hex << static_cast<int>(c);
    values.push_back(line.str());
  }
  if (sort_values) std::sort(values.begin(), values.end());
  *out += path + "\n";
  for (const std::string& value : values) *out += value + "\n";
  for (const auto& child : node.children()) {
    Describe(*child.second, path + "\\" + child.second->name(), sort_values, out);
  }
}
std::string Describe(const Node& node, bool sort_values = false) {
  std::string out;
  Describe(node, "", sort_values, &out);
  return out;
}
std::string Describe(const MemoryRegistry& reg) {
  return "HKLM" + Describe(reg.Root(kHklm)) + "HKCU" + Describe(reg.Root(kHkcu));
}

RegistryFileLoadResult Load(std::string_view bytes, MemoryRegistry* reg) {
  return LoadRegistryFile(bytes, reg);
}

std::string Save(const MemoryRegistry& reg, RegistryFileFormat format) {
  RegistryFileSaveResult saved = SaveRegistryFile(reg, format);
  EXPECT_TRUE(saved.ok()) << (saved.error ? saved.error->reason : "");
  return saved.bytes;
}

// Load, save, load, save: the second load equals the first, the two saves are identical.
void ExpectRoundTrip(const std::string& bytes, RegistryFileFormat expected_format) {
  MemoryRegistry first;
  RegistryFileLoadResult loaded = Load(bytes, &first);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(expected_format, loaded.format);
  std::string saved = Save(first, loaded.format);
  MemoryRegistry second;
  RegistryFileLoadResult reloaded = Load(saved, &second);
  ASSERT_TRUE(reloaded.ok()) << reloaded.error->line << ": " << reloaded.error->reason;
  EXPECT_EQ(loaded.format, reloaded.format);
  EXPECT_EQ(Describe(first), Describe(second));
  EXPECT_EQ(saved, Save(second, reloaded.format));
}

// --- Files produced by Wine's regedit /E ---

TEST(RegistryFileTest, ReadsWineExportOfEveryValueKind) {
  MemoryRegistry reg;
  RegistryFileLoadResult loaded = Load(ReadDataFile("wine_hkcu_v5.reg"), &reg);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(k5, loaded.format);
  const std::vector<std::string> se = {"Software", "VTQ", "KodrelSE"};
  EXPECT_EQ(Typed(kRegSz, Sz(Cp932("既定の値"))), ValueOf(reg, kHkcu, se, ""));
  EXPECT_EQ(Typed(kRegSz, Sz("hello world")), ValueOf(reg, kHkcu, se, "Plain"));
  EXPECT_EQ(Typed(kRegSz, Sz("back\\slash \"quoted\" end\\")), ValueOf(reg, kHkcu, se, "Escapes"));
  EXPECT_EQ(Typed(kRegSz, Sz("name with escapes")), ValueOf(reg, kHkcu, se, "Quote\"Name\\x"));
  EXPECT_EQ(Typed(kRegSz, Sz(Cp932("設定値 ") + kSoft + " " + kHyouji + " " + kDash)),
            ValueOf(reg, kHkcu, se, Cp932("日本語の名前 ") + kSoft));
  EXPECT_EQ(Typed(kRegSz, Sz("")), ValueOf(reg, kHkcu, se, "Empty"));
  EXPECT_EQ(Typed(kRegDword, DwordData(42)), ValueOf(reg, kHkcu, se, "Count"));
  EXPECT_EQ(Typed(kRegDword, DwordData(0xffffffff)), ValueOf(reg, kHkcu, se, "Max"));
  EXPECT_EQ(Typed(kRegBinary, "\x01\x02\xff"), ValueOf(reg, kHkcu, se, "Short"));
  std::string long_binary;
  for (int i = 0; i < 100; ++i) long_binary.push_back(static_cast<char>(i * 7));
  EXPECT_EQ(Typed(kRegBinary, long_binary),
            ValueOf(reg, kHkcu, se, "Long binary value with a rather long name"));
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty.push_back(static_cast<char>(i));
  EXPECT_EQ(Typed(kRegBinary, thirty), ValueOf(reg, kHkcu, se, std::string(80, 'N')));
  EXPECT_EQ(Typed(kRegBinary, ""), ValueOf(reg, kHkcu, se, "EmptyBinary"));
  EXPECT_EQ(Typed(kRegNone, ""), ValueOf(reg, kHkcu, se, "NoneEmpty"));
  EXPECT_EQ(Typed(kRegNone, "\xde\xad\xbe\xef"), ValueOf(reg, kHkcu, se, "NoneData"));
  // Text data in hex(2) and hex(7) is UTF-16LE in the file, code page 932 in the store.
  EXPECT_EQ(Typed(kRegExpandSz, Sz("%SystemRoot%\\" + Cp932("設定") + "\\" + kSoft)),
            ValueOf(reg, kHkcu, se, "Expand"));
  EXPECT_EQ(Typed(kRegMultiSz,
                  Cp932("一つ目") + std::string("\0two\0", 5) + kHyouji + std::string("\0\0", 2)),
            ValueOf(reg, kHkcu, se, "Multi"));
  EXPECT_EQ(Typed(11, std::string("\x01\0\0\0\0\0\0\x80", 8)), ValueOf(reg, kHkcu, se, "Quad"));
  EXPECT_EQ(Typed(0x12345, "\xaa\xbb"), ValueOf(reg, kHkcu, se, "Custom"));
  // The input deleted one value and one key before Wine exported it.
  EXPECT_EQ("missing", ValueOf(reg, kHkcu, se, "Dropped"));
  EXPECT_EQ(nullptr, FindNode(reg, kHkcu, {"Software", "VTQ", "KodrelSE", "Temporary"}));

  const Node* empty = FindNode(reg, kHkcu, {"Software", "VTQ", "KodrelSE", "Empty Sub"});
  ASSERT_NE(nullptr, empty);
  EXPECT_TRUE(empty->values().empty());
  EXPECT_TRUE(empty->children().empty());
  EXPECT_NE(nullptr, FindNode(reg, kHkcu, {"Software", "VTQ", "KodrelSE", "ab]c"}));
  EXPECT_EQ(Typed(kRegSz, Sz("a]b[")),
            ValueOf(reg, kHkcu, {"Software", "VTQ", "KodrelSE", kSoft + Cp932("設定")}, "x]y"));

  // Values that Wine's reg.exe added.
  const std::vector<std::string> from_reg = {"Software", "VTQ", "FromReg"};
  EXPECT_EQ(Typed(kRegSz, Sz("default text")), ValueOf(reg, kHkcu, from_reg, ""));
  EXPECT_EQ(Typed(kRegExpandSz, Sz("%TEMP%\\" + kSoft)), ValueOf(reg, kHkcu, from_reg, "Path"));
  EXPECT_EQ(Typed(kRegMultiSz,
                  "one" + std::string(1, '\0') + Cp932("二つ") + std::string("\0three\0\0", 8)),
            ValueOf(reg, kHkcu, from_reg, "List"));
  EXPECT_EQ(Typed(kRegDword, DwordData(305419896)), ValueOf(reg, kHkcu, from_reg, "Flags"));
  EXPECT_EQ(Typed(kRegBinary, "\x01\x02\xab\xcd\xef"), ValueOf(reg, kHkcu, from_reg, "Blob"));
  EXPECT_EQ(Typed(11, "\x88\x77\x66\x55\x44\x33\x22\x11"), ValueOf(reg, kHkcu, from_reg, "Big"));
  EXPECT_EQ(Typed(kRegSz, Sz("")), ValueOf(reg, kHkcu, from_reg, "Blank"));

  // Values keep the file's order (Wine's export sorts them by name).
  const Node* se_node = FindNode(reg, kHkcu, se);
  ASSERT_NE(nullptr, se_node);
  ASSERT_GE(se_node->values().size(), 3u);
  EXPECT_EQ("", se_node->values()[0].name());
  EXPECT_EQ("Count", se_node->values()[1].name());
  EXPECT_EQ("Custom", se_node->values()[2].name());
}

// Our writer produces what Wine's regedit wrote for the same keys, byte for byte: wrapping,
// escapes, dword and hex forms, key order, blank lines. The one difference is that we write every
// key of the store, so the parents above the exported branch appear too.
// Our save of a Wine export is Wine's own lines in Wine's order, less the lines of keys that
// hold no values and have subkeys (those subkeys' lines create them), and reads back the same.
TEST(RegistryFileTest, SavesWineExportsLineForLine) {
  auto lines = [](const std::string& bytes) {
    std::vector<std::string> out;
    for (size_t at = 0; at < bytes.size();) {
      size_t end = bytes.find("\r\0\n\0"s, at);
      end = end == std::string::npos ? bytes.size() : end + 4;
      out.push_back(bytes.substr(at, end - at));
      at = end;
    }
    return out;
  };
  for (const char* file : {"wine_hkcu_v5.reg", "wine_hklm_v5.reg"}) {
    SCOPED_TRACE(file);
    std::string wine = ReadDataFile(file);
    MemoryRegistry reg;
    ASSERT_TRUE(Load(wine, &reg).ok());
    std::string saved = Save(reg, k5);
    std::vector<std::string> ours = lines(saved), theirs = lines(wine);
    size_t t = 0;
    for (const std::string& line : ours) {
      while (t < theirs.size() && theirs[t] != line) ++t;
      ASSERT_LT(t, theirs.size()) << "a line Wine did not write, or out of order";
      ++t;
    }
    EXPECT_EQ(Describe(reg), [&] {
      MemoryRegistry back;
      EXPECT_TRUE(Load(saved, &back).ok());
      return Describe(back);
    }());
  }
}

// A key alone at the end of a deep path: the saved file grows with the path, not with the
// square of its depth, as one line per parent would make it.
TEST(RegistryFileTest, SavedDeepKeyTakesOneLine) {
  for (RegistryFileFormat format : {k4, k5}) {
    std::string path = "HKEY_CURRENT_USER";
    for (int i = 0; i < 400; ++i) path += "\\name" + std::to_string(i);
    std::string file = "REGEDIT4\r\n\r\n[" + path + "]\r\n\"v\"=\"x\"\r\n";
    MemoryRegistry reg;
    ASSERT_TRUE(Load(file, &reg).ok());
    std::string saved = Save(reg, format);
    EXPECT_LE(saved.size(), 3 * file.size());
    MemoryRegistry back;
    ASSERT_TRUE(Load(saved, &back).ok());
    EXPECT_EQ(Describe(reg), Describe(back));
  }
}

// Our reading of the hand-written inputs agrees with what Wine's regedit imported from them.
TEST(RegistryFileTest, ReadsInputsAsWineImportedThem) {
  MemoryRegistry wine;
  ASSERT_TRUE(Load(ReadDataFile("wine_hkcu_v5.reg"), &wine).ok());
  ASSERT_TRUE(Load(ReadDataFile("wine_hklm_v5.reg"), &wine).ok());

  MemoryRegistry v5;
  RegistryFileLoadResult loaded = Load(ReadDataFile("input_v5.reg"), &v5);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(k5, loaded.format);
  const Node* ours = FindNode(v5, kHkcu, {"Software", "VTQ", "KodrelSE"});
  const Node* theirs = FindNode(wine, kHkcu, {"Software", "VTQ", "KodrelSE"});
  ASSERT_TRUE(ours && theirs);
  EXPECT_EQ(Describe(*theirs, true), Describe(*ours, true));
  EXPECT_EQ(Describe(wine.Root(kHklm), true), Describe(v5.Root(kHklm), true));

  MemoryRegistry v4;
  loaded = Load(ReadDataFile("input_regedit4.reg"), &v4);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(k4, loaded.format);
  ours = FindNode(v4, kHkcu, {"Software", "VTQ", "Kodrel4"});
  theirs = FindNode(wine, kHkcu, {"Software", "VTQ", "Kodrel4"});
  ASSERT_TRUE(ours && theirs);
  EXPECT_EQ(Describe(*theirs, true), Describe(*ours, true));
  // And the bytes themselves, in case both sides were wrong the same way.
  const std::vector<std::string> k4path = {"Software", "VTQ", "Kodrel4"};
  EXPECT_EQ(Typed(kRegSz, Sz(kHyouji + "\\" + "\x83\x5c")), ValueOf(v4, kHkcu, k4path, kSoft));
  EXPECT_EQ(Typed(kRegSz, Sz("say \"hi\"")), ValueOf(v4, kHkcu, k4path, "Quote\"d"));
  EXPECT_EQ(Typed(kRegDword, DwordData(0x7fffffff)), ValueOf(v4, kHkcu, k4path, "Indented"));
  EXPECT_EQ(Typed(kRegBinary, std::string("\x00\x11\x22\x33\x44\x55", 6)),
            ValueOf(v4, kHkcu, k4path, "Binary"));
  EXPECT_EQ(Typed(kRegExpandSz, std::string("%PATH%\\\x83\x5c\0", 10)),
            ValueOf(v4, kHkcu, k4path, "Expand"));
  EXPECT_EQ("missing", ValueOf(v4, kHkcu, k4path, "Removed"));
  EXPECT_EQ(Typed(kRegSz, Sz("yes")),
            ValueOf(v4, kHkcu, {"Software", "VTQ", "Kodrel4", kHyouji, kSoft}, "Deep"));
  EXPECT_EQ(nullptr, FindNode(v4, kHkcu, {"Software", "VTQ", "Kodrel4", "Doomed"}));
}

// ours_regedit4.reg is our writer's output (saving what it holds gives it back unchanged), and
// Wine's regedit imported it as we read it: hex(1), hex(2) and hex(7) bytes as code page 932,
// trail bytes '\' left alone, escapes undone, wrapped hex joined.
TEST(RegistryFileTest, WineReadsOurRegedit4AsWeDo) {
  const std::string ours_bytes = ReadDataFile("ours_regedit4.reg");
  MemoryRegistry ours;
  RegistryFileLoadResult loaded = Load(ours_bytes, &ours);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(k4, loaded.format);
  ExpectRoundTrip(ours_bytes, k4);
  EXPECT_NE(std::string::npos, ours_bytes.find("\"Break\"=hex(1):"));  // the fallback is covered

  MemoryRegistry wine;
  loaded = Load(ReadDataFile("wine_ours_v5.reg"), &wine);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  const Node* a = FindNode(ours, kHkcu, {"Software", "Ours"});
  const Node* b = FindNode(wine, kHkcu, {"Software", "Ours"});
  ASSERT_TRUE(a && b);
  EXPECT_EQ(Describe(*a, true), Describe(*b, true));
}

TEST(RegistryFileTest, DataFilesRoundTrip) {
  for (const char* file : {"wine_hkcu_v5.reg", "wine_hklm_v5.reg", "wine_ours_v5.reg",
                           "input_v5.reg", "input_regedit4.reg", "ours_regedit4.reg"}) {
    SCOPED_TRACE(file);
    std::string bytes = ReadDataFile(file);
    ExpectRoundTrip(bytes,
                    std::string_view(file).find("regedit4") != std::string_view::npos ? k4 : k5);
    // The other format holds the same store too.
    MemoryRegistry first, second;
    RegistryFileLoadResult loaded = Load(bytes, &first);
    ASSERT_TRUE(loaded.ok());
    RegistryFileFormat other = loaded.format == k4 ? k5 : k4;
    std::string converted = Save(first, other);
    RegistryFileLoadResult reloaded = Load(converted, &second);
    ASSERT_TRUE(reloaded.ok()) << reloaded.error->line << ": " << reloaded.error->reason;
    EXPECT_EQ(other, reloaded.format);
    EXPECT_EQ(Describe(first), Describe(second));
  }
}

// --- Writing ---

TEST(RegistryFileTest, SavesRegedit4AsTheEditorWritesIt) {
  MemoryRegistry reg;
  SetString(reg, kHkcu, "Software\\VTQ", "", "default");
  SetString(reg, kHkcu, "Software\\VTQ", "Path", "C:\\Program Files\\\"x\"");
  SetDword(reg, kHkcu, "Software\\VTQ", "Count", 0x1234abcd);
  SetRaw(reg, kHkcu, "Software\\VTQ", "Bin", kRegBinary, "\x00\x7f\x80\xff"s);
  SetRaw(reg, kHkcu, "Software\\VTQ", "Exp", kRegExpandSz, Sz("%A%\\" + kSoft));
  reg.Create(kHkcu, "Software\\VTQ\\Empty");
  // A key named in code page 932 whose trail byte is '\': written raw, never split or escaped.
  SetString(reg, kHkcu, "Software\\VTQ\\" + kSoft, kHyouji, kSoft + "\\");
  SetString(reg, kHklm, "Software\\VTQ", "InstallPath", "C:\\VTQ");

  const std::string expected =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\VTQ]\r\n"
      "\"InstallPath\"=\"C:\\\\VTQ\"\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\VTQ]\r\n"
      "@=\"default\"\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
      "\"Count\"=dword:1234abcd\r\n"
      "\"Bin\"=hex:00,7f,80,ff\r\n"
      "\"Exp\"=hex(2):25,41,25,5c,83,5c,83,74,83,67,00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\VTQ\\Empty]\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\VTQ\\" +
      kSoft +
      "]\r\n"
      "\"" +
      kHyouji + "\"=\"" + kSoft +
      "\\\\\"\r\n"
      "\r\n";
  EXPECT_EQ(expected, Save(reg, k4));
  ExpectRoundTrip(expected, k4);
}

TEST(RegistryFileTest, SavesVersion5InUtf16) {
  MemoryRegistry reg;
  SetString(reg, kHkcu, "A", kSoft, Cp932("値 ") + kDash);
  SetRaw(reg, kHkcu, "A", "M", kRegMultiSz, std::string("\x82\xa0\0b\0\0", 6));  // "あ" "b"
  const std::string expected =
      V5("Windows Registry Editor Version 5.00\r\n"
         "\r\n"
         "[HKEY_CURRENT_USER\\A]\r\n"
         "\"ソフト\"=\"値 ―\"\r\n"
         "\"M\"=hex(7):42,30,00,00,62,00,00,00,00,00\r\n"
         "\r\n");
  EXPECT_EQ(expected, Save(reg, k5));
  ExpectRoundTrip(expected, k5);
}

TEST(RegistryFileTest, EmptyStoreAndRootValues) {
  MemoryRegistry empty;
  EXPECT_EQ("REGEDIT4\r\n\r\n", Save(empty, k4));
  ExpectRoundTrip("REGEDIT4\r\n\r\n", k4);
  // A value on a root itself is written under the root's own name.
  MemoryRegistry reg;
  SetDword(reg, kHkcu, "", "Top", 1);
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n\"Top\"=dword:00000001\r\n\r\n", Save(reg, k4));
}

TEST(RegistryFileTest, EveryValueTypeSurvivesBothFormats) {
  MemoryRegistry reg;
  const std::string path = "Software\\Types";
  SetRaw(reg, kHkcu, path, "none", kRegNone, "");
  SetRaw(reg, kHkcu, path, "none data", kRegNone, "\x01\x02"s);
  SetRaw(reg, kHkcu, path, "sz", kRegSz, Sz("text"));
  SetRaw(reg, kHkcu, path, "sz empty", kRegSz, Sz(""));
  SetRaw(reg, kHkcu, path, "sz no data", kRegSz, "");
  SetRaw(reg, kHkcu, path, "sz unterminated", kRegSz, "abc");
  SetRaw(reg, kHkcu, path, "sz inner nul", kRegSz, std::string("a\0b\0", 4));
  SetRaw(reg, kHkcu, path, "sz line break", kRegSz, Sz("one\r\ntwo"));
  SetRaw(reg, kHkcu, path, "expand", kRegExpandSz, Sz("%TEMP%"));
  SetRaw(reg, kHkcu, path, "binary", kRegBinary, std::string("\0\xff", 2));
  SetRaw(reg, kHkcu, path, "dword", kRegDword, DwordData(7));
  SetRaw(reg, kHkcu, path, "dword short", kRegDword, "\x01\x02\x03");
  SetRaw(reg, kHkcu, path, "dword long", kRegDword, "\x01\x02\x03\x04\x05");
  SetRaw(reg, kHkcu, path, "big endian", 5, "\x00\x00\x00\x01"s);
  SetRaw(reg, kHkcu, path, "link", 6, Utf16("x"));
  SetRaw(reg, kHkcu, path, "multi", kRegMultiSz, std::string("a\0b\0\0", 5));
  SetRaw(reg, kHkcu, path, "multi empty", kRegMultiSz, std::string("\0", 1));
  SetRaw(reg, kHkcu, path, "resource list", 8, "\x10");
  SetRaw(reg, kHkcu, path, "qword", 11, "\x01\x02\x03\x04\x05\x06\x07\x08");
  SetRaw(reg, kHkcu, path, "large type", 0xffffffff, "\x42");
  SetRaw(reg, kHkcu, path, "long", kRegBinary, std::string(1000, '\x5a'));
  for (RegistryFileFormat format : {k4, k5}) {
    SCOPED_TRACE(static_cast<int>(format));
    std::string saved = Save(reg, format);
    MemoryRegistry back;
    RegistryFileLoadResult loaded = Load(saved, &back);
    ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
    EXPECT_EQ(Describe(reg), Describe(back));
    EXPECT_EQ(saved, Save(back, format));
  }
  // The forms chosen, seen in the REGEDIT4 text.
  std::string text = Save(reg, k4);
  for (const char* line : {
           "\"none\"=hex(0):\r\n",
           "\"none data\"=hex(0):01,02\r\n",
           "\"sz\"=\"text\"\r\n",
           "\"sz empty\"=\"\"\r\n",
           "\"sz no data\"=hex(1):\r\n",
           "\"sz unterminated\"=hex(1):61,62,63\r\n",
           "\"sz inner nul\"=hex(1):61,00,62,00\r\n",
           "\"sz line break\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\r\n",
           "\"expand\"=hex(2):25,54,45,4d,50,25,00\r\n",
           "\"binary\"=hex:00,ff\r\n",
           "\"dword\"=dword:00000007\r\n",
           "\"dword short\"=hex(4):01,02,03\r\n",
           "\"dword long\"=hex(4):01,02,03,04,05\r\n",
           "\"big endian\"=hex(5):00,00,00,01\r\n",
           "\"multi\"=hex(7):61,00,62,00,00\r\n",
           "\"resource list\"=hex(8):10\r\n",
           "\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n",
           "\"large type\"=hex(ffffffff):42\r\n",
       }) {
    EXPECT_NE(std::string::npos, text.find(line)) << line;
  }
}

TEST(RegistryFileTest, WrapsHexDataAtEightyColumns) {
  MemoryRegistry reg;
  std::string data;
  for (int i = 0; i < 60; ++i) data.push_back(static_cast<char>(i));
  SetRaw(reg, kHkcu, "K", "B", kRegBinary, data);
  std::string text = Save(reg, k4);
  // "B"=hex: is 8 columns; 23 bytes take it to 77, then 25 a line after the two-space indent.
  const std::string expected =
      "\"B\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
      "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
      "  30,31,32,33,34,35,36,37,38,39,3a,3b\r\n";
  EXPECT_NE(std::string::npos, text.find(expected)) << text;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    EXPECT_LE(end - start, 80u);
  }
}

// Bytes that a REGEDIT4 string cannot hold as they are fall back to hex(1); version 5 refuses
// what it cannot hold unchanged rather than write something else.
TEST(RegistryFileTest, TextThatAFormatCannotHold) {
  MemoryRegistry reg;
  // A lone lead byte before a quote: escaped as \" its backslash would pair with the lead byte.
  SetRaw(reg, kHkcu, "K", "lead quote", kRegSz, Sz("\x81\""));
  SetRaw(reg, kHkcu, "K", "lead end", kRegSz, Sz("ab\x81"));
  std::string text = Save(reg, k4);
  EXPECT_NE(std::string::npos, text.find("\"lead quote\"=hex(1):81,22,00\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("\"lead end\"=\"ab\x81\"\r\n")) << text;
  MemoryRegistry back;
  ASSERT_TRUE(Load(text, &back).ok());
  EXPECT_EQ(Describe(reg), Describe(back));

  RegistryFileSaveResult v5 = SaveRegistryFile(reg, k5);
  ASSERT_FALSE(v5.ok());
  EXPECT_EQ(0, v5.error->line);
  EXPECT_NE(std::string::npos, v5.error->reason.find("lead quote")) << v5.error->reason;
  EXPECT_TRUE(v5.bytes.empty());

  // A second code of a character that has two (FA54 and 81CA are both U+FFE2).
  MemoryRegistry doubly;
  SetString(doubly, kHkcu, "K", "v", "\xfa\x54");
  EXPECT_FALSE(SaveRegistryFile(doubly, k5).ok());
  EXPECT_TRUE(SaveRegistryFile(doubly, k4).ok());

  // A key name ending in a lone lead byte would swallow the closing "]" in REGEDIT4.
  MemoryRegistry key;
  key.Create(kHkcu, "Ok\\\x81");
  RegistryFileSaveResult refused = SaveRegistryFile(key, k4);
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(std::string::npos, refused.error->reason.find("HKEY_CURRENT_USER\\Ok"))
      << refused.error->reason;

  // Line breaks in a value name are written as \n and \r, which is how Wine writes them.
  MemoryRegistry names;
  SetDword(names, kHkcu, "K", "two\nlines\r", 1);
  for (RegistryFileFormat format : {k4, k5}) {
    std::string saved = Save(names, format);
    MemoryRegistry names_back;
    ASSERT_TRUE(Load(saved, &names_back).ok());
    EXPECT_EQ(Describe(names), Describe(names_back));
  }
  EXPECT_NE(std::string::npos, Save(names, k4).find("\"two\\nlines\\r\"=dword:00000001"));
}

// --- Reading ---

TEST(RegistryFileTest, ReadsContinuationCommentsBlankLinesAndLineEnds) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(eol)));
    const std::string n = eol;
    std::string text = "REGEDIT4" + n + n + "; a comment" + n +  //
                       "  [HKEY_CURRENT_USER\\K]  " + n + "\"bin\" = hex:01, 02,\t\\" +
                       n +  // blanks around "=" and the bytes
                       "  ; a comment where more data could be ends it" + n +
                       "\"more\"=hex:0A,0b,\\  " + n + "\t\t  c,\\" + n + "d" + n +
                       "\"short\"=dword:2A ; trailing comment" + n + "\"s\"=\"x\"   ; c" + n +
                       "\"start\"=hex(3):\\" + n + "  ff" + n;
    MemoryRegistry reg;
    RegistryFileLoadResult loaded = Load(text, &reg);
    ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
    EXPECT_EQ(Typed(kRegBinary, "\x01\x02"), ValueOf(reg, kHkcu, {"K"}, "bin"));
    EXPECT_EQ(Typed(kRegBinary, "\x0a\x0b\x0c\x0d"), ValueOf(reg, kHkcu, {"K"}, "more"));
    EXPECT_EQ(Typed(kRegDword, DwordData(42)), ValueOf(reg, kHkcu, {"K"}, "short"));
    EXPECT_EQ(Typed(kRegSz, Sz("x")), ValueOf(reg, kHkcu, {"K"}, "s"));
    EXPECT_EQ(Typed(kRegBinary, "\xff"), ValueOf(reg, kHkcu, {"K"}, "start"));
  }
}

TEST(RegistryFileTest, ReadsEscapes) {
  MemoryRegistry reg;
  ASSERT_TRUE(Load("REGEDIT4\r\n[HKCU\\K]\r\n"
                   "\"a\\\\b\\\"c\"=\"\\\\\\\\server\\\\share \\\"q\\\" \\\\\"\r\n"
                   "\"wine\"=\"one\\ntwo\\r\"\r\n",
                   &reg)
                  .ok());
  EXPECT_EQ(Typed(kRegSz, Sz("\\\\server\\share \"q\" \\")), ValueOf(reg, kHkcu, {"K"}, "a\\b\"c"));
  EXPECT_EQ(Typed(kRegSz, Sz("one\ntwo\r")), ValueOf(reg, kHkcu, {"K"}, "wine"));
}

TEST(RegistryFileTest, ReadsRootAbbreviationsInAnyCase) {
  MemoryRegistry reg;
  RegistryFileLoadResult loaded = Load(
      "REGEDIT4\r\n[HKLM\\Software\\M]\r\n\"a\"=\"1\"\r\n[hkcu\\U]\r\n\"b\"=\"2\"\r\n"
      "[hkey_current_user\\U\\V]\r\n[HKEY_LOCAL_MACHINE]\r\n\"root\"=\"3\"\r\n",
      &reg);
  ASSERT_TRUE(loaded.ok()) << loaded.error->reason;
  EXPECT_EQ(Typed(kRegSz, Sz("1")), ValueOf(reg, kHklm, {"Software", "M"}, "a"));
  EXPECT_EQ(Typed(kRegSz, Sz("2")), ValueOf(reg, kHkcu, {"U"}, "b"));
  EXPECT_NE(nullptr, FindNode(reg, kHkcu, {"u", "v"}));
  EXPECT_EQ(Typed(kRegSz, Sz("3")), ValueOf(reg, kHklm, {}, "root"));
}

TEST(RegistryFileTest, DeletionsApplyToWhatIsThereAlready) {
  MemoryRegistry reg;
  SetString(reg, kHkcu, "Software\\Old\\Sub", "x", "1");
  SetString(reg, kHkcu, "Software\\Keep", "gone", "1");
  SetString(reg, kHkcu, "Software\\Keep", "", "default");
  SetString(reg, kHkcu, "Software\\Keep", "stays", "1");
  RegistryFileLoadResult loaded = Load(
      "REGEDIT4\r\n"
      "[-HKEY_CURRENT_USER\\Software\\OLD]\r\n"         // any case
      "[-HKEY_CURRENT_USER\\Software\\Never\\Was]\r\n"  // nothing to delete: fine
      "[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
      "\"GONE\"=-\r\n"
      "@=-\r\n"
      "\"absent\"=-\r\n"
      "[HKEY_CURRENT_USER\\Software\\Again\\Child]\r\n"
      "\"v\"=\"1\"\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Again]\r\n"
      "[HKEY_CURRENT_USER\\Software\\Again]\r\n",
      &reg);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(nullptr, FindNode(reg, kHkcu, {"Software", "Old"}));
  const Node* keep = FindNode(reg, kHkcu, {"Software", "Keep"});
  ASSERT_NE(nullptr, keep);
  ASSERT_EQ(1u, keep->values().size());
  EXPECT_EQ("stays", keep->values()[0].name());
  const Node* again = FindNode(reg, kHkcu, {"Software", "Again"});
  ASSERT_NE(nullptr, again);
  EXPECT_TRUE(again->children().empty());
}

TEST(RegistryFileTest, ReadsCodePage932TextInBothFormats) {
  // REGEDIT4: the bytes as they are, trail bytes '\' included, in key paths, names and strings.
  std::string v4 = "REGEDIT4\r\n[HKEY_CURRENT_USER\\" + kSoft + "\\" + kHyouji + "]\r\n\"" + kSoft +
                   "\"=\"" + kHyouji + kDash + "\"\r\n";
  MemoryRegistry reg4;
  RegistryFileLoadResult loaded = Load(v4, &reg4);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(Typed(kRegSz, Sz(kHyouji + kDash)), ValueOf(reg4, kHkcu, {kSoft, kHyouji}, kSoft));
  EXPECT_EQ(1u, reg4.Root(kHkcu).children().size());
  // Bytes that are not valid code page 932 pass through too.
  MemoryRegistry raw;
  ASSERT_TRUE(Load("REGEDIT4\r\n[HKCU\\K]\r\n\"\xa0\xfd\"=\"\xff\x80\"\r\n", &raw).ok());
  EXPECT_EQ(Typed(kRegSz, Sz("\xff\x80")), ValueOf(raw, kHkcu, {"K"}, "\xa0\xfd"));

  // Version 5: UTF-16 in the file, code page 932 in the store.
  MemoryRegistry reg5;
  loaded = Load(V5("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\ソフト\\表示]\r\n"
                   "\"ソフト\"=\"表示―\"\r\n"),
                &reg5);
  ASSERT_TRUE(loaded.ok()) << loaded.error->line << ": " << loaded.error->reason;
  EXPECT_EQ(Describe(reg4), Describe(reg5));
}

struct Malformed {
  const char* what;
  std::string bytes;
  int line;
};

std::vector<Malformed> MalformedFiles() {
  const std::string h = "REGEDIT4\r\n\r\n";
  const std::string k = "[HKEY_CURRENT_USER\\K]\r\n";
  const std::string h5 = "Windows Registry Editor Version 5.00\r\n\r\n";
  return {
      {"empty file", "", 1},
      {"no header", "[HKEY_CURRENT_USER\\K]\r\n", 1},
      {"version 5 header in an 8-bit file", h5 + k, 1},
      {"REGEDIT4 in UTF-16", V5("REGEDIT4\r\n"), 1},
      {"UTF-8 byte order mark", "\xef\xbb\xbf" + h, 1},
      {"unknown root", h + "[HKEY_CLASSES_ROOT\\x]\r\n", 3},
      {"other root", h + k + "\"a\"=\"b\"\r\n[HKEY_USERS\\.DEFAULT]\r\n", 5},
      {"no root", h + "[Software\\VTQ]\r\n", 3},
      {"root deleted", h + "[-HKEY_CURRENT_USER]\r\n", 3},
      {"empty key name", h + "[HKEY_CURRENT_USER\\a\\\\b]\r\n", 3},
      {"trailing backslash", h + "[HKEY_CURRENT_USER\\a\\]\r\n", 3},
      {"key without ]", h + "[HKEY_CURRENT_USER\\a\r\n", 3},
      {"text after ]", h + "[HKEY_CURRENT_USER\\a] x\r\n", 3},
      {"value before any key", h + "\"a\"=\"b\"\r\n" + k, 3},
      {"default value before any key", "REGEDIT4\r\n@=\"b\"\r\n", 2},
      {"value after a deleted key", h + k + "[-HKEY_CURRENT_USER\\K]\r\n\"a\"=\"b\"\r\n", 5},
      {"unterminated string", h + k + "\"a\"=\"b\"\r\n\"c\"=\"abc\r\n\"d\"=\"e\"\r\n", 5},
      {"string ending in a backslash", h + k + "\"a\"=\"abc\\\r\n", 4},
      {"unterminated name", h + k + "\"abc=\"x\r\n", 4},
      {"unknown escape", h + k + "\"a\"=\"\\q\"\r\n", 4},
      {"text after string", h + k + "\"a\"=\"b\" c\r\n", 4},
      {"missing =", h + k + "\"a\" \"b\"\r\n", 4},
      {"missing data", h + k + "\"a\"=\r\n", 4},
      {"unknown data kind", h + k + "\"a\"=str:x\r\n", 4},
      {"bad hex digit", h + k + "\"a\"=hex:01,0g\r\n", 4},
      {"three hex digits", h + k + "\"a\"=hex:123\r\n", 4},
      {"hex without commas", h + k + "\"a\"=hex:01 02\r\n", 4},
      {"double comma", h + k + "\"a\"=hex:01,,02\r\n", 4},
      {"bad hex on a continuation line", h + k + "\"a\"=hex:01,\\\r\n  02,\\\r\n  zz\r\n", 6},
      {"hex ends the file", h + k + "\"a\"=hex:01,\\", 4},
      // Whatever was appended would go on the value: a key added after it would become data.
      {"hex goes on past the final line end", h + k + "\"a\"=hex:01,02,\\ \r\n", 4},
      {"hex goes on past the final line end (LF)", h + k + "\"a\"=hex:01,\\\n\"b\"=hex:\\\n", 5},
      {"bad hex type", h + k + "\"a\"=hex(x):01\r\n", 4},
      {"hex type without colon", h + k + "\"a\"=hex(1)01\r\n", 4},
      {"hex type too big", h + k + "\"a\"=hex(123456789):01\r\n", 4},
      {"dword too long", h + k + "\"a\"=dword:123456789\r\n", 4},
      {"dword not hex", h + k + "\"a\"=dword:xyz\r\n", 4},
      {"dword empty", h + k + "\"a\"=dword:\r\n", 4},
      {"dword with text after", h + k + "\"a\"=dword:12 34\r\n", 4},
      {"text after -", h + k + "\"a\"=- x\r\n", 4},
      {"stray line", h + k + "abc\r\n", 4},
      {"NUL byte", h + k + std::string("\"a\"=\"b\0\"\r\n", 10), 4},
      {"truncated UTF-16", V5(h5 + k + "\"a\"=\"b\"\r\n").substr(0, 2 + 2 * 60 + 1), 3},
      {"truncated UTF-16 after a line end", V5(h5 + k) + "\x41", 4},
      {"no code page 932 form in a string", V5(h5 + k + "\"a\"=\"café\"\r\n"), 4},
      {"no code page 932 form in a name", V5(h5 + k + "\"😀\"=dword:1\r\n"), 4},
      {"no code page 932 form in a key", V5(h5 + "[HKEY_CURRENT_USER\\é]\r\n"), 3},
      // A best-fit conversion would write "¥" as 0x5C: a separator inside a key name, or a
      // second "Name\\" beside "Name\\" (both found by fuzzing).
      {"yen sign in a key", V5(h5 + "[HKEY_CURRENT_USER\\Software\\K¥relSE]\r\n"), 3},
      {"yen sign in a name", V5(h5 + k + "\"Name\\\\\"=\"a\"\r\n\"Name¥\"=\"b\"\r\n"), 5},
      {"wave dash in a string", V5(h5 + k + "\"a\"=\"1〜2\"\r\n"), 4},
      {"lone surrogate", V5(h5 + k + "\"") + "\x00\xd8"s + Utf16("\"=dword:1\r\n"), 4},
      {"odd UTF-16 text data", V5(h5 + k + "\"a\"=hex(1):41,00,\\\r\n  42\r\n"), 4},
      {"bad UTF-16 text data", V5(h5 + k + "\"a\"=hex(2):00,d8,00,00\r\n"), 4},
  };
}

TEST(RegistryFileTest, RefusesMalformedFilesWithTheirLine) {
  for (const Malformed& m : MalformedFiles()) {
    SCOPED_TRACE(m.what);
    MemoryRegistry reg;
    SetString(reg, kHkcu, "K", "before", "1");
    const std::string before = Save(reg, k4);
    RegistryFileLoadResult loaded = Load(m.bytes, &reg);
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(m.line, loaded.error->line) << loaded.error->reason;
    EXPECT_FALSE(loaded.error->reason.empty());
    // Nothing was applied, not even the lines before the bad one.
    EXPECT_EQ(before, Save(reg, k4));
  }
}

// A branch path with an empty name must not widen into its parent: nothing is read or written.
TEST(RegistryFileTest, RefusesBranchPathsWithAnEmptyName) {
  const std::string file =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"v\"=\"1\"\r\n";
  MemoryRegistry filled;
  ASSERT_TRUE(Load(file, &filled).ok());
  for (std::string path : {"Software\\", "\\Software", "Software\\\\Other"}) {
    SCOPED_TRACE(path);
    MemoryRegistry reg;
    EXPECT_FALSE(LoadRegistryFile(file, &reg, {{kHkcu, path}}).ok());
    EXPECT_FALSE(reg.Root(kHkcu).FindChild("Software"));
    EXPECT_FALSE(WriteBackRegistryFile(file, filled, {kHkcu, path}).ok());
  }
}

// A branch that is only checked refuses the file as a held one does, and holds nothing but
// the keys above a held branch (whether they exist is known); the write-back keeps its lines.
TEST(RegistryFileTest, BranchesOnlyCheckedAreRefusedAlikeAndNotHeld) {
  const RegistryBranch held{kHkcu, "Software\\VTQ\\KodrelSE"};
  const RegistryBranch checked{kHkcu, "Software\\VTQ\\Kodrel"};
  const std::string old_key = "[HKEY_CURRENT_USER\\Software\\VTQ\\Kodrel\\Client]\r\n";
  const std::string file = "REGEDIT4\r\n\r\n" + old_key + "\"a\"=\"\x83\x5c\"\r\n";
  for (const std::string& bad : {std::string("\"a\"=dword:1x\r\n"), std::string("junk\r\n")}) {
    SCOPED_TRACE(bad);
    MemoryRegistry reg, all;
    RegistryFileLoadResult loaded = LoadRegistryFile(file + bad, &reg, {held}, {checked});
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(5, loaded.error->line);
    EXPECT_FALSE(LoadRegistryFile(file + bad, &all, {held, checked}).ok());
    EXPECT_TRUE(LoadRegistryFile(file + bad, &all, {held}).ok());  // not read at all
  }
  MemoryRegistry reg;
  ASSERT_TRUE(LoadRegistryFile(file, &reg, {held}, {checked}).ok());
  EXPECT_TRUE(reg.Find(kHkcu, "Software\\VTQ"));
  EXPECT_FALSE(reg.Find(kHkcu, "Software\\VTQ\\Kodrel"));
  RegistryKeyPtr key;
  HeldBranchRegistry seen(reg, BranchesHeld(std::vector<RegistryBranch>{held}));
  EXPECT_EQ(kCantRead, seen.OpenKey(kHkcu, "Software\\VTQ\\Kodrel\\Client", kKeyQueryValue, &key));
  SetString(reg, kHkcu, held.path + "\\A", "n", "1");
  RegistryFileSaveResult saved = WriteBackRegistryFile(file, reg, held);
  ASSERT_TRUE(saved.ok());
  EXPECT_TRUE(saved.bytes.starts_with(file)) << saved.bytes;
  EXPECT_NE(std::string::npos, saved.bytes.find("KodrelSE\\A]\r\n\"n\"=\"1\"")) << saved.bytes;
}

// Where the file is read by branches, a key line that is not well formed is refused when it
// starts like a key of them (it may be one of them, its values unread), and left alone when it
// cannot be; so is a line of another key that would take whatever is added to the file's end.
TEST(RegistryFileTest, BranchesRefuseWhatCouldBeTheirsOrSpoilAnAddition) {
  const std::vector<RegistryBranch> branches{{kHkcu, "Software\\VTQ\\KodrelSE"},
                                             {kHkcu, "Software\\VTQ\\Kodrel"}};
  const std::string h = "REGEDIT4\r\n\r\n";
  const std::string other = "[HKEY_CURRENT_USER\\Software\\Other]\r\n";
  const struct {
    std::string text;
    int line;  // 0: accepted
  } cases[] = {
      {"[HKEY_CURRENT_USER\\Software\\VTQ\\Kodrel\\Client\\Client\r\n\"a\"=\"1\"\r\n", 3},
      {"[-HKCU\\software\\vtq\\kodrelse\\A\r\n", 3},
      {"[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE] x\r\n", 3},
      {"[HKEY_CURRENT_USER\\Software\\VTQ\\Kodrel\\\r\n", 3},
      {"[HKEY_CURRENT_USER\\Software\\VTQ\\Kod\r\n", 3},
      {"[HKEY_CURRENT_USER\\Software\r\n", 3},
      {"[HKEY_CURR\r\n", 3},
      {other + "\"a\"=hex:01,\\\r\n", 4},
      {other + "\"a\"=hex:01,\\", 4},
      {"[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelX\r\n", 0},
      {"[HKEY_CURRENT_USER\\Software\\Other\\Kodrel\r\n", 0},
      {"[HKEY_LOCAL_MACHINE\\Software\\VTQ\\Kodrel\r\n", 0},
      {"[HKEY_CURRENT_USERS\r\n", 0},
      {"[\r\n", 0},
      {other + "; C:\\\r\n", 0},
      {other + "\"a\"=hex:01,\\\r\n\r\n", 0},
      {other + "stray \x95\x5c\r\n", 0},  // "表": its second byte is a backslash
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MemoryRegistry reg;
    RegistryFileLoadResult loaded = LoadRegistryFile(h + c.text, &reg, branches);
    EXPECT_EQ(c.line, loaded.ok() ? 0 : loaded.error->line);
  }
}

TEST(RegistryFileTest, ReasonsNameTheProblem) {
  MemoryRegistry reg;
  RegistryFileLoadResult loaded = Load("REGEDIT4\r\n[HKEY_USERS\\x]\r\n", &reg);
  ASSERT_FALSE(loaded.ok());
  EXPECT_NE(std::string::npos, loaded.error->reason.find("HKEY_USERS")) << loaded.error->reason;
  loaded = Load("REGEDIT4\r\n[HKCU\\K]\r\n\"a\"=dword:1x\r\n", &reg);
  ASSERT_FALSE(loaded.ok());
  EXPECT_NE(std::string::npos, loaded.error->reason.find("dword")) << loaded.error->reason;
}

// --- Robustness ---

// Whatever the bytes, the loader returns: either an error with a line inside the file and the
// store untouched, or a store that saves and reads back to the same bytes.
void CheckArbitraryBytes(const std::string& bytes) {
  MemoryRegistry reg;
  SetString(reg, kHkcu, "Seed", "v", "1");
  const std::string before = Save(reg, k4);
  RegistryFileLoadResult loaded = LoadRegistryFile(bytes, &reg);
  if (!loaded.ok()) {
    size_t line_ends = 0;
    for (char c : bytes) line_ends += c == '\n' || c == '\r';
    EXPECT_GE(loaded.error->line, 1);
    EXPECT_LE(static_cast<size_t>(loaded.error->line), line_ends + 1);
    EXPECT_FALSE(loaded.error->reason.empty());
    EXPECT_EQ(before, Save(reg, k4));
    return;
  }
  RegistryFileSaveResult saved = SaveRegistryFile(reg, loaded.format);
  ASSERT_TRUE(saved.ok()) << saved.error->reason;
  MemoryRegistry again;
  RegistryFileLoadResult reloaded = LoadRegistryFile(saved.bytes, &again);
  ASSERT_TRUE(reloaded.ok()) << reloaded.error->line << ": " << reloaded.error->reason;
  EXPECT_EQ(Describe(reg), Describe(again));
  RegistryFileSaveResult resaved = SaveRegistryFile(again, loaded.format);
  ASSERT_TRUE(resaved.ok());
  EXPECT_EQ(saved.bytes, resaved.bytes);
}

TEST(RegistryFileTest, ArbitraryBytesNeverCrash) {
  testing::SeededRandom random(20261208);
  std::vector<std::string> seeds;
  for (const char* file : {"wine_hkcu_v5.reg", "wine_hklm_v5.reg", "wine_ours_v5.reg",
                           "input_v5.reg", "input_regedit4.reg", "ours_regedit4.reg"}) {
    seeds.push_back(ReadDataFile(file));
  }
  seeds.push_back("REGEDIT4\r\n[HKCU\\" + kSoft + "]\r\n\"" + kHyouji + "\"=\"\x81\"\r\n");

  // Every truncation of every seed.
  for (const std::string& seed : seeds) {
    for (size_t size = 0; size <= seed.size(); ++size) {
      CheckArbitraryBytes(seed.substr(0, size));
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  // Random changes to the seeds: flipped bytes, syntax characters and lead bytes dropped in.
  const char kInteresting[] = "\\\"[]@=-;,:\r\n\x81\x5c\x00\xd8\xdc\xff";
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = seeds[random() % seeds.size()];
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      size_t at = random() % bytes.size();
      switch (random() % 3) {
        case 0:
          bytes[at] = static_cast<char>(random());
          break;
        case 1:
          bytes[at] = kInteresting[random() % (sizeof kInteresting - 1)];
          break;
        default:
          bytes.erase(at, 1 + random() % 8);
          break;
      }
    }
    CheckArbitraryBytes(bytes);
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Plain noise, with and without a header in front.
  for (int round = 0; round < 1000; ++round) {
    std::string bytes(random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    if (round % 3 == 1) bytes = "REGEDIT4\r\n[HKCU\\K]\r\n" + bytes;
    if (round % 3 == 2) bytes = V5("Windows Registry Editor Version 5.00\r\n[HKCU\\K]\r\n") + bytes;
    CheckArbitraryBytes(bytes);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(RegistryFileTest, DeepPathsAreRefusedNotRecursedInto) {
  std::string path = "HKEY_CURRENT_USER";
  for (int i = 0; i < 600; ++i) path += "\\k";
  MemoryRegistry reg;
  RegistryFileLoadResult loaded = Load("REGEDIT4\r\n[" + path + "]\r\n", &reg);
  ASSERT_FALSE(loaded.ok());
  EXPECT_EQ(2, loaded.error->line);
}

// A write-back after the store lost keys or values drops their lines; every other byte stays,
// line ends outside the branch included.
TEST(RegistryFileTest, WriteBackDropsWhatTheStoreNoLongerHolds) {
  const RegistryBranch branch{kHkcu, "Software\\VTQ\\KodrelSE"};
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\n\"o\"=\"1\"\n\n";
  const std::string key_a = "[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE\\A]\r\n";
  const std::string a1 = "\"a1\"=\"1\"\r\n", a2 = "\"a2\"=dword:00000002\r\n";
  const std::string b =
      "[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE\\A\\B]\r\n\"b\"=hex:01,\\\r\n  02\r\n\r\n";
  const std::string tail = "[HKEY_CURRENT_USER\\Software\\Other2]\r\n; note\r\n\"t\"=\"1\"";
  const std::string original = head + key_a + a1 + a2 + "\r\n" + b + tail;
  const std::string kse = "Software\\VTQ\\KodrelSE";
  struct Case {
    const char* what;
    std::function<void(MemoryRegistry*)> edit;
    std::string expected;
  };
  const Case cases[] = {
      {"a key with its subkey",
       [&](MemoryRegistry* r) { EXPECT_TRUE(r->DeleteTree(kHkcu, kse + "\\A")); }, head + tail},
      {"a subkey", [&](MemoryRegistry* r) { EXPECT_TRUE(r->DeleteTree(kHkcu, kse + "\\A\\B")); },
       head + key_a + a1 + a2 + "\r\n" + tail},
      {"the whole branch", [&](MemoryRegistry* r) { EXPECT_TRUE(r->DeleteTree(kHkcu, kse)); },
       head + tail},
      {"the first value",
       [&](MemoryRegistry* r) { EXPECT_TRUE(r->DeleteValue(kHkcu, kse + "\\A", "A1")); },
       head + key_a + a2 + "\r\n" + b + tail},
      {"the last value, while one is added",
       [&](MemoryRegistry* r) {
         EXPECT_TRUE(r->DeleteValue(kHkcu, kse + "\\A", "a2"));
         SetString(*r, kHkcu, kse + "\\A", "n", "new");
       },
       head + key_a + a1 + "\"n\"=\"new\"\r\n\r\n" + b + tail},
      {"a value over two lines, changed",
       [&](MemoryRegistry* r) { SetDword(*r, kHkcu, kse + "\\A\\B", "b", 3); },
       head + key_a + a1 + a2 + "\r\n[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE\\A\\B]\r\n" +
           "\"b\"=dword:00000003\r\n\r\n" + tail},
  };
  for (const Case& c : cases) {
    MemoryRegistry reg;
    ASSERT_TRUE(LoadRegistryFile(original, &reg, {branch}).ok());
    c.edit(&reg);
    RegistryFileSaveResult saved = WriteBackRegistryFile(original, reg, branch);
    ASSERT_TRUE(saved.ok()) << c.what;
    EXPECT_EQ(c.expected, saved.bytes) << c.what;
  }
}

// What a Migrate adds and changes, taken back, gives the file back byte for byte.
TEST(RegistryFileTest, WriteBackOfAnEditTakenBackIsTheOriginal) {
  const RegistryBranch branch{kHkcu, "Software\\VTQ\\KodrelSE"};
  const std::string kse = "Software\\VTQ\\KodrelSE";
  const std::string text =
      "\r\n[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE\\A]\r\n\"a1\"=\"1\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"o\"=\"1\"\r\n\r\n";
  for (const std::string& original :
       {"REGEDIT4\r\n" + text,
        "\xff\xfe" + Utf16("Windows Registry Editor Version 5.00\r\n" + text)}) {
    MemoryRegistry reg;
    ASSERT_TRUE(LoadRegistryFile(original, &reg, {branch}).ok());
    SetString(reg, kHkcu, kse + "\\A", "a1", "2");
    SetString(reg, kHkcu, kse + "\\A", "a2", "added");
    SetDword(reg, kHkcu, kse + "\\New\\Sub", "n", 7);
    RegistryFileSaveResult migrated = WriteBackRegistryFile(original, reg, branch);
    ASSERT_TRUE(migrated.ok());
    MemoryRegistry again;
    ASSERT_TRUE(LoadRegistryFile(migrated.bytes, &again, {branch}).ok());
    ASSERT_EQ(Typed(kRegDword, DwordData(7)),
              ValueOf(again, kHkcu, {"Software", "VTQ", "KodrelSE", "New", "Sub"}, "n"));
    SetString(again, kHkcu, kse + "\\A", "a1", "1");
    EXPECT_TRUE(again.DeleteValue(kHkcu, kse + "\\A", "a2"));
    EXPECT_TRUE(again.DeleteTree(kHkcu, kse + "\\New"));
    RegistryFileSaveResult undone = WriteBackRegistryFile(migrated.bytes, again, branch);
    ASSERT_TRUE(undone.ok());
    EXPECT_EQ(original, undone.bytes);
  }
}

// A file that ends without a line end, or deletes keys and values after setting them, also
// comes back byte for byte: the lines a later deletion ended stay while the edit is there.
TEST(RegistryFileTest, WriteBackKeepsTheEndAndTheLinesDeletedLater) {
  const RegistryBranch branch{kHkcu, "Software\\VTQ\\KodrelSE"};
  const std::string kse = "Software\\VTQ\\KodrelSE";
  const std::string key = "[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE]\r\n";
  const std::string prv = "\"PRV_PATH\"=\"C:\\\\data\"\r\n";
  const std::string other = "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"o\"=\"1\"";
  const std::string texts[] = {
      "",
      "\r\n" + other,
      "\r\n" + key + "\"v\"=\"1\"",
      "\r\n" + key + prv + "\r\n[-HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE]\r\n",
      "\r\n" + key + prv + "\r\n[-HKCU\\Software\\VTQ]\r\n\r\n" + other,
      "\r\n" + key + prv + "\"prv_path\"=-\r\n\r\n" + other + "\r\n",
      "\r\n" + key + prv + "\"PRV_PATH\"=-",
  };
  for (const std::string& text : texts) {
    for (const std::string& original :
         {"REGEDIT4" + text, "\xff\xfe" + Utf16("Windows Registry Editor Version 5.00" + text)}) {
      SCOPED_TRACE(original);
      MemoryRegistry reg;
      ASSERT_TRUE(LoadRegistryFile(original, &reg, {branch}).ok());
      const bool there = reg.Find(kHkcu, kse);
      SetString(reg, kHkcu, kse, "added", "1");
      SetDword(reg, kHkcu, kse + "\\New\\Sub", "n", 7);
      RegistryFileSaveResult migrated = WriteBackRegistryFile(original, reg, branch);
      ASSERT_TRUE(migrated.ok());
      MemoryRegistry again;
      ASSERT_TRUE(LoadRegistryFile(migrated.bytes, &again, {branch}).ok()) << migrated.bytes;
      ASSERT_EQ(Typed(kRegSz, Sz("1")),
                ValueOf(again, kHkcu, {"Software", "VTQ", "KodrelSE"}, "added"));
      ASSERT_EQ(Typed(kRegDword, DwordData(7)),
                ValueOf(again, kHkcu, {"Software", "VTQ", "KodrelSE", "New", "Sub"}, "n"));
      for (const std::string& line : {prv, Utf16(prv)}) {
        if (original.find(line) != std::string::npos) {
          EXPECT_NE(std::string::npos, migrated.bytes.find(line)) << "the user's line went";
        }
      }
      if (there) {
        EXPECT_TRUE(again.DeleteValue(kHkcu, kse, "added"));
        EXPECT_TRUE(again.DeleteTree(kHkcu, kse + "\\New"));
      } else {
        EXPECT_TRUE(again.DeleteTree(kHkcu, kse));
      }
      RegistryFileSaveResult undone = WriteBackRegistryFile(migrated.bytes, again, branch);
      ASSERT_TRUE(undone.ok());
      EXPECT_EQ(original, undone.bytes);
    }
  }
}

// Texts far longer than the pieces they are converted and written in (double-byte characters,
// escapes and hex line wraps falling across every boundary) read, write back and read again
// as they are, and the write-back keeps the long line it does not change byte for byte.
TEST(RegistryFileTest, LongTextsCrossConversionPieces) {
  const RegistryBranch branch{kHkcu, "Software\\VTQ\\KodrelSE"};
  const std::string key = "Software\\VTQ\\KodrelSE\\A";
  std::string utf8, escaped;
  for (int i = 0; i < 120000; ++i) {  // over 1 MB, more than one piece written
    utf8 += "日本\\\"x" + std::to_string(i % 7);
    escaped += "日本\\\\\\\"x" + std::to_string(i % 7);
  }
  const std::string text = Cp932(utf8);
  const std::string long_line = "\"long\"=\"" + escaped + "\"\r\n";
  const std::string head = "\r\n[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE\\A]\r\n";
  for (RegistryFileFormat format : {k4, k5}) {
    SCOPED_TRACE(format == k4 ? "REGEDIT4" : "version 5");
    auto file = [&](const std::string& a1) {
      std::string utf8_file = head + long_line + "\"a1\"=\"" + a1 + "\"\r\n";
      return format == k4 ? "REGEDIT4\r\n" + Cp932(utf8_file)
                          : V5("Windows Registry Editor Version 5.00\r\n" + utf8_file);
    };
    const std::string original = file("1");
    MemoryRegistry reg;
    ASSERT_TRUE(LoadRegistryFile(original, &reg, {branch}).ok());
    EXPECT_EQ(Typed(kRegSz, Sz(text)),
              ValueOf(reg, kHkcu, {"Software", "VTQ", "KodrelSE", "A"}, "long"));
    SetString(reg, kHkcu, key, "a1", "2");
    std::string pieces;
    size_t count = 0;
    ASSERT_TRUE(WriteBackRegistryFile(original, reg, branch, [&](std::string_view piece) {
                  pieces.append(piece);
                  ++count;
                  return true;
                }).ok());
    EXPECT_EQ(file("2"), pieces);
    EXPECT_GT(count, 1u);

    // Rewritten whole: as a string, and as text data (hex, wrapped) of another type.
    SetString(reg, kHkcu, key, "long", text + "!");
    RegistryKeyPtr opened;
    ASSERT_EQ(kOk, reg.OpenKey(kHkcu, key, kKeySetValue, &opened));
    ASSERT_EQ(kOk, opened->SetValue("expand", kRegExpandSz, Sz(text)));
    RegistryFileSaveResult written = WriteBackRegistryFile(original, reg, branch);
    ASSERT_TRUE(written.ok());
    MemoryRegistry back;
    ASSERT_TRUE(LoadRegistryFile(written.bytes, &back, {branch}).ok());
    EXPECT_EQ(Typed(kRegSz, Sz(text + "!")),
              ValueOf(back, kHkcu, {"Software", "VTQ", "KodrelSE", "A"}, "long"));
    EXPECT_EQ(Typed(kRegExpandSz, Sz(text)),
              ValueOf(back, kHkcu, {"Software", "VTQ", "KodrelSE", "A"}, "expand"));
  }
}

}  // namespace
}  // namespace kdr
