#include "bench/synthetic_profile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "bench/bench_random.h"
#include "platform/text_encoding.h"
#include "tests/support/registry_values.h"

namespace kdr::bench {
namespace {

// The trees the export lists walk, with the edition that exports each.
struct Tree {
  std::string_view path;
  int edition;  // 0 Personal, 1 Client, 2 Server
};
constexpr std::array<Tree, 17> kTrees = {{
    {"Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App1", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App2", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App3", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\AppInfo\\DataNature", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\Client\\Current", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\Client\\Info", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\Client\\MAX", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\Common\\MAX", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\Common\\Rdb", 0},
    {"Software\\VTQ\\Kodrel\\Personal\\Server\\Usr", 0},
    {"Software\\VTQ\\Kodrel\\Client\\AppInfo", 1},
    {"Software\\VTQ\\Kodrel\\Client\\Client\\Current", 1},
    {"Software\\VTQ\\Kodrel\\Client\\Client\\Info", 1},
    {"Software\\VTQ\\Kodrel\\Client\\Client\\MAX", 1},
    {"Software\\VTQ\\Kodrel\\Client\\Common\\MAX", 1},
    {"Software\\VTQ\\Kodrel\\Client\\Common\\Rdb", 1},
    {"Software\\VTQ\\Kodrel\\Client\\Server\\User", 2},
}};

constexpr std::array<std::string_view, 16> kValueNames = {
    "WindowLeft", "WindowTop", "WindowWidth", "FontName",  "FontSize", "LastFile",
    "COL_WIDTH",  "SortOrder", "PrintMargin", "PaperSize", "Title",    "DataFile",
    "HISTORY",    "ViewMode",  "Separator",   "ExportPath"};
constexpr std::array<std::string_view, 5> kCredentialNames = {"DB_PASS", "DB_USER", "SRV_LOGIN",
                                                              "RDB_SCHEMA", "TBL_SEL"};
constexpr std::array<std::string_view, 8> kWords = {"orders",  "customers", "daily",  "summary",
                                                    "archive", "report",    "backup", "invoice"};
// Japanese texts as the old product stores them (code page 932). Some hold a character whose
// second byte is 0x5C ("表", "ソ"), which looks like a backslash to code that ignores the
// code page.
constexpr std::array<std::string_view, 6> kJapaneseUtf8 = {
    "顧客台帳", "売上表示設定", "ソート順", "帳票レイアウト", "在庫一覧表", "担当者名"};
// Key names in Japanese; none of them has 0x5C as a second byte.
constexpr std::array<std::string_view, 3> kJapaneseKeysUtf8 = {"帳票", "設定", "顧客"};

std::vector<std::string> ToCp932(std::span<const std::string_view> utf8) {
  std::vector<std::string> out;
  for (std::string_view text : utf8) {
    std::optional<std::string> cp = Utf8ToCp932(text);
    out.push_back(cp ? *cp : std::string("text"));
  }
  return out;
}

std::string Number(std::string_view prefix, uint32_t n, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*u", width, n);
  return std::string(prefix) + buffer;
}

class ProfileWriter {
 public:
  ProfileWriter(const ProfileOptions& options, MemoryRegistry* registry)
      : options_(options),
        registry_(*registry),
        random_(options.seed),
        japanese_(ToCp932(kJapaneseUtf8)),
        japanese_keys_(ToCp932(kJapaneseKeysUtf8)) {}

  ProfileStats Run() {
    WriteMarkers();
    WriteDataPaths();
    WriteSingleValues();
    // Every tree root exists, even one whose share of the values is zero.
    for (const Tree& tree : kTrees) {
      registry_.Create(RootKey::kCurrentUser, tree.path);
    }
    size_t per_tree = options_.values / kTrees.size();
    size_t extra = options_.values % kTrees.size();
    for (size_t t = 0; t < kTrees.size(); ++t) {
      size_t quota = per_tree + (t < extra ? 1 : 0);
      FillTree(kTrees[t], quota);
    }
    stats_.tree_values = options_.values;
    return stats_;
  }

 private:
  void WriteMarkers() {
    for (std::string_view edition : {"Personal", "Client", "Server"}) {
      std::string old_marker = "Software\\VTQ\\Kodrel " + std::string(edition);
      std::string new_marker = "Software\\VTQ\\Kodrel SE " + std::string(edition);
      SetString(registry_, RootKey::kLocalMachine, old_marker, "Version", "4.20");
      SetString(registry_, RootKey::kLocalMachine, new_marker, "Version", "1.00");
    }
  }

  void WriteDataPaths() {
    const std::string& old_root = options_.old_data_root;
    const std::string& new_root = options_.new_data_root;
    auto set = [&](std::string_view branch, std::string_view key, std::string_view name,
                   const std::string& path) {
      SetString(registry_, RootKey::kCurrentUser,
                "Software\\VTQ\\" + std::string(branch) + "\\" + std::string(key), name, path);
    };
    set("Kodrel", "Personal\\Client", "PRV_PATH", old_root + "personal\\prv\\");
    set("Kodrel", "Personal\\Server", "PUB_PATH", old_root + "personal\\pub\\");
    set("Kodrel", "Client\\Client", "PRV_PATH", old_root + "client\\prv\\");
    set("Kodrel", "Client\\Server", "PUB_PATH", old_root + "server\\pub\\");
    set("KodrelSE", "Personal\\Client", "PRV_PATH", new_root + "personal\\prv\\");
    set("KodrelSE", "Personal\\Server", "PUB_PATH", new_root + "personal\\pub\\");
    set("KodrelSE", "Client\\Client", "PRV_PATH", new_root + "client\\prv\\");
    set("KodrelSE", "Client\\Server", "PUB_PATH", new_root + "server\\pub\\");
  }

  // The values the export lists name one by one. Client exports Host, SRVPORT and USER_LEVEL_
  // (two sections); Server SRVPORT, USER_LEVEL_ and TBL_LEVEL (two sections).
  void WriteSingleValues() {
    SetString(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "Host",
              "kdrsrv01");
    SetDword(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Common", "SRVPORT",
             8105);
    SetString(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Common",
              "USER_LEVEL_", "3");
    SetDword(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Server", "TBL_LEVEL",
             2);
    stats_.exported_entries += 6;
    stats_.importable_entries += 6;
    stats_.exported_sections += 4;
  }

  std::string LevelName(int level, uint32_t index) {
    if (level == 1 && index % 4 == 3) {
      return japanese_keys_[index / 4 % japanese_keys_.size()] + Number("", index, 2);
    }
    static constexpr std::array<std::string_view, 3> kPrefixes = {"Grp", "Sub", "Item"};
    return Number(kPrefixes[level - 1], index, 3);
  }

  // Walks the keys of a tree in pre-order (the root, then up to three levels below it, with
  // `fanout` children each), calling `visit` until it returns false.
  bool Walk(const std::string& path, int level, uint32_t fanout,
            const std::function<bool(const std::string&)>& visit) {
    if (!visit(path)) return false;
    if (level == 3) return true;
    for (uint32_t i = 0; i < fanout; ++i) {
      if (!Walk(path + "\\" + LevelName(level + 1, i), level + 1, fanout, visit)) return false;
    }
    return true;
  }

  void FillTree(const Tree& tree, size_t quota) {
    if (quota == 0) {
      ++stats_.keys;
      ++stats_.exported_sections;
      return;
    }
    // Enough keys for the quota at five values a key at least.
    size_t keys_needed = quota / 5 + 1;
    uint32_t fanout = 2;
    while (1 + fanout + fanout * fanout + fanout * fanout * fanout < keys_needed) ++fanout;
    size_t left = quota;
    Walk(std::string(tree.path), 0, fanout, [&](const std::string& key_path) {
      ++stats_.keys;
      ++stats_.exported_sections;
      size_t count = std::min<size_t>(left, random_.Between(5, 15));
      FillKey(key_path, count);
      left -= count;
      return left > 0;
    });
  }

  void FillKey(const std::string& key_path, size_t count) {
    MemoryRegistry::Node* node = registry_.Create(RootKey::kCurrentUser, key_path);
    for (size_t i = 0; i < count; ++i) {
      uint32_t roll = random_.Between(0, 999);
      if (i == 0 && ++keys_filled_ % 40 == 0) {
        // Now and then a value on the skip list.
        node->PutValue(keys_filled_ % 80 == 0 ? "PRVSAVE" : "RSTFILE", kRegSz,
                       std::string(Path()) + '\0');
        ++stats_.skip_listed;
        ++stats_.strings;
        continue;
      }
      std::string name;
      if (roll < 50) {
        name = "CONN" + std::to_string(i) + "_" + std::string(random_.Pick(kCredentialNames));
        node->PutValue(name, kRegSz, Password() + '\0');
        ++stats_.credentials;
        ++stats_.strings;
        ++stats_.exported_entries;
        ++stats_.importable_entries;
        continue;
      }
      name = std::string(random_.Pick(kValueNames)) + std::to_string(i);
      if (roll < 600) {
        std::string text = Text();
        node->PutValue(name, kRegSz, text + '\0');
        ++stats_.strings;
        ++stats_.importable_entries;
      } else if (roll < 900) {
        node->PutValue(name, kRegDword, DwordData(static_cast<uint32_t>(random_.Next())));
        ++stats_.dwords;
        ++stats_.importable_entries;
      } else {
        std::string bytes(random_.Between(4, 48), '\0');
        for (char& c : bytes) c = static_cast<char>(random_.Next());
        node->PutValue(name, kRegBinary, bytes);
        ++stats_.binaries;
      }
      ++stats_.exported_entries;
    }
  }

  std::string Path() {
    return "C:\\Kodrel4\\Data\\" + std::string(random_.Pick(kWords)) +
           std::to_string(random_.Between(1, 9999)) + ".ddv";
  }

  std::string Password() {
    static constexpr std::string_view kChars =
        "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string text(random_.Between(6, 16), 'x');
    for (char& c : text) c = kChars[random_.Next() % kChars.size()];
    return text;
  }

  std::string Text() {
    switch (random_.Between(0, 9)) {
      case 0:
      case 1:
        ++stats_.cp932_texts;
        return japanese_[random_.Next() % japanese_.size()] +
               std::to_string(random_.Between(1, 99));
      case 2:
      case 3:
      case 4:
        return Path();
      case 5:
        return "MS Gothic";
      case 6:
        return std::to_string(random_.Between(0, 100000));
      default: {
        std::string text(random_.Pick(kWords));
        for (uint32_t n = random_.Between(0, 6); n > 0; --n) {
          text += ' ';
          text += random_.Pick(kWords);
        }
        return text;
      }
    }
  }

  const ProfileOptions& options_;
  MemoryRegistry& registry_;
  Random random_;
  std::vector<std::string> japanese_;
  std::vector<std::string> japanese_keys_;
  ProfileStats stats_;
  size_t keys_filled_ = 0;
};

}  // namespace

ProfileStats GenerateProfile(const ProfileOptions& options, MemoryRegistry* registry) {
  return ProfileWriter(options, registry).Run();
}

}  // namespace kdr::bench
