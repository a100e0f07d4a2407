#include "cli/store_commands.h"

#include <optional>

#include "app/migration_plan.h"
#include "app/undo_scope.h"
#include "cli/cli_app.h"
#include "cli/cli_platform.h"
#include "cli/json_text.h"
#include "core/log_lines.h"
#include "core/presence.h"
#include "datafolders/data_folders.h"
#include "platform/text_encoding.h"
#include "settings/entry_codec.h"
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

// A value's data as a person reads it; credentials never.
std::string ValueText(std::string_view name, uint32_t type, std::string_view data) {
  if (IsCredentialName(name)) return "(credential, hidden)";
  if (type == kRegSz || type == kRegExpandSz) {
    return "\"" + Shown(data.substr(0, data.find('\0'))) + "\"";
  }
  if (type == kRegDword && data.size() == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
    return "dword " + std::to_string(v);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex = "type " + std::to_string(type) + " hex ";
  for (unsigned char c : data) {
    hex.push_back(kHex[c >> 4]);
    hex.push_back(kHex[c & 15]);
  }
  return hex;
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

void Print(const StoreCommandOptions& options, const std::string& text) {
  if (!options.quiet || options.json) WriteStdout(text);
}

}  // namespace

int RunVerify(const Services& services, const WorkPaths& paths,
              const StoreCommandOptions& options) {
  EditionCode collected = DetectCollectedEditions(services.files, paths);
  std::vector<std::string> json;
  std::string text;
  bool all_whole = true;
  for (Edition e : kAllEditions) {
    if (!HasEdition(collected, e)) continue;
    EditionCheck check = CheckEdition(services.files, paths, e, nullptr);
    std::string state = check.whole() ? "whole" : !check.has_manifest ? "no manifest" : "damaged";
    // A store from an older version cannot be checked: not "whole", but not damaged.
    if (!check.whole()) all_whole = false;
    std::vector<std::string> problems;
    // --quiet leaves out only what says all is well: a problem is printed with its edition.
    bool shown = !options.quiet || !check.whole();
    if (shown) {
      text += std::string(EditionName(e)) + ": " + state + " (" +
              std::to_string(check.files_checked) + " file(s) checked)\n";
    }
    if (!check.manifest_error.empty()) {
      text += "  " + check.manifest_error + "\n";
      problems.push_back("{\"path\":" + JsonString(std::string(kManifestName)) +
                         ",\"problem\":" + JsonString(check.manifest_error) + "}");
    }
    for (const StoreProblem& p : check.problems) {
      text += "  " + Shown(p.path) + ": " + std::string(ProblemText(p.kind)) + "\n";
      problems.push_back("{\"path\":" + JsonString(Shown(p.path)) +
                         ",\"problem\":" + JsonString(ProblemText(p.kind)) + "}");
    }
    json.push_back("{\"edition\":" + JsonString(EditionName(e)) + ",\"state\":" +
                   JsonString(state) + ",\"files_checked\":" + std::to_string(check.files_checked) +
                   ",\"problems\":" + JsonList(problems) + "}");
  }
  int code = collected == 0 ? kExitNothingToDo : all_whole ? kExitOk : kExitEditionFailed;
  if (options.json) {
    Print(options, "{\"command\":\"verify\",\"whole\":" + Bool(code == kExitOk) +
                       ",\"editions\":" + JsonList(json) + "}\n");
  } else {
    if (collected == 0) text = "nothing collected in " + Shown(paths.root) + "\n";
    WriteStdout(text);
  }
  return code;
}

int RunUndo(const Services& services, const WorkPaths& paths, const StoreCommandOptions& options,
            bool* changed) {
  *changed = false;
  if (options.list) {
    std::vector<BackupInfo> backups = ListBackups(services.files, paths);
    std::vector<std::string> json;
    std::string text;
    for (const BackupInfo& b : backups) {
      std::string editions;
      std::vector<std::string> names;
      for (const std::string& e : b.editions) {
        editions += (editions.empty() ? "" : ", ") + e;
        names.push_back(JsonString(e));
      }
      text += Shown(b.name) + "  " + b.time + "  " + (editions.empty() ? "-" : editions) +
              (b.undone ? "  (undone)" : "") + (b.error.empty() ? "" : "  " + b.error) + "\n";
      json.push_back("{\"name\":" + JsonString(Shown(b.name)) + ",\"time\":" + JsonString(b.time) +
                     ",\"editions\":" + JsonList(names) + ",\"undone\":" + Bool(b.undone) +
                     (b.error.empty() ? "" : ",\"error\":" + JsonString(b.error)) + "}");
    }
    if (options.json) {
      Print(options,
            "{\"command\":\"undo --list\",\"folder\":" + JsonString(Shown(BackupRoot(paths))) +
                ",\"backups\":" + JsonList(json) + "}\n");
    } else {
      Print(options, backups.empty() ? "no backups in " + Shown(BackupRoot(paths)) + "\n" : text);
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
  if (options.json) Print(options, "{\"command\":\"undo\",\"items\":[");
  auto observer = [&](const UndoItem& item) {
    if (options.json) {
      Print(options, std::string(first ? "" : ",") + "{\"item\":" + JsonString(item.what) +
                         ",\"outcome\":" + JsonString(UndoOutcomeText(item.outcome)) +
                         (item.reason.empty() ? "" : ",\"reason\":" + JsonString(item.reason)) +
                         "}");
    } else {
      std::string line = std::string(UndoOutcomeText(item.outcome)) + ": " + item.what +
                         (item.reason.empty() ? "" : " (" + item.reason + ")") + "\n";
      // What was not undone is said on standard error, even with --quiet.
      if (item.outcome == UndoOutcome::kRefused || item.outcome == UndoOutcome::kFailed) {
        WriteStderr(line);
      } else if (item.outcome != UndoOutcome::kAlreadyAsBefore) {
        Print(options, line);
      }
    }
    first = false;
  };
  UndoResult result = UndoMigrate(
      services.registry, services.files, paths, *name, options.force,
      MigrateUndoScope(services.registry, services.files, paths, services.max_path), observer);
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
  for (Edition e : kAllEditions) {
    if (!HasEdition(code, e)) continue;
    std::vector<std::string> unreadable;
    std::vector<FolderCopy> copies = PlannedCopies(services.registry, services.files, paths,
                                                   services.max_path, e, false, &unreadable);
    text += std::string(EditionName(e)) + ":\n  settings file " + Shown(paths.SettingsFile(e)) +
            (services.files.Exists(paths.SettingsFile(e)) ? " (replaced)\n" : " (added)\n");
    std::vector<std::string> files_json, failures;
    for (const std::string& u : unreadable) failures.push_back(u + " cannot be read");
    if (!unreadable.empty()) copies.clear();  // the path message; nothing of it is copied
    for (const FolderCopy& copy : copies) {
      std::vector<std::string> names;
      if (!services.files.IsFolder(copy.source)) {
        text += "  " + Shown(copy.source) + " does not exist: nothing copied from it\n";
        continue;
      }
      if (!services.files.ListFiles(copy.source, &names)) {
        failures.push_back(Shown(copy.source) + " cannot be listed");
        continue;
      }
      for (const std::string& name : names) {
        std::optional<FileStamp> stamp = services.files.Stamp(copy.source + name);
        bool replaces = services.files.Exists(copy.destination + name);
        uint64_t size = stamp ? stamp->size : 0;
        text += "  " + std::string(replaces ? "replace " : "add     ") +
                Shown(copy.destination + name) + " (" + std::to_string(size) + " bytes)\n";
        files_json.push_back("{\"path\":" + JsonString(Shown(copy.destination + name)) +
                             ",\"from\":" + JsonString(Shown(copy.source + name)) + ",\"size\":" +
                             std::to_string(size) + ",\"replaces\":" + Bool(replaces) + "}");
      }
    }
    for (const std::string& f : failures) text += "  would fail: " + f + "\n";
    std::vector<std::string> failures_json;
    for (const std::string& f : failures) failures_json.push_back(JsonString(f));
    json.push_back("{\"edition\":" + JsonString(EditionName(e)) + ",\"files\":" +
                   JsonList(files_json) + ",\"failures\":" + JsonList(failures_json) + "}");
  }
  if (options.json) {
    Print(options,
          "{\"command\":\"collect\",\"dry_run\":true,\"editions\":" + JsonList(json) + "}\n");
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
  for (Edition e : kAllEditions) {
    if (!HasEdition(shared, e) || !HasEdition(collected, e)) continue;
    any = true;
    text += std::string(EditionName(e)) + ":\n";
    DigestCache digests;
    EditionCheck check = CheckEdition(services.files, paths, e, &digests);
    if (!check.usable()) {
      trouble = true;
      text += "  would not be migrated: " + std::to_string(check.bad_count()) +
              " file(s) of the store are not as collected (see verify)\n";
      json.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                     ",\"outcome\":\"not migrated: store damaged\",\"bad_files\":" +
                     std::to_string(check.bad_count()) + "}");
      continue;
    }
    if (!check.has_manifest) text += "  the store has no manifest: it cannot be verified\n";
    EditionPlan plan;
    std::string error;
    PlanInputs inputs{services.registry, services.files, services.profiles, paths,
                      services.max_path, &digests};
    if (!PlanMigrate(inputs, e, &plan, &error)) {
      trouble = true;
      text += "  cannot be previewed: " + error + "\n";
      json.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                     ",\"outcome\":\"cannot be previewed\",\"error\":" + JsonString(error) + "}");
      continue;
    }
    std::vector<std::string> values, keys, files, failures;
    for (const std::string& key : plan.keys_created) {
      text += "  create key   HKCU\\" + Shown(key) + "\n";
      keys.push_back(JsonString("HKCU\\" + Shown(key)));
    }
    for (const PlannedValueRef& v : plan.values) {
      std::string where = "HKCU\\" + Shown(v.key) + "\\" + Shown(v.name);
      std::string now = ValueText(v.name, v.new_type, v.new_data);
      std::string old = v.existed ? ValueText(v.name, v.old_type, v.old_data) : "";
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
          "{\"command\":\"migrate\",\"dry_run\":true,\"editions\":" + JsonList(json) + "}\n");
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
    std::string outcome = HasEdition(summary.damaged, e)  ? "not migrated: store damaged"
                          : HasEdition(summary.failed, e) ? "failed"
                                                          : "done";
    editions.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                       ",\"outcome\":" + JsonString(outcome) +
                       ",\"verified\":" + Bool(!HasEdition(summary.unverified, e)) + "}");
  }
  return "{\"command\":" + JsonString(command) + ",\"editions\":" + JsonList(editions) +
         ",\"attempted\":" + std::to_string(summary.attempted) +
         ",\"failed\":" + std::to_string(summary.failed) + ",\"backup\":" +
         (summary.backup_name.empty() ? "null" : JsonString(Shown(summary.backup_name))) + "}\n";
}

}  // namespace kdr::cli
