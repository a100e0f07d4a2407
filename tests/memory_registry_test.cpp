#include "platform/memory/memory_registry.h"

#include <gtest/gtest.h>

#include "platform/memory/held_branches.h"
#include "platform/memory/limited_registry.h"
#include "tests/support/registry_values.h"

namespace kdr {
namespace {

TEST(MemoryRegistryTest, DeleteValueKeepsOrderOfTheRest) {
  MemoryRegistry reg;
  SetString(reg, RootKey::kCurrentUser, "K", "a", "1");
  SetString(reg, RootKey::kCurrentUser, "K", "b", "2");
  SetString(reg, RootKey::kCurrentUser, "K", "c", "3");
  ASSERT_TRUE(reg.DeleteValue(RootKey::kCurrentUser, "k", "B"));
  RegistryKeyPtr key;
  ASSERT_EQ(kOk, reg.OpenKey(RootKey::kCurrentUser, "K", kKeyQueryValue, &key));
  std::string name, data;
  uint32_t type = 0;
  ASSERT_EQ(kOk, key->EnumValue(1, &name, &type, &data));
  EXPECT_EQ("c", name);
  ASSERT_EQ(kOk, key->QueryValue("C", &type, &data));
  EXPECT_EQ(std::string("3\0", 2), data);
  EXPECT_EQ(kNoMoreItems, key->EnumValue(2, &name, &type, &data));
}

// A value's name size is stored in front of its name in one to three bytes here.
TEST(MemoryRegistryTest, NamesAndDataOfEverySizeKeepTheirBytes) {
  for (size_t name_size : {size_t{0}, size_t{1}, size_t{127}, size_t{128}, size_t{16384}}) {
    SCOPED_TRACE(name_size);
    for (bool from_file : {false, true}) {
      MemoryRegistry::Node node;
      std::string name(name_size, 'n'), data = "\x80\x81" + std::string(name_size, 'd');
      if (from_file) {
        node.PutValueAsRead(name, kRegBinary, data, 7);
      } else {
        node.PutValue(name, kRegBinary, data);
      }
      std::string same_size = "\x01\x02" + std::string(name_size, 'e');
      node.PutValue(name, kRegSz, same_size);  // rewritten in place
      node.PutValue("other", kRegBinary, "x");
      ASSERT_EQ(2u, node.values().size());
      const MemoryRegistry::Value& value = node.values()[0];
      EXPECT_EQ(name, value.name());
      EXPECT_EQ(same_size, value.data());
      EXPECT_EQ(kRegSz, value.type());
      EXPECT_TRUE(value.changed());
      EXPECT_EQ(from_file ? 7u : MemoryRegistry::kNoOrigin, value.origin());
      node.PutValue(name, kRegSz, "");
      EXPECT_EQ(name, node.FindValue(name)->name());
      EXPECT_EQ("", node.FindValue(name)->data());
      ASSERT_TRUE(node.RemoveValue(name));
      EXPECT_EQ(from_file ? 7u : MemoryRegistry::kNoOrigin, node.values()[0].origin());
      EXPECT_EQ("x", node.FindValue("OTHER")->data());
    }
  }
}

// What a file's format cannot hold is refused when set: a new key of a refused name, a refused
// value; a key already there opens whatever its name, and a handle without the right to set
// values refuses for that reason first.
TEST(MemoryRegistryTest, LimitsRefuseNewNamesAndValuesTheFormatCannotHold) {
  MemoryRegistry reg;
  SetString(reg, RootKey::kCurrentUser, "Software\\Old~", "v", "1");
  LimitedRegistry limited(
      reg, {[](std::string_view name) { return name.find('~') == std::string_view::npos; },
            [](std::string_view, uint32_t type, std::string_view) { return type != kRegBinary; }});
  RegistryKeyPtr key;
  EXPECT_EQ(kInvalidParam, limited.CreateKey(RootKey::kCurrentUser, "Software\\New~\\A", &key));
  EXPECT_EQ(nullptr, reg.Find(RootKey::kCurrentUser, "Software\\New~"));
  ASSERT_EQ(kOk, limited.CreateKey(RootKey::kCurrentUser, "Software\\Old~", &key));
  EXPECT_EQ(kInvalidParam, key->SetValue("b", kRegBinary, "x"));
  EXPECT_EQ(kOk, key->SetValue("s", kRegSz, std::string("x\0", 2)));
  EXPECT_EQ(nullptr, reg.Find(RootKey::kCurrentUser, "Software\\Old~")->FindValue("b"));
  ASSERT_EQ(kOk, limited.OpenKey(RootKey::kCurrentUser, "Software\\Old~", kKeyQueryValue, &key));
  EXPECT_EQ(kAccessDenied, key->SetValue("b", kRegBinary, "x"));
}

}  // namespace
}  // namespace kdr

namespace kdr {
namespace {

TEST(MemoryRegistryTest, SecondByteBackslashIsPartOfTheName) {
  // "ソ" is 0x83 0x5C in code page 932: one key, not a separator.
  MemoryRegistry reg;
  SetString(reg, RootKey::kCurrentUser, "Software\\\x83\x5c\x83\x74\x83\x67", "v", "x");
  RegistryKeyPtr key;
  ASSERT_EQ(kOk, reg.OpenKey(RootKey::kCurrentUser, "Software\\\x83\x5c\x83\x74\x83\x67",
                             kKeyEnumerateSubKeys, &key));
  RegistryKeyPtr software;
  ASSERT_EQ(kOk, reg.OpenKey(RootKey::kCurrentUser, "Software", kKeyEnumerateSubKeys, &software));
  std::string name;
  ASSERT_EQ(kOk, software->EnumKey(0, &name));
  EXPECT_EQ("\x83\x5c\x83\x74\x83\x67", name);
  EXPECT_EQ(kNoMoreItems, software->EnumKey(1, &name));
}

}  // namespace
}  // namespace kdr

namespace kdr {
namespace {

TEST(MemoryRegistryTest, ManyValuesFoundWithoutRegardToCaseBeforeAndAfterIndexing) {
  MemoryRegistry reg;
  for (int i = 0; i < 40; ++i) {
    SetDword(reg, RootKey::kCurrentUser, "K", "Value" + std::to_string(i), i);
    // Every value stays reachable as the key crosses from a scan to an index.
    for (int j = 0; j <= i; ++j) {
      const MemoryRegistry::Value* v =
          reg.Find(RootKey::kCurrentUser, "K")->FindValue("VALUE" + std::to_string(j));
      ASSERT_NE(nullptr, v) << i << " " << j;
      ASSERT_EQ(DwordData(j), v->data());
    }
  }
  // Replacing keeps the first spelling and the position; removing keeps the rest reachable.
  SetDword(reg, RootKey::kCurrentUser, "K", "value3", 99);
  MemoryRegistry::Node* k = reg.Find(RootKey::kCurrentUser, "K");
  EXPECT_EQ("Value3", k->values()[3].name());
  EXPECT_EQ(40u, k->values().size());
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(k->RemoveValue("value" + std::to_string(i)));
  k->Compact();
  EXPECT_EQ(nullptr, k->FindValue("Value3"));
  ASSERT_NE(nullptr, k->FindValue("value35"));
  EXPECT_EQ(DwordData(35), k->FindValue("VALUE35")->data());
  EXPECT_EQ("Value30", k->values()[0].name());
}

}  // namespace
}  // namespace kdr

namespace kdr {
namespace {

TEST(MemoryRegistryTest, SecondBytesThatAreLettersDoNotFold) {
  // "カード" and "ニード": 0x83 0x4A and 0x83 0x6A ("J" and "j" as second bytes).
  const std::string card = "\x83\x4a\x81\x5b\x83\x68", need = "\x83\x6a\x81\x5b\x83\x68";
  MemoryRegistry reg;
  SetString(reg, RootKey::kCurrentUser, "Software\\" + card, card, "1");
  SetString(reg, RootKey::kCurrentUser, "Software\\" + card, need, "2");
  SetString(reg, RootKey::kCurrentUser, "Software\\" + need, "v", "3");
  RegistryKeyPtr software, key;
  ASSERT_EQ(kOk, reg.OpenKey(RootKey::kCurrentUser, "SOFTWARE", kKeyEnumerateSubKeys, &software));
  std::string name, data;
  uint32_t type = 0;
  EXPECT_EQ(kOk, software->EnumKey(1, &name));
  ASSERT_EQ(kOk, reg.OpenKey(RootKey::kCurrentUser, "software\\" + card, kKeyQueryValue, &key));
  ASSERT_EQ(kOk, key->QueryValue(card, &type, &data));
  EXPECT_EQ(std::string("1\0", 2), data);
  ASSERT_EQ(kOk, key->QueryValue(need, &type, &data));
  EXPECT_EQ(std::string("2\0", 2), data);
}

}  // namespace
}  // namespace kdr

namespace kdr {
namespace {

// A value set from its own bytes (a caller holding the view it read) keeps them, whether the
// data keeps its size or not, and in a key with an index of names as in one without.
TEST(MemoryRegistryTest, ValueSetFromItsOwnBytes) {
  for (int values : {1, 20}) {
    MemoryRegistry reg;
    MemoryRegistry::Node* k = reg.Create(RootKey::kCurrentUser, "K");
    for (int i = 0; i < values; ++i) k->PutValue("v" + std::to_string(i), kRegBinary, "abcdef");
    const MemoryRegistry::Value* v = k->FindValue("V0");
    k->PutValue(v->name(), kRegSz, v->data().substr(1));  // shorter
    EXPECT_EQ("bcdef", k->FindValue("v0")->data()) << values;
    k->PutValue(v->name(), kRegSz, v->data().substr(2, 3));  // other bytes, shorter
    EXPECT_EQ("def", k->FindValue("v0")->data()) << values;
    k->PutValue(v->name(), kRegBinary, v->data());  // same size, same bytes
    EXPECT_EQ("def", k->FindValue("v0")->data()) << values;
    EXPECT_EQ(kRegBinary, k->FindValue("v0")->type()) << values;
    EXPECT_EQ("v0", k->FindValue("V0")->name()) << values;
  }
}

// In a key with many values, names that differ only in a double-byte character's second byte
// (0x5C, or a letter) stay apart, and ASCII letters still fold.
TEST(MemoryRegistryTest, IndexedNamesFoldOnlyAsciiLetters) {
  const std::string so = "\x83\x5c", card = "\x83\x4a", need = "\x83\x6a";
  MemoryRegistry reg;
  MemoryRegistry::Node* k = reg.Create(RootKey::kCurrentUser, "K");
  for (int i = 0; i < 20; ++i) k->PutValue("filler" + std::to_string(i), kRegDword, "0000");
  k->PutValue(card + "a", kRegSz, "1");
  k->PutValue(need + "a", kRegSz, "2");
  k->PutValue(so + "a", kRegSz, "3");
  EXPECT_EQ(23u, k->values().size());
  EXPECT_EQ("1", k->FindValue(card + "A")->data());
  EXPECT_EQ("2", k->FindValue(need + "A")->data());
  EXPECT_EQ("3", k->FindValue(so + "A")->data());
  ASSERT_TRUE(k->RemoveValue(so + "A"));
  EXPECT_EQ(nullptr, k->FindValue(so + "a"));
  EXPECT_EQ("2", k->FindValue(need + "a")->data());
}

// A store that holds part of a registry never answers "not found" for the rest: a key outside
// its branches, or the values and subkeys of a key above one, are refused, and the first such
// request is kept.
TEST(MemoryRegistryTest, HoldsOnlyItsBranches) {
  constexpr auto kHkcu = RootKey::kCurrentUser;
  constexpr auto kHklm = RootKey::kLocalMachine;
  struct Case {
    RootKey root;
    std::string path;
    RegistryView view;
    Status open;    // OpenKey
    Status values;  // QueryValue through the handle, when it opened
  };
  const Case cases[] = {
      {kHkcu, "Software\\VTQ\\KodrelSE\\A", RegistryView::kDefault, kOk, kNotFound},
      {kHkcu, "software\\vtq\\kodrelse", RegistryView::kDefault, kOk, kOk},
      {kHkcu, "Software\\VTQ\\KodrelSE\\Missing", RegistryView::kDefault, kNotFound, kOk},
      {kHkcu, "Software\\VTQ", RegistryView::kDefault, kOk, kCantRead},
      {kHkcu, "Software\\VTQ\\Kodrel", RegistryView::kDefault, kCantRead, kOk},
      {kHkcu, "Software\\VTQ\\Kodrel\\A", RegistryView::kDefault, kCantRead, kOk},
      {kHkcu, "Software\\VTQ\\KodrelSEX", RegistryView::kDefault, kCantRead, kOk},
      {kHkcu, "Software\\Other", RegistryView::kDefault, kCantRead, kOk},
      {kHklm, "Software\\VTQ\\KodrelSE", RegistryView::kDefault, kCantRead, kOk},
      {kHklm, "Software\\VTQ", RegistryView::k32Bit, kOk, kNotFound},
      {kHklm, "Software\\VTQ", RegistryView::kDefault, kCantRead, kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    MemoryRegistry store;
    MemoryRegistry& reg = store;
    SetString(reg, kHkcu, "Software\\VTQ\\KodrelSE", "v", "1");
    SetString(reg, kHkcu, "Software\\VTQ\\KodrelSE\\A", "a", "1");
    SetString(reg, kHkcu, "Software\\VTQ", "top", "1");
    SetString(reg, kHkcu, "Software\\VTQ\\Kodrel\\A", "a", "1");
    SetString(reg, kHklm, "Software\\WOW6432Node\\VTQ", "w", "1");
    HeldBranchRegistry held(store, BranchesHeld({{kHkcu, "Software\\VTQ\\KodrelSE"},
                                                 {kHklm, "Software\\WOW6432Node\\VTQ"}}));
    RegistryKeyPtr key;
    ASSERT_EQ(c.open, held.OpenKey(c.root, c.path, kKeyQueryValue | kKeySetValue, &key, c.view));
    uint32_t type = 0;
    std::string data;
    if (key) {
      EXPECT_EQ(c.values, key->QueryValue("v", &type, &data));
      if (c.values == kCantRead) {
        EXPECT_EQ(kCantRead, key->SetValue("v", kRegSz, "x"));
        EXPECT_EQ(kCantRead, key->EnumValue(0, &data, &type, &data));
      }
    }
    bool refused = c.open == kCantRead || (key && c.values == kCantRead);
    EXPECT_EQ(refused, !held.unheld_request().empty()) << held.unheld_request();
    // Creating and deleting are refused where opening is.
    if (c.open == kCantRead) {
      EXPECT_EQ(kCantRead, held.CreateKey(c.root, c.path + "\\New", &key));
      EXPECT_EQ(kCantRead, held.DeleteKey(c.root, c.path));
    }
  }
  // The first request refused is the one kept; holding every key again refuses nothing.
  MemoryRegistry store;
  HeldBranchRegistry held(store, BranchesHeld({{kHkcu, "Software\\VTQ\\KodrelSE"}}));
  RegistryKeyPtr key;
  EXPECT_EQ(kCantRead, held.OpenKey(kHkcu, "Software\\Other", kKeyQueryValue, &key));
  EXPECT_EQ(kCantRead, held.OpenKey(kHkcu, "Software\\Else", kKeyQueryValue, &key));
  EXPECT_EQ("HKEY_CURRENT_USER\\Software\\Other", held.unheld_request());
  HeldBranchRegistry all(store, BranchesHeld(std::vector<RegistryBranch>{}));
  EXPECT_EQ(kNotFound, all.OpenKey(kHkcu, "Software\\Else", kKeyQueryValue, &key));
}

}  // namespace
}  // namespace kdr
