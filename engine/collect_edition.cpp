#include "engine/collect_edition.h"

#include <string>
#include <vector>

#include "core/edition_folders.h"
#include "datafolders/data_folders.h"
#include "engine/copy_totals.h"
#include "platform/text_encoding.h"
#include "settings/settings_export.h"
#include "store/copy_record.h"
#include "store/store_check.h"

namespace kdr {
namespace {

// *told is set when the data step shows a message of its own.
DataFolderContext DataContext(RunContext& run, CopyObserver* recorder, DigestCache* digests,
                              bool* told) {
  auto show = [&run, told](std::string_view text) {
    *told = true;
    if (run.show_message) run.show_message(text);
  };
  DataFolderContext ctx{
      run.services.registry, run.services.files, run.paths, run.log, recorder, run.copy_owner, show,
      run.services.max_path};
  ctx.verify_copies = run.services.verification;
  ctx.digests = digests;
  return ctx;
}

// Seals the edition's store, naming in it what Collect could not take. Clears
// *settings_written when the settings file cannot be put on disk for hashing.
void WriteManifest(RunContext& run, Edition edition, DigestCache* digests, bool* ok,
                   bool* settings_written) {
  const std::string what = "manifest of " + std::string(EditionName(edition));
  // The settings file must be on disk before it is hashed.
  if (*settings_written && !run.services.profiles.Flush()) *settings_written = false;
  // Kept in the manifest, which is UTF-8 text: its names are converted as they go in.
  std::vector<ManifestMiss> missed;
  if (!*settings_written) {
    missed.push_back(
        {Cp932ForDisplay(run.paths.SettingsFile(edition)), std::string(kMissNotWritten)});
  }
  for (const FailedItem& item : run.summary.Copies(edition).not_copied) {
    missed.push_back({Cp932ForDisplay(item.source), Describe(item.error)});
  }
  // A data path that could not be read leaves whole folders out, with no file to name.
  if (!*ok && missed.empty()) {
    missed.push_back({std::string(kMissDataFolders), std::string(kMissSeeLog)});
  }
  ManifestWriteError error;
  if (!WriteEditionManifest(run.services.files, run.paths, edition, ToolVersion(),
                            run.services.clock().local, digests, missed, &error)) {
    // The manifest that says Collect began stays: the store reads as unfinished.
    run.log.Skipped(what, ManifestWriteErrorText(error));
    *ok = false;
    return;
  }
  if (missed.empty()) {
    run.summary.sealed |= EditionWeight(edition);
    run.log.Done(what + " written: the store is whole");
  } else {
    run.log.Done(what + " written: the store is incomplete, " + std::to_string(missed.size()) +
                 " item(s) not collected");
  }
}

}  // namespace

CollectOutcome CollectEdition(RunContext& run, Edition edition) {
  const std::string name(EditionName(edition));
  run.log.Done("collect " + name);
  run.summary.attempted |= EditionWeight(edition);
  MakeEditionFolders(run.services.files, run.paths, edition);
  CollectOutcome outcome;
  // Before anything of the edition is written, its store says Collect has begun, so that a
  // Collect that never ends is never taken for one that did.
  ManifestWriteError begun_error;
  if (run.services.verification &&
      !MarkEditionBegun(run.services.files, run.paths, edition, ToolVersion(),
                        run.services.clock().local, &begun_error)) {
    run.log.Skipped("collect " + name,
                    ManifestWriteErrorText(begun_error) + "; nothing of the edition written");
    run.summary.Fail(edition, EditionFailure::kStoreNotMarked);
    return outcome;
  }
  ExportContext exports{run.services.registry, run.services.profiles, run.log};
  ProgressCopyObserver progress(run.progress, run.services.copy_observer);
  CopyRecorder recorder(run.summary.Copies(edition), run.log, &progress);
  DigestCache digests;
  DataFolderContext data = DataContext(run, &recorder, &digests, &outcome.data_told);
  FolderIdentities folders(run.services.files);
  data.folders = &folders;
  DigestWorker read_ahead;
  data.read_ahead = &read_ahead;
  // What earlier Collects proved of the store: files still as they were read stay.
  std::optional<CopyRecord> record;
  if (run.services.verification) {
    record.emplace(run.services.files, run.paths, edition);
    record->Load();
    data.keeper = &*record;
  }
  run.StartPhase(RunPhase::kSettings, edition);
  outcome.settings_written = ExportEditionSettings(exports, run.paths, edition);
  bool data_ok = false;
  if (!run.StopRequested()) {
    StartCopying(run, edition, /*migrate=*/false);
    data_ok = CollectEditionData(data, edition);
  }
  // Written also when stopped: what was proven so far need not be copied again.
  if (record && !record->Rewrite()) {
    run.log.Skipped("record of the copies of " + name + " (" +
                        Cp932Text(CopyRecordPath(run.paths, edition)) + ")",
                    "could not be written; the next Collect copies every file again");
  }
  LogKept(run.log, name, run.summary.Copies(edition).files_kept, "the store");
  // Stopped: the store is left as begun, never sealed, so that it reads as unfinished.
  if (run.StopRequested()) {
    (void)run.services.profiles.Flush();
    run.log.Skipped("collect " + name, "interrupted; the store is unfinished");
    run.summary.Fail(edition, EditionFailure::kInterrupted);
    return outcome;
  }
  bool sealed = true;
  if (run.services.verification) {
    bool manifest_ok = data_ok && outcome.settings_written;
    WriteManifest(run, edition, &digests, &manifest_ok, &outcome.settings_written);
    sealed = manifest_ok || !data_ok || !outcome.settings_written;
  }
  // A settings file that could not be put on disk fails the edition, as one not exported does.
  const EditionFailure cause = !outcome.settings_written ? EditionFailure::kSettingsNotWritten
                               : !run.summary.Copies(edition).not_copied.empty()
                                   ? EditionFailure::kFilesNotCopied
                               : !data_ok ? EditionFailure::kPathNotRead
                               : !sealed  ? EditionFailure::kStoreNotSealed
                                          : EditionFailure::kNone;
  outcome.ok = cause == EditionFailure::kNone;
  if (!outcome.ok) run.summary.Fail(edition, cause);
  return outcome;
}

}  // namespace kdr
