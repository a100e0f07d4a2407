#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "app/migrate_dlg.h"
#include "cli/cli_messages.h"
#include "cli/cli_platform.h"
#include "cli/console_view.h"
#include "cli/file_error_text.h"
#include "cli/fleet_report_command.h"
#include "cli/hive_file.h"
#include "cli/json_text.h"
#include "cli/registry_write_back_hooks.h"
#include "cli/run_log.h"
#include "cli/store_commands.h"
#include "cli/unfinished_report.h"
#include "cli/user_profiles.h"
#include "platform/atomic_file.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/registry_file.h"
#include "platform/portable_profile_file.h"
#include "platform/run_identity.h"
#include "platform/text_encoding.h"
#include "platform/user_state_folder.h"
#include "platform/work_folder_lock.h"
#include "store/content_hash.h"
#include "store/store_check.h"
#include "store/store_time.h"

namespace kdr::cli {
namespace {

constexpr std::string_view kProgram = "kdr4tose-cli";
// How long a run waits for another one that holds the registry file.
constexpr int kLockWaitMs = 10000;

// The keys of a registry file that the tool reads: the installation markers (both views) and the
// settings of both products. Only the new product's branch is ever written back.
const RegistryBranch kMarkerBranch{RootKey::kLocalMachine, "Software\\VTQ"};
const RegistryBranch kMarkerBranch32{RootKey::kLocalMachine, "Software\\WOW6432Node\\VTQ"};
const RegistryBranch kOldBranch{RootKey::kCurrentUser, "Software\\VTQ\\Kodrel"};
const RegistryBranch kNewBranch{RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE"};
const RegistryBranch& WrittenBranch() { return kNewBranch; }

// The branches `command` reads, held as values; the old product's settings only for Collect,
// the one command that reads them. The store refuses a key outside them (HoldOnly), which ends
// the run before anything is written back.
std::vector<RegistryBranch> HeldBranches(std::string_view command) {
  std::vector<RegistryBranch> held{kMarkerBranch, kMarkerBranch32, kNewBranch};
  if (command == "collect") held.push_back(kOldBranch);
  return held;
}
// What is read and not held is still checked, so that whether a file is accepted does not
// depend on the command.
std::vector<RegistryBranch> CheckedOnlyBranches(std::string_view command) {
  if (command == "collect") return {};
  return {kOldBranch};
}

struct Options {
  std::string command;
  std::string work_dir;
  std::string registry_file;
  std::string hive_file;         // the user's registry as a hive file (NTUSER.DAT)
  std::string system_hive_file;  // HKEY_LOCAL_MACHINE\Software as a hive file (SOFTWARE)
  std::vector<std::string> drives;
  std::string log_file;
  bool json = false;
  bool quiet = false;
  bool dry_run = false;
  bool csv = false;
  std::vector<std::string> report_folders;
  bool all_users = false;
  std::vector<std::string> users;
  std::vector<std::string> excluded_users;
  std::vector<std::string> mapped_users;
  StoreCommandOptions store;
};

int UsageError(std::string_view reason) {
  WriteStderr(std::string(kProgram) + ": " + std::string(reason) + "\n" + Text(Msg::kUsageLine) +
              "\n");
  return kExitUsage;
}

int Failure(int code, std::string_view reason) {
  WriteStderr(std::string(kProgram) + ": " + std::string(reason) + "\n");
  return code;
}

// Another run holds a file this run needs: a busy exit, which a caller may try again later.
int InUse(const std::string& text) { return Failure(kExitBusy, text); }

std::string EditionList(EditionCode code) {
  std::string list;
  for (Edition edition : kAllEditions) {
    if (!HasEdition(code, edition)) continue;
    if (!list.empty()) list += Text(Msg::kListSeparator);
    list += EditionName(edition);
  }
  return list.empty() ? Text(Msg::kEditionsNone) : list;
}

// Parses "X=DIR".
std::optional<std::pair<char, std::filesystem::path>> ParseDrive(std::string_view text) {
  if (text.size() < 3 || text[1] != '=') return std::nullopt;
  char letter = text[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  return std::make_pair(letter, HostPathFromUtf8(text.substr(2)));
}

// The work folder as the tool's 8-bit path: absolute, without a trailing separator.
struct WorkFolder {
  std::string cp932;
  std::string shown;  // UTF-8
};

// Exit code kExitOk once the run holds the work folder.
int LockWork(const WorkFolder& work, std::unique_ptr<HostFileLock>* lock) {
  std::string error;
  switch (LockWorkFolder(HostPathFromUtf8(work.shown), kLockWaitMs, lock, &error)) {
    case LockResult::kLocked:
      return kExitOk;
    case LockResult::kBusy:
      return InUse(Text(Msg::kWorkFolderInUse, {work.shown, error}));
    case LockResult::kFailed:
      break;
  }
  return Failure(kExitInternal, Text(Msg::kCannotLockWork, {error}));
}

std::optional<WorkFolder> ResolveWorkFolder(const std::string& option, std::string* error) {
  std::filesystem::path folder;
  if (option.empty()) {
    std::optional<std::filesystem::path> exe_folder = ExecutableFolder();
    if (!exe_folder) {
      *error = Text(Msg::kNoExecutableFolder);
      return std::nullopt;
    }
    folder = *exe_folder;
  } else {
    folder = HostPathFromUtf8(option);
  }
  std::string resolve_error;
  std::optional<std::filesystem::path> absolute = AbsoluteHostPath(folder, &resolve_error);
  if (!absolute) {
    *error = Text(Msg::kCannotResolveWork, {resolve_error});
    return std::nullopt;
  }
  folder = std::move(*absolute);
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    *error = Text(Msg::kWorkNotFolder, {HostPathToUtf8(folder)});
    return std::nullopt;
  }
  std::string utf8 = HostPathToUtf8(folder);
  while (utf8.size() > 1 && (utf8.back() == '/' || utf8.back() == '\\')) utf8.pop_back();
#ifndef _WIN32
  // The tool's paths separate names with backslashes; a host name holding one would be split.
  if (utf8.find('\\') != std::string::npos) {
    *error = Text(Msg::kWorkHasBackslash);
    return std::nullopt;
  }
#else
  // The shell's folder copy does not take \\?\ and \\.\ paths: its data folders would be left out.
  if (utf8.starts_with("\\\\?\\") || utf8.starts_with("\\\\.\\")) {
    *error = Text(Msg::kWorkPrefix, {utf8.substr(0, 4)});
    return std::nullopt;
  }
#endif
  std::optional<std::string> cp932 = Utf8ToCp932(utf8);
  if (!cp932) {
    *error = Text(Msg::kWorkNotCp932, {utf8});
    return std::nullopt;
  }
  return WorkFolder{*cp932, utf8};
}

void PrintStatus(CMigrateDlg& dlg, FileSystem& files, const ConsoleView& view,
                 const WorkFolder& work, bool json, bool quiet,
                 const std::vector<UnfinishedMigrate>& unfinished) {
  EditionCode old_code = dlg.DetectOldEditions();
  EditionCode new_code = dlg.DetectNewEditions();
  EditionCode collected = dlg.DetectCollectedEditions();
  std::string work_root = HostPathToUtf8(HostPathFromUtf8(work.shown) / kWorkRootName);
  // Each collected edition's store as its manifest says (verify checks the files too).
  std::string stores_text;
  std::string stores_json;
  for (Edition e : kAllEditions) {
    if (!HasEdition(collected, e)) continue;
    StoreState state_now = ManifestState(files, dlg.paths(), e);
    std::string_view state = StoreStateName(state_now);
    stores_text += (stores_text.empty() ? "" : Text(Msg::kListSeparator)) +
                   std::string(EditionName(e)) + " " + StateName(state_now);
    stores_json += std::string(stores_json.empty() ? "" : ",") + JsonString(EditionName(e)) + ":" +
                   JsonString(state);
  }
  std::string out;
  if (json) {
    out = JsonObjectFor("status") + ",\"old_installed\":" + std::to_string(old_code) +
          ",\"new_installed\":" + std::to_string(new_code) +
          ",\"collected\":" + std::to_string(collected) + ",\"stores\":{" + stores_json + "}" +
          ",\"collect_enabled\":" + (view.collect_enabled() ? "true" : "false") +
          ",\"migrate_enabled\":" + (view.migrate_enabled() ? "true" : "false") +
          ",\"work_folder\":" + JsonString(work_root) +
          ",\"unfinished_migrates\":" + UnfinishedMigrateJson(unfinished) + "}\n";
  } else if (!quiet) {
    auto enabled = [](bool on) { return Text(on ? Msg::kEnabled : Msg::kDisabled); };
    out = Text(Msg::kStatusOldInstalled, {EditionList(old_code)}) + "\n" +
          Text(Msg::kStatusNewInstalled, {EditionList(new_code)}) + "\n" +
          Text(Msg::kStatusCollected, {EditionList(collected), work_root}) + "\n" +
          (stores_text.empty() ? "" : Text(Msg::kStatusStores, {stores_text}) + "\n") +
          Text(Msg::kStatusCollect, {enabled(view.collect_enabled())}) + "\n" +
          Text(Msg::kStatusMigrate, {enabled(view.migrate_enabled())}) + "\n";
  }
  // Not a success line: --quiet shows it too.
  if (!json) out += UnfinishedMigrateText(unfinished);
  WriteStdout(out);
}

// How many files each edition left as they were, as the log says it.
void PrintKept(const RunSummary& summary, ConsoleProgress& progress, bool migrate) {
  std::string out;
  for (Edition edition : kAllEditions) {
    uint64_t kept = summary.Copies(edition).files_kept;
    if (kept == 0) continue;
    out += Text(migrate ? Msg::kFilesKeptData : Msg::kFilesKeptStore,
                {EditionName(edition), std::to_string(kept)}) +
           "\n";
  }
  if (out.empty()) return;
  progress.Clear();
  WriteStdout(out);
}

// Each item not copied, one line on standard error, up to a limit; then how many more, and how
// many in all, files and folders each on a line of their own.
void PrintNotCopied(const RunSummary& summary, ConsoleProgress& progress,
                    const std::string& log_path) {
  constexpr size_t kLimit = 20;
  size_t shown = 0;
  struct Count {
    size_t total = 0;
    size_t more = 0;  // not shown one by one
  } files, folders;
  std::string out;
  for (Edition edition : kAllEditions) {
    for (const FailedItem& item : summary.Copies(edition).not_copied) {
      Count& count = item.folder() ? folders : files;
      ++count.total;
      if (shown == kLimit) {
        ++count.more;
        continue;
      }
      ++shown;
      out += std::string(kProgram) + ": " +
             Text(Msg::kNotCopied, {Cp932ForDisplay(item.source), FileErrorShown(item.error)}) +
             "\n";
    }
  }
  if (shown == 0) return;
  auto line = [&](Msg message, std::initializer_list<std::string_view> args) {
    out += std::string(kProgram) + ": " + Text(message, args) + "\n";
  };
  if (files.more != 0) line(Msg::kMoreNotCopied, {std::to_string(files.more)});
  if (folders.more != 0) line(Msg::kMoreFoldersNotCopied, {std::to_string(folders.more)});
  const struct {
    const Count& count;
    Msg in_log;
    Msg no_log;
  } kinds[] = {{files, Msg::kNotCopiedInLog, Msg::kNotCopiedNoLog},
               {folders, Msg::kFoldersNotCopiedInLog, Msg::kFoldersNotCopiedNoLog}};
  for (const auto& kind : kinds) {
    if (kind.count.total == 0) continue;
    if (log_path.empty()) {
      line(kind.no_log, {std::to_string(kind.count.total)});
    } else {
      line(kind.in_log, {std::to_string(kind.count.total), log_path});
    }
  }
  progress.Clear();
  WriteStderr(out);
}

int ExitCodeOf(const RunSummary& summary) {
  if (summary.attempted == 0) return kExitNothingToDo;
  if (summary.failed != 0) return kExitEditionFailed;
  return kExitOk;
}

// Refuses options that do not go with the command; kExitOk when they all do.
int CheckOptionCombinations(const Options& options) {
  if (options.command == "report") {
    if (options.report_folders.empty()) return UsageError(Text(Msg::kReportNoFolders));
    for (const std::string& folder : options.report_folders) {
      if (folder.empty()) return UsageError(Text(Msg::kReportEmptyFolder));
    }
    if (!options.work_dir.empty() || !options.registry_file.empty() || !options.drives.empty() ||
        !options.log_file.empty() || !options.hive_file.empty() ||
        !options.system_hive_file.empty()) {
      return UsageError(Text(Msg::kReportOptions));
    }
    if (options.csv && options.json) return UsageError(Text(Msg::kCsvOrJson));
  } else if (!options.report_folders.empty()) {
    return UsageError(Text(Msg::kFoldersWithReport, {options.report_folders.front()}));
  } else if (options.csv) {
    return UsageError(Text(Msg::kCsvWithReport));
  }
  if (options.dry_run && options.command != "collect" && options.command != "migrate") {
    return UsageError(Text(Msg::kDryRunWith));
  }
  if ((options.store.list || options.store.force || !options.store.backup.empty()) &&
      options.command != "undo") {
    return UsageError(Text(Msg::kUndoOptionsWith));
  }
  if (!options.store.accept.empty() && options.command != "verify") {
    return UsageError(Text(Msg::kAcceptWith));
  }
  if (options.store.list && (options.store.force || !options.store.backup.empty())) {
    return UsageError(Text(Msg::kListAlone));
  }
  if (!options.hive_file.empty() && !options.registry_file.empty()) {
    return UsageError(Text(Msg::kHiveWithRegistry));
  }
  if (!options.system_hive_file.empty() && options.hive_file.empty()) {
    return UsageError(Text(Msg::kSystemHiveWithoutHive));
  }
  if (!options.system_hive_file.empty() && !kHiveFilesSupported) {
    return UsageError(Text(Msg::kSystemHiveUnavailable));
  }
  if (!options.all_users && (!options.users.empty() || !options.excluded_users.empty() ||
                             !options.mapped_users.empty())) {
    return UsageError(Text(Msg::kUserOptionsWith));
  }
  if (options.all_users && (!options.registry_file.empty() || !options.hive_file.empty())) {
    return UsageError(Text(Msg::kAllUsersOwnRegistry));
  }
  // Collect makes each user's own store; only a command that reads a store can take another's.
  if (!options.mapped_users.empty() && options.command == "collect") {
    return UsageError(Text(Msg::kMapUserWith));
  }
  return kExitOk;
}

using DriveMap = std::vector<std::pair<char, std::filesystem::path>>;

// The --drive options as letters and host folders; kExitOk when every one is good.
int ParseDrives(const Options& options, DriveMap* drives) {
  for (const std::string& drive : options.drives) {
    std::optional<std::pair<char, std::filesystem::path>> parsed = ParseDrive(drive);
    if (!parsed) return UsageError(Text(Msg::kDriveMalformed, {drive}));
#ifdef _WIN32
    // The mounted disk's paths are the tool's code page 932 paths, rewritten: its folder must be
    // one too, and absolute, as the data paths it stands for are.
    std::string error;
    std::optional<std::filesystem::path> absolute = AbsoluteHostPath(parsed->second, &error);
    if (!absolute) return UsageError(Text(Msg::kDriveUnresolvable, {error}));
    parsed->second = *absolute;
    if (!Utf8ToCp932(HostPathToUtf8(parsed->second))) {
      return UsageError(Text(Msg::kDriveNotCp932, {drive}));
    }
#endif
    drives->push_back(std::move(*parsed));
  }
  return kExitOk;
}

// The registry the run reads and writes: the system's, or a registry file held locked for the
// whole run and written back at its end.
struct RunRegistry {
  std::unique_ptr<Registry> system;
  std::unique_ptr<MemoryRegistry> file;
  Registry* borrowed = nullptr;            // a user's registry, held by the run over all users
  std::unique_ptr<UserRegistry> app_hive;  // --hive on Windows: the hive file, loaded for the run
  std::filesystem::path path;
  std::unique_ptr<HostFileLock> lock;
  // With --hive: `path` is the user's hive, written back as a hive; the system hive is only read.
  bool hive = false;
  std::string kind = "registry file";  // or "hive file"
  std::string name;                    // as the user gave it
  std::unique_ptr<HostFileLock> system_hive_lock;
  // The file as it was read: its text is read again for the write-back (rather than held
  // through the run), and must be the same.
  FileStamp identity;
  ContentHash hash;
  // The file's store as the run uses it: only the branches read, only what its format can hold.
  std::unique_ptr<LimitedRegistry> limited;
  std::unique_ptr<HeldBranchRegistry> held;

  Registry& registry() {
    if (held) return *held;
    return borrowed ? *borrowed : *system;
  }
  void UseFileThrough(const std::vector<RegistryBranch>& branches, RegistryLimits limits) {
    limited = std::make_unique<LimitedRegistry>(*file, std::move(limits));
    held = std::make_unique<HeldBranchRegistry>(*limited, BranchesHeld(branches));
  }
};

// Why a registry file was refused, in the console's language.
std::string RegistryFileProblemShown(const RegistryFileError& error) {
  static constexpr struct {
    RegistryFileProblem problem;
    Msg text;
  } kTexts[] = {
      {RegistryFileProblem::kNotALine, Msg::kRegFileNotALine},
      {RegistryFileProblem::kNul, Msg::kRegFileNul},
      {RegistryFileProblem::kKeyLineUnclosed, Msg::kRegFileKeyLineUnclosed},
      {RegistryFileProblem::kRootKey, Msg::kRegFileRootKey},
      {RegistryFileProblem::kTooDeep, Msg::kRegFileTooDeep},
      {RegistryFileProblem::kEmptyKeyName, Msg::kRegFileEmptyKeyName},
      {RegistryFileProblem::kKeyNameNotCp932, Msg::kRegFileKeyNameNotCp932},
      {RegistryFileProblem::kRootDeleted, Msg::kRegFileRootDeleted},
      {RegistryFileProblem::kEndsInHex, Msg::kRegFileEndsInHex},
      {RegistryFileProblem::kValueOutsideKey, Msg::kRegFileValueOutsideKey},
      {RegistryFileProblem::kNameUnterminated, Msg::kRegFileNameUnterminated},
      {RegistryFileProblem::kNameBadEscape, Msg::kRegFileNameBadEscape},
      {RegistryFileProblem::kNameNotCp932, Msg::kRegFileNameNotCp932},
      {RegistryFileProblem::kNoEquals, Msg::kRegFileNoEquals},
      {RegistryFileProblem::kNoData, Msg::kRegFileNoData},
      {RegistryFileProblem::kTextAfterDash, Msg::kRegFileTextAfterDash},
      {RegistryFileProblem::kStringUnterminated, Msg::kRegFileStringUnterminated},
      {RegistryFileProblem::kStringBadEscape, Msg::kRegFileStringBadEscape},
      {RegistryFileProblem::kTextAfterString, Msg::kRegFileTextAfterString},
      {RegistryFileProblem::kStringNotCp932, Msg::kRegFileStringNotCp932},
      {RegistryFileProblem::kBadDword, Msg::kRegFileBadDword},
      {RegistryFileProblem::kBadHexType, Msg::kRegFileBadHexType},
      {RegistryFileProblem::kNoHexColon, Msg::kRegFileNoHexColon},
      {RegistryFileProblem::kOddText, Msg::kRegFileOddText},
      {RegistryFileProblem::kTextNotCp932, Msg::kRegFileTextNotCp932},
      {RegistryFileProblem::kUnknownData, Msg::kRegFileUnknownData},
      {RegistryFileProblem::kHexNotCommas, Msg::kRegFileHexNotCommas},
      {RegistryFileProblem::kBadHexByte, Msg::kRegFileBadHexByte},
      {RegistryFileProblem::kHexByteTooLong, Msg::kRegFileHexByteTooLong},
      {RegistryFileProblem::kUtf16Cut, Msg::kRegFileUtf16Cut},
      {RegistryFileProblem::kVersion5Not16, Msg::kRegFileVersion5Not16},
      {RegistryFileProblem::kRegedit4Is16, Msg::kRegFileRegedit4Is16},
      {RegistryFileProblem::kNotRegFile, Msg::kRegFileNotRegFile},
  };
  for (const auto& t : kTexts) {
    if (t.problem == error.problem) return Text(t.text, {error.detail});
  }
  return error.reason;
}

// Why a hive file could not be read or written, in the console's language.
std::string HiveErrorShown(const HiveError& error) {
  // The C library's error texts are English only: in Japanese the number alone is given.
  const std::string cause = "errno " + std::to_string(error.error_number);
  const std::string call = Text(
      Msg::kHiveCall, {error.call, CurrentLanguage() == Language::kJapanese
                                       ? cause
                                       : std::strerror(error.error_number) + (" (" + cause + ")")});
  switch (error.problem) {
    case HiveProblem::kUnreadableHere:
      return Text(Msg::kHiveUnreadableHere);
    case HiveProblem::kUnwritableHere:
      return Text(Msg::kHiveUnwritableHere);
    case HiveProblem::kCall:
      return call;
    case HiveProblem::kNotAHive:
      return Text(Msg::kHiveNotAHive, {call});
    case HiveProblem::kNotWhole:
      return Text(Msg::kHiveNotWhole, {call});
    case HiveProblem::kDamaged:
      if (error.key.empty()) return Text(Msg::kHiveDamaged, {call});
      if (error.below) return Text(Msg::kHiveDamagedBelow, {call, error.key});
      return error.value.empty() ? Text(Msg::kHiveDamagedAt, {call, error.key})
                                 : Text(Msg::kHiveDamagedAtValue, {call, error.key, error.value});
    case HiveProblem::kKeyTwice:
      return Text(Msg::kHiveKeyTwice, {error.key});
    case HiveProblem::kKeyNameNotCp932:
      return Text(Msg::kHiveKeyNameNotCp932, {error.key});
    case HiveProblem::kValueNameNotCp932:
      return Text(Msg::kHiveValueNameNotCp932, {error.key, error.value});
    case HiveProblem::kTextNotCp932:
      return Text(Msg::kHiveTextNotCp932, {error.key, error.value});
    case HiveProblem::kTextNotForHive:
      return Text(Msg::kHiveTextNotForHive, {error.value});
    case HiveProblem::kCutShort:
      return Text(Msg::kHiveCutShort,
                  {std::to_string(error.header_bytes), std::to_string(error.file_bytes)});
    case HiveProblem::kNotTaken:
      return Text(Msg::kHiveNotTaken);
    case HiveProblem::kBranchNotInHive:
      return Text(Msg::kHiveBranchNotInHive, {error.key});
    case HiveProblem::kNone:
      break;
  }
  return HiveErrorText(error);
}

// Why a registry or hive file could not be locked, in the console's language.
std::string LockErrorShown(const LockError& error) {
  // The C library's error texts are English only: in Japanese the number alone is given.
  const std::string number = "errno " + std::to_string(error.error_number);
  const bool japanese = CurrentLanguage() == Language::kJapanese;
  const std::string cause = japanese && error.error_number != 0 ? number : error.cause;
  switch (error.kind) {
    case LockError::Kind::kUnopenable:
      return Text(Msg::kLockUnopenable, {cause});
    case LockError::Kind::kNotAFile:
      return Text(Msg::kLockNotAFile);
    case LockError::Kind::kReadOnly:
      return Text(Msg::kLockReadOnly);
    case LockError::Kind::kReadOnlyMount:
      return Text(Msg::kLockReadOnlyMount, {japanese ? number : error.cause + ", " + number});
    case LockError::Kind::kOtherOwner:
      return Text(Msg::kLockOtherOwner);
    case LockError::Kind::kHardLinks:
      return Text(Msg::kLockHardLinks);
    case LockError::Kind::kUnlockable:
      return Text(Msg::kLockUnlockable, {cause});
    case LockError::Kind::kInUse:
      return Text(Msg::kLockInUse);
    case LockError::Kind::kNone:
      break;
  }
  return LockErrorText(error);
}

int OpenRegistryFile(const Options& options, RunRegistry* opened) {
  opened->path = HostPathFromUtf8(options.registry_file);
  LockError refused;
  switch (LockHostFile(opened->path, options.command == "migrate", kLockWaitMs, &opened->lock,
                       &refused)) {
    case LockResult::kLocked:
      break;
    case LockResult::kBusy:
      return InUse(Text(Msg::kRegistryFileInUse, {options.registry_file, LockErrorShown(refused)}));
    case LockResult::kFailed:
      return UsageError(
          Text(Msg::kRegistryFileUnusable, {options.registry_file, LockErrorShown(refused)}));
  }
  std::string error;
  std::optional<std::string> bytes = ReadHostFile(opened->path, &error, &opened->identity);
  if (!bytes) {
    return UsageError(Text(Msg::kRegistryFileUnreadable, {options.registry_file, error}));
  }
  opened->file = std::make_unique<MemoryRegistry>();
  RegistryFileLoadResult loaded =
      LoadRegistryFile(*bytes, opened->file.get(), HeldBranches(options.command),
                       CheckedOnlyBranches(options.command));
  if (!loaded.ok()) {
    return UsageError(Text(Msg::kRegistryFileMalformed,
                           {options.registry_file, std::to_string(loaded.error->line),
                            RegistryFileProblemShown(*loaded.error)}));
  }
  // A value the file cannot hold is refused when it is set (and the import skips it), never
  // found out when the file is written back.
  opened->UseFileThrough(HeldBranches(options.command), RegistryFileLimits(loaded.format));
  if (options.command == "migrate" || options.command == "undo") opened->hash = HashBytes(*bytes);
  return kExitOk;
}

// Reads the branches the command uses from one hive file, held locked for the run.
// With `identity`, the file is read whole too: its stamp and content hash for the write-back's
// check that nothing else changed it.
int OpenHive(const Options& options, const std::string& file, const HiveMount& mount,
             bool for_writing, std::unique_ptr<HostFileLock>* lock, MemoryRegistry* registry,
             FileStamp* identity = nullptr, ContentHash* hash = nullptr) {
  std::filesystem::path path = HostPathFromUtf8(file);
  LockError refused;
  switch (LockHostFile(path, for_writing, kLockWaitMs, lock, &refused)) {
    case LockResult::kLocked:
      break;
    case LockResult::kBusy:
      return InUse(Text(Msg::kHiveFileInUse, {file, LockErrorShown(refused)}));
    case LockResult::kFailed:
      return UsageError(Text(Msg::kHiveFileUnusable, {file, LockErrorShown(refused)}));
  }
  std::string error;
  if (identity) {
    std::optional<std::string> bytes = ReadHostFile(path, &error, identity);
    if (!bytes) return UsageError(Text(Msg::kHiveFileUnreadable, {file, error}));
    *hash = HashBytes(*bytes);
  }
  HiveError hive_error;
  if (!LoadHive(path, mount, HeldBranches(options.command), CheckedOnlyBranches(options.command),
                registry, &hive_error)) {
    return UsageError(Text(Msg::kHiveFileUnreadable, {file, HiveErrorShown(hive_error)}));
  }
  return kExitOk;
}

int OpenHiveFiles(const Options& options, RunRegistry* opened) {
  opened->hive = true;
  opened->path = HostPathFromUtf8(options.hive_file);
  opened->kind = "hive file";
  opened->name = options.hive_file;
  opened->file = std::make_unique<MemoryRegistry>();
  bool writes = options.command == "migrate" || options.command == "undo";
  if (int code = OpenHive(options, options.hive_file, UserHiveMount(), options.command == "migrate",
                          &opened->lock, opened->file.get(), writes ? &opened->identity : nullptr,
                          writes ? &opened->hash : nullptr);
      code != kExitOk) {
    return code;
  }
  // Only read, never written back.
  if (!options.system_hive_file.empty()) {
    // Locked twice by this run, the one file would wait on itself and be told in use.
    std::error_code same_error;
    if (std::filesystem::equivalent(opened->path, HostPathFromUtf8(options.system_hive_file),
                                    same_error)) {
      return UsageError(Text(Msg::kSystemHiveIsUserHive));
    }
    if (int code = OpenHive(options, options.system_hive_file, SoftwareHiveMount(), false,
                            &opened->system_hive_lock, opened->file.get());
        code != kExitOk) {
      return code;
    }
  }
  // Names and text a hive holds as UTF-16, as a version 5 registry file does.
  opened->UseFileThrough(HeldBranches(options.command),
                         RegistryFileLimits(RegistryFileFormat::kVersion5));
  return kExitOk;
}

// --hive where Windows loads it: an application hive for the run, writable for the commands that
// write registry values.
int OpenAppHive(const Options& options, RunRegistry* opened) {
  bool writable = !options.dry_run && !options.store.list &&
                  (options.command == "migrate" || options.command == "undo");
  std::string error;
  bool busy = false;
  opened->app_hive = OpenUserHive(HostPathFromUtf8(options.hive_file), writable, &error, &busy);
  if (!opened->app_hive) {
    return busy ? InUse(Text(Msg::kHiveFileInUse, {options.hive_file, error}))
                : UsageError(Text(Msg::kHiveFileUnusable, {options.hive_file, error}));
  }
  opened->borrowed = opened->app_hive->registry();
  return kExitOk;
}

// Releases the application hive; a hive that stays loaded is told, and fails the run.
int ReleaseAppHive(const Options& options, RunRegistry& opened, int exit_code) {
  std::string error;
  if (!opened.app_hive || opened.app_hive->Release(&error)) return exit_code;
  return Failure(kExitInternal, Text(Msg::kHiveNotReleased, {options.hive_file, error}));
}

int OpenRegistry(const Options& options, RunRegistry* opened) {
  if (!options.hive_file.empty()) {
    return kHiveFilesSupported ? OpenHiveFiles(options, opened) : OpenAppHive(options, opened);
  }
  if (!options.registry_file.empty()) {
    opened->name = options.registry_file;
    return OpenRegistryFile(options, opened);
  }
  opened->system = MakeSystemRegistry();
  if (!opened->system) {
    return UsageError(Text(Msg::kNoSystemRegistry));
  }
  return kExitOk;
}

// The --log file, opened with a first line that says what the run is; kExitOk also without one.
int OpenLog(const Options& options, const WorkFolder& work, std::unique_ptr<RunLog>* log) {
  if (options.log_file.empty()) return kExitOk;
  *log = std::make_unique<RunLog>(HostPathFromUtf8(options.log_file));
  if (!(*log)->ok()) return UsageError(Text(Msg::kLogUnopenable, {options.log_file}));
  (*log)->Comment(std::string(kProgram) + " " + ToolVersion() + " " + options.command +
                  ", work folder " + work.shown +
                  (!options.hive_file.empty()
                       ? ", hive file " + options.hive_file +
                             (options.system_hive_file.empty()
                                  ? ""
                                  : ", system hive file " + options.system_hive_file)
                   : options.registry_file.empty() ? ", system registry"
                                                   : ", registry file " + options.registry_file));
  return kExitOk;
}

bool WritesWorkFolder(const Options& options) {
  return !options.dry_run && (options.command == "collect" || options.command == "migrate" ||
                              (options.command == "undo" && !options.store.list) ||
                              (options.command == "verify" && !options.store.accept.empty()));
}

// What the command did, for the steps after it.
struct CommandOutcome {
  int exit_code = kExitOk;
  bool registry_changed = false;  // only Migrate and undo write registry values
  bool run_summary = false;       // a Collect or Migrate ran, whose result --json prints
};

// The parts of the run the command works with.
struct CommandContext {
  const Options& options;
  const StoreCommandOptions& store;
  const WorkFolder& work;
  const Services& services;
  CMigrateDlg& dlg;
  ConsoleView& view;
  ConsoleProgress& progress;
};

// Collect or Migrate as the window runs them.
CommandOutcome RunDialogCommand(const CommandContext& run) {
  // Nothing is said to have worked before the settings files and the registry file hold it.
  run.view.HoldMessages();
  bool migrate = run.options.command == "migrate";
  if (migrate) {
    run.dlg.OnMigrate();
  } else {
    run.dlg.OnCollect();
  }
  const RunSummary& summary = run.dlg.last_run();
  // A run that stopped when asked is told by one line at the end, not file by file.
  if (run.dlg.stopped()) return {InterruptedExitCode(), migrate && summary.attempted != 0, true};
  PrintNotCopied(summary, run.progress, Cp932ForDisplay(run.dlg.log_file()));
  if (!run.options.json && !run.options.quiet) PrintKept(summary, run.progress, migrate);
  return {ExitCodeOf(summary), migrate && summary.attempted != 0, true};
}

// From when the run holds the work folder: before, an interruption ends a run that has written
// nothing, and must not write into the log of the run it waits for.
void NoteInterruption(const Options& options, const WorkFolder& work, ConsoleProgress& progress) {
  if (options.dry_run ||
      (options.command != "collect" && options.command != "migrate" && options.command != "undo")) {
    return;
  }
  // Collect and Migrate stop between files when asked; undo, which has no such point, ends.
  NoteInterruptionIn(HostPathFromUtf8(work.shown) / kWorkRootName / kWorkLogName,
                     "#\tinterrupted: " + options.command + " did not finish" +
                         (kWindowsTextFiles ? "\r\n" : "\n"),
                     options.command == "undo" ? nullptr : &progress);
}

// The command itself, once the work folder's paths are set and, for a command that writes the
// work folder, its lock is held.
CommandOutcome RunCommand(const CommandContext& run, std::unique_ptr<HostFileLock>* work_lock) {
  const Options& options = run.options;
  if (!run.dlg.InitWorkPathsFromFolder(run.work.cp932)) {
    return {Failure(kExitInternal,
                    Text(Msg::kWorkPathTooLong, {run.work.shown, std::to_string(MaxPath())}))};
  }
  if (WritesWorkFolder(options)) {
    if (int code = LockWork(run.work, work_lock); code != kExitOk) return {code};
    NoteInterruption(options, run.work, run.progress);
  }
  if (options.command == "status") {
    run.dlg.RefreshButtons();
    PrintStatus(
        run.dlg, run.services.files, run.view, run.work, options.json, options.quiet,
        FindUnfinishedMigrates(run.services.files,
                               BackupPlacesFor(run.dlg.paths(), run.services.user_state_folder)));
    return {};
  }
  if (options.command == "verify") return {RunVerify(run.services, run.dlg.paths(), run.store)};
  if (options.command == "undo") {
    CommandOutcome outcome;
    outcome.exit_code =
        RunUndo(run.services, run.dlg.paths(), run.store, &outcome.registry_changed);
    return outcome;
  }
  if (options.dry_run) {
    return {options.command == "collect" ? RunCollectPreview(run.dlg, run.services, run.store)
                                         : RunMigratePreview(run.dlg, run.services, run.store)};
  }
  return RunDialogCommand(run);
}

// The registry file's text read again for the write-back; nullopt with *error when it cannot be
// read, and with *changed when it is not the text the run read first.
std::optional<std::string> ReadRegistryFileAgain(const RunRegistry& opened, bool* changed,
                                                 std::string* error) {
  BeforeRegistryFileReadAgain(opened.path);
  FileStamp identity;
  std::optional<std::string> bytes = ReadHostFile(opened.path, error, &identity);
  if (!bytes) return std::nullopt;
  *changed = identity != opened.identity || HashBytes(*bytes) != opened.hash;
  if (*changed) return std::nullopt;
  return bytes;
}

// Writes the registry file back when the command changed registry values; false (with the
// error told) when it could not be. The file is written as it is made, never held whole.
// What the steps after the command record in the logs: the --log file and the work folder's.
using RecordNote = std::function<void(const std::string&)>;

bool WriteBackRegistry(RunRegistry& opened, const RecordNote& note, int* exit_code) {
  std::optional<RegistryFileError> refused;
  std::string hive_refusal;  // as the console says it
  bool changed = false;
  std::string read_error;
  // Read while the run still holds the file.
  std::optional<std::string> text = ReadRegistryFileAgain(opened, &changed, &read_error);
  if (kReplaceNeedsFileClosed) opened.lock.reset();
  AtomicWriteOptions keep;
  keep.through_links = true;
  keep.keep_owner = true;
  keep.wait_while_open = true;
  // Under the run's lock nothing of ours changes it; anything else that did would be lost.
  keep.unchanged = [&](const std::filesystem::path& target) {
    changed = !HostFileUnchanged(target, opened.identity);
    return !changed;
  };
  FileResult written = FileResult::Ok();
  if (text) {
    written = WriteFileAtomically(
        opened.path,
        [&](const PutBytes& put) {
          BeforeRegistryFileWritten(opened.path);
          bool put_failed = false;
          if (opened.hive) {
            HiveError hive_error;
            bool ok = WriteBackHive(
                *text, UserHiveMount(), *opened.file, WrittenBranch(),
                [&](std::string_view piece) {
                  put_failed = put_failed || !put(piece);
                  return !put_failed;
                },
                &hive_error);
            if (!ok && !put_failed) {
              refused = SaveError(HiveErrorText(hive_error));
              hive_refusal = HiveErrorShown(hive_error);
            }
            return ok;
          }
          RegistryFileSaveResult result = WriteBackRegistryFile(
              *text, *opened.file, WrittenBranch(), [&](std::string_view piece) {
                put_failed = put_failed || !put(piece);
                return !put_failed;
              });
          // A refusal of our own; one of `put`'s is told by the writer.
          if (!result.ok() && !put_failed) refused = result.error;
          return result.ok();
        },
        keep);
  }
  // In English for the logs, and as the console tells it.
  std::string write_error;
  std::string shown_error;
  if (changed) {
    write_error = "it was changed by something else during the run; it was left as that made it";
    shown_error = Text(Msg::kRegistryChangedMeanwhile);
  } else if (!text) {
    write_error = "cannot read it again: " + read_error;
    shown_error = Text(Msg::kRegistryNotReadAgain, {read_error});
  } else if (refused) {
    write_error = refused->reason;
    shown_error = opened.hive ? hive_refusal : RegistryFileProblemShown(*refused);
  } else if (!written) {
    write_error = written.call + ": " + DescribeCode(written.code);
  }
  if (shown_error.empty()) shown_error = write_error;
  bool written_back = write_error.empty();
  if (!written_back) {
    *exit_code =
        Failure(kExitInternal, Text(opened.hive ? Msg::kHiveNotWritten : Msg::kRegistryNotWritten,
                                    {opened.name, shown_error}));
  }
  note(written_back ? opened.kind + " written back: " + opened.name
                    : opened.kind + " not written back: " + write_error);
  return written_back;
}

// Puts the settings files and the registry file on disk; false when either could not be.
bool SaveResults(PortableProfileFile& profiles, RunRegistry& opened, const CommandOutcome& outcome,
                 const RecordNote& note, int* exit_code) {
  // A key the file was not read for answered nothing; what the command made of it is not saved.
  if (opened.held && !opened.held->unheld_request().empty()) {
    std::string key = Cp932ForDisplay(opened.held->unheld_request());
    *exit_code = Failure(kExitInternal, Text(Msg::kUnheldRequest, {key}));
    note("not saved: the run asked for " + key);
    return false;
  }
  bool saved = true;
  if (FileResult flushed = profiles.Flush(); !flushed) {
    saved = false;
    *exit_code =
        Failure(kExitInternal, Text(Msg::kSettingsFileNotWritten, {FileErrorShown(flushed)}));
    note("settings file not written: " + Describe(flushed));
  }
  if (opened.file && outcome.registry_changed && !WriteBackRegistry(opened, note, exit_code)) {
    saved = false;
  }
  return saved;
}

// Runs the command with the platform's services, saves what it changed and tells the result.
int RunWithServices(const Options& options, const StoreCommandOptions& store,
                    const WorkFolder& work, const DriveMap& drives, RunRegistry& opened,
                    RunLog* log, ConsoleProgress& progress,
                    std::unique_ptr<HostFileLock>* work_lock, const UserProfile* user = nullptr) {
  std::string state_folder = UserStateFolder();
  if (user) {
    // Another user's run keeps what it must keep aside in that user's own profile, where the
    // user's own later runs look for it.
    state_folder =
        Utf8ToCp932(HostPathToUtf8(user->folder / "AppData" / "Local" / "kdr4tose")).value_or("");
  }
  std::unique_ptr<FileSystem> files = MakeFileSystem(drives, {work.cp932, state_folder});
  PortableProfileFile profiles(*files);
  Services services{opened.registry(), *files, profiles, MaxPath(), log};
  services.user_state_folder = state_folder;
  services.machine_name = MachineName();
  services.user_name = user ? user->name : UserName();
  services.windows_text_files = kWindowsTextFiles;
  if (!options.registry_file.empty()) {
    services.registry_source = "the file " + options.registry_file;
  } else if (!options.hive_file.empty()) {
    services.registry_source = "the hive file " + options.hive_file;
  } else if (user) {
    services.registry_source = "the registry of " + user->name;
  }
  // With --json the result is the one thing on standard output.
  ConsoleView view(options.quiet, options.json, progress);
  CMigrateDlg dlg(services, view);
  dlg.set_progress(&progress);
  CommandOutcome outcome =
      RunCommand({options, store, work, services, dlg, view, progress}, work_lock);
  progress.Clear();
  // A Collect or Migrate has a log in the work folder, which says how the run ended too.
  RecordNote note = [&](const std::string& text) {
    if (log) log->Comment(text);
    if (outcome.run_summary) dlg.RecordInWorkLog(text);
  };
  bool saved = SaveResults(profiles, opened, outcome, note, &outcome.exit_code);
  view.ReleaseMessages(saved);
  if (outcome.run_summary) {
    if (!saved) dlg.RecordInWorkLog("results not saved: the messages above were not shown");
    dlg.RecordInWorkLog("exit " + std::to_string(outcome.exit_code));
  }
  // A run whose results could not be saved is told by its error alone.
  if (options.json && outcome.run_summary && saved) {
    WriteStdout(RunSummaryJson(options.command.c_str(), dlg.last_run()));
  }
  if (outcome.run_summary && !options.quiet) {
    WriteStderr(SummaryLine(options.command, dlg.last_run(), progress.State()) + "\n");
  }
  if (dlg.stopped() && outcome.run_summary) {
    WriteStderr(std::string(kProgram) + ": " + Text(Msg::kInterrupted) + "\n");
  }
  return outcome.exit_code;
}

int CloseLog(RunLog* log, int exit_code) {
  if (!log) return exit_code;
  log->Comment("exit " + std::to_string(exit_code));
  if (!log->Close()) return Failure(kExitInternal, Text(Msg::kLogNotWritten));
  return exit_code;
}

ConsoleProgress::Mode ProgressMode(const Options& options) {
  if (options.quiet) return ConsoleProgress::Mode::kOff;
  return StderrIsTerminal() ? ConsoleProgress::Mode::kTerminal : ConsoleProgress::Mode::kLines;
}

// One user's part of a run over all users.
struct UserOutcome {
  int exit_code = kExitOk;
  std::string error;        // why the user could not be run, or its registry not released
  std::string json_result;  // what --json printed for the user
};

// Why a user's part did not run: in English for the log and --json, and in the console's
// language.
struct UserProblem {
  std::string english;
  std::string shown;
  void Add(const UserProblem& more, std::string_view english_joint, Msg shown_joint) {
    english += std::string(english_joint) + more.english;
    shown = Text(shown_joint, {shown, more.shown});
  }
};

UserProblem NotReleased(const std::string& error) {
  return {"the registry could not be released: " + error, Text(Msg::kUserNotReleased, {error})};
}

// The user's work folder below the run's: made for a Collect, otherwise it must be there.
std::optional<WorkFolder> UserWorkFolder(const Options& options, const WorkFolder& base,
                                         const std::string& store_user, int* code,
                                         UserProblem* problem) {
  std::filesystem::path folder = HostPathFromUtf8(base.shown) / HostPathFromUtf8(store_user);
  const std::string shown = HostPathToUtf8(folder);
  // Checked before the folder is made: one the tool's paths cannot name is never made.
  if (!Utf8ToCp932(shown)) {
    *code = kExitEditionFailed;
    *problem = {"the work folder path " + shown + " has characters outside code page 932",
                Text(Msg::kUserWorkNotCp932, {shown})};
    return std::nullopt;
  }
  std::error_code ec;
  bool there = std::filesystem::is_directory(folder, ec);
  if (!there && options.command == "collect" && !options.dry_run) {
    std::filesystem::create_directory(folder, ec);
    if (ec) {
      *code = kExitEditionFailed;
      *problem = {"cannot make the work folder " + shown + ": " + ec.message(),
                  Text(Msg::kUserWorkNotMade, {shown, ec.message()})};
      return std::nullopt;
    }
  } else if (!there && !std::filesystem::exists(folder, ec)) {
    *code = kExitNothingToDo;
    *problem = {"nothing collected: there is no folder " + shown,
                Text(Msg::kUserNothingCollected, {shown})};
    return std::nullopt;
  }
  std::string error;
  std::optional<WorkFolder> work = ResolveWorkFolder(shown, &error);
  if (!work) {
    *code = kExitEditionFailed;
    *problem = {error, error};
  }
  return work;
}

UserOutcome RunOneUser(const Options& options, const StoreCommandOptions& store,
                       const WorkFolder& base, const DriveMap& drives, UserProfiles& profiles,
                       const UserRun& run, RunLog* log, ConsoleProgress& progress) {
  std::string who = "user " + run.user.name;
  if (run.store_user != run.user.name) who += " (the store of " + run.store_user + ")";
  const std::string who_shown = run.store_user != run.user.name
                                    ? Text(Msg::kUserOfStore, {run.user.name, run.store_user})
                                    : Text(Msg::kUserNamed, {run.user.name});
  if (!options.json && !options.quiet) WriteStdout("[" + who_shown + "]\n");
  UserOutcome outcome;
  auto fail = [&](int code, const UserProblem& problem) {
    outcome.exit_code = code;
    outcome.error = problem.english;
    WriteStderr(std::string(kProgram) + ": " + who_shown + ": " + problem.shown + "\n");
    if (log) log->Comment(who + ": " + problem.english);
    return outcome;
  };
  if (run.refused != UserRefusal::kNone) {
    return fail(kExitEditionFailed,
                {std::string(UserRefusalText(run.refused)),
                 Text(run.refused == UserRefusal::kNotAFolderName ? Msg::kUserNameNotFolder
                                                                  : Msg::kUserNameShared)});
  }
  int code = kExitOk;
  UserProblem problem;
  // A store that is not there is told before any hive is loaded; a Collect makes the user's
  // folder only once the user's registry could be reached.
  bool collect = options.command == "collect";
  std::optional<WorkFolder> work;
  if (!collect) {
    work = UserWorkFolder(options, base, run.store_user, &code, &problem);
    if (!work) return fail(code, problem);
  }
  bool writable = !options.dry_run && !options.store.list &&
                  (options.command == "migrate" || options.command == "undo");
  bool busy = false;
  std::string error;
  std::unique_ptr<UserRegistry> hive = profiles.Open(run.user, writable, &error, &busy);
  if (!hive) {
    return fail(busy ? kExitBusy : kExitEditionFailed,
                {"cannot reach the registry: " + error, Text(Msg::kUserUnreachable, {error})});
  }
  if (collect) {
    work = UserWorkFolder(options, base, run.store_user, &code, &problem);
    if (!work) {
      std::string release_error;
      if (!hive->Release(&release_error)) {
        problem.Add(NotReleased(release_error), "; ", Msg::kUserTwoProblems);
        code = WorstExitCode({code, kExitInternal}, InterruptedExitCode());
      }
      return fail(code, problem);
    }
  }
  if (log) log->Comment(who + ": registry " + hive->Source() + ", work folder " + work->shown);
  Options user_options = options;
  user_options.work_dir = work->shown;
  {
    RunRegistry opened;
    opened.borrowed = hive->registry();
    if (!opened.borrowed) {
      user_options.registry_file = hive->RegistryFile();
      code = OpenRegistryFile(user_options, &opened);
      if (code != kExitOk)
        outcome.error = "the registry file " + user_options.registry_file + " cannot be used";
    }
    if (code == kExitOk) {
      std::unique_ptr<HostFileLock> work_lock;
      if (options.json) CaptureStdout(&outcome.json_result);
      code = RunWithServices(user_options, store, *work, drives, opened, log, progress, &work_lock,
                             &run.user);
      CaptureStdout(nullptr);
    }
  }
  outcome.exit_code = code;
  while (!outcome.json_result.empty() && outcome.json_result.back() == '\n') {
    outcome.json_result.pop_back();
  }
  // The hive is given back whatever the run did; one that stays loaded is told.
  if (std::string release_error; !hive->Release(&release_error)) {
    int worst = WorstExitCode({code, kExitInternal}, InterruptedExitCode());
    std::string json = std::move(outcome.json_result);
    fail(worst, NotReleased(release_error));
    outcome.json_result = std::move(json);
  }
  return outcome;
}

std::string UserJson(const UserRun& run, const UserOutcome& outcome) {
  std::string json = "{\"user\":" + JsonString(run.user.name) +
                     ",\"sid\":" + JsonString(run.user.sid) +
                     ",\"exit_code\":" + std::to_string(outcome.exit_code);
  if (run.store_user != run.user.name) json += ",\"store_user\":" + JsonString(run.store_user);
  if (!outcome.error.empty()) json += ",\"error\":" + JsonString(outcome.error);
  json += ",\"result\":" + (outcome.json_result.empty() ? "null" : outcome.json_result) + "}";
  return json;
}

// The command for each chosen user of the PC, one after the other, each with its own registry
// and its own work folder below the run's.
int RunAllUsers(const Options& options, const StoreCommandOptions& store, const DriveMap& drives) {
  std::unique_ptr<UserProfiles> profiles = MakeUserProfiles();
  if (!profiles) return UsageError(Text(Msg::kAllUsersWindowsOnly));
  std::string error;
  std::optional<WorkFolder> base = ResolveWorkFolder(options.work_dir, &error);
  if (!base) return UsageError(error);
  std::vector<UserProfile> listed;
  if (!profiles->List(&listed, &error)) {
    return Failure(kExitInternal, Text(Msg::kProfilesUnreadable, {error}));
  }
  std::optional<std::vector<UserRun>> runs =
      ChooseUsers(listed, options.users, options.excluded_users, options.mapped_users, &error);
  if (!runs) return UsageError(error);
  std::unique_ptr<RunLog> log;
  if (int code = OpenLog(options, *base, &log); code != kExitOk) return code;
  ConsoleProgress progress(ProgressMode(options));
  std::vector<int> codes;
  std::string users_json;
  for (const UserRun& run : *runs) {
    UserOutcome outcome =
        RunOneUser(options, store, *base, drives, *profiles, run, log.get(), progress);
    codes.push_back(outcome.exit_code);
    users_json += (users_json.empty() ? "" : ",") + UserJson(run, outcome);
    // Ctrl-C stops the whole run, not one user's part of it.
    if (outcome.exit_code == InterruptedExitCode()) break;
  }
  if (runs->empty()) WriteStderr(std::string(kProgram) + ": " + Text(Msg::kNoUserLeft) + "\n");
  int exit_code = WorstExitCode(codes, InterruptedExitCode());
  if (options.json) {
    WriteStdout(JsonObjectFor("all-users") + ",\"run\":" + JsonString(options.command) +
                ",\"exit_code\":" + std::to_string(exit_code) + ",\"users\":[" + users_json +
                "]}\n");
  }
  return CloseLog(log.get(), exit_code);
}

int Run(const Options& options) {
  if (int code = CheckOptionCombinations(options); code != kExitOk) return code;
  if (options.command == "report") {
    return RunReport(options.report_folders, options.json  ? ReportFormat::kJson
                                             : options.csv ? ReportFormat::kCsv
                                                           : ReportFormat::kText);
  }
  StoreCommandOptions store = options.store;
  store.json = options.json;
  store.quiet = options.quiet;
  // Every file of the run is private, the log included.
  RestrictNewFilesToOwner();
  DriveMap drives;
  if (int code = ParseDrives(options, &drives); code != kExitOk) return code;
  if (options.all_users) return RunAllUsers(options, store, drives);
  RunRegistry opened;
  if (int code = OpenRegistry(options, &opened); code != kExitOk) return code;
  std::string error;
  std::optional<WorkFolder> work = ResolveWorkFolder(options.work_dir, &error);
  if (!work) return UsageError(error);
  // Taken after the registry file's lock, as every run does, so two runs never wait on each other.
  std::unique_ptr<HostFileLock> work_lock;
  std::unique_ptr<RunLog> log;
  if (int code = OpenLog(options, *work, &log); code != kExitOk) return code;
  ConsoleProgress progress(ProgressMode(options));
  int exit_code =
      RunWithServices(options, store, *work, drives, opened, log.get(), progress, &work_lock);
  exit_code = ReleaseAppHive(options, opened, exit_code);
  return CloseLog(log.get(), exit_code);
}

// Columns a console gives `text` (UTF-8): a character of three or more bytes (Japanese) takes
// two.
size_t ConsoleColumns(std::string_view text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80) continue;
    columns += byte >= 0xE0 ? 2 : 1;
  }
  return columns;
}

// CLI11's help, with the option column padded by what a console shows rather than by bytes.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* option, bool is_positional) const override {
    std::string line = "  " + make_option_name(option, is_positional) + make_option_opts(option);
    const std::string description = make_option_desc(option);
    const size_t column = get_column_width();
    size_t used = ConsoleColumns(line);
    if (!description.empty() && used >= column) {
      line += "\n";
      used = 0;
    }
    if (used < column) line.append(column - used, ' ');
    for (char c : description) {
      line += c;
      if (c == '\n') line.append(column, ' ');
    }
    return line + "\n";
  }
};

// The language of the texts: --lang's value (as "--lang X" or "--lang=X", the last one given),
// else the user's. False with *value when the value is neither ja nor en.
bool ChooseLanguage(const std::vector<std::string>& args, Language* language, std::string* value) {
  *language = UserLanguage();
  std::optional<std::string> given;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--lang" && i + 1 < args.size()) {
      given = args[i + 1];
      ++i;
    } else if (args[i].starts_with("--lang=")) {
      given = args[i].substr(7);
    } else if (args[i] == "--") {
      break;
    }
  }
  if (!given) return true;
  *value = *given;
  return LanguageNamed(*given, language);
}

// CLI11's error in the console's language, for the errors a person commonly makes; the rest as
// CLI11 says them.
std::string ParseErrorText(const CLI::App& app, const CLI::ParseError& e) {
  const std::string what = e.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    std::vector<std::string> extras = app.remaining();
    std::string listed;
    for (const std::string& extra : extras) listed += (listed.empty() ? "" : " ") + extra;
    if (!listed.empty()) {
      return Text(extras.size() > 1 ? Msg::kParseExtras : Msg::kParseExtra, {listed});
    }
  } else if (dynamic_cast<const CLI::RequiredError*>(&e) && what == "command is required") {
    return Text(Msg::kParseNoCommand);
  } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
    // "--work-dir: 1 required DIR missing"
    const size_t colon = what.find(": ");
    const CLI::Option* option =
        colon == std::string::npos ? nullptr : app.get_option_no_throw(what.substr(0, colon));
    if (option && what.ends_with(" missing")) {
      return Text(Msg::kParseNoValue, {what.substr(0, colon), option->get_type_name()});
    }
  } else if (dynamic_cast<const CLI::ValidationError*>(&e) && what.starts_with("command: ")) {
    // "command: x not in {status,...}"
    const size_t end = what.find(" not in {");
    if (end != std::string::npos) return Text(Msg::kParseBadCommand, {what.substr(9, end - 9)});
  }
  return Text(Msg::kBadArguments, {what});
}

}  // namespace

int RunCli(int argc, const char* const* argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::string& arg : args) {
    if (kSlashQuestionIsHelp && arg == "/?") arg = "--help";
  }
  Language language = Language::kEnglish;
  std::string language_given;
  bool language_known = ChooseLanguage(args, &language, &language_given);
  // A wrong --lang is told in the user's language.
  SetLanguage(language);
  if (!language_known) return UsageError(Text(Msg::kBadLanguage, {language_given}));

  Options options;
  std::string lang_option;
  CLI::App app{Text(Msg::kHelpDescription), std::string(kProgram)};
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->label("Usage", Text(Msg::kLabelUsage));
  app.get_formatter()->label("OPTIONS", Text(Msg::kLabelOptions));
  app.get_formatter()->label("Positionals", Text(Msg::kLabelPositionals));
  app.get_formatter()->label("REQUIRED", Text(Msg::kLabelRequired));
  app.option_defaults()->group(Text(Msg::kLabelOptionGroup));
  app.set_help_flag("-h,--help", Text(Msg::kHelpHelp));
  app.set_version_flag("--version", std::string(kProgram) + " " + ToolVersion(),
                       Text(Msg::kHelpVersion));
  app.footer(Text(Msg::kHelpExitCodes));
  const std::string folder = Text(Msg::kArgFolder);
  const std::string file = Text(Msg::kArgFile);
  app.add_option("command", options.command, Text(Msg::kHelpCommand))
      ->type_name(Text(Msg::kArgCommand))
      ->required()
      ->check(CLI::IsMember({"status", "collect", "migrate", "verify", "undo", "report"}));
  app.add_option("folders", options.report_folders, Text(Msg::kHelpReportFolders))
      ->type_name(Text(Msg::kArgFolder));
  app.add_option("--work-dir", options.work_dir, Text(Msg::kHelpWorkDir))->type_name(folder);
  app.add_option("--registry", options.registry_file, Text(Msg::kHelpRegistry))->type_name(file);
  // An empty name (a script's unset variable) would otherwise read as no hive at all.
  auto named = [](const std::string& name) { return name.empty() ? Text(Msg::kEmptyName) : ""; };
  app.add_option("--hive", options.hive_file, Text(Msg::kHelpHive))->type_name(file)->check(named);
  app.add_option("--system-hive", options.system_hive_file, Text(Msg::kHelpSystemHive))
      ->type_name(file)
      ->check(named);
  app.add_option("--drive", options.drives, Text(Msg::kHelpDrive))->type_name(Text(Msg::kArgDrive));
  app.add_option("--log", options.log_file, Text(Msg::kHelpLog))->type_name(file);
  app.add_flag("--json", options.json, Text(Msg::kHelpJson));
  app.add_flag("--csv", options.csv, Text(Msg::kHelpCsv));
  app.add_flag("--dry-run", options.dry_run, Text(Msg::kHelpDryRun));
  // An empty name (a script's unset variable) would otherwise undo the newest backup.
  auto not_empty = [](const std::string& name) {
    return name.empty() ? Text(Msg::kEmptyName) : "";
  };
  app.add_option("--backup", options.store.backup, Text(Msg::kHelpBackup))
      ->type_name(Text(Msg::kArgName))
      ->check(not_empty);
  app.add_flag("--list", options.store.list, Text(Msg::kHelpList));
  app.add_option("--accept", options.store.accept, Text(Msg::kHelpAccept))
      ->type_name(Text(Msg::kArgEdition))
      ->check(not_empty);
  app.add_flag("--force", options.store.force, Text(Msg::kHelpForce));
  app.add_flag("--quiet", options.quiet, Text(Msg::kHelpQuiet));
  app.add_flag("--all-users", options.all_users, Text(Msg::kHelpAllUsers));
  // One name each time, so that the command may follow.
  app.add_option("--user", options.users, Text(Msg::kHelpUser))
      ->type_name(Text(Msg::kArgName))
      ->allow_extra_args(false);
  app.add_option("--exclude-user", options.excluded_users, Text(Msg::kHelpExcludeUser))
      ->type_name(Text(Msg::kArgName))
      ->allow_extra_args(false);
  app.add_option("--map-user", options.mapped_users, Text(Msg::kHelpMapUser))
      ->type_name("OLD=NEW")
      ->allow_extra_args(false);
  // Read before parsing, above; here so that --help lists it and the parser takes it.
  app.add_option("--lang", lang_option, Text(Msg::kHelpLang))->type_name(Text(Msg::kArgLanguage));
  std::reverse(args.begin(), args.end());  // as CLI11 takes them
  try {
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {  // --help or --version
      std::ostringstream out;
      std::ostringstream err;
      app.exit(e, out, err);
      WriteStdout(out.str());
      return kExitOk;
    }
    return UsageError(ParseErrorText(app, e));
  }
  return Run(options);
}

}  // namespace kdr::cli
