#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/edition.h"
#include "store/store_check.h"

// The texts the tool shows, in UTF-8.
namespace kdr {

inline constexpr std::string_view kNothingToCollectMessage = "Kodrel4の情報が有りません。";
inline constexpr std::string_view kNotMigratedMessage =
    "KodrelSEがインストールされていません、或いは、情報が収集されていません。";
// Shown when the executable's folder is so long that the work paths would not fit.
inline constexpr std::string_view kFolderTooLongMessage =
    "このプログラムを置いたフォルダのパスが長すぎて情報の収集と移行ができないため、"
    "C:\\kdr4toseのような短いパスのフォルダに移してから実行してください。";

// Shown instead of doing anything when another run of either program is using the work folder.
inline constexpr std::string_view kWorkFolderBusyMessage =
    "別のkdr4toseが作業フォルダを使用中のため、そちらが終了してからもう一度実行してください。";

// Shown in the progress window once the user chose to stop the run.
inline constexpr std::string_view kStoppingText = "処理を中断しています。しばらくお待ちください。";

// Asked when Exit or the close box is pressed while a Collect or Migrate runs.
inline constexpr std::string_view kStopRunQuestion =
    "コピー中のファイルが終わったところで処理を中断して終了しますか？";

// The end of a failure message: where its details are, or nothing more when no log could be
// written. One sentence either way.
inline std::string WithDetailsIn(std::string_view failed, std::string_view failed_because,
                                 std::string_view log) {
  if (log.empty()) return std::string(failed) + "。";
  return std::string(failed_because) + "ため、その詳細を" + std::string(log) + "に記録しました。";
}

// Shown instead of an edition's own message when some of its data files or folders could not be
// copied (`product` as the edition's own message names it: "Kodrel4 Client" or "Kodrel Client").
// Folders are counted on their own: a folder is none of the files.
inline std::string NotCopiedMessage(std::string_view product, bool collect, size_t file_count,
                                    size_t folder_count, std::string_view log) {
  std::string items;
  if (file_count != 0) items = std::to_string(file_count) + "個のファイル";
  if (folder_count != 0) {
    items += (items.empty() ? "" : "と") + std::to_string(folder_count) + "個のフォルダ";
  }
  const std::string files = std::string(product) + "の情報のうち" + items + "を";
  return collect ? WithDetailsIn(files + "収集できませんでした", files + "収集できなかった", log)
                 : WithDetailsIn(files + "移行できませんでした", files + "移行できなかった", log);
}

// Shown instead of Collect's message for an edition when its settings file could not be written.
inline std::string SettingsNotWrittenMessage(std::string_view product, std::string_view log) {
  const std::string what = std::string(product) + "の設定ファイルを保存";
  return WithDetailsIn(what + "できませんでした", what + "できなかった", log);
}

// Shown instead of Collect's message for an edition that failed for another cause (its store
// could not be marked or sealed).
inline std::string CollectFailedMessage(std::string_view product, std::string_view log) {
  const std::string what = std::string(product) + "の情報を収集";
  return WithDetailsIn(what + "できませんでした", what + "できなかった", log);
}

// Shown once when Migrate keeps its backup in the user's own folder, as the work folder cannot
// be written.
inline std::string BackupElsewhereMessage(std::string_view folder) {
  return "作業フォルダに書き込めないため、移行前のバックアップとログを" + std::string(folder) +
         "に保存しました。";
}

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

// The product and edition as the edition's own messages name them.
inline std::string CollectedProduct(Edition edition) {
  return "Kodrel4 " + std::string(EditionName(edition));
}
inline std::string MigratedProduct(Edition edition) {
  return "Kodrel " + std::string(EditionName(edition));
}

// Shown instead of an edition's own message when its store is not as Collect sealed it: the
// edition is not migrated. Names the cause and what to do.
inline std::string StoreRefusedMessage(Edition edition, const EditionCheck& check,
                                       std::string_view log_path) {
  const std::string name(EditionName(edition));
  std::string cause;
  switch (check.state()) {
    case StoreState::kUnfinished:
      cause = "Kodrel4 " + name + "の情報の収集が途中で終わっている";
      break;
    case StoreState::kIncomplete:
      cause = "Kodrel4 " + name + "の情報には収集できなかったファイルが" +
              std::to_string(check.missed.size()) + "個有る";
      break;
    default: {
      std::string counts;
      auto add = [&](size_t count, std::string_view what) {
        if (count == 0) return;
        counts += (counts.empty() ? "" : "、") + std::string(what) + std::to_string(count) + "個";
      };
      add(check.missing(), "無くなったファイルが");
      add(check.changed(), "内容が変わったファイルが");
      add(check.added(), "追加されたファイルが");
      cause = "収集したKodrel4 " + name + "の情報に" + counts + "有る";
      break;
    }
  }
  constexpr std::string_view kCollectAgain = "「情報収集開始」で収集し直してください。";
  if (log_path.empty()) return cause + "ため、移行できませんので、" + std::string(kCollectAgain);
  return cause + "ため、移行せず、その詳細を" + std::string(log_path) + "に記録しましたので、" +
         std::string(kCollectAgain);
}

// Shown when the backup that undo needs could not be written: the edition is not migrated.
inline std::string BackupFailedMessage(Edition edition, std::string_view log_path) {
  const std::string head = "移行前のバックアップを作成できなかったため、Kodrel " +
                           std::string(EditionName(edition)) + "の情報は移行";
  return log_path.empty() ? head + "しませんでした。"
                          : head + "せず、その詳細を" + std::string(log_path) + "に記録しました。";
}

// Shown when a data folder the edition's Migrate would write into exists but cannot be used (a
// link that leads off its drive, a share or drive that cannot be reached): nothing is migrated.
inline std::string DestinationUnusableMessage(Edition edition, std::string_view folder,
                                              std::string_view log_path) {
  const std::string head = "KodrelSEのデータフォルダ" + std::string(folder) +
                           "を使用できないため、Kodrel " + std::string(EditionName(edition)) +
                           "の情報は移行";
  return log_path.empty() ? head + "しませんでした。"
                          : head + "せず、その詳細を" + std::string(log_path) + "に記録しました。";
}

// Shown when the settings file said more to the import than it did when the backup was made:
// what the backup did not record was not written, so part of the edition is not migrated.
inline std::string SettingsChangedMessage(Edition edition, std::string_view log_path) {
  const std::string head = "設定ファイルの内容がバックアップ作成時と異なっていたため、Kodrel " +
                           std::string(EditionName(edition)) + "の情報の一部を移行";
  return log_path.empty() ? head + "しませんでした。"
                          : head + "せず、その詳細を" + std::string(log_path) + "に記録しました。";
}

// Shown on start when a Migrate stopped while it wrote (its window ended by force): part of an
// edition is migrated, and a file may be cut short.
inline constexpr std::string_view kUnfinishedMigrateMessage =
    "前回の情報移行が途中で終了しているため、もう一度「情報移行開始」を実行するか、"
    "kdr4tose-cli undoで移行前の状態に戻してください。";

}  // namespace kdr
