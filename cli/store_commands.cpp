#include "cli/store_commands.h"

#include <algorithm>
#include <optional>

#include "cli/cli_app.h"
#include "cli/cli_messages.h"
#include "cli/cli_platform.h"
#include "cli/file_error_text.h"
#include "cli/json_text.h"
#include "cli/unfinished_report.h"
#include "core/log_lines.h"
#include "core/presence.h"
#include "engine/previews.h"
#include "engine/store_acceptance.h"
#include "engine/undo_scope.h"
#include "platform/cp932.h"
#include "platform/file_metadata.h"
#include "platform/file_result.h"
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

std::string ProblemShown(StoreProblemKind kind) {
  switch (kind) {
    case StoreProblemKind::kMissing:
      return Text(Msg::kProblemMissing);
    case StoreProblemKind::kTruncated:
      return Text(Msg::kProblemTruncated);
    case StoreProblemKind::kChanged:
      return Text(Msg::kProblemChanged);
    case StoreProblemKind::kUnreadable:
      return Text(Msg::kProblemUnreadable);
    case StoreProblemKind::kNotAFile:
      return Text(Msg::kProblemNotAFile);
    case StoreProblemKind::kAdded:
      break;
  }
  return Text(Msg::kProblemAdded);
}

std::string OutcomeShown(UndoOutcome outcome) {
  switch (outcome) {
    case UndoOutcome::kRestored:
      return Text(Msg::kUndoRestored);
    case UndoOutcome::kRemoved:
      return Text(Msg::kUndoRemoved);
    case UndoOutcome::kAlreadyAsBefore:
      return Text(Msg::kUndoAlreadyAsBefore);
    case UndoOutcome::kRefused:
      return Text(Msg::kUndoRefused);
    case UndoOutcome::kFailed:
      break;
  }
  return Text(Msg::kUndoFailed);
}

std::string UndoItemShown(const UndoItem& item) {
  switch (item.subject) {
    case UndoSubject::kFile:
      return Text(Msg::kUndoItemFile, {Shown(item.path)});
    case UndoSubject::kFolder:
      return Text(Msg::kUndoItemFolder, {Shown(item.path)});
    case UndoSubject::kValue:
      return Text(Msg::kUndoItemValue, {Shown(item.path), Shown(item.name)});
    case UndoSubject::kKey:
      break;
  }
  return Text(Msg::kUndoItemKey, {Shown(item.path)});
}

// "its owner and group", in the console's language.
std::string MetadataPartsShown(unsigned parts) {
  static constexpr struct {
    unsigned part;
    Msg name;
  } kNames[] = {{kMetadataAttributes, Msg::kMetadataAttributes},
                {kMetadataMode, Msg::kMetadataMode},
                {kMetadataOwner, Msg::kMetadataOwner},
                {kMetadataGroup, Msg::kMetadataGroup},
                {kMetadataTime, Msg::kMetadataTime}};
  std::vector<std::string> named;
  for (const auto& n : kNames) {
    if (parts & n.part) named.push_back(Text(n.name));
  }
  if (named.empty()) return {};
  std::string text = named.back();
  if (named.size() > 1) text = Text(Msg::kMetadataTwo, {named[named.size() - 2], text});
  for (size_t i = named.size() - 2; named.size() > 2 && i-- > 0;) {
    text = Text(Msg::kMetadataMore, {named[i], text});
  }
  return Text(Msg::kMetadataIts, {text});
}

std::string UndoReasonShown(const UndoItem& item) {
  const std::string status = std::to_string(item.status);
  // A failed call is the system's own words.
  const std::string cause = " (" + item.call + ": " + DescribeCode(item.status) + ")";
  switch (item.reason) {
    case UndoReason::kNone:
      return {};
    case UndoReason::kOutsideScope:
      return Text(Msg::kUndoWhyOutsideScope);
    case UndoReason::kUnreadable:
      if (!item.call.empty()) return Text(Msg::kUndoWhyUnreadable) + cause;
      return item.subject == UndoSubject::kValue ? Text(Msg::kUndoWhyUnreadableCode, {status})
                                                 : Text(Msg::kUndoWhyUnreadable);
    case UndoReason::kChangedSince:
      return Text(Msg::kUndoWhyChanged);
    case UndoReason::kNotRemovable:
      // A file's or folder's failed call is the system's own words.
      if (!item.call.empty()) {
        return Text(Msg::kUndoWhyNotRemovable) + " (" + item.call + ": " +
               DescribeCode(item.status) + ")";
      }
      return item.subject == UndoSubject::kKey ? Text(Msg::kUndoWhyNotRemovableCode, {status})
                                               : Text(Msg::kUndoWhyNotRemovable);
    case UndoReason::kSavedCopyMissing:
      return Text(Msg::kUndoWhySavedCopyMissing) + cause;
    case UndoReason::kSavedCopyUnreadable:
      return Text(Msg::kUndoWhySavedCopyUnreadable) + cause;
    case UndoReason::kSavedCopyBad:
      return Text(Msg::kUndoWhySavedCopyBad);
    case UndoReason::kNotWrittenBack:
      return Text(Msg::kUndoWhyNotWrittenBack);
    case UndoReason::kMetadata:
      return Text(Msg::kUndoWhyMetadata,
                  {MetadataPartsShown(item.metadata_parts), item.call, DescribeCode(item.status)});
    case UndoReason::kFolderNotEmpty:
      return Text(Msg::kUndoWhyFolderNotEmpty);
    case UndoReason::kFolderHoldsLeftFile:
      return Text(Msg::kUndoWhyFolderHoldsLeftFile);
    case UndoReason::kKeyRemoved:
      return Text(Msg::kUndoWhyKeyRemoved);
    case UndoReason::kKeyUnopenable:
      return Text(Msg::kUndoWhyKeyUnopenable, {status});
    case UndoReason::kRegistryRefused:
      return Text(Msg::kUndoWhyRegistryRefused, {status});
    case UndoReason::kUnopenable:
      return Text(Msg::kUndoWhyUnopenable, {status});
    case UndoReason::kHoldsKeys:
      return Text(Msg::kUndoWhyHoldsKeys);
    case UndoReason::kHoldsValues:
      return Text(Msg::kUndoWhyHoldsValues);
    case UndoReason::kValueNotRemovable:
      break;
  }
  return Text(Msg::kUndoWhyValueNotRemovable);
}

// What a dry run finds would fail: in the console's language, and in English for --json.
std::string PlanFailureIn(const PlanFailure& f, bool english) {
  const std::string path = Shown(f.path);
  const std::string other = Shown(f.other);
  switch (f.kind) {
    case PlanFailure::Kind::kValueUnreadable:
      return english ? path + " of " + other + " cannot be read"
                     : Text(Msg::kFailValueUnreadable, {path, other});
    case PlanFailure::Kind::kUnlisted:
      return english ? path + " cannot be listed" : Text(Msg::kFailUnlisted, {path});
    case PlanFailure::Kind::kWritesOver:
      return english
                 ? path + " would write over files of another folder in " + other + ": not copied"
                 : Text(Msg::kFailWritesOver, {path, other});
    case PlanFailure::Kind::kFolderInTheWay:
      break;
  }
  return english ? path + " is a folder; the file cannot replace it"
                 : Text(Msg::kFailFolderInTheWay, {path});
}
std::string PlanFailureShown(const PlanFailure& f) { return PlanFailureIn(f, false); }
std::string PlanFailureEnglish(const PlanFailure& f) { return PlanFailureIn(f, true); }

// Why a backup's journal cannot be used, in the console's language.
std::string JournalErrorShown(const JournalError& error) {
  static constexpr struct {
    JournalTrouble trouble;
    Msg text;
  } kTexts[] = {
      {JournalTrouble::kNotAJournal, Msg::kJournalNotAJournal},
      {JournalTrouble::kOtherVersion, Msg::kJournalOtherVersion},
      {JournalTrouble::kNoTime, Msg::kJournalNoTime},
      {JournalTrouble::kEndWithoutEdition, Msg::kJournalEndWithoutEdition},
      {JournalTrouble::kEndMiscounted, Msg::kJournalEndMiscounted},
      {JournalTrouble::kWrittenOutsideBlock, Msg::kJournalWrittenOutsideBlock},
      {JournalTrouble::kUnknownEdition, Msg::kJournalUnknownEdition},
      {JournalTrouble::kItemBeforeEdition, Msg::kJournalItemBeforeEdition},
      {JournalTrouble::kItemAfterEnd, Msg::kJournalItemAfterEnd},
      {JournalTrouble::kBadPath, Msg::kJournalBadPath},
      {JournalTrouble::kValueFields, Msg::kJournalValueFields},
      {JournalTrouble::kBadValue, Msg::kJournalBadValue},
      {JournalTrouble::kFileFields, Msg::kJournalFileFields},
      {JournalTrouble::kBadMetadata, Msg::kJournalBadMetadata},
      {JournalTrouble::kBadFile, Msg::kJournalBadFile},
      {JournalTrouble::kBadSavedCopy, Msg::kJournalBadSavedCopy},
      {JournalTrouble::kUnknownLine, Msg::kJournalUnknownLine},
  };
  if (error.trouble == JournalTrouble::kUnreadable) return Text(Msg::kBackupJournalUnreadable);
  if (error.trouble == JournalTrouble::kChangedWhileRead) return Text(Msg::kBackupJournalChanged);
  for (const auto& t : kTexts) {
    if (t.trouble == error.trouble) {
      return Text(Msg::kBackupJournalDamaged,
                  {std::to_string(error.line), Text(t.text, {std::to_string(error.fields)})});
    }
  }
  return JournalErrorText(error);
}

std::string BackupTroubleShown(const BackupInfo& b) {
  switch (b.trouble) {
    case BackupInfo::Trouble::kSequenceUnreadable:
      return Text(Msg::kBackupSequenceUnreadable);
    case BackupInfo::Trouble::kJournalUnreadable:
    case BackupInfo::Trouble::kJournalDamaged:
      return JournalErrorShown(b.journal);
    case BackupInfo::Trouble::kUndoneUnknown:
      return Text(Msg::kBackupUndoneUnknown, {FileErrorShown(b.marker)});
    case BackupInfo::Trouble::kNone:
      break;
  }
  return b.error;
}

// Why an edition's Migrate could not be planned, in the console's language.
std::string PlanErrorShown(const PlanError& error) {
  const std::string path = Shown(error.path);
  switch (error.kind) {
    case PlanError::Kind::kKeyUnopenable:
      return Text(Msg::kPlanKeyUnopenable, {path, std::to_string(error.status)});
    case PlanError::Kind::kValueUnreadable:
      return Text(Msg::kPlanValueUnreadable,
                  {path + "\\" + Shown(error.name), std::to_string(error.status)});
    case PlanError::Kind::kFolderUnlisted:
      return Text(Msg::kPlanFolderUnlisted, {path});
    case PlanError::Kind::kFileUnreadable:
      return Text(Msg::kPlanFileUnreadable, {path});
    case PlanError::Kind::kNotLookedAt:
      return Text(Msg::kNotLookedAt, {path, FileErrorShown(error.failure)});
    case PlanError::Kind::kNone:
      break;
  }
  return PlanErrorText(error).Utf8();
}

// A backup place that could not be looked at or listed, in the console's language.
std::string PlaceErrorShown(const PlaceError& error) {
  return Text(error.listing ? Msg::kFolderUnlistedBecause : Msg::kNotLookedAt,
              {Shown(error.path), FileErrorShown(error.failure)});
}

// Why the backup could not be used, in the console's language.
std::string UndoProblemShown(const UndoResult& result, const BackupPlaces& places) {
  switch (result.problem) {
    case UndoProblem::kNoSuchBackup:
      return places.fallback.empty()
                 ? Text(Msg::kUndoNoSuchBackup, {Shown(result.backup), Shown(places.work)})
                 : Text(Msg::kUndoNoSuchBackupEither,
                        {Shown(result.backup), Shown(places.work), Shown(places.fallback)});
    case UndoProblem::kLaterNotUndone:
      return Text(Msg::kUndoLaterNotUndone, {Shown(result.later)});
    case UndoProblem::kPartNotTaken:
      return Text(Msg::kUndoPartNotTaken, {EditionName(result.part)});
    case UndoProblem::kJournal:
      return Text(Msg::kUndoJournalUnusable, {JournalErrorShown(result.journal)});
    case UndoProblem::kPlaceUnlisted:
      return PlaceErrorShown(result.place);
    case UndoProblem::kNone:
    case UndoProblem::kNoBackup:
    case UndoProblem::kAllUndone:
      break;
  }
  return result.error;
}

}  // namespace

std::string StateName(StoreState state) {
  switch (state) {
    case StoreState::kWhole:
      return Text(Msg::kStateWhole);
    case StoreState::kIncomplete:
      return Text(Msg::kStateIncomplete);
    case StoreState::kUnfinished:
      return Text(Msg::kStateUnfinished);
    case StoreState::kChanged:
      return Text(Msg::kStateChanged);
    case StoreState::kNoManifest:
      break;
  }
  return Text(Msg::kStateNoManifest);
}

std::string StateText(const EditionCheck& check) {
  const std::string name = StateName(check.state());
  switch (check.state()) {
    case StoreState::kChanged:
      return Text(Msg::kStateChangedCounts,
                  {name, std::to_string(check.missing()), std::to_string(check.changed()),
                   std::to_string(check.added())});
    case StoreState::kIncomplete:
      return Text(Msg::kStateIncompleteCount, {name, std::to_string(check.missed.size())});
    case StoreState::kUnfinished:
      return Text(Msg::kStateUnfinishedWhy, {name});
    default:
      return name;
  }
}

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

std::string ManifestDamageShown(const EditionCheck& check) {
  static constexpr struct {
    ManifestDamage damage;
    Msg text;
  } kTexts[] = {
      {ManifestDamage::kNoLineEnd, Msg::kManifestNoLineEnd},
      {ManifestDamage::kTextAfterEnd, Msg::kManifestTextAfterEnd},
      {ManifestDamage::kNotAManifest, Msg::kManifestNotAManifest},
      {ManifestDamage::kUnknownFormat, Msg::kManifestUnknownFormat},
      {ManifestDamage::kNoTool, Msg::kManifestNoTool},
      {ManifestDamage::kNoTime, Msg::kManifestNoTime},
      {ManifestDamage::kNoState, Msg::kManifestNoState},
      {ManifestDamage::kBadMissed, Msg::kManifestBadMissed},
      {ManifestDamage::kFileFields, Msg::kManifestFileFields},
      {ManifestDamage::kBadSize, Msg::kManifestBadSize},
      {ManifestDamage::kBadHash, Msg::kManifestBadHash},
      {ManifestDamage::kBadPath, Msg::kManifestBadPath},
      {ManifestDamage::kPathTwice, Msg::kManifestPathTwice},
      {ManifestDamage::kBadCount, Msg::kManifestBadCount},
      {ManifestDamage::kUnknownLine, Msg::kManifestUnknownLine},
      {ManifestDamage::kNoEnd, Msg::kManifestNoEnd},
  };
  for (const auto& t : kTexts) {
    if (t.damage == check.manifest_damage) return Text(t.text, {check.manifest_damage_detail});
  }
  return ManifestDamageText(check.manifest_damage, check.manifest_damage_detail);
}

std::string ManifestTroubleShown(const EditionCheck& check) {
  switch (check.manifest_trouble) {
    case EditionCheck::ManifestTrouble::kUnreadable:
      return Text(Msg::kManifestUnreadable) + " (" + FileErrorShown(check.manifest_failure) + ")";
    case EditionCheck::ManifestTrouble::kDamaged:
      return Text(Msg::kManifestDamaged,
                  {std::to_string(check.manifest_line), ManifestDamageShown(check)});
    case EditionCheck::ManifestTrouble::kFolderUnlisted:
      return Text(Msg::kManifestFolderUnlistable) + " (" + FileErrorShown(check.manifest_failure) +
             ")";
    case EditionCheck::ManifestTrouble::kNone:
      break;
  }
  return check.manifest_error;
}

std::string SealErrorShown(const ManifestWriteError& error) {
  switch (error.kind) {
    case ManifestWriteError::Kind::kFolderUnlisted:
      return Text(Msg::kSealFolderUnlisted) + " (" + error.host_error + ")";
    case ManifestWriteError::Kind::kFileUnreadable:
      return Text(Msg::kSealFileUnreadable, {Shown(error.path)});
    case ManifestWriteError::Kind::kNameNotCp932:
      return Text(Msg::kSealNameNotCp932);
    case ManifestWriteError::Kind::kNotWritten:
    case ManifestWriteError::Kind::kNone:
      break;
  }
  return Text(Msg::kSealNotWritten);
}

// Each difference as a line of text (in the console's language) and a JSON object (in English).
void ListDifferences(const EditionCheck& check, std::string* text, std::vector<std::string>* json) {
  auto add = [&](const std::string& path, std::string_view problem, std::string_view told) {
    std::string shown;
    AppendEscaped(told, &shown);
    *text += "  " + path + ": " + shown + "\n";
    json->push_back("{\"path\":" + JsonString(path) + ",\"problem\":" + JsonString(problem) + "}");
  };
  if (!check.manifest_error.empty()) {
    add(std::string(kManifestName), check.manifest_error, ManifestTroubleShown(check));
  }
  for (const ManifestMiss& miss : check.missed) {
    // Kept in UTF-8 by the manifest: only its control characters are escaped. JSON keeps the
    // manifest's own words; the console says the reasons Collect writes in its language.
    std::string what;
    AppendEscaped(miss.what == kMissDataFolders ? Text(Msg::kMissedDataFolders) : miss.what, &what);
    std::string json_what;
    AppendEscaped(miss.what, &json_what);
    const std::string why = miss.why == kMissNotWritten ? Text(Msg::kMissedNotWritten)
                            : miss.why == kMissSeeLog   ? Text(Msg::kMissedSeeLog)
                                                        : miss.why;
    *text += "  " + what + ": ";
    AppendEscaped(Text(Msg::kProblemNotCollected, {why}), text);
    *text += "\n";
    json->push_back("{\"path\":" + JsonString(json_what) +
                    ",\"problem\":" + JsonString("not collected: " + miss.why) + "}");
  }
  for (const StoreProblem& p : check.problems) {
    add(Shown(p.path), ProblemText(p.kind), ProblemShown(p.kind));
  }
  for (const std::string& folder : check.skipped_folders) {
    add(Shown(folder), "folder removed from the store: its copy is skipped",
        Text(Msg::kProblemFolderRemoved));
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
  std::string text = std::string(EditionName(edition)) + ": " + StateText(check) + "\n";
  std::vector<std::string> differences;
  ListDifferences(check, &text, &differences);
  bool sealed = accepted.sealed;
  if (sealed) {
    text += Text(Msg::kSealed, {EditionName(edition)}) + "\n";
  } else {
    text += Text(Msg::kNotSealed, {SealErrorShown(accepted.error)}) + "\n";
  }
  if (options.json) {
    Print(options,
          JsonObjectFor("verify --accept") + ",\"edition\":" + JsonString(EditionName(edition)) +
              ",\"was\":{" + StateJson(check) + ",\"problems\":" + JsonList(differences) +
              "},\"sealed\":" + Bool(sealed) +
              (sealed ? ""
                      : ",\"error\":" + JsonString(ManifestWriteErrorText(accepted.error).Utf8())) +
              "}\n");
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
      WriteStderr("kdr4tose-cli: " + Text(Msg::kAcceptWantsEdition) + "\n");
      return kExitUsage;
    }
    if (!HasEdition(collected, *edition)) {
      WriteStderr("kdr4tose-cli: " +
                  Text(Msg::kNotCollectedIn, {EditionName(*edition), Shown(paths.root)}) + "\n");
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
      text += Text(Msg::kVerifyEdition,
                   {EditionName(e), StateText(check), std::to_string(check.files_checked)}) +
              "\n" + lines;
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
    Print(options, Text(Msg::kNothingCollectedIn, {Shown(paths.root)}) + "\n");
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
    std::vector<BackupInfo> backups;
    // A place that cannot be read is no place without backups.
    if (PlaceError unlisted; !ListBackups(services.files, places, &backups, &unlisted)) {
      if (options.json) {
        Print(options, JsonObjectFor("undo --list") +
                           ",\"error\":" + JsonString(PlaceErrorText(unlisted)) + "}\n");
      } else {
        WriteStderr("kdr4tose-cli: " + PlaceErrorShown(unlisted) + "\n");
      }
      return kExitEditionFailed;
    }
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
              (b.undone ? "  " + Text(Msg::kUndone) : "") +
              (elsewhere ? "  " + Text(Msg::kBackupElsewhere, {Shown(b.folder)}) : "") +
              (b.error.empty() ? "" : "  " + BackupTroubleShown(b)) + "\n";
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
      Print(
          options,
          !backups.empty() ? text
          : places.fallback.empty()
              ? Text(Msg::kNoBackupsIn, {Shown(places.work)}) + "\n"
              : Text(Msg::kNoBackupsInEither, {Shown(places.work), Shown(places.fallback)}) + "\n");
    }
    return backups.empty() ? kExitNothingToDo : kExitOk;
  }
  std::optional<std::string> name = Utf8ToCp932(options.backup);
  if (!name) {
    WriteStderr("kdr4tose-cli: " + Text(Msg::kBackupNameNotCp932) + "\n");
    return kExitUsage;
  }
  // Each item is printed as it is done: a million of them are never held. In JSON, what is
  // known only at the end follows the items.
  bool first = true;
  if (options.json) Print(options, JsonObjectFor("undo") + ",\"items\":[");
  auto observer = [&](const UndoItem& item) {
    if (options.json) {
      const std::string reason = UndoReasonText(item);
      Print(options, std::string(first ? "" : ",") + "{\"item\":" + JsonString(UndoItemText(item)) +
                         ",\"outcome\":" + JsonString(UndoOutcomeText(item.outcome)) +
                         (reason.empty() ? "" : ",\"reason\":" + JsonString(reason)) + "}");
    } else {
      const bool told = item.reason != UndoReason::kNone;
      std::string line =
          (told ? Text(Msg::kUndoLineWhy,
                       {OutcomeShown(item.outcome), UndoItemShown(item), UndoReasonShown(item)})
                : Text(Msg::kUndoLine, {OutcomeShown(item.outcome), UndoItemShown(item)})) +
          "\n";
      // What was not undone (metadata too) is said on standard error, even with --quiet.
      if (item.outcome == UndoOutcome::kRefused || item.outcome == UndoOutcome::kFailed || told) {
        WriteStderr(line);
      } else if (item.outcome != UndoOutcome::kAlreadyAsBefore) {
        Print(options, line);
      }
    }
    first = false;
  };
  UndoResult result = UndoLastMigrate(services, paths, *name, options.force, observer);
  *changed = result.Total() > 0;
  std::string summary =
      Text(result.complete() ? Msg::kUndoComplete : Msg::kUndoIncomplete,
           {Shown(result.backup), std::to_string(result.Count(UndoOutcome::kRestored)),
            std::to_string(result.Count(UndoOutcome::kRemoved)),
            std::to_string(result.Count(UndoOutcome::kRefused)),
            std::to_string(result.Count(UndoOutcome::kFailed))}) +
      "\n";
  if (options.json) {
    Print(options, "],\"backup\":" + JsonString(Shown(result.backup)) +
                       ",\"complete\":" + Bool(result.complete()) +
                       (result.error.empty() ? "" : ",\"error\":" + JsonString(result.error)) +
                       "}\n");
  } else {
    if (result.error.empty()) {
      Print(options, summary);
    } else if (result.nothing_to_do) {
      // No backup, or every one undone: told in the console's language.
      const bool none = ListBackups(services.files, places).empty();
      const std::string work = Shown(places.work);
      WriteStderr((places.fallback.empty()
                       ? Text(none ? Msg::kNoBackupsIn : Msg::kAllUndoneIn, {work})
                       : Text(none ? Msg::kNoBackupsInEither : Msg::kAllUndoneInEither,
                              {work, Shown(places.fallback)})) +
                  "\n");
    } else {
      WriteStderr(UndoProblemShown(result, places) + "\n");
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
    text += std::string(EditionName(e)) + ":\n" +
            Text(preview.settings_file_replaced ? Msg::kPreviewSettingsReplaced
                                                : Msg::kPreviewSettingsAdded,
                 {Shown(paths.SettingsFile(e))}) +
            "\n";
    for (const std::string& absent : preview.absent_sources) {
      text += Text(Msg::kPreviewAbsent, {Shown(absent)}) + "\n";
    }
    std::vector<std::string> files_json;
    for (const CollectPreviewFile& f : preview.files) {
      text += Text(f.replaces ? Msg::kPreviewReplaceFile : Msg::kPreviewAddFile,
                   {Shown(f.destination), std::to_string(f.size)}) +
              "\n";
      files_json.push_back("{\"path\":" + JsonString(Shown(f.destination)) + ",\"from\":" +
                           JsonString(Shown(f.source)) + ",\"size\":" + std::to_string(f.size) +
                           ",\"replaces\":" + Bool(f.replaces) + "}");
    }
    std::vector<std::string> failures_json;
    for (const PlanFailure& f : preview.failures) {
      text += Text(Msg::kPreviewWouldFail, {PlanFailureShown(f)}) + "\n";
      failures_json.push_back(JsonString(PlanFailureEnglish(f)));
    }
    json.push_back("{\"edition\":" + JsonString(EditionName(e)) + ",\"files\":" +
                   JsonList(files_json) + ",\"failures\":" + JsonList(failures_json) + "}");
  }
  if (options.json) {
    Print(options,
          JsonObjectFor("collect") + ",\"dry_run\":true,\"editions\":" + JsonList(json) + "}\n");
  } else {
    Print(options, code == 0 ? Text(Msg::kNothingToCollect) + "\n"
                             : Text(Msg::kCollectPreview) + "\n" + text);
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
      text += Text(Msg::kPreviewNotMigrated, {StateText(check)}) + "\n";
      json.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                     ",\"outcome\":\"not migrated: store " +
                     std::string(StoreStateName(check.state())) + "\"," + StateJson(check) + "}");
      continue;
    }
    if (!check.has_manifest) text += Text(Msg::kPreviewNoManifest) + "\n";
    if (!preview.planned) {
      trouble = true;
      text += Text(Msg::kPreviewCannot, {PlanErrorShown(preview.error)}) + "\n";
      json.push_back("{\"edition\":" + JsonString(EditionName(e)) +
                     ",\"outcome\":\"cannot be previewed\",\"error\":" +
                     JsonString(PlanErrorText(preview.error).Utf8()) + "}");
      continue;
    }
    std::vector<std::string> values, keys, files, failures;
    for (const std::string& key : plan.keys_created) {
      text += Text(Msg::kPreviewCreateKey, {"HKCU\\" + Shown(key)}) + "\n";
      keys.push_back(JsonString("HKCU\\" + Shown(key)));
    }
    for (const PlannedValueRef& v : plan.values) {
      std::string where = "HKCU\\" + Shown(v.key) + "\\" + Shown(v.name);
      std::string now, old;
      AppendEscaped(ValueShown(v.name, v.new_type, v.new_data).Utf8(), &now);
      if (v.existed) AppendEscaped(ValueShown(v.name, v.old_type, v.old_data).Utf8(), &old);
      // A credential's mask is the console's own word; --json keeps the English one.
      const bool hidden = ValueHidden(v.name);
      const std::string now_shown = hidden ? Text(Msg::kCredentialHidden) : now;
      const std::string old_shown = hidden ? Text(Msg::kCredentialHidden) : old;
      text += (v.existed ? Text(Msg::kPreviewReplaceValue, {where, old_shown, now_shown})
                         : Text(Msg::kPreviewCreateValue, {where, now_shown})) +
              "\n";
      values.push_back("{\"value\":" + JsonString(where) + ",\"replaces\":" + Bool(v.existed) +
                       (v.existed ? ",\"old\":" + JsonString(old) : "") +
                       ",\"new\":" + JsonString(now) + "}");
    }
    for (const PlannedFile& f : plan.files) {
      text += (f.replaces ? Text(Msg::kPreviewReplaceFileSizes,
                                 {Shown(f.destination), std::to_string(f.old_size),
                                  std::to_string(f.new_digest.size)})
                          : Text(Msg::kPreviewAddFile,
                                 {Shown(f.destination), std::to_string(f.new_digest.size)})) +
              "\n";
      files.push_back("{\"path\":" + JsonString(Shown(f.destination)) + ",\"replaces\":" +
                      Bool(f.replaces) + ",\"size\":" + std::to_string(f.new_digest.size) + "}");
    }
    for (const PlanFailure& f : plan.failures) {
      trouble = true;
      text += Text(Msg::kPreviewWouldFail, {PlanFailureShown(f)}) + "\n";
      failures.push_back(JsonString(PlanFailureEnglish(f)));
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
    Print(options,
          any ? Text(Msg::kMigratePreview) + "\n" + text : Text(Msg::kNothingToMigrate) + "\n");
  }
  if (!any) return kExitNothingToDo;
  return trouble ? kExitEditionFailed : kExitOk;
}

namespace {

// How many of the items an edition did not copy are folders.
size_t FoldersNotCopied(const RunSummary& summary, Edition edition) {
  const std::vector<FailedItem>& items = summary.Copies(edition).not_copied;
  return static_cast<size_t>(
      std::count_if(items.begin(), items.end(), [](const FailedItem& i) { return i.folder(); }));
}

}  // namespace

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
                       ",\"folders_not_copied\":" + std::to_string(FoldersNotCopied(summary, e)) +
                       ",\"kept\":" + std::to_string(summary.Copies(e).files_kept) + "}");
  }
  return JsonObjectFor(command) + ",\"editions\":" + JsonList(editions) +
         ",\"attempted\":" + std::to_string(summary.attempted) +
         ",\"failed\":" + std::to_string(summary.failed) + ",\"backup\":" +
         (summary.backup_name.empty() ? "null" : JsonString(Shown(summary.backup_name))) + "}\n";
}

}  // namespace kdr::cli
