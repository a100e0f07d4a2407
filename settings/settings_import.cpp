#include "settings/settings_import.h"

#include <algorithm>

#include "platform/cp932.h"
#include "platform/text_encoding.h"
#include "settings/entry_codec.h"

namespace kdr {
namespace {

std::string_view ParseFailure(ParseResult result) {
  switch (result) {
    case ParseResult::kNoSeparator:
      return "no \"=\" or no \":\" in the entry";
    case ParseResult::kBadType:
      return "the type is not a number";
    case ParseResult::kBadDword:
      return "double word data is not eight hex digits";
    case ParseResult::kOk:
      break;
  }
  return "";
}

}  // namespace

bool MapKeyPath(std::string_view source, std::string* result) {
  result->clear();
  size_t at = source.find("Kodrel");
  if (at == std::string_view::npos) return false;
  result->assign(source.substr(0, at));
  result->append("KodrelSE");
  result->append(source.substr(at + 6));
  return true;
}

bool IsInNewProductBranch(std::string_view key_path) {
  return Cp932PathAtOrBelow(key_path, kNewProductBranch);
}

bool SettingsImporter::MappedKeyFor(std::string_view section_name, std::string* mapped,
                                    bool log_reason) {
  if (!MapKeyPath(section_name, mapped)) {
    if (log_reason) {
      log_.Skipped("section " + Cp932Text(section_name), "holds no \"Kodrel\" to map");
    }
    return false;
  }
  if (!IsInNewProductBranch(*mapped)) {
    if (log_reason) {
      log_.Skipped("section " + Cp932Text(section_name),
                   "maps to " + Cp932Text(*mapped) +
                       ", outside the new product's branch Software\\VTQ\\KodrelSE");
    }
    mapped->clear();
    return false;
  }
  return true;
}

int SettingsImporter::ImportSettingsFile(std::string_view file) {
  // One look at the file on disk for the whole import, not one per section read.
  ProfileFileHold hold(profiles_, file);
  std::string names = profiles_.ReadSectionNames(file);
  std::string entries;
  std::optional<std::string_view> section = sections_.Start(names);
  // An empty list (missing file, or no section) creates and writes nothing.
  if (section->empty()) section.reset();
  std::string mapped;
  while (section) {
    std::string section_name(*section);
    // The created key stays open for the section's entries rather than being opened by its
    // path for each of them: the same values reach the same keys in the same order.
    RegistryKeyPtr key;
    CreateMappedKey(section_name, &key);
    // Entries of a section that may not be written are not even read.
    if (MappedKeyFor(section_name, &mapped, /*log_reason=*/false)) {
      entries = profiles_.ReadSection(section_name, file);
      if (!entries.empty() && entries[0] != '\0') {
        std::optional<std::string_view> entry = entries_.Start(entries);
        while (entry) {
          ImportEntryInto(mapped, key.get(), *entry);
          entry = entries_.NextListItem();
        }
      }
    }
    section = sections_.NextListItem();
  }
  return 1;
}

int SettingsImporter::CreateMappedKey(std::string_view section_name) {
  RegistryKeyPtr key;
  CreateMappedKey(section_name, &key);
  return 1;
}

void SettingsImporter::CreateMappedKey(std::string_view section_name, RegistryKeyPtr* created) {
  std::string mapped;
  if (!MappedKeyFor(section_name, &mapped, /*log_reason=*/true)) return;
  if (registry_.CreateKey(RootKey::kCurrentUser, mapped, created) == kOk) {
    log_.Done("key " + Cp932Text(mapped));
  } else {
    created->reset();
    log_.Skipped("key " + Cp932Text(mapped), "could not be created");
  }
}

int SettingsImporter::ImportEntry(std::string_view section_name, std::string_view entry) {
  std::string mapped;
  if (MappedKeyFor(section_name, &mapped, /*log_reason=*/false)) {
    ImportEntryInto(mapped, nullptr, entry);
  }
  return 1;
}

void SettingsImporter::ImportEntryInto(const std::string& mapped, RegistryKey* held,
                                       std::string_view entry) {
  ParsedEntry parsed;
  ParseResult result = ParseEntry(entry, &parsed);
  LogText what = "entry " + Cp932Text(mapped) + ": ";
  if (result != ParseResult::kOk) {
    // The entry may hold a credential in the clear; name only what precedes the "=".
    log_.Skipped(what + Cp932Text(entry.substr(0, entry.find('='))), ParseFailure(result));
    return;
  }
  what += Cp932Text(parsed.name);
  // Where the new product keeps its data belongs to its installation: a settings file (which
  // whoever can write the work folder can change) never picks where Migrate copies to.
  if (Cp932EqualNoCase(parsed.name, "PRV_PATH") || Cp932EqualNoCase(parsed.name, "PUB_PATH")) {
    log_.Skipped(what, "a data path of KodrelSE's installation; never imported");
    return;
  }
  // In place: a value may be as large as the settings file.
  std::string& data = parsed.data;
  uint32_t type = 0;
  if (parsed.type == kRegSz) {
    if (IsCredentialName(parsed.name) && !HexDecodeInPlace(parsed.data)) {
      log_.Skipped(what, "credential text is not hex-encoded");
      return;
    }
    type = kRegSz;
    // Stored with its terminator; a text ends at its first zero byte.
    data.resize(std::min(data.find('\0'), data.size()));
    data.push_back('\0');
  } else if (parsed.type == kRegDword) {
    type = kRegDword;
  } else {
    log_.Skipped(what, "type " + std::to_string(parsed.type) + " is not imported");
    return;
  }
  // A refusal through the held key is not taken as final: the key opened by its path for
  // setting values (which is what the held key stands in for) decides, and names the failure.
  bool written = held != nullptr && held->SetValue(parsed.name, type, data) == kOk;
  if (!written) {
    RegistryKeyPtr key;
    if (registry_.OpenKey(RootKey::kCurrentUser, mapped, kKeySetValue, &key) != kOk) {
      log_.Skipped(what, "its key could not be opened");
      return;
    }
    written = key->SetValue(parsed.name, type, data) == kOk;
  }
  if (written) {
    std::string_view value = entry.substr(entry.find('=') + 1);
    LogText shown = IsCredentialName(parsed.name) && type == kRegSz
                        ? LogText(kCredentialHidden)
                        : LogText() + Cp932Excerpt{value, kLoggedValueBytes, value.size()};
    log_.Done("import " + what + " = " + shown);
  } else {
    log_.Skipped(what, "the registry refused the value");
  }
}

}  // namespace kdr
