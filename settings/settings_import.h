#pragma once

#include <string>
#include <string_view>

#include "core/activity_log.h"
#include "platform/profile_file.h"
#include "platform/registry.h"
#include "settings/list_cursor.h"

// Migrate of registry settings: a settings file read back into the new product's branch under
// HKEY_CURRENT_USER. Each section's key path is mapped from the old branch to the new one; only
// keys at or below "Software\VTQ\KodrelSE" are ever created or written, whatever the file says.
namespace kdr {

// The new product's branch; nothing outside it is written.
inline constexpr std::string_view kNewProductBranch = "Software\\VTQ\\KodrelSE";

// Replaces the first "Kodrel" (case-sensitive) of `source` by "KodrelSE". False, with an empty
// result, when there is none.
[[nodiscard]] bool MapKeyPath(std::string_view source, std::string* result);

// True when `key_path` is the new product's branch or lies below it (ASCII case ignored, as the
// registry resolves names) and is a well-formed path.
bool IsInNewProductBranch(std::string_view key_path);

class SettingsImporter {
 public:
  SettingsImporter(Registry& registry, ProfileFile& profiles, ActivityLog& log)
      : registry_(registry), profiles_(profiles), log_(log) {}

  // Imports one settings file: every section in file order, its key created, its entries of
  // type 1 (text) and 4 (double word) written. Returns 1; nothing is reported to the user.
  int ImportSettingsFile(std::string_view file);

  // Creates the mapped key of a section. Returns 1.
  int CreateMappedKey(std::string_view section_name);

  // Writes one "name=type:data" entry into the section's mapped key. Returns 1.
  int ImportEntry(std::string_view section_name, std::string_view entry);

 private:
  // The mapped key of a section when it may be written, else empty (with the reason logged).
  [[nodiscard]] bool MappedKeyFor(std::string_view section_name, std::string* mapped,
                                  bool log_reason);
  // CreateMappedKey, handing back the created key (null when none was).
  void CreateMappedKey(std::string_view section_name, RegistryKeyPtr* created);
  // ImportEntry into the mapped key `mapped`, through `held` when it is open (else, or when
  // it refuses the value, the key is opened by its path as ImportEntry does).
  void ImportEntryInto(const std::string& mapped, RegistryKey* held, std::string_view entry);

  Registry& registry_;
  ProfileFile& profiles_;
  ActivityLog& log_;
  ListCursor sections_;  // over the section names of the file
  ListCursor entries_;   // over the entries of the current section
};

}  // namespace kdr
