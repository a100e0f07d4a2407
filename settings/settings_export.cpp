#include "settings/settings_export.h"

#include <array>
#include <span>
#include <string>
#include <utility>

#include "settings/entry_codec.h"

namespace kdr {
namespace {

// The Windows registry nests keys at most 512 levels deep; a store read from a file could
// claim more, and the walk must not run out of stack.
constexpr int kMaxTreeDepth = 512;

constexpr uint32_t kQueryAndEnumerate = kKeyQueryValue | kKeyEnumerateSubKeys;

LogText Describe(std::string_view key_path, std::string_view value_name) {
  return Cp932Text(key_path) + ": " + Cp932Text(value_name);
}

// What the log shows of an entry (`head` and `text`): credential texts never in clear.
LogText LoggedEntry(std::string_view value_name, std::string_view head, std::string_view text,
                    bool encoded) {
  if (encoded && IsCredentialName(value_name)) {
    return Cp932Text(head) + std::string(kCredentialHidden);
  }
  std::string start(head);
  start.append(text.substr(0, kLoggedValueBytes));
  return LogText() + Cp932Excerpt{start, kLoggedValueBytes, head.size() + text.size()};
}

// The entry is written from the value's bytes where they are, not joined to its type first:
// a value of many megabytes is then held once by the store, once as read here and once in
// the settings file's text, never more.
void WriteEntry(ExportContext& ctx, std::string_view key_path, std::string_view value_name,
                uint32_t type, std::string_view data, bool encode_credentials,
                std::string_view settings_file) {
  std::string head, hex;
  std::string_view text = FormatEntryParts(value_name, type, data, encode_credentials, &head, &hex);
  // The head is digits and ":": only the text can hold what the file cannot.
  std::string_view why = UnrepresentableReason(value_name, text);
  if (!why.empty()) {
    ctx.log.Skipped("value " + Describe(key_path, value_name), why);
    return;
  }
  if (ctx.profiles.WriteJoinedString(key_path, value_name, head, text, settings_file)) {
    ctx.log.Done("export " + Describe(key_path, value_name) + " = " +
                 LoggedEntry(value_name, head, text, encode_credentials));
  } else {
    ctx.refused = true;
    ctx.log.Skipped("value " + Describe(key_path, value_name), "the settings file refused it");
  }
}

// ExportKeyValues, handing back the key it opened (null when it could not), so that a tree walk
// enumerates the subkeys through the same handle.
void ExportValues(ExportContext& ctx, std::string_view key_path, std::string_view settings_file,
                  RegistryKeyPtr* key) {
  // Emptied before the key is opened: a missing key still leaves its (empty) section, and
  // entries of an earlier Collect vanish.
  if (!ctx.profiles.WriteSection(key_path, std::string_view("\0", 1), settings_file)) {
    ctx.refused = true;
  }
  ctx.log.Done("section " + Cp932Text(key_path));
  if (ctx.registry.OpenKey(RootKey::kCurrentUser, key_path, kQueryAndEnumerate, key) != kOk) {
    key->reset();
    return;
  }
  std::string name;
  std::string data;
  uint32_t type = 0;
  for (uint32_t index = 0;; ++index) {
    Status status = (*key)->EnumValue(index, &name, &type, &data);
    if (status == kNoMoreItems) break;
    if (status != kOk) {
      ctx.log.Skipped("value " + std::to_string(index) + " of " + Cp932Text(key_path),
                      "the registry could not read it");
      continue;
    }
    if (name == "PRVSAVE" || name == "RSTFILE") {
      ctx.log.Skipped("value " + Describe(key_path, name), "never exported (skip list)");
      continue;
    }
    WriteEntry(ctx, key_path, name, type, data, /*encode_credentials=*/true, settings_file);
  }
}

void ExportTree(ExportContext& ctx, const std::string& key_path, std::string_view settings_file,
                int depth) {
  // A section the file cannot name would read back as another key; its subkeys share the name.
  std::string_view why = UnrepresentableSectionReason(key_path);
  if (!why.empty()) {
    ctx.log.Skipped("key " + Cp932Text(key_path) + " and its subkeys", why);
    return;
  }
  RegistryKeyPtr key;
  ExportValues(ctx, key_path, settings_file, &key);
  if (depth >= kMaxTreeDepth) {
    ctx.log.Skipped("subkeys of " + Cp932Text(key_path), "deeper than the registry allows");
    return;
  }
  if (!key) return;
  std::string child_path;
  std::string name;
  for (uint32_t index = 0;; ++index) {
    Status status = key->EnumKey(index, &name);
    if (status == kNoMoreItems) break;
    if (status != kOk) {
      ctx.log.Skipped("subkey " + std::to_string(index) + " of " + Cp932Text(key_path),
                      "the registry could not enumerate it");
      continue;
    }
    child_path.assign(key_path).append("\\").append(name);
    ExportTree(ctx, child_path, settings_file, depth + 1);
  }
}

// One step of an edition's export list: a key tree, or one named value of a key.
struct ExportItem {
  bool whole_tree;
  std::string_view key_path;
  std::string_view value_name;  // of a single value
};

constexpr ExportItem Tree(std::string_view key_path) { return {true, key_path, {}}; }

constexpr ExportItem Value(std::string_view key_path, std::string_view value_name) {
  return {false, key_path, value_name};
}

constexpr ExportItem kPersonalExports[] = {
    Tree("Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App1"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App2"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App3"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\AppInfo\\DataNature"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\Client\\Current"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\Client\\Info"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\Client\\MAX"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\Common\\MAX"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\Common\\Rdb"),
    Tree("Software\\VTQ\\Kodrel\\Personal\\Server\\Usr"),
};

constexpr ExportItem kClientExports[] = {
    Tree("Software\\VTQ\\Kodrel\\Client\\AppInfo"),
    Value("Software\\VTQ\\Kodrel\\Client\\Client", "Host"),
    Tree("Software\\VTQ\\Kodrel\\Client\\Client\\Current"),
    Tree("Software\\VTQ\\Kodrel\\Client\\Client\\Info"),
    Tree("Software\\VTQ\\Kodrel\\Client\\Client\\MAX"),
    Value("Software\\VTQ\\Kodrel\\Client\\Common", "SRVPORT"),
    Value("Software\\VTQ\\Kodrel\\Client\\Common", "USER_LEVEL_"),
    Tree("Software\\VTQ\\Kodrel\\Client\\Common\\MAX"),
    Tree("Software\\VTQ\\Kodrel\\Client\\Common\\Rdb"),
};

// The Server edition keeps its settings below the Client branch.
constexpr ExportItem kServerExports[] = {
    Value("Software\\VTQ\\Kodrel\\Client\\Common", "SRVPORT"),
    Value("Software\\VTQ\\Kodrel\\Client\\Common", "USER_LEVEL_"),
    Value("Software\\VTQ\\Kodrel\\Client\\Server", "TBL_LEVEL"),
    Tree("Software\\VTQ\\Kodrel\\Client\\Server\\User"),
};

// Each edition's export list, by EditionIndex.
constexpr std::array<std::span<const ExportItem>, kEditionCount> kExportLists = {
    kPersonalExports, kClientExports, kServerExports};

bool Finish(ExportContext& ctx, std::string_view settings_file) {
  FileResult written = ctx.profiles.Flush();
  if (written && !std::exchange(ctx.refused, false)) return true;
  ctx.log.CopyFailed(settings_file, written ? "a write to it was refused" : Describe(written));
  return false;
}

}  // namespace

void ExportKeyTree(ExportContext& ctx, std::string_view key_path, std::string_view settings_file) {
  ExportTree(ctx, std::string(key_path), settings_file, 0);
}

void ExportKeyValues(ExportContext& ctx, std::string_view key_path,
                     std::string_view settings_file) {
  RegistryKeyPtr key;
  ExportValues(ctx, key_path, settings_file, &key);
}

void ExportSingleValue(ExportContext& ctx, std::string_view key_path, std::string_view value_name,
                       std::string_view settings_file) {
  RegistryKeyPtr key;
  if (ctx.registry.OpenKey(RootKey::kCurrentUser, key_path, kKeyQueryValue, &key) != kOk) {
    ctx.log.Skipped("value " + Describe(key_path, value_name), "its key does not exist");
    return;
  }
  uint32_t type = 0;
  std::string data;
  if (key->QueryValue(value_name, &type, &data) != kOk) {
    ctx.log.Skipped("value " + Describe(key_path, value_name), "it does not exist");
    return;
  }
  WriteEntry(ctx, key_path, value_name, type, data, /*encode_credentials=*/false, settings_file);
}

bool ExportEditionSettings(ExportContext& ctx, const WorkPaths& paths, Edition edition) {
  const std::string& file = paths.SettingsFile(edition);
  for (const ExportItem& item : kExportLists[EditionIndex(edition)]) {
    if (item.whole_tree) {
      ExportKeyTree(ctx, item.key_path, file);
    } else {
      ExportSingleValue(ctx, item.key_path, item.value_name, file);
    }
  }
  return Finish(ctx, file);
}

bool ExportPersonalSettings(ExportContext& ctx, const WorkPaths& paths) {
  return ExportEditionSettings(ctx, paths, Edition::kPersonal);
}

bool ExportClientSettings(ExportContext& ctx, const WorkPaths& paths) {
  return ExportEditionSettings(ctx, paths, Edition::kClient);
}

bool ExportServerSettings(ExportContext& ctx, const WorkPaths& paths) {
  return ExportEditionSettings(ctx, paths, Edition::kServer);
}

}  // namespace kdr
