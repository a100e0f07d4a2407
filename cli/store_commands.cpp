#include "cli/store_commands.h"

#include <optional>

#include "cli/cli_app.h"
#include "cli/cli_platform.h"
#include "cli/json_text.h"
#include "cli/unfinished_report.h"
#include "core/log_lines.h"
#include "core/presence.h"
#include "engine/previews.h"
#include "engine/store_acceptance.h"
#include "engine/undo_scope.h"
#include "platform/cp932.h"
#include "platform/text_encoding.h"
#include "store/manifest.h"
#include "store/store_check.h"
#include "store/undo.h"

namespace kdr::cli {
namespace {

// A name or path as text for the console: a control character (a file name on a POSIX host may
// hold an escape or a line break) as the log writes it, so that each problem stays one line.
std::string Shown(std::string_view cp932) {
  std::string out;
  AppendEscaped(Cp932ForDisplay(cp932), &out);
  return out;
}

std::string Bool(bool value) { return value ? "true" : "false"; }

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

void Print(const StoreCommandOptions& options, const std::string& text) {
  if (!options.quiet || options.json) WriteStdout(text);
}

}  // namespace

namespace {

std::string StateJson(const EditionCheck& check) {
  std::vector<std::string> skipped;
  for (const std::string& folder : check.skipped_folders)
    skipped.push_back(JsonString(Shown(folder)));
  return "\"state\":" + JsonString(StoreStateName(check.state())) +
         ",\"missing\":" + std::to_string(check.missing()) +
         ",\"changed\":" + std::to_string(check.changed()) +
         ",\"added\":" + std::to_string(check.added()) +
         ",\"not_collected\":" + std::to_string(check.missed.size()) +
         ",\"skipped_folders\":" + JsonList(skipped);
}

// Each difference as a line of text and a JSON object.
void ListDifferences(const EditionCheck& check, std::string* text, std::vector<std::string>* json) {
  auto add = [&](const std::string& path, std::string_view problem) {
    std::string shown;
    AppendEscaped(problem, &shown);
    *text += "  " + path + ": " + shown + "\n";
    json->push_back("{\"path\":" + JsonString(path) + ",\"problem\":" + JsonString(problem) + "}");
  };
  if (!check.manifest_error.empty()) add(std::string(kManifestName), check.manifest_error);
  for (const ManifestMiss& miss : check.missed) {
    // Kept in UTF-8 by the manifest: only its control characters are escaped.
    std::string what;
    AppendEscaped(miss.what, &what);
    add(what, "not collected: " + miss.why);
  }
  for (const StoreProblem& p : check.problems) add(Shown(p.path), ProblemText(p.kind));
  for (const std::string& folder : check.skipped_folders) {
    add(Shown(folder), "folder removed from the store: its copy is skipped");
  }
}

std::optional<Edition> EditionNamed(std::string_view name) {
  for (Edition e : kAllEditions) {
    if (Cp932EqualNoCase(name, EditionName(e)) || Cp932EqualNoCase(name, EditionFolderName(e))) {
      return e;
    }
  }
  return std::nullopt;
}

// Seals the edition's store as it now is, after listing what it differs in.
int AcceptStoreCommand(const Services& services, const WorkPaths& paths,
                       const StoreCommandOptions& options, Edition edition) {
  StoreAcceptance accepted = AcceptStore(services, paths, edition);
  const EditionCheck& check = accepted.was;
  std::string text = std::string(EditionName(edition)) + ": " + StoreStateText(check) + "\n";
  std::vector<std::string> differences;
  ListDifferences(check, &text, &differences);
  bool sealed = accepted.sealed;
  if (sealed) {
    text += "sealed as it is now: " + std::string(EditionName(edition)) + " is whole\n";
  } else {
    text += "not sealed: " + accepted.error + "\n";
  }
  if (options.json) {
    Print(options, JsonObjectFor("verify --accept") + ",\"edition\":" +
                       JsonString(EditionName(edition)) + ",\"was\":{" + StateJson(check) +
                       ",\"problems\":" + JsonList(differences) + "},\"sealed\":" + Bool(sealed) +
                       (sealed ? "" : ",\"error\":" + JsonString(accepted.error)) + "}\n");
  } else if (!sealed) {
    WriteStderr(text);
  } else {
    Print(options, text);
  }
  return sealed ? kExitOk : kExitEditionFailed;
}

}  // namespace

int RunVerify(const Services& services, const WorkPaths& paths,
              const StoreCommandOptions& options) {
  EditionCode collected = DetectCollectedEditions(services.files, paths);
  if (!options.accept.empty()) {
    std::optional<Edition> edition = EditionNamed(options.accept);
    if (!edition) {
      WriteStderr("kdr4tose-cli: --accept wants an edition: Personal, Client or Server\n");
      return kExitUsage;
    }
    if (!HasEdition(collected, *edition)) {
      WriteStderr("kdr4tose-cli: " + std::string(EditionName(*edition)) + " is not collected in " +
                  Shown(paths.root) + "\n");
      return kExitNothingToDo;
    }
    return AcceptStoreCommand(services, paths, options, *edition);
  }
  std::vector<std::string> json;
  std::string text;
  bool all_whole = true;
  for (Edition e : kAllEditions) {
    if (!HasEdition(collected, e)) continue;
    EditionCheck check = CheckEdition(services.files, paths, e, nullptr);
    // A store from an older version cannot be checked: not "whole", but not damaged.
    if (!check.whole()) all_whole = false;
    std::vector<std::string> problems;
    // --quiet leaves out only what says all is well: a problem is printed with its edition.
    std::string lines;
    ListDifferences(check, &lines, &problems);
    if (!options.quiet || !check.whole()) {
      text += std::string(EditionName(e)) + ": " + StoreStateText(check) + " (" +
              std::to_string(check.files_checked) + " file(s) checked)\n" + lines;
    }
    json.push_back("{\"edition\":" + JsonString(EditionName(e)) + "," + StateJson(check) +
                   ",\"files_checked\":" + std::to_string(check.files_checked) +
                   ",\"problems\":" + JsonList(problems) + "}");
  }
  int code = collected == 0 ? kExitNothingToDo : all_whole ? kExitOk : kExitEditionFailed;
  // The store may be whole while a Migrate from it stopped halfway.
  std::vector<UnfinishedMigrate> unfinished =
      FindUnfinishedMigrates(services.files, BackupPlacesFor(paths, services.user_state_folder));
  if (options.json) {
    Print(options, JsonObjectFor("verify") + ",\"whole\":" + Bool(code == kExitOk) +
                       ",\"editions\":" + JsonList(json) +
                       ",\"unfinished_migrates\":" + UnfinishedMigrateJson(unfinished) + "}\n");
  } else if (collected == 0) {
    Print(options, "nothing collected in " + Shown(paths.root) + "\n");
    WriteStdout(UnfinishedMigrateText(unfinished));
  } else {
    WriteStdout(text + UnfinishedMigrateText(unfinished));
  }
  return code;
}

int RunUndo(const Services& services, const WorkPaths& paths, const StoreCommandOptions& options,
            bool* changed) {
  *changed = false;
  const BackupPlaces places = BackupPlacesFor(paths, services.user_state_folder);
  if (options.list) {
    std::vector<BackupInfo> backups = ListBackups(services.files, places);
    std::vector<std::string> json;
    std::string text;
    for (const BackupInfo& b : backups) {
      std::string editions;
      std::vector<std::string> names;
      for (const std::string& e : b.editions) {
        editions += (editions.empty() ? "" : ", ") + e;
        names.push_back(JsonString(e));
      }
      bool elsewhere = b.folder.rfind(places.work, 0) != 0;
      text += Shown(b.name) + "  " + b.time + "  " + (editions.empty() ? "-" : editions) +
              (b.undone ? "  (undone)" : "") + (elsewhere ? "  in " + Shown(b.folder) : "") +
              (b.error.empty() ? "" : "  " + b.error) + "\n";
      json.push_back("{\"name\":" + JsonString(Shown(b.name)) + ",\"time\":" + JsonString(b.time) +
                     ",\"sequence\":" + std::to_string(b.sequence) +
                     ",\"folder\":" + JsonString(Shown(b.folder)) +
                     ",\"editions\":" + JsonList(names) + ",\"undone\":" + Bool(b.undone) +
                     (b.error.empty() ? "" : ",\"error\":" + JsonString(b.error)) + "}");
    }
    if (options.json) {
      Print(options, JsonObjectFor("undo --list") +
                         ",\"folder\":" + JsonString(Shown(places.work)) + ",\"user_folder\":" +
                         (places.fallback.empty() ? "null" : JsonString(Shown(places.fallback))) +
                         ",\"backups\":" + JsonList(json) + "}\n");
    } else {
      Print(options, backups.empty()
                         ? "no backups in " + Shown(places.work) +
                               (places.fallback.empty() ? "" : " or " + Shown(places.fallback)) +
                               "\n"
                         : text);
    }
    return backups.empty() ? kExitNothingToDo : kExitOk;
  }
  std::optional<std::string> name = Utf8ToCp932(options.backup);
  if (!name) {
    WriteStderr("kdr4tose-cli: the backup name has characters outside code page 932\n");
    return kExitUsage;
  }
  // Each item is printed as it is done: a million of them are never held. In JSON, what is
  // known only at the end follows the items.
  bool first = true;
  if (options.json) Print(options, JsonObjectFor("undo") + ",\"items\":[");
  auto observer = [&](const UndoItem& item) {
    if (options.json) {
      Print(options, std::string(first ? "" : ",") + "{\"item\":" + JsonString(item.what) +
                         ",\"outcome\":" + JsonString(UndoOutcomeText(item.outcome)) +
                         (item.reason.empty() ? "" : ",\"reason\":" + JsonString(item.reason)) +
                         "}");
    } else {
      std::string line = std::string(UndoOutcomeText(item.outcome)) + ": " + item.what +
                         (item.reason.empty() ? "" : " (" + item.reason + ")") + "\n";
      // What was not undone (metadata too) is said on standard error, even with --quiet.
      if (item.outcome == UndoOutcome::kRefused || item.outcome == UndoOutcome::kFailed ||
          !item.reason.empty()) {
        WriteStderr(line);
      } else if (item.outcome != UndoOutcome::kAlreadyAsBefore) {
        Print(options, line);
      }
    }
    first = false;
  };
  UndoResult result = UndoLastMigrate(services, paths, *name, options.force, observer);
  *changed = result.Total() > 0;
  std::string summary = "undo of backup " + Shown(result.backup) + ": " +
                        std::to_string(result.Count(UndoOutcome::kRestored)) + " restored, " +
                        std::to_string(result.Count(UndoOutcome::kRemoved)) + " removed, " +
                        std::to_string(result.Count(UndoOutcome::kRefused)) + " refused, " +
                        std::to_string(result.Count(UndoOutcome::kFailed)) + " failed" +
                        (result.complete() ? "; everything is as before the Migrate\n"
                                           : "; NOT everything is as before the Migrate\n");
  if (options.json) {
    Print(options, "],\"backup\":" + JsonString(Shown(result.backup)) +
                       ",\"complete\":" + Bool(result.complete()) +
                       (result.error.empty() ? "" : ",\"error\":" + JsonString(result.error)) +
                       "}\n");
  } else {
    if (result.error.empty()) {
      Print(options, summary);
    } else {
      WriteStderr(result.error + "\n");
    }
  }
  if (result.nothing_to_do) return kExitNothingToDo;
  return result.complete() ? kExitOk : kExitEditionFailed;
}

int RunCollectPreview(CMigrateDlg& dlg, const Services& services,
                      const StoreCommandOptions& options) {
  EditionCode code = dlg.DetectOldEditions();
  const WorkPaths& paths = dlg.paths();
  std::string text;
  std::vector<std::string> json;
  for (const CollectPreview& preview : PreviewCollect(services, paths, code)) {
    Edition e = preview.edition;
    text += std::string(EditionName(e)) + ":\n  settings file " + Shown(paths.SettingsFile(e)) +
            (preview.settings_file_replaced ? " (replaced)\n" : " (added)\n");
    for (const std::string& absent : preview.absent_sources) {
      text += "  " + Shown(absent) + " does not exist: nothing copied from it\n";
    }
    std::vector<std::string> files_json;
    for (const CollectPreviewFile& f : preview.files) {
      text += "  " + std::string(f.replaces ? "replace " : "add     ") + Shown(f.destination) +
              " (" + std::to_string(f.size) + " bytes)\n";
      files_json.push_back("{\"path\":" + JsonString(Shown(f.destination)) + ",\"from\":" +
                           JsonString(Shown(f.source)) + ",\"size\":" + std::to_string(f.size) +
                           ",\"replaces\":" + Bool(f.replaces) + "}");
    }
    std::vector<std::string> failures_json;
    for (const std::string& f : preview.failures) {
      text += "  would fail: " + f + "\n";
      failures_json.push_back(JsonString(f));
    }
    json.push_back("{\"edition\":" + JsonString(EditionName(e)) + ",\"files\":" +
                   JsonList(files_json) + ",\"failures\":" + JsonList(failures_json) + "}");
  }
  if (options.json) {
    Print(options,
          JsonObjectFor("collect") + ",\"dry_run\":true,\"editions\":" + JsonList(json) + "}\n");
  } else {
    Print(options, code == 0 ? "nothing to collect: Kodrel4 is not installed\n"
                             : "collect --dry-run (nothing is written):\n" + text);
  }
  return code == 0 ? kExitNothingToDo : kExitOk;
}

int RunMigratePreview(CMigrateDlg& dlg, const Services& services,
                      const StoreCommandOptions& options) {
  EditionCode shared = dlg.DetectNewEditions();
  EditionCode collected = dlg.DetectCollectedEditions();
  const WorkPaths& paths = dlg.paths();
  std::string text;
  std::vector<std::string> json;
  bool any = false;
  bool trouble = false;
  for (const MigratePreview& preview : PreviewMigrate(services, paths, shared & collected)) {
    Edition e = preview.edition;
    const EditionCheck& check = preview.check;
    const EditionPlan& plan = preview.plan;
    any = true;
    text += std::string(EditionName(e)) + ":\n";
    if (!check.usable()) {
      trouble = true;
      text += "  would not be migrated: the store is " + StoreStateText(check) + " (see verify)\n";
      json.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                     ",\"outcome\":\"not migrated: store " +
                     std::string(StoreStateName(check.state())) + "\"," + StateJson(check) + "}");
      continue;
    }
    if (!check.has_manifest) text += "  the store has no manifest: it cannot be verified\n";
    if (!preview.planned) {
      trouble = true;
      text += "  cannot be previewed: " + preview.error + "\n";
      json.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                     ",\"outcome\":\"cannot be previewed\",\"error\":" + JsonString(preview.error) +
                     "}");
      continue;
    }
    std::vector<std::string> values, keys, files, failures;
    for (const std::string& key : plan.keys_created) {
      text += "  create key   HKCU\\" + Shown(key) + "\n";
      keys.push_back(JsonString("HKCU\\" + Shown(key)));
    }
    for (const PlannedValueRef& v : plan.values) {
      std::string where = "HKCU\\" + Shown(v.key) + "\\" + Shown(v.name);
      std::string now = ValueShown(v.name, v.new_type, v.new_data);
      std::string old = v.existed ? ValueShown(v.name, v.old_type, v.old_data) : "";
      text += v.existed ? "  replace value " + where + ": " + old + " -> " + now + "\n"
                        : "  create value  " + where + " = " + now + "\n";
      values.push_back("{\"value\":" + JsonString(where) + ",\"replaces\":" + Bool(v.existed) +
                       (v.existed ? ",\"old\":" + JsonString(old) : "") +
                       ",\"new\":" + JsonString(now) + "}");
    }
    for (const PlannedFile& f : plan.files) {
      text += "  " + std::string(f.replaces ? "replace " : "add     ") + Shown(f.destination) +
              " (" + (f.replaces ? std::to_string(f.old_size) + " -> " : "") +
              std::to_string(f.new_digest.size) + " bytes)\n";
      files.push_back("{\"path\":" + JsonString(Shown(f.destination)) + ",\"replaces\":" +
                      Bool(f.replaces) + ",\"size\":" + std::to_string(f.new_digest.size) + "}");
    }
    for (const std::string& f : plan.failures) {
      trouble = true;
      text += "  would fail: " + Shown(f) + "\n";
      failures.push_back(JsonString(Shown(f)));
    }
    json.push_back("{\"edition\":" + JsonString(EditionName(e)) + ",\"outcome\":" +
                   JsonString(plan.failures.empty() ? "would migrate" : "would fail in part") +
                   ",\"verified\":" + Bool(check.has_manifest) +
                   ",\"keys_created\":" + JsonList(keys) + ",\"values\":" + JsonList(values) +
                   ",\"files\":" + JsonList(files) + ",\"failures\":" + JsonList(failures) + "}");
  }
  if (options.json) {
    Print(options,
          JsonObjectFor("migrate") + ",\"dry_run\":true,\"editions\":" + JsonList(json) + "}\n");
  } else {
    Print(options, any ? "migrate --dry-run (nothing is written):\n" + text
                       : "nothing to migrate: no edition is both installed and collected\n");
  }
  if (!any) return kExitNothingToDo;
  return trouble ? kExitEditionFailed : kExitOk;
}

std::string RunSummaryJson(const char* command, const RunSummary& summary) {
  std::vector<std::string> editions;
  for (Edition e : kAllEditions) {
    if (!HasEdition(summary.attempted, e)) continue;
    const EditionFailure cause = summary.Cause(e);
    const bool failed = HasEdition(summary.failed, e);
    std::string_view outcome = !failed ? "done" : WroteNothing(cause) ? "not_migrated" : "failed";
    bool refused = HasEdition(summary.damaged, e);
    // Collect: the store was sealed whole. Migrate: the store was checked whole and used.
    bool verified = std::string_view(command) == "collect"
                        ? HasEdition(summary.sealed, e)
                        : !refused && !HasEdition(summary.unverified, e);
    editions.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                       ",\"outcome\":" + JsonString(outcome) +
                       (failed ? ",\"reason\":" + JsonString(EditionFailureCode(cause)) +
                                     ",\"reason_text\":" + JsonString(EditionFailureText(cause))
                               : "") +
                       ",\"verified\":" + Bool(verified) +
                       (std::string_view(command) == "migrate"
                            ? ",\"store\":" + JsonString(StoreStateName(summary.Store(e)))
                            : "") +
                       ",\"not_copied\":" + std::to_string(summary.Copies(e).not_copied.size()) +
                       ",\"kept\":" + std::to_string(summary.Copies(e).files_kept) + "}");
  }
  return JsonObjectFor(command) + ",\"editions\":" + JsonList(editions) +
         ",\"attempted\":" + std::to_string(summary.attempted) +
         ",\"failed\":" + std::to_string(summary.failed) + ",\"backup\":" +
         (summary.backup_name.empty() ? "null" : JsonString(Shown(summary.backup_name))) + "}\n";
}

}  // namespace kdr::cli
