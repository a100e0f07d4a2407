// The Registry contract, run against every implementation this build has: the in-memory
// registry always, and those its platform's folder registers.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/memory/memory_registry.h"
#include "platform/registry.h"
#include "tests/registry_harness.h"

namespace kdr {
namespace {

constexpr RootKey kUser = RootKey::kCurrentUser;
constexpr uint32_t kQueryEnum = kKeyQueryValue | kKeyEnumerateSubKeys;

// Code page 932 text: "表示名" (the first and last bytes of 表 and 能 are 0x95 0x5C and
// 0x94 0x5C), "ソフト" and a half-width katakana "ｱ" (one byte, 0xB1).
const std::string kCp932Name = "\x95\x5c\x8e\xa6\x96\xbc\x94\x5c";
const std::string kCp932Text = "\x83\x5c\x83\x74\x83\x67\xb1";

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

using contract::RegistryHarness;
using contract::RegistryImplementation;

class MemoryHarness : public RegistryHarness {
 public:
  MemoryHarness() { registry_.Create(kUser, base_); }
  Registry& registry() override { return registry_; }
  const std::string& base() const override { return base_; }
  std::optional<uint32_t> DirectDword(const std::string& path, const std::string& name) override {
    const MemoryRegistry::Node* node = registry_.Find(kUser, path);
    const MemoryRegistry::Value* value = node ? node->FindValue(name) : nullptr;
    if (!value || value->type() != kRegDword || value->data().size() != 4) return std::nullopt;
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i)
      number = (number << 8) | static_cast<unsigned char>(value->data()[i]);
    return number;
  }

 private:
  MemoryRegistry registry_;
  std::string base_ = "Software\\kdr4tose-contract";
};

std::unique_ptr<RegistryHarness> MakeMemory() { return std::make_unique<MemoryHarness>(); }

const bool memory_registered = contract::RegisterImplementation("Memory", &MakeMemory);

struct Value {
  std::string name;
  uint32_t type;
  std::string data;
  friend bool operator==(const Value&, const Value&) = default;
  friend bool operator<(const Value& a, const Value& b) { return a.name < b.name; }
};

void PrintTo(const Value& value, std::ostream* os) {
  *os << "{" << testing::PrintToString(value.name) << ", " << value.type << ", "
      << testing::PrintToString(value.data) << "}";
}

class RegistryContractTest : public testing::TestWithParam<RegistryImplementation> {
 protected:
  void SetUp() override {
    harness_ = GetParam().make();
    RegistryKeyPtr key;
    ASSERT_EQ(kOk, reg().OpenKey(kUser, base(), kQueryEnum, &key)) << base();
    std::string name;
    ASSERT_EQ(kNoMoreItems, key->EnumKey(0, &name)) << "the scratch key is not empty";
  }

  Registry& reg() { return harness_->registry(); }
  const std::string& base() const { return harness_->base(); }
  std::string Path(const std::string& relative) const {
    return relative.empty() ? base() : base() + "\\" + relative;
  }

  RegistryKeyPtr Open(const std::string& relative, uint32_t access = kQueryEnum) {
    RegistryKeyPtr key;
    EXPECT_EQ(kOk, reg().OpenKey(kUser, Path(relative), access, &key)) << relative;
    return key;
  }
  RegistryKeyPtr Create(const std::string& relative) {
    RegistryKeyPtr key;
    EXPECT_EQ(kOk, reg().CreateKey(kUser, Path(relative), &key)) << relative;
    return key;
  }

  // Every subkey name of an open key, by index from 0 until kNoMoreItems.
  static std::vector<std::string> Subkeys(RegistryKey& key) {
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
      std::string name;
      Status status = key.EnumKey(i, &name);
      if (status == kNoMoreItems) break;
      EXPECT_EQ(kOk, status) << "index " << i;
      if (status != kOk || i > 10000) break;
      names.push_back(name);
    }
    return names;
  }
  static std::vector<Value> Values(RegistryKey& key) {
    std::vector<Value> values;
    for (uint32_t i = 0;; ++i) {
      Value value;
      Status status = key.EnumValue(i, &value.name, &value.type, &value.data);
      if (status == kNoMoreItems) break;
      EXPECT_EQ(kOk, status) << "index " << i;
      if (status != kOk || i > 10000) break;
      values.push_back(value);
    }
    return values;
  }

  std::unique_ptr<RegistryHarness> harness_;
};

TEST_P(RegistryContractTest, MissingKeysAndValuesAreNotFound) {
  RegistryKeyPtr key;
  EXPECT_EQ(kNotFound, reg().OpenKey(kUser, Path("missing"), kKeyQueryValue, &key));
  EXPECT_EQ(nullptr, key) << "left untouched";
  EXPECT_EQ(kNotFound, reg().OpenKey(kUser, Path("missing\\deeper"), kKeyQueryValue, &key));

  RegistryKeyPtr base_key = Open("");
  ASSERT_NE(nullptr, base_key);
  uint32_t type = 77;
  std::string data = "untouched";
  EXPECT_EQ(kNotFound, base_key->QueryValue("missing", &type, &data));
  EXPECT_EQ(77u, type);
  EXPECT_EQ("untouched", data);
}

TEST_P(RegistryContractTest, CreateKeyMakesEveryMissingParentAndOpensAnExistingKey) {
  {
    RegistryKeyPtr created = Create("a\\b\\c");
    ASSERT_NE(nullptr, created);
    EXPECT_EQ(kOk, created->SetValue("v", kRegSz, Sz("deep")));
  }
  EXPECT_NE(nullptr, Open("a"));
  EXPECT_NE(nullptr, Open("a\\b"));
  RegistryKeyPtr c = Open("a\\b\\c");
  ASSERT_NE(nullptr, c);
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kOk, c->QueryValue("v", &type, &data));
  EXPECT_EQ(Sz("deep"), data);

  // Creating it again opens it, with its value.
  RegistryKeyPtr again = Create("a\\b\\c");
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(kOk, again->QueryValue("v", &type, &data));
  EXPECT_EQ(Sz("deep"), data);
  // Created keys can be queried, set and enumerated.
  EXPECT_EQ(kNoMoreItems, again->EnumKey(0, &data));
  EXPECT_EQ(kOk, again->SetValue("w", kRegDword, DwordData(1)));
}

TEST_P(RegistryContractTest, KeyNamesIgnoreCaseAndKeepTheCaseTheyWereCreatedWith) {
  Create("MixedCase\\Inner");
  RegistryKeyPtr by_other_case = Create("MIXEDCASE\\inner");
  ASSERT_NE(nullptr, by_other_case);
  EXPECT_EQ(kOk, by_other_case->SetValue("x", kRegSz, Sz("1")));
  RegistryKeyPtr opened = Open("mixedcase\\INNER");
  ASSERT_NE(nullptr, opened);
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kOk, opened->QueryValue("x", &type, &data));

  RegistryKeyPtr base_key = Open("");
  EXPECT_EQ(std::vector<std::string>{"MixedCase"}, Subkeys(*base_key));
  RegistryKeyPtr mixed = Open("MIXEDcase");
  EXPECT_EQ(std::vector<std::string>{"Inner"}, Subkeys(*mixed));
}

TEST_P(RegistryContractTest, SubkeysComeInAscendingOrderIgnoringCase) {
  for (const char* name : {"delta", "Bravo", "alpha", "_under", "Charlie", "a1", "ALPHA2", "9"}) {
    Create(name);
  }
  RegistryKeyPtr key = Open("");
  // Windows keeps subkeys sorted by their upper-cased names, so '_' (0x5F) sorts after the
  // letters and digits before them. Wine compares lower-cased names and puts '_' before letters.
  std::vector<std::string> expected{"9",     "a1",      "alpha", "ALPHA2",
                                    "Bravo", "Charlie", "delta", "_under"};
  if (harness_->IsWine()) {
    expected = {"9", "_under", "a1", "alpha", "ALPHA2", "Bravo", "Charlie", "delta"};
  }
  EXPECT_EQ(expected, Subkeys(*key));
}

TEST_P(RegistryContractTest, EnumerationByIndexEndsWithNoMoreItems) {
  RegistryKeyPtr key = Create("k");
  ASSERT_NE(nullptr, key);
  Create("k\\one");
  Create("k\\two");
  ASSERT_EQ(kOk, key->SetValue("v1", kRegSz, Sz("1")));
  ASSERT_EQ(kOk, key->SetValue("v2", kRegSz, Sz("2")));
  RegistryKeyPtr reader = Open("k");
  std::string name = "untouched";
  uint32_t type = 99;
  std::string data = "untouched";
  EXPECT_EQ(kOk, reader->EnumKey(1, &name));
  EXPECT_EQ("two", name);
  EXPECT_EQ(kOk, reader->EnumKey(0, &name));
  EXPECT_EQ("one", name);
  name = "untouched";
  EXPECT_EQ(kNoMoreItems, reader->EnumKey(2, &name));
  EXPECT_EQ(kNoMoreItems, reader->EnumKey(1000, &name));
  EXPECT_EQ("untouched", name);
  EXPECT_EQ(kOk, reader->EnumValue(1, &name, &type, &data));
  name = "untouched";
  type = 99;
  data = "untouched";
  EXPECT_EQ(kNoMoreItems, reader->EnumValue(2, &name, &type, &data));
  EXPECT_EQ(kNoMoreItems, reader->EnumValue(1000, &name, &type, &data));
  EXPECT_EQ("untouched", name);
  EXPECT_EQ(99u, type);
  EXPECT_EQ("untouched", data);
  // A key without subkeys or values ends at once.
  RegistryKeyPtr empty = Open("k\\one");
  EXPECT_EQ(kNoMoreItems, empty->EnumKey(0, &name));
  EXPECT_EQ(kNoMoreItems, empty->EnumValue(0, &name, &type, &data));
}

TEST_P(RegistryContractTest, ValuesAreEnumeratedWhole) {
  RegistryKeyPtr key = Create("values");
  ASSERT_EQ(kOk, key->SetValue("zeta", kRegSz, Sz("last made first")));
  ASSERT_EQ(kOk, key->SetValue("Alpha", kRegDword, DwordData(7)));
  ASSERT_EQ(kOk, key->SetValue("mid", kRegBinary, std::string("\0\1\2", 3)));
  ASSERT_EQ(kOk, key->SetValue("", kRegSz, Sz("default")));
  std::vector<Value> made{{"zeta", kRegSz, Sz("last made first")},
                          {"Alpha", kRegDword, DwordData(7)},
                          {"mid", kRegBinary, std::string("\0\1\2", 3)},
                          {"", kRegSz, Sz("default")}};
  std::vector<Value> listed = Values(*Open("values"));
  if (harness_->ValuesInCreationOrder()) {
    EXPECT_EQ(made, listed);
  } else {
    // Wine lists values sorted by name; Windows keeps the order they were made in.
    std::sort(made.begin(), made.end(),
              [](const Value& a, const Value& b) { return Cp932NoCaseLess()(a.name, b.name); });
    EXPECT_EQ(made, listed);
  }
}

TEST_P(RegistryContractTest, AccessRightsAreCheckedPerHandle) {
  Create("guarded\\child")->SetValue("v", kRegSz, Sz("x"));
  uint32_t type = 0;
  std::string data;
  std::string name;

  RegistryKeyPtr set_only = Open("guarded", kKeySetValue);
  ASSERT_NE(nullptr, set_only);
  EXPECT_EQ(kAccessDenied, set_only->QueryValue("v", &type, &data));
  EXPECT_EQ(kAccessDenied, set_only->EnumValue(0, &name, &type, &data));
  EXPECT_EQ(kAccessDenied, set_only->EnumKey(0, &name));
  EXPECT_EQ(kOk, set_only->SetValue("v", kRegSz, Sz("y")));

  RegistryKeyPtr query_only = Open("guarded", kKeyQueryValue);
  ASSERT_NE(nullptr, query_only);
  EXPECT_EQ(kAccessDenied, query_only->SetValue("v", kRegSz, Sz("z")));
  EXPECT_EQ(kAccessDenied, query_only->EnumKey(0, &name));
  EXPECT_EQ(kOk, query_only->QueryValue("v", &type, &data));
  EXPECT_EQ(Sz("y"), data);
  // Also where there is nothing to list.
  EXPECT_EQ(kAccessDenied, Open("guarded\\child", kKeyQueryValue)->EnumKey(0, &name));

  RegistryKeyPtr enum_only = Open("guarded", kKeyEnumerateSubKeys);
  ASSERT_NE(nullptr, enum_only);
  EXPECT_EQ(kOk, enum_only->EnumKey(0, &name));
  EXPECT_EQ("child", name);
  EXPECT_EQ(kAccessDenied, enum_only->QueryValue("v", &type, &data));
}

TEST_P(RegistryContractTest, DwordDataIsLittleEndian) {
  RegistryKeyPtr key = Create("numbers");
  ASSERT_EQ(kOk, key->SetValue("n", kRegDword, DwordData(0x12345678)));
  EXPECT_EQ(std::string("\x78\x56\x34\x12"), DwordData(0x12345678));
  EXPECT_EQ(std::optional<uint32_t>(0x12345678), harness_->DirectDword(Path("numbers"), "n"));
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(kOk, key->QueryValue("n", &type, &data));
  EXPECT_EQ(kRegDword, type);
  EXPECT_EQ(std::string("\x78\x56\x34\x12"), data);
}

TEST_P(RegistryContractTest, ReplacingAValueKeepsItsNameAndTakesTheNewType) {
  RegistryKeyPtr key = Create("replace");
  ASSERT_EQ(kOk, key->SetValue("Setting", kRegSz, Sz("text")));
  ASSERT_EQ(kOk, key->SetValue("SETTING", kRegDword, DwordData(5)));
  ASSERT_EQ(kOk, key->SetValue("Other", kRegSz, Sz("o")));
  ASSERT_EQ(kOk, key->SetValue("other", kRegBinary, "bin"));
  std::vector<Value> listed = Values(*Open("replace"));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(
      (std::vector<Value>{{"Other", kRegBinary, "bin"}, {"Setting", kRegDword, DwordData(5)}}),
      listed);
  EXPECT_EQ(std::optional<uint32_t>(5), harness_->DirectDword(Path("replace"), "setting"));
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kOk, key->QueryValue("sEtTiNg", &type, &data));
  EXPECT_EQ(kRegDword, type);
}

TEST_P(RegistryContractTest, LongNamesAndDataAreReadWhole) {
  std::string long_name;
  for (int i = 0; i < 300; ++i) long_name.push_back(static_cast<char>('a' + i % 26));
  std::string big(100 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 256);
  std::string long_text(5000, 'x');
  // 200 double-byte characters: 400 bytes, within the 255-character limit of key names.
  std::string long_key;
  for (int i = 0; i < 200; ++i) long_key += "\x88\x9f";  // 亜

  RegistryKeyPtr key = Create("long");
  ASSERT_EQ(kOk, key->SetValue(long_name, kRegBinary, big));
  ASSERT_EQ(kOk, key->SetValue("text", kRegSz, Sz(long_text)));
  Create("long\\" + long_key);

  RegistryKeyPtr reader = Open("long");
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(kOk, reader->QueryValue(long_name, &type, &data));
  EXPECT_EQ(kRegBinary, type);
  EXPECT_TRUE(data == big) << "read " << data.size() << " bytes of " << big.size();
  ASSERT_EQ(kOk, reader->QueryValue("text", &type, &data));
  EXPECT_EQ(Sz(long_text), data);

  std::vector<Value> listed = Values(*reader);
  std::sort(listed.begin(), listed.end());
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ(long_name, listed[0].name);
  EXPECT_TRUE(listed[0].data == big) << "enumerated " << listed[0].data.size() << " bytes";
  EXPECT_EQ((Value{"text", kRegSz, Sz(long_text)}), listed[1]);
  EXPECT_EQ(std::vector<std::string>{long_key}, Subkeys(*reader));
  EXPECT_NE(nullptr, Open("long\\" + long_key));
}

TEST_P(RegistryContractTest, ValuesGrownAfterTheFirstEnumerationAreReadWhole) {
  // The reader sizes its buffers by what the key held when it first enumerated it; larger
  // values set afterwards through another handle must still be read whole.
  std::string long_name = "b" + std::string(299, 'n');
  std::string big(70 * 1024, 'd');
  RegistryKeyPtr reader = Create("growing");
  ASSERT_EQ(kOk, reader->SetValue("a", kRegSz, Sz("s")));
  EXPECT_EQ((std::vector<Value>{{"a", kRegSz, Sz("s")}}), Values(*reader));
  ASSERT_EQ(kOk, Open("growing", kKeySetValue)->SetValue(long_name, kRegBinary, big));
  ASSERT_EQ(kOk, Open("growing", kKeySetValue)->SetValue("c", kRegSz, Sz(std::string(600, 'x'))));
  std::vector<Value> listed = Values(*reader);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ((std::vector<Value>{{"a", kRegSz, Sz("s")},
                                {long_name, kRegBinary, big},
                                {"c", kRegSz, Sz(std::string(600, 'x'))}}),
            listed);
}

TEST_P(RegistryContractTest, ValuesSetThroughTheKeyAreListedByItsNextPass) {
  Create("passes");
  RegistryKeyPtr key = Open("passes", kQueryEnum | kKeySetValue);
  ASSERT_EQ(kOk, key->SetValue("a", kRegSz, Sz("1")));
  EXPECT_EQ(std::vector<std::string>{}, Subkeys(*key));
  ASSERT_EQ(kOk, key->SetValue("b", kRegSz, Sz("2")));
  std::vector<Value> listed = Values(*key);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ((std::vector<Value>{{"a", kRegSz, Sz("1")}, {"b", kRegSz, Sz("2")}}), listed);
}

TEST_P(RegistryContractTest, Cp932NamesAndHighBytesPassThrough) {
  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<char>(i));
  RegistryKeyPtr key = Create(kCp932Name + "\\" + kCp932Text);
  ASSERT_NE(nullptr, key);
  ASSERT_EQ(kOk, key->SetValue(kCp932Name, kRegSz, Sz(kCp932Text)));
  ASSERT_EQ(kOk, key->SetValue(kCp932Text, kRegBinary, all_bytes));

  RegistryKeyPtr top = Open(kCp932Name);
  ASSERT_NE(nullptr, top);
  EXPECT_EQ(std::vector<std::string>{kCp932Text}, Subkeys(*top));
  EXPECT_EQ(std::vector<std::string>{kCp932Name}, Subkeys(*Open("")));
  RegistryKeyPtr inner = Open(kCp932Name + "\\" + kCp932Text);
  ASSERT_NE(nullptr, inner);
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(kOk, inner->QueryValue(kCp932Name, &type, &data));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(Sz(kCp932Text), data);
  ASSERT_EQ(kOk, inner->QueryValue(kCp932Text, &type, &data));
  EXPECT_EQ(all_bytes, data);
  std::vector<Value> listed = Values(*inner);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ((std::vector<Value>{{kCp932Text, kRegBinary, all_bytes},
                                {kCp932Name, kRegSz, Sz(kCp932Text)}}),
            listed);
}

TEST_P(RegistryContractTest, AnEmptyPathOpensTheRootItself) {
  RegistryKeyPtr root;
  ASSERT_EQ(kOk, reg().OpenKey(kUser, "", kQueryEnum, &root));
  ASSERT_NE(nullptr, root);
  std::vector<std::string> names = Subkeys(*root);
  EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& n) {
    return Cp932EqualNoCase(n, "Software");
  })) << testing::PrintToString(names);
  // And the key below it is reached from there as from anywhere else.
  RegistryKeyPtr software;
  ASSERT_EQ(kOk, reg().OpenKey(kUser, "SOFTWARE", kQueryEnum, &software));
  names = Subkeys(*software);
  std::string own = base().substr(base().find('\\') + 1);
  EXPECT_TRUE(std::find(names.begin(), names.end(), own) != names.end()) << own;
}

TEST_P(RegistryContractTest, KeysOpenInEitherViewBelowTheUsersSoftware) {
  Create("viewed");
  // HKEY_CURRENT_USER\Software is shared by both views.
  for (RegistryView view : {RegistryView::kDefault, RegistryView::k32Bit, RegistryView::k64Bit}) {
    RegistryKeyPtr key;
    EXPECT_EQ(kOk, reg().OpenKey(kUser, Path("viewed"), kKeyQueryValue, &key, view));
    EXPECT_NE(nullptr, key);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllRegistries, RegistryContractTest,
    testing::ValuesIn(contract::Implementations<std::unique_ptr<RegistryHarness>>()),
    contract::ImplementationName<std::unique_ptr<RegistryHarness>>);

}  // namespace
}  // namespace kdr
