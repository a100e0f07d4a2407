#include "app/migrate_dlg.h"

#include "app/messages.h"
#include "core/edition_folders.h"
#include "core/presence.h"
#include "settings/settings_export.h"
#include "settings/settings_import.h"

namespace kdr {

CMigrateDlg::CMigrateDlg(const Services& services, DialogView& view)
    : services_(services), view_(view), log_(services.log ? *services.log : null_log_) {}

bool CMigrateDlg::InitWorkPaths(std::string_view executable_path) {
  return InitWorkPathsFromFolder(ExecutableFolder(executable_path));
}

bool CMigrateDlg::InitWorkPathsFromFolder(std::string_view folder) {
  paths_valid_ = kdr::InitWorkPathsFromFolder(folder, services_.max_path, &paths_);
  if (!paths_valid_) ShowMessage(kFolderTooLongMessage);
  return paths_valid_;
}

EditionCode CMigrateDlg::DetectOldEditions() { return kdr::DetectOldEditions(services_.registry); }

EditionCode CMigrateDlg::DetectNewEditions() { return kdr::DetectNewEditions(services_.registry); }

EditionCode CMigrateDlg::DetectCollectedEditions() {
  if (!paths_valid_) return 0;
  return kdr::DetectCollectedEditions(services_.files, paths_);
}

void CMigrateDlg::RefreshButtons() {
  EditionCode old_code = DetectOldEditions();
  EditionCode new_code = DetectNewEditions();
  EditionCode collected = DetectCollectedEditions();
  // Without usable work paths neither command can do anything.
  view_.EnableControl(kCollectButton, paths_valid_ && old_code != 0);
  view_.EnableControl(kMigrateButton, paths_valid_ && SharesAnEdition(new_code, collected));
}

DataFolderContext CMigrateDlg::DataContext() {
  return DataFolderContext{services_.registry,
                           services_.files,
                           paths_,
                           log_,
                           services_.copy_observer,
                           view_.CopyOwner(),
                           [this](std::string_view text) { ShowMessage(text); },
                           services_.max_path};
}

void CMigrateDlg::CollectEdition(Edition edition) {
  log_.Done("collect " + std::string(EditionName(edition)));
  last_run_.attempted += EditionWeight(edition);
  MakeEditionFolders(services_.files, paths_, edition);
  ExportContext exports{services_.registry, services_.profiles, log_};
  DataFolderContext data = DataContext();
  bool ok = ExportEditionSettings(exports, paths_, edition);
  ok = CollectEditionData(data, edition) && ok;
  if (!ok) last_run_.failed += EditionWeight(edition);
  ShowMessage(CollectedMessage(edition));
}

bool CMigrateDlg::BeginCommand() {
  view_.EnableControl(kCollectButton, false);
  view_.EnableControl(kMigrateButton, false);
  view_.EnableControl(kExitButton, false);
  last_run_ = RunSummary{};
  if (!paths_valid_) ShowMessage(kFolderTooLongMessage);
  return paths_valid_;
}

void CMigrateDlg::EndCommand() {
  RefreshButtons();
  view_.EnableControl(kExitButton, true);
}

void CMigrateDlg::OnCollect() {
  if (BeginCommand()) {
    EditionCode code = DetectOldEditions();
    bool collected_any = false;
    for (Edition edition : kAllEditions) {
      if (!HasEdition(code, edition)) continue;
      CollectEdition(edition);
      collected_any = true;
    }
    if (!collected_any) ShowMessage(kNothingToCollectMessage);
  }
  EndCommand();
}

bool CMigrateDlg::MigrateEdition(Edition edition) {
  log_.Done("migrate " + std::string(EditionName(edition)));
  last_run_.attempted += EditionWeight(edition);
  SettingsImporter importer(services_.registry, services_.profiles, log_);
  importer.ImportSettingsFile(paths_.SettingsFile(edition));
  DataFolderContext data = DataContext();
  bool ok = MigrateEditionData(data, edition);
  if (!ok) last_run_.failed += EditionWeight(edition);
  return ok;
}

void CMigrateDlg::OnMigrate() {
  if (BeginCommand()) {
    EditionCode new_code = DetectNewEditions();
    EditionCode collected = DetectCollectedEditions();
    // Only the last edition migrated decides whether the failure message is shown.
    bool last_ok = false;
    for (Edition edition : kAllEditions) {
      if (!HasEdition(new_code, edition) || !HasEdition(collected, edition)) continue;
      last_ok = MigrateEdition(edition);
      if (last_ok) ShowMessage(MigratedMessage(edition));
    }
    if (!last_ok) ShowMessage(kNotMigratedMessage);
  }
  EndCommand();
}

}  // namespace kdr
