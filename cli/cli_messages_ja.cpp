#include "cli/cli_messages.h"

namespace kdr::cli {
namespace {

// Polite form and full-width punctuation; the words of docs/cli.ja.md. Label columns are padded
// for a console that shows a Japanese character two columns wide.
constexpr MessageText kTexts[] = {
    {Msg::kUsageLine,
     "使い方: kdr4tose-cli [オプション] status | collect | migrate | verify | undo   "
     "（オプションは --help で表示します）\n"
     "        kdr4tose-cli [--csv | --json] report DIR..."},
    {Msg::kHelpDescription, "Kodrel4 の設定とデータフォルダを KodrelSE に移行します。"},
    {Msg::kHelpExitCodes,
     "終了コード:\n"
     "  0    成功: 対象のエディションがすべて成功しました。\n"
     "  1    失敗したエディションがあります（コピーできなかったファイルを 1 つずつ表示します）。"
     "verify では、完全でないエディションがあります。report では、読めないフォルダがあります。\n"
     "  2    処理対象がありません: "
     "インストール、収集済み、取り消せるバックアップのどれもありません。"
     "report では、作業フォルダが見つかりません。\n"
     "  64   引数の誤り: "
     "オプションの誤り、又は使えないレジストリファイル・ハイブファイル・ログ・作業フォルダです。\n"
     "  70   実行環境のエラー: パスが長すぎる、ファイルを書き戻せないなどです。\n"
     "  75   使用中: "
     "レジストリファイル・ハイブファイル又は作業フォルダを別の実行が使っています。"
     "何もしていません。\n"
     "  130  中断: Ctrl+C で中断しました。どこまで進んだかはログに書かれています。"},
    {Msg::kHelpCommand,
     "status | collect | migrate | verify（収集したものをマニフェストと照らして確認） | "
     "undo（直前の migrate を取り消し） | report（各作業フォルダ DIR... に残った実行結果の一覧）"},
    {Msg::kHelpWorkDir,
     "kdr4env を置くフォルダ（作業フォルダ）。省略時は実行ファイルのあるフォルダです。"},
    {Msg::kHelpRegistry,
     "システムのレジストリの代わりにレジストリファイル（."
     "reg）を使い、そのファイルを読み書きします。"},
    {Msg::kHelpHive,
     "ユーザーのレジストリとして Windows のハイブファイル（ユーザーの NTUSER.DAT）を読みます。"
     "migrate と undo はこのファイルに書き込みます。"},
    {Msg::kHelpSystemHive,
     "（--hive と共に）インストールの有無を PC の SOFTWARE ハイブから読みます"
     "（指定しないと、どのエディションもインストールされていないものとして扱います）。"},
    {Msg::kHelpDrive,
     "X=DIR: ドライブ X: をホストのフォルダに割り当てます（繰り返し指定できます）。"},
    {Msg::kHelpLog, "行ったこと・飛ばしたことと理由を、詳しいログとしてこのファイルにも書きます。"},
    {Msg::kHelpJson, "結果を 1 つの JSON として表示します。"},
    {Msg::kHelpCsv, "（report）一覧を表計算ソフト用の CSV で表示します。"},
    {Msg::kHelpReportFolders,
     "（report）作業フォルダ、またはそれを含むフォルダ（ユーザーごと、または PC とユーザーごとに"
     "フォルダを分けた共有フォルダ）。"},
    {Msg::kHelpDryRun, "（collect・migrate）行う内容を表示するだけで、何も変更しません。"},
    {Msg::kHelpBackup,
     "（undo）戻すバックアップを、undo --list が表示する名前で指定します（省略時は、まだ戻して"
     "いない最新のもの）。"},
    {Msg::kHelpList, "（undo）バックアップの一覧を表示します。"},
    {Msg::kHelpAccept,
     "（verify）そのエディションの違いを表示したうえで、今の内容のまま確定します（意図した変更、"
     "未完了又は不完全な収集）。"},
    {Msg::kHelpForce, "（undo）移行後に変更された項目も戻します。"},
    {Msg::kHelpAllUsers,
     "（Windows）PC "
     "のすべてのユーザーについて、作業フォルダの下のユーザー名のフォルダで実行します。"},
    {Msg::kHelpUser, "（--all-users）このユーザーについてだけ実行します（複数指定できます）。"},
    {Msg::kHelpExcludeUser, "（--all-users）このユーザーを除きます（複数指定できます）。"},
    {Msg::kHelpMapUser,
     "（--all-users）旧=新: ユーザー「新」に、ユーザー「旧」の収集したものを移行します"
     "（複数指定できます）。"},
    {Msg::kHelpQuiet, "問題があったときだけ表示します。"},
    {Msg::kHelpLang,
     "表示の言語を ja か en で指定します（省略時は、ユーザーの表示言語が日本語なら日本語）。"},
    {Msg::kHelpHelp, "この使い方を表示して終わります。"},
    {Msg::kHelpVersion, "バージョンを表示して終わります。"},
    {Msg::kLabelUsage, "使い方"},
    {Msg::kLabelOptions, "オプション"},
    {Msg::kLabelOptionGroup, "オプション"},
    {Msg::kLabelPositionals, "コマンド"},
    {Msg::kLabelRequired, "必須"},
    {Msg::kArgCommand, "コマンド"},
    {Msg::kArgFolder, "フォルダ"},
    {Msg::kArgFile, "ファイル"},
    {Msg::kArgDrive, "X=フォルダ"},
    {Msg::kArgName, "名前"},
    {Msg::kArgEdition, "エディション"},
    {Msg::kArgLanguage, "ja|en"},
    {Msg::kBadArguments, "コマンドラインの指定が正しくありません（{0}）。"},
    {Msg::kBadLanguage, "--lang には ja か en を指定してください（指定: {0}）。"},
    {Msg::kEmptyName, "名前が空です"},
    {Msg::kDryRunWith, "--dry-run は collect と migrate にだけ指定できます。"},
    {Msg::kHiveWithRegistry,
     "--hive と --registry "
     "はどちらもユーザーのレジストリを指定するため、一方だけを指定してください。"},
    {Msg::kSystemHiveWithoutHive, "--system-hive は --hive と共にだけ指定できます。"},
    {Msg::kSystemHiveIsUserHive,
     "--system-hive と --hive に同じファイルが指定されているため、PC の SOFTWARE "
     "ハイブとユーザーの "
     "NTUSER.DAT を指定してください。"},
    {Msg::kSystemHiveUnavailable,
     "この環境では --system-hive は使えません（インストールの有無は Windows 自身のレジストリから"
     "読みます）。"},
    {Msg::kUserOptionsWith,
     "--user、--exclude-user、--map-user は --all-users と共にだけ指定できます。"},
    {Msg::kAllUsersOwnRegistry,
     "--all-users は各ユーザー自身のレジストリを読むため、--registry と --hive は指定できません。"},
    {Msg::kMapUserWith, "--map-user は migrate、verify、status、undo にだけ指定できます。"},
    {Msg::kAllUsersWindowsOnly,
     "--all-users は、ユーザーのプロファイルを管理する Windows でだけ使えます。"},
    {Msg::kProfilesUnreadable, "この PC のユーザー プロファイルを読めません（{0}）。"},
    {Msg::kNoUserLeft, "実行する対象のユーザーがいません。"},
    {Msg::kHiveNotReleased, "ハイブ {0} を解放できませんでした（{1}）。"},
    {Msg::kDriveUnresolvable, "--drive のフォルダのパスを解決できません（{0}）。"},
    {Msg::kDriveNotCp932, "--drive のフォルダにシフト JIS で表せない文字があります（指定: {0}）。"},
    {Msg::kReportNoFolders, "report には読むフォルダを指定してください。"},
    {Msg::kReportEmptyFolder, "report に指定したフォルダ名が空です。"},
    {Msg::kReportOptions,
     "report は指定したフォルダを読むだけなので、--work-dir、--registry、--hive、--drive、--log は"
     "指定できません。"},
    {Msg::kCsvOrJson, "--csv と --json は一方だけを指定してください。"},
    {Msg::kFoldersWithReport, "フォルダを指定できるのは report だけです（指定: {0}）。"},
    {Msg::kCsvWithReport, "--csv は report にだけ指定できます。"},
    {Msg::kReportCannotRead, "{0}: 読めません（{1}）"},
    {Msg::kReportNoWorkFolder,
     "{0} に作業フォルダ（kdr4env または results.txt を含むフォルダ）がありません。"},
    {Msg::kUndoOptionsWith, "--backup、--list、--force は undo にだけ指定できます。"},
    {Msg::kAcceptWith, "--accept は verify にだけ指定できます。"},
    {Msg::kListAlone,
     "undo --list は一覧を表示するだけなので、--backup と --force は指定できません。"},
    {Msg::kDriveMalformed,
     "--drive にはドライブ文字とフォルダを C=/srv/c 又は C=E:\\ の形で指定してください（指定: "
     "{0}）。"},
    {Msg::kWorkFolderInUse, "作業フォルダ {0} を別の実行が使っています（{1}）。"},
    {Msg::kRegistryFileInUse, "レジストリファイル {0} を別の実行が使っています（{1}）。"},
    {Msg::kCannotLockWork, "作業フォルダをロックできません（{0}）。"},
    {Msg::kNoExecutableFolder,
     "実行ファイルのフォルダが分からないため、--work-dir で作業フォルダを指定してください。"},
    {Msg::kCannotResolveWork, "作業フォルダのパスを解決できません（{0}）。"},
    {Msg::kWorkNotFolder, "作業フォルダ {0} は、存在するフォルダではありません。"},
    {Msg::kWorkHasBackslash,
     "作業フォルダのパスに、このツールでは扱えない「\\」が含まれています。"},
    {Msg::kWorkPrefix,
     "作業フォルダは {0} を付けずに、C:\\フォルダ 又は \\\\server\\share\\フォルダ の形で"
     "指定してください。"},
    {Msg::kWorkNotCp932,
     "作業フォルダのパス {0} に、コードページ 932（Shift_JIS）で表せない文字が含まれています。"},
    {Msg::kWorkPathTooLong,
     "作業フォルダのパス {0} が長すぎます（この環境のパスは {1} 文字までです）。"},
    {Msg::kRegistryFileUnusable, "レジストリファイル {0} を使えません（{1}）。"},
    {Msg::kRegistryFileUnreadable, "レジストリファイル {0} を読めません（{1}）。"},
    {Msg::kRegistryFileMalformed, "レジストリファイル {0} の {1} 行目が正しくありません（{2}）。"},
    {Msg::kNoSystemRegistry,
     "この環境にはシステムのレジストリがないため、--registry でレジストリファイル（.reg）を、"
     "又は --hive でハイブファイルを指定してください。"},
    {Msg::kHiveFileInUse, "ハイブファイル {0} を別の実行が使っています（{1}）。"},
    {Msg::kHiveFileUnusable, "ハイブファイル {0} を使えません（{1}）。"},
    {Msg::kHiveFileUnreadable, "ハイブファイル {0} を読めません（{1}）。"},
    {Msg::kHiveNotWritten,
     "ハイブファイル {0} に書き戻せなかったため、移行した設定は保存されていません（{1}）。"},
    {Msg::kLogUnopenable, "ログファイル {0} を開けません。"},
    {Msg::kLogNotWritten, "ログファイルを書き込めませんでした。"},
    {Msg::kRegistryNotWritten,
     "レジストリファイル {0} に書き戻せなかったため、移行した設定は保存されていません（{1}）。"},
    {Msg::kRegistryChangedMeanwhile,
     "実行中にほかのプログラムが変更したため、その内容のままにしました"},
    {Msg::kRegistryNotReadAgain, "読み直せません: {0}"},
    {Msg::kUnheldRequest,
     "内部エラーです。このコマンドがレジストリファイルから読まないキー {0} を使おうとしたため、"
     "何も保存していません。"},
    {Msg::kSettingsFileNotWritten, "設定ファイルを書き込めませんでした（{0}）。"},
    {Msg::kInterrupted,
     "中断しました。コピー中のファイルが終わったところで止め、どこまで進んだかをログに書きました"
     "。"},
    {Msg::kStopping,
     "コピー中のファイルが終わったところで止めます（もう一度中断すると、すぐに終わります）。"},
    {Msg::kNotFinished,
     "中断しました。処理は最後まで終わっていません。どこまで進んだかはログに書かれています。"},
    {Msg::kStatusOldInstalled, "Kodrel4 インストール済み:   {0}"},
    {Msg::kStatusNewInstalled, "KodrelSE インストール済み:  {0}"},
    {Msg::kStatusCollected, "収集済み:                   {0}（場所: {1}）"},
    {Msg::kStatusStores, "収集したものの状態:         {0}"},
    {Msg::kStatusCollect, "「情報収集開始」:           {0}"},
    {Msg::kStatusMigrate, "「情報移行開始」:           {0}"},
    {Msg::kEditionsNone, "なし"},
    {Msg::kListSeparator, "、"},
    {Msg::kEnabled, "押せます"},
    {Msg::kDisabled, "押せません"},
    {Msg::kUnfinishedMigrate,
     "未完了の移行: {0}（バックアップ {1}）。書き込みの途中で止まっています。もう一度 migrate を"
     "実行するか、undo で元に戻してください。"},
    {Msg::kFilesKeptData,
     "{0}: データフォルダに同じ内容のファイルがあったため、{1} 個のファイルはそのままにしました。"},
    {Msg::kFilesKeptStore,
     "{0}: 収集先に同じ内容のファイルがあったため、{1} 個のファイルはそのままにしました。"},
    {Msg::kNotCopied, "コピーできませんでした: {0}（{1}）"},
    {Msg::kMoreNotCopied, "ほかに {0} 個のファイルをコピーできませんでした。"},
    {Msg::kNotCopiedInLog,
     "{0} 個のファイルをコピーできませんでした。すべてログ {1} に書いてあります。"},
    {Msg::kNotCopiedNoLog, "{0} 個のファイルをコピーできませんでした。ログは書けませんでした。"},
    {Msg::kStepStarting, "開始しています"},
    {Msg::kStepCheckingStore, "収集したものを確認しています"},
    {Msg::kStepWritingBackup, "バックアップを書いています"},
    {Msg::kStepSettings, "設定を処理しています"},
    {Msg::kStepCopying, "コピーしています"},
    {Msg::kProgressFiles, "、{0}/{1} ファイル、{2}/{3}"},
    {Msg::kProgressPercent, "（{0}%）"},
    {Msg::kProgressLeft, "、残り {0}"},
    {Msg::kHoursMinutes, "{0} 時間 {1} 分"},
    {Msg::kMinutesSeconds, "{0} 分 {1} 秒"},
    {Msg::kSeconds, "{0} 秒"},
    {Msg::kSummaryLine, "{0}: エディション {1}、ファイル {2}、{3} バイト、{4} 秒、失敗 {5}"},
    {Msg::kStateWhole, "完全"},
    {Msg::kStateIncomplete, "不完全"},
    {Msg::kStateUnfinished, "未完了"},
    {Msg::kStateChanged, "変更あり"},
    {Msg::kStateNoManifest, "マニフェストなし"},
    {Msg::kStateChangedCounts, "{0}（無くなった {1}、変わった {2}、追加された {3}）"},
    {Msg::kStateIncompleteCount, "{0}（収集できなかったもの {1}）"},
    {Msg::kStateUnfinishedWhy, "{0}（収集が途中で終わっています）"},
    {Msg::kProblemMissing, "無くなっています"},
    {Msg::kProblemTruncated, "収集したときより短くなっています"},
    {Msg::kProblemChanged, "収集した後で内容が変わっています"},
    {Msg::kProblemUnreadable, "読めません"},
    {Msg::kProblemNotAFile,
     "通常のファイルではない（フォルダ、リンク又はデバイスの）ため、収集したとおりには移行できませ"
     "ん"},
    {Msg::kProblemAdded, "収集した後で追加されています（マニフェストにありません）"},
    {Msg::kProblemNotCollected, "収集できませんでした: {0}"},
    {Msg::kProblemFolderRemoved, "フォルダごと削除されているため、このフォルダはコピーしません"},
    {Msg::kVerifyEdition, "{0}: {1}（{2} 個のファイルを確認しました）"},
    {Msg::kNothingCollectedIn, "{0} には収集したものがありません。"},
    {Msg::kSealed, "今の内容で確定しました。{0} は完全です。"},
    {Msg::kNotSealed, "確定できませんでした（{0}）。"},
    {Msg::kAcceptWantsEdition,
     "--accept にはエディション（Personal、Client 又は Server）を指定してください。"},
    {Msg::kNotCollectedIn, "{0} は {1} に収集されていません。"},
    {Msg::kUndone, "（戻し済み）"},
    {Msg::kBackupElsewhere, "場所: {0}"},
    {Msg::kNoBackupsIn, "{0} にはバックアップがありません。"},
    {Msg::kNoBackupsInEither, "{0} にも {1} にもバックアップがありません。"},
    {Msg::kAllUndoneIn,
     "{0} のバックアップはすべて戻し済みです（もう一度戻すには --backup "
     "で名前を指定してください）。"},
    {Msg::kAllUndoneInEither,
     "{0} と {1} のバックアップはすべて戻し済みです（もう一度戻すには --backup で名前を指定して"
     "ください）。"},
    {Msg::kBackupNameNotCp932,
     "バックアップ名に、コードページ 932（Shift_JIS）で表せない文字が含まれています。"},
    {Msg::kUndoRestored, "戻しました"},
    {Msg::kUndoRemoved, "削除しました"},
    {Msg::kUndoAlreadyAsBefore, "元のままです"},
    {Msg::kUndoRefused, "戻しませんでした"},
    {Msg::kUndoFailed, "失敗しました"},
    {Msg::kUndoComplete,
     "バックアップ {0} の取り消し: 戻した項目 {1}、削除した項目 {2}、戻さなかった項目 {3}、"
     "失敗 {4}。すべて移行前の状態に戻りました。"},
    {Msg::kUndoIncomplete,
     "バックアップ {0} の取り消し: 戻した項目 {1}、削除した項目 {2}、戻さなかった項目 {3}、"
     "失敗 {4}。移行前の状態に戻っていない項目があります。"},
    {Msg::kCollectPreview, "collect --dry-run（何も書き込みません）:"},
    {Msg::kPreviewSettingsReplaced, "  設定ファイル {0}（置き換え）"},
    {Msg::kPreviewSettingsAdded, "  設定ファイル {0}（新規）"},
    {Msg::kPreviewAbsent, "  {0} はありません。ここからは何もコピーしません。"},
    {Msg::kPreviewAddFile, "  追加     {0}（{1} バイト）"},
    {Msg::kPreviewReplaceFile, "  置き換え {0}（{1} バイト）"},
    {Msg::kPreviewWouldFail, "  失敗する見込み: {0}"},
    {Msg::kNothingToCollect, "Kodrel4 がインストールされていないため、収集するものがありません。"},
    {Msg::kMigratePreview, "migrate --dry-run（何も書き込みません）:"},
    {Msg::kPreviewNotMigrated,
     "  収集したものが「{0}」のため、移行しません（verify で確認できます）。"},
    {Msg::kPreviewNoManifest, "  マニフェストがないため、収集したものを確認できません。"},
    {Msg::kPreviewCannot, "  移行の内容を表示できません（{0}）。"},
    {Msg::kPreviewCreateKey, "  キーを作成     {0}"},
    {Msg::kPreviewCreateValue, "  値を作成       {0} = {1}"},
    {Msg::kPreviewReplaceValue, "  値を置き換え   {0}: {1} -> {2}"},
    {Msg::kPreviewReplaceFileSizes, "  置き換え {0}（{1} -> {2} バイト）"},
    {Msg::kNothingToMigrate,
     "KodrelSE "
     "がインストールされていて収集済みのエディションがないため、移行するものがありません。"},
};

}  // namespace

std::span<const MessageText> JapaneseMessages() { return kTexts; }

}  // namespace kdr::cli
