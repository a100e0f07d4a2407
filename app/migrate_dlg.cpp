#include "app/migrate_dlg.h"

#include "app/messages.h"
#include "core/edition_folders.h"
#include "core/presence.h"
#include "platform/text_encoding.h"
#include "settings/settings_export.h"
#include "settings/settings_import.h"
#include "app/migration_plan.h"
#include "store/store_check.h"
#include "store/store_time.h"

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
  view_.EnableControl(kMigrateButton, paths_valid_ && new_code != 0 && collected != 0 &&
                                          (new_code & collected) != 0);
}

DataFolderContext CMigrateDlg::DataContext() {
  DataFolderContext ctx{services_.registry,
                        services_.files,
                        paths_,
                        log_,
                        services_.copy_observer,
                        view_.CopyOwner(),
                        [this](std::string_view text) { ShowMessage(text); },
                        services_.max_path};
  ctx.verify_copies = services_.safeguards;
  return ctx;
}

std::string CMigrateDlg::LogPathForDisplay() const {
  return Cp932ForDisplay(paths_.root + "\\kdr4tose.log");
}

void CMigrateDlg::WriteManifest(Edition edition, DigestCache* digests, bool* ok) {
  // The settings file must be on disk before it is hashed.
  if (!services_.profiles.Flush()) {
    log_.Skipped("manifest of " + std::string(EditionName(edition)),
                 "the settings file could not be written");
    *ok = false;
    return;
  }
  std::string error;
  if (!WriteEditionManifest(services_.files, paths_, edition, ToolVersion(), CurrentStoreTime().utc,
                            digests, &error)) {
    log_.Skipped("manifest of " + std::string(EditionName(edition)), error);
    *ok = false;
    return;
  }
  log_.Done("manifest of " + std::string(EditionName(edition)) + " written");
}

void CMigrateDlg::CollectEdition(Edition edition) {
  log_.Done("collect " + std::string(EditionName(edition)));
  last_run_.attempted += EditionWeight(edition);
  MakeEditionFolders(services_.files, paths_, edition);
  ExportContext exports{services_.registry, services_.profiles, log_};
  DataFolderContext data = DataContext();
  DigestCache digests;
  data.digests = &digests;
  bool ok = true;
  switch (edition) {
    case Edition::kPersonal:
      ok = ExportPersonalSettings(exports, paths_);
      ok = CollectPersonalData(data) && ok;
      break;
    case Edition::kClient:
      ok = ExportClientSettings(exports, paths_);
      ok = CollectClientData(data) && ok;
      break;
    case Edition::kServer:
      ok = ExportServerSettings(exports, paths_);
      ok = CollectServerData(data) && ok;
      break;
  }
  if (services_.safeguards) WriteManifest(edition, &digests, &ok);
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
    bool shown = false;
    if (HasEdition(code, Edition::kPersonal)) {
      CollectEdition(Edition::kPersonal);
      shown = true;
    }
    if (HasEdition(code, Edition::kClient)) {
      CollectEdition(Edition::kClient);
      shown = true;
    }
    if (HasEdition(code, Edition::kServer)) {
      CollectEdition(Edition::kServer);
    } else if (!shown) {
      ShowMessage(kNothingToCollectMessage);
    }
  }
  EndCommand();
}

bool CMigrateDlg::PrepareMigrate(Edition edition, DigestCache* digests) {
  std::string name(EditionName(edition));
  EditionCheck check = CheckEdition(services_.files, paths_, edition, digests);
  if (!check.usable()) {
    if (!check.manifest_error.empty()) log_.Skipped("store of " + name, check.manifest_error);
    for (const StoreProblem& problem : check.problems) {
      log_.Skipped("store of " + name + ": " + Cp932ForDisplay(problem.path),
                   ProblemText(problem.kind));
    }
    log_.Skipped("migrate " + name, std::to_string(check.bad_count()) +
                                        " file(s) of the store are not as collected; "
                                        "nothing of the edition written");
    last_run_.damaged += EditionWeight(edition);
    ShowMessage(StoreDamagedMessage(edition, check.bad_count(), LogPathForDisplay()));
    return false;
  }
  if (!check.has_manifest) {
    last_run_.unverified += EditionWeight(edition);
    log_.Skipped("check of the store of " + name,
                 "it has no manifest (collected by an older version); migrated unverified");
  } else {
    log_.Done("store of " + name + " checked: " + std::to_string(check.files_checked) +
              " file(s) as collected");
  }
  EditionPlan plan;
  std::string error;
  PlanInputs inputs{services_.registry, services_.files, services_.profiles, paths_,
                    services_.max_path, digests};
  if (!PlanMigrate(inputs, edition, &plan, &error) || !backup_->Add(plan, &error)) {
    log_.Skipped("backup before migrating " + name, error + "; nothing of the edition written");
    ShowMessage(BackupFailedMessage(edition, LogPathForDisplay()));
    return false;
  }
  last_run_.backup_name = backup_->name();
  log_.Done("backup of " + name + " in " + Cp932ForDisplay(backup_->folder()) + ": " +
            std::to_string(plan.values.size()) + " value(s), " +
            std::to_string(plan.keys_created.size()) + " new key(s), " +
            std::to_string(plan.files.size()) + " file(s)");
  return true;
}

bool CMigrateDlg::MigrateEdition(Edition edition) {
  log_.Done("migrate " + std::string(EditionName(edition)));
  last_run_.attempted += EditionWeight(edition);
  DigestCache digests;
  if (services_.safeguards && !PrepareMigrate(edition, &digests)) {
    last_run_.failed += EditionWeight(edition);
    return false;
  }
  SettingsImporter importer(services_.registry, services_.profiles, log_);
  importer.ImportSettingsFile(paths_.SettingsFile(edition));
  DataFolderContext data = DataContext();
  data.digests = &digests;
  bool ok = false;
  switch (edition) {
    case Edition::kPersonal:
      ok = MigratePersonalData(data);
      break;
    case Edition::kClient:
      ok = MigrateClientData(data);
      break;
    case Edition::kServer:
      ok = MigrateServerData(data);
      break;
  }
  if (!ok) last_run_.failed += EditionWeight(edition);
  return ok;
}

void CMigrateDlg::OnMigrate() {
  StoreTime now = CurrentStoreTime();
  BackupWriter backup(services_.files, paths_, now.folder_name, now.utc);
  backup_ = &backup;
  if (BeginCommand()) {
    EditionCode new_code = DetectNewEditions();
    EditionCode collected = DetectCollectedEditions();
    auto shared = [&](Edition e) { return HasEdition(new_code, e) && HasEdition(collected, e); };
    // `flag` holds the outcome of the last of Personal and Client that was attempted.
    bool flag = false;
    if (shared(Edition::kPersonal)) {
      flag = MigrateEdition(Edition::kPersonal);
      if (flag) ShowMessage(MigratedMessage(Edition::kPersonal));
    }
    if (shared(Edition::kClient)) {
      flag = MigrateEdition(Edition::kClient);
      if (flag) ShowMessage(MigratedMessage(Edition::kClient));
    }
    if (shared(Edition::kServer)) {
      if (MigrateEdition(Edition::kServer)) {
        ShowMessage(MigratedMessage(Edition::kServer));
      } else {
        ShowMessage(kNotMigratedMessage);
      }
    } else if (!flag) {
      ShowMessage(kNotMigratedMessage);
    }
  }
  backup_ = nullptr;
  EndCommand();
}

}  // namespace kdr
