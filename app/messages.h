#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/edition.h"

// The texts the tool shows, in UTF-8.
namespace kdr {

inline constexpr std::string_view kNothingToCollectMessage = "Kodrel4の情報が有りません。";
inline constexpr std::string_view kNotMigratedMessage =
    "KodrelSEがインストールされていません、或いは、情報が収集されていません。";
// Shown when the executable's folder is so long that the work paths would not fit.
inline constexpr std::string_view kFolderTooLongMessage =
    "このプログラムを置いたフォルダのパスが長すぎるため、情報の収集と移行ができません。"
    "短いパスのフォルダ（例: C:\\kdr4tose）に移してから実行してください。";

// Shown instead of doing anything when another run of either program is using the work folder.
inline constexpr std::string_view kWorkFolderBusyMessage =
    "別のkdr4toseが作業フォルダを使用中です。そちらが終了してからもう一度実行してください。";

// Shown right after an edition's own message when some of its data files could not be copied.
inline std::string NotCopiedMessage(size_t count) {
  return "コピーできなかったファイルが" + std::to_string(count) +
         "件あります。詳細はkdr4env\\kdr4tose.logを参照してください。";
}

// Shown right after an edition's own message when its settings file could not be written.
inline constexpr std::string_view kSettingsNotWrittenMessage =
    "設定ファイルを保存できませんでした。詳細はkdr4env\\kdr4tose.logを参照してください。";

// The work folder's log, which both programs append to (its name is in the message above).
inline constexpr std::string_view kWorkLogName = "kdr4tose.log";
// What Collect and Migrate say of each edition they did, by EditionIndex.
struct EditionMessages {
  std::string_view collected;
  std::string_view migrated;
};

inline constexpr std::array<EditionMessages, kEditionCount> kEditionMessages = {{
    {"Kodrel4 Personalの情報を収集しました。", "Kodrel Personalの情報を移行しました。"},
    {"Kodrel4 Clientの情報を収集しました。", "Kodrel Clientの情報を移行しました。"},
    {"Kodrel4 Serverの情報を収集しました。", "Kodrel Serverの情報を移行しました。"},
}};

constexpr std::string_view CollectedMessage(Edition edition) {
  return kEditionMessages[EditionIndex(edition)].collected;
}

constexpr std::string_view MigratedMessage(Edition edition) {
  return kEditionMessages[EditionIndex(edition)].migrated;
}

// Shown, besides the usual outcome, when a collected edition's files are not as Collect left
// them: the edition is not migrated.
inline std::string StoreDamagedMessage(Edition edition, size_t bad_files,
                                       std::string_view log_path) {
  return "収集したKodrel4 " + std::string(EditionName(edition)) + "の情報のうち" +
         std::to_string(bad_files) +
         "個のファイルが、収集した時と一致しません（無くなったか、内容が変わっています）。"
         "このため、この情報は移行しませんでした。詳細は" +
         std::string(log_path) + "に記録しました。";
}

// Shown when the backup that undo needs could not be written: the edition is not migrated.
inline std::string BackupFailedMessage(Edition edition, std::string_view log_path) {
  return "移行前のバックアップを作成できなかったため、Kodrel " + std::string(EditionName(edition)) +
         "の情報は移行しませんでした。詳細は" + std::string(log_path) + "に記録しました。";
}

// Shown when the settings file said more to the import than it did when the backup was made:
// what the backup did not record was not written, so part of the edition is not migrated.
inline std::string SettingsChangedMessage(Edition edition, std::string_view log_path) {
  return "設定ファイルの内容がバックアップ作成時と異なっていたため、Kodrel " +
         std::string(EditionName(edition)) + "の情報の一部は移行しませんでした。詳細は" +
         std::string(log_path) + "に記録しました。";
}

// Shown on start when a Migrate stopped while it wrote (its window ended by force): part of an
// edition is migrated, and a file may be cut short.
inline constexpr std::string_view kUnfinishedMigrateMessage =
    "前回の情報移行が途中で終了しているため、もう一度「情報移行開始」を実行するか、"
    "kdr4tose-cli undoで移行前の状態に戻してください。";

}  // namespace kdr
