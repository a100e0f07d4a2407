#include "engine/previews.h"

#include <optional>

#include "datafolders/data_folders.h"
#include "engine/migration_plan.h"
#include "platform/hex_text.h"
#include "settings/entry_codec.h"

namespace kdr {

std::vector<CollectPreview> PreviewCollect(const Services& services, const WorkPaths& paths,
                                           EditionCode old_editions) {
  std::vector<CollectPreview> previews;
  for (Edition e : kAllEditions) {
    if (!HasEdition(old_editions, e)) continue;
    CollectPreview& preview = previews.emplace_back();
    preview.edition = e;
    preview.settings_file_replaced = services.files.Exists(paths.SettingsFile(e));
    std::vector<DataPathValue> unreadable;
    std::vector<FolderCopy> copies = PlannedCopies(services.registry, services.files, paths,
                                                   services.max_path, e, false, &unreadable);
    for (const DataPathValue& u : unreadable) {
      preview.failures.push_back({PlanFailure::Kind::kValueUnreadable, std::string(u.value_name),
                                  std::string(u.key_path)});
    }
    if (!unreadable.empty()) copies.clear();  // the path message; nothing of it is copied
    for (const FolderCopy& copy : copies) {
      std::vector<std::string> names;
      // A source that cannot be looked at is not called absent: its listing says why not.
      Result<EntryKind> source = services.files.Lookup(copy.source);
      if (source && *source != EntryKind::kFolder) {
        preview.absent_sources.push_back(copy.source);
        continue;
      }
      if (!services.files.ListFiles(copy.source, &names)) {
        preview.failures.push_back({PlanFailure::Kind::kUnlisted, copy.source, {}});
        continue;
      }
      for (const std::string& name : names) {
        std::optional<FileStamp> stamp = services.files.Stamp(copy.source + name);
        preview.files.push_back({copy.source + name, copy.destination + name,
                                 stamp ? stamp->size : 0,
                                 services.files.Exists(copy.destination + name)});
      }
    }
  }
  return previews;
}

std::vector<MigratePreview> PreviewMigrate(const Services& services, const WorkPaths& paths,
                                           EditionCode editions) {
  std::vector<MigratePreview> previews;
  for (Edition e : kAllEditions) {
    if (!HasEdition(editions, e)) continue;
    MigratePreview& preview = previews.emplace_back();
    preview.edition = e;
    DigestCache digests;
    preview.check = CheckEdition(services.files, paths, e, &digests);
    if (!preview.check.usable()) continue;
    PlanInputs inputs{services.registry, services.files, services.profiles, paths,
                      services.max_path, &digests};
    preview.planned = PlanMigrate(inputs, e, &preview.plan, &preview.error);
  }
  return previews;
}

bool ValueHidden(std::string_view name) { return IsCredentialName(name); }

LogText ValueShown(std::string_view name, uint32_t type, std::string_view data) {
  if (ValueHidden(name)) return kCredentialHidden;
  if (type == kRegSz || type == kRegExpandSz) {
    return "\"" + Cp932Text(data.substr(0, data.find('\0'))) + "\"";
  }
  if (type == kRegDword && data.size() == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
    return "dword " + std::to_string(v);
  }
  std::string hex = "type " + std::to_string(type) + " hex ";
  AppendHex(data, &hex);
  return hex;
}

}  // namespace kdr
