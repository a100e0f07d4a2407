#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

// The console's own texts, one table per language (cli_messages_en.cpp, cli_messages_ja.cpp).
// A text takes its arguments by number: {0}, {1}, ... The texts the window shows, which the
// console prints too, are not here: they read the same in both languages.
namespace kdr::cli {

enum class Language { kEnglish, kJapanese };

enum class Msg {
  // The command line and its help.
  kUsageLine,
  kHelpDescription,
  kHelpExitCodes,
  kHelpCommand,
  kHelpWorkDir,
  kHelpRegistry,
  kHelpHive,
  kHelpSystemHive,
  kHelpDrive,
  kHelpLog,
  kHelpJson,
  kHelpCsv,
  kHelpReportFolders,
  kHelpDryRun,
  kHelpBackup,
  kHelpList,
  kHelpAccept,
  kHelpForce,
  kHelpQuiet,
  kHelpAllUsers,
  kHelpUser,
  kHelpExcludeUser,
  kHelpMapUser,
  kHelpLang,
  kHelpHelp,
  kHelpVersion,
  kLabelUsage,
  kLabelOptions,
  kLabelOptionGroup,
  kLabelPositionals,
  kLabelRequired,
  kArgCommand,
  kArgFolder,
  kArgFile,
  kArgDrive,
  kArgName,
  kArgEdition,
  kArgLanguage,
  kBadArguments,
  kBadLanguage,
  kEmptyName,
  kDryRunWith,
  kUndoOptionsWith,
  kAcceptWith,
  kListAlone,
  kReportNoFolders,
  kReportEmptyFolder,
  kReportOptions,
  kCsvOrJson,
  kFoldersWithReport,
  kCsvWithReport,
  kReportCannotRead,
  kReportNoWorkFolder,
  kHiveWithRegistry,
  kSystemHiveWithoutHive,
  kSystemHiveIsUserHive,
  kSystemHiveUnavailable,
  kUserOptionsWith,
  kAllUsersOwnRegistry,
  kMapUserWith,
  kAllUsersWindowsOnly,
  kProfilesUnreadable,
  kNoUserLeft,
  kHiveNotReleased,
  kDriveUnresolvable,
  kDriveNotCp932,
  kDriveMalformed,
  // The work folder, the registry file, the log.
  kWorkFolderInUse,
  kRegistryFileInUse,
  kCannotLockWork,
  kNoExecutableFolder,
  kCannotResolveWork,
  kWorkNotFolder,
  kWorkHasBackslash,
  kWorkPrefix,
  kWorkNotCp932,
  kWorkPathTooLong,
  kRegistryFileUnusable,
  kRegistryFileUnreadable,
  kRegistryFileMalformed,
  kHiveFileInUse,
  kHiveFileUnusable,
  kHiveFileUnreadable,
  kHiveNotWritten,
  kNoSystemRegistry,
  kLogUnopenable,
  kLogNotWritten,
  kRegistryNotWritten,
  kRegistryChangedMeanwhile,
  kRegistryNotReadAgain,
  kUnheldRequest,
  kSettingsFileNotWritten,
  kInterrupted,
  kStopping,
  kNotFinished,
  // status
  kStatusOldInstalled,
  kStatusNewInstalled,
  kStatusCollected,
  kStatusStores,
  kStatusCollect,
  kStatusMigrate,
  kEditionsNone,
  kListSeparator,
  kEnabled,
  kDisabled,
  kUnfinishedMigrate,
  // Collect and Migrate.
  kFilesKeptData,
  kFilesKeptStore,
  kNotCopied,
  kMoreNotCopied,
  kNotCopiedInLog,
  kNotCopiedNoLog,
  kStepStarting,
  kStepCheckingStore,
  kStepWritingBackup,
  kStepSettings,
  kStepCopying,
  kProgressFiles,
  kProgressPercent,
  kProgressLeft,
  kHoursMinutes,
  kMinutesSeconds,
  kSeconds,
  kSummaryLine,
  // verify and the store.
  kStateWhole,
  kStateIncomplete,
  kStateUnfinished,
  kStateChanged,
  kStateNoManifest,
  kStateChangedCounts,
  kStateIncompleteCount,
  kStateUnfinishedWhy,
  kProblemMissing,
  kProblemTruncated,
  kProblemChanged,
  kProblemUnreadable,
  kProblemNotAFile,
  kProblemAdded,
  kProblemNotCollected,
  kProblemFolderRemoved,
  kVerifyEdition,
  kNothingCollectedIn,
  kSealed,
  kNotSealed,
  kAcceptWantsEdition,
  kNotCollectedIn,
  // undo
  kUndone,
  kBackupElsewhere,
  kNoBackupsIn,
  kNoBackupsInEither,
  kAllUndoneIn,
  kAllUndoneInEither,
  kBackupNameNotCp932,
  kUndoRestored,
  kUndoRemoved,
  kUndoAlreadyAsBefore,
  kUndoRefused,
  kUndoFailed,
  kUndoComplete,
  kUndoIncomplete,
  // --dry-run
  kCollectPreview,
  kPreviewSettingsReplaced,
  kPreviewSettingsAdded,
  kPreviewAbsent,
  kPreviewAddFile,
  kPreviewReplaceFile,
  kPreviewWouldFail,
  kNothingToCollect,
  kMigratePreview,
  kPreviewNotMigrated,
  kPreviewNoManifest,
  kPreviewCannot,
  kPreviewCreateKey,
  kPreviewCreateValue,
  kPreviewReplaceValue,
  kPreviewReplaceFileSizes,
  kNothingToMigrate,
  kCount
};

struct MessageText {
  Msg key;
  std::string_view text;
};

std::span<const MessageText> EnglishMessages();
std::span<const MessageText> JapaneseMessages();
std::span<const MessageText> MessagesOf(Language language);

// The language the console speaks, English until set.
void SetLanguage(Language language);
Language CurrentLanguage();

// "ja" or "en"; false for anything else.
bool LanguageNamed(std::string_view name, Language* language);

// The language of a POSIX locale: the first set of LC_ALL, LC_MESSAGES and LANG (each may be
// null); Japanese when it starts with "ja".
Language LanguageOfLocale(const char* lc_all, const char* lc_messages, const char* lang);

// `pattern` with each {N} replaced by args[N]; any other brace is kept as it is.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);

// Message `key` in the current language, formatted.
std::string Text(Msg key, std::initializer_list<std::string_view> args = {});

}  // namespace kdr::cli
