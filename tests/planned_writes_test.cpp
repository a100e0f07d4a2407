// Holding an import to the writes its plan saw.
#include "store/planned_writes.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory/memory_registry.h"

namespace kdr {
namespace {

const std::string kBranch = "Software\\VTQ\\KodrelSE\\";
const std::string kSo = "\x83\x5c";      // a character whose second byte is a backslash
const std::string kHyo = "\x95\x5c";     // another
const std::string kSmallA = "\x83\x61";  // second byte a lowercase ASCII letter

// The plan's import: these keys created, these values set (one of them twice).
PlannedWrites Planned() {
  MemoryRegistry incoming;
  PlannedWrites writes;
  PlannedWritesRegistry recorder(incoming, writes, PlannedWritesRegistry::Mode::kRecord);
  auto set = [&](const std::string& key, const char* name, uint32_t type, std::string_view data) {
    RegistryKeyPtr k;
    ASSERT_EQ(kOk, recorder.CreateKey(RootKey::kCurrentUser, key, &k));
    ASSERT_EQ(kOk, k->SetValue(name, type, data));
  };
  set(kBranch + "App", "Name", kRegSz, std::string("one\0", 4));
  set(kBranch + kSo, "Rows", kRegDword, DwordData(100));
  set(kBranch + kSmallA + "\\" + kSo, "X", kRegSz, std::string("x\0", 2));
  set(kBranch + "Twice", "V", kRegSz, std::string("first\0", 6));
  set(kBranch + "Twice", "V", kRegSz, std::string("last\0", 5));
  set(kBranch + "Same", "V", kRegSz, std::string("same\0", 5));
  set(kBranch + "Same", "V", kRegSz, std::string("same\0", 5));
  writes.Seal();
  return writes;
}

TEST(PlannedWritesTest, OnlyWhatThePlanSawIsWritten) {
  const PlannedWrites planned_writes = Planned();
  const struct {
    const char* what;
    std::string key;
    std::string name;  // empty: the key's creation alone
    uint32_t type;
    std::string data;
    bool allowed;
  } cases[] = {
      {"planned key", kBranch + "App", "", 0, "", true},
      {"planned value", kBranch + "App", "Name", kRegSz, std::string("one\0", 4), true},
      {"other case", "SOFTWARE\\vtq\\kodrelse\\aPP", "NAME", kRegSz, std::string("one\0", 4), true},
      {"same key, other data", kBranch + "App", "Name", kRegSz, std::string("two\0", 4), false},
      {"same data, other type", kBranch + "App", "Name", kRegExpandSz, std::string("one\0", 4),
       false},
      {"same data, other name", kBranch + "App", "Other", kRegSz, std::string("one\0", 4), false},
      {"unplanned key", kBranch + "Slipped", "", 0, "", false},
      {"unplanned value in an unplanned key", kBranch + "Slipped", "V", kRegSz, "v", false},
      {"0x5C second byte", kBranch + kSo, "Rows", kRegDword, DwordData(100), true},
      {"another 0x5C character", kBranch + kHyo, "Rows", kRegDword, DwordData(100), false},
      {"0x5C second byte, other data", kBranch + kSo, "Rows", kRegDword, DwordData(101), false},
      {"letter second byte kept", kBranch + kSmallA + "\\" + kSo, "X", kRegSz,
       std::string("x\0", 2), true},
      {"letter second byte not folded", kBranch + "\x83\x41\\" + kSo, "X", kRegSz,
       std::string("x\0", 2), false},
      {"first of two writes", kBranch + "Twice", "V", kRegSz, std::string("first\0", 6), true},
      {"last of two writes", kBranch + "Twice", "V", kRegSz, std::string("last\0", 5), true},
      {"outside the plan's root", "", "", 0, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PlannedWrites writes = planned_writes;
    MemoryRegistry target;
    // The key exists already, so that a refused value is refused by the guard, not its key.
    if (!c.key.empty()) {
      RegistryKeyPtr made;
      ASSERT_EQ(kOk, target.CreateKey(RootKey::kCurrentUser, c.key, &made));
    }
    PlannedWritesRegistry guard(target, writes, PlannedWritesRegistry::Mode::kGuard);
    RegistryKeyPtr key;
    if (c.name.empty()) {
      Status status = c.key.empty() ? guard.CreateKey(RootKey::kLocalMachine, "Software\\X", &key)
                                    : guard.CreateKey(RootKey::kCurrentUser, c.key, &key);
      EXPECT_EQ(c.allowed ? kOk : kAccessDenied, status);
      EXPECT_EQ(c.allowed ? 0u : 1u, guard.refused());
      continue;
    }
    // A value is judged by itself in a key opened by its path, as the import falls back to.
    ASSERT_EQ(kOk, guard.OpenKey(RootKey::kCurrentUser, c.key, kKeySetValue, &key));
    EXPECT_EQ(c.allowed ? kOk : kAccessDenied, key->SetValue(c.name, c.type, c.data));
    // Tried again: still refused, still counted once.
    EXPECT_EQ(c.allowed ? kOk : kAccessDenied, key->SetValue(c.name, c.type, c.data));
    EXPECT_EQ(c.allowed ? 0u : 1u, guard.refused());
    uint32_t type = 0;
    std::string data;
    RegistryKeyPtr check;
    ASSERT_EQ(kOk, target.OpenKey(RootKey::kCurrentUser, c.key, kKeyQueryValue, &check));
    EXPECT_EQ(c.allowed ? kOk : kNotFound, check->QueryValue(c.name, &type, &data));
  }
}

TEST(PlannedWritesTest, AValueRewrittenWithOtherDataIsNoted) {
  const PlannedWrites writes = Planned();
  EXPECT_TRUE(writes.WasRewritten(kBranch + "twice", "v"));
  EXPECT_FALSE(writes.WasRewritten(kBranch + "Same", "V"));
  EXPECT_FALSE(writes.WasRewritten(kBranch + "App", "Name"));
}

}  // namespace
}  // namespace kdr
