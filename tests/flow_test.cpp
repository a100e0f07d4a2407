// The Collect and Migrate flows end to end, against whichever services a platform provides.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/messages.h"
#include "app/migrate_dlg.h"
#include "datafolders/data_folders.h"
#include "engine/undo_scope.h"
#include "platform/text_encoding.h"
#include "store/store_check.h"
#include "store/undo.h"
#include "store/unfinished_migrate.h"
#include "tests/flow_world.h"

namespace kdr::testing {

class FlowTest : public ::testing::TestWithParam<FlowWorldFactory> {
 protected:
  void SetUp() override {
    world_ = GetParam()();
    base_ = world_->Base();
    dlg_ = std::make_unique<CMigrateDlg>(WorldServices(), view_);
    // The program's own folder exists; the work tree beside it is made by Collect.
    ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\tool\\kdr4tose.exe"));
    ASSERT_TRUE(dlg_->InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  }

  // The window's services: each command takes the work folder's lock.
  Services WorldServices() {
    Services services{world_->registry(), world_->files(), world_->profiles(), 260};
    services.work_locks = &world_->work_locks();
    return services;
  }
  Registry& reg() { return world_->registry(); }
  FileSystem& fs() { return world_->files(); }

  void Put(const std::string& path, std::string_view content) {
    ASSERT_TRUE(fs().MakeSurePathExists(path));
    ASSERT_TRUE(fs().WriteFileAtomically(path, content));
  }
  std::string Read(const std::string& path) { return fs().ReadFile(path).value_or("<missing>"); }

  void InstallOld(Edition e) { MakeKey(reg(), RootKey::kLocalMachine, OldMarker(e)); }
  void InstallNew(Edition e) { MakeKey(reg(), RootKey::kLocalMachine, NewMarker(e)); }
  static std::string OldMarker(Edition e) {
    return "Software\\VTQ\\Kodrel " + std::string(EditionName(e));
  }
  static std::string NewMarker(Edition e) {
    return "Software\\VTQ\\Kodrel SE " + std::string(EditionName(e));
  }

  std::vector<std::string> Collect() {
    view_.messages.clear();
    dlg_->OnCollect();
    EXPECT_TRUE(view_.exit_enabled);
    return view_.messages;
  }
  std::vector<std::string> Migrate() {
    view_.messages.clear();
    dlg_->OnMigrate();
    EXPECT_TRUE(view_.exit_enabled);
    return view_.messages;
  }
  // The last run's log as its messages name it.
  std::string LogShown() const { return Cp932ForDisplay(dlg_->log_file()); }

  // The old Client edition as the road through the tool describes it.
  void SeedOldClient() {
    InstallOld(Edition::kClient);
    const std::string k = "Software\\VTQ\\Kodrel\\Client";
    SetString(reg(), RootKey::kCurrentUser, k + "\\AppInfo", "Name", "app");
    SetString(reg(), RootKey::kCurrentUser, k + "\\AppInfo\\B", "X", "b");
    SetString(reg(), RootKey::kCurrentUser, k + "\\AppInfo\\a", "X", "a");
    SetString(reg(), RootKey::kCurrentUser, k + "\\AppInfo\\a\\C", "DB_PASS", "secret");
    SetString(reg(), RootKey::kCurrentUser, k + "\\Client", "Host", "srv:01");
    SetString(reg(), RootKey::kCurrentUser, k + "\\Client", "Other", "not exported");
    SetString(reg(), RootKey::kCurrentUser, k + "\\Client", "PRV_PATH", base_ + "\\old\\prv\\");
    SetDword(reg(), RootKey::kCurrentUser, k + "\\Client\\Current", "Mode", 0x12345678);
    SetString(reg(), RootKey::kCurrentUser, k + "\\Client\\Current", "PRVSAVE", "skip me");
    SetString(reg(), RootKey::kCurrentUser, k + "\\Client\\Current", "RSTFILE", "skip me");
    // Value names match without regard to case, so the lower-case one lives in another key.
    SetString(reg(), RootKey::kCurrentUser, k + "\\Client\\Info", "prvsave", "kept");
    SetDword(reg(), RootKey::kCurrentUser, k + "\\Common", "SRVPORT", 1);
    SetString(reg(), RootKey::kCurrentUser, k + "\\Common", "USER_LEVEL_", "3");
    SetRaw(reg(), RootKey::kCurrentUser, k + "\\Common\\MAX", "Bin", kRegBinary,
           std::string("\x0a\xff", 2));
    SetString(reg(), RootKey::kCurrentUser, k + "\\Common\\Rdb", "RDB_USER", "scott");
    SetString(reg(), RootKey::kCurrentUser, k + "\\Common\\Rdb", "Title", "\x93\xfa\x96\x7b");
    Put(base_ + "\\old\\prv\\DDBVID\\a.dat", "A");
    Put(base_ + "\\old\\prv\\DDBVID\\sub\\b.dat", "B");
    Put(base_ + "\\old\\prv\\log\\x.log", "X");
  }

  std::vector<std::string> Section(std::string_view name, std::string_view file) {
    std::string list = world_->profiles().ReadSection(name, file);
    std::vector<std::string> out;
    for (size_t i = 0; i < list.size() && list[i] != '\0'; i = list.find('\0', i) + 1) {
      out.push_back(list.substr(i, list.find('\0', i) - i));
    }
    return out;
  }
  std::vector<std::string> SectionNames(std::string_view file) {
    std::string list = world_->profiles().ReadSectionNames(file);
    std::vector<std::string> out;
    for (size_t i = 0; i < list.size() && list[i] != '\0'; i = list.find('\0', i) + 1) {
      out.push_back(list.substr(i, list.find('\0', i) - i));
    }
    return out;
  }

  std::unique_ptr<FlowWorld> world_;
  std::string base_;
  RecordingView view_;
  std::unique_ptr<CMigrateDlg> dlg_;
};

using Messages = std::vector<std::string>;

TEST_P(FlowTest, ClientRoadFromCollectToMigrate) {
  SeedOldClient();
  const auto old_branch = DumpTree(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel");
  dlg_->RefreshButtons();
  EXPECT_TRUE(view_.collect_enabled);
  EXPECT_FALSE(view_.migrate_enabled);

  EXPECT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
  const std::string work = base_ + "\\tool\\kdr4env\\client";
  EXPECT_EQ("A", Read(work + "\\DDBVID\\a.dat"));
  EXPECT_EQ("B", Read(work + "\\DDBVID\\sub\\b.dat"));
  EXPECT_EQ("X", Read(work + "\\plog\\x.log"));
  EXPECT_FALSE(fs().Exists(base_ + "\\tool\\kdr4env\\personal"));

  const std::string file = work + "\\kdr4reg.fil";
  const std::string k = "Software\\VTQ\\Kodrel\\Client";
  // Pre-order, subkeys in case-insensitive order, single values in their key's section.
  EXPECT_EQ(
      (Messages{k + "\\AppInfo", k + "\\AppInfo\\a", k + "\\AppInfo\\a\\C", k + "\\AppInfo\\B",
                k + "\\Client", k + "\\Client\\Current", k + "\\Client\\Info", k + "\\Client\\MAX",
                k + "\\Common", k + "\\Common\\MAX", k + "\\Common\\Rdb"}),
      SectionNames(file));
  EXPECT_EQ(Messages{"DB_PASS=1:736563726574"}, Section(k + "\\AppInfo\\a\\C", file));
  EXPECT_EQ(Messages{"Host=1:srv:01"}, Section(k + "\\Client", file));
  EXPECT_EQ(Messages{"Mode=4:78563412"}, Section(k + "\\Client\\Current", file));
  EXPECT_EQ(Messages{"prvsave=1:kept"}, Section(k + "\\Client\\Info", file));
  EXPECT_EQ(Messages{}, Section(k + "\\Client\\MAX", file));
  EXPECT_EQ((Messages{"SRVPORT=4:01000000", "USER_LEVEL_=1:3"}), Section(k + "\\Common", file));
  EXPECT_EQ(Messages{"Bin=3:0aff"}, Section(k + "\\Common\\MAX", file));
  EXPECT_EQ((Messages{"RDB_USER=1:73636f7474", "Title=1:\x93\xfa\x96\x7b"}),
            Section(k + "\\Common\\Rdb", file));

  InstallNew(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
            base_ + "\\new\\prv\\");
  dlg_->RefreshButtons();
  EXPECT_TRUE(view_.migrate_enabled);
  EXPECT_EQ(Messages{"Kodrel Clientの情報を移行しました。"}, Migrate());
  EXPECT_EQ("A", Read(base_ + "\\new\\prv\\DDBVID\\a.dat"));
  EXPECT_EQ("B", Read(base_ + "\\new\\prv\\DDBVID\\sub\\b.dat"));
  EXPECT_EQ("X", Read(base_ + "\\new\\prv\\log\\x.log"));

  const std::string n = "Software\\VTQ\\KodrelSE\\Client";
  std::vector<std::string> expected = {
      n,
      n + "\\AppInfo",
      n + "\\AppInfo\\a",
      n + "\\AppInfo\\a\\C",
      n + "\\AppInfo\\a\\C|DB_PASS|1|73656372657400",
      n + "\\AppInfo\\a|X|1|6100",
      n + "\\AppInfo\\B",
      n + "\\AppInfo\\B|X|1|6200",
      n + "\\AppInfo|Name|1|61707000",
      n + "\\Client",
      n + "\\Client\\Current",
      n + "\\Client\\Current|Mode|4|78563412",
      n + "\\Client\\Info",
      n + "\\Client\\Info|prvsave|1|6b65707400",
      n + "\\Client\\MAX",
      n + "\\Client|Host|1|7372763a303100",
      n + "\\Client|PRV_PATH|1|" +
          [&] {
            std::string hex;
            char pair[3];
            for (char c : base_ + "\\new\\prv\\") {
              std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
              hex += pair;
            }
            return hex + "00";
          }(),
      n + "\\Common",
      n + "\\Common\\MAX",
      n + "\\Common\\Rdb",
      n + "\\Common\\Rdb|RDB_USER|1|73636f747400",
      n + "\\Common\\Rdb|Title|1|93fa967b00",
      n + "\\Common|SRVPORT|4|01000000",
      n + "\\Common|USER_LEVEL_|1|3300",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, DumpTree(reg(), RootKey::kCurrentUser, n));
  // The old branch is read, never written.
  EXPECT_EQ(old_branch, DumpTree(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel"));
}

// The log shows the start of a long value and its size, not the value: a value of many
// megabytes was copied into the log whole.
TEST_P(FlowTest, LogShowsALongValueCutShort) {
  SeedOldClient();
  std::string long_text;
  for (int i = 0; i < 32768; ++i) long_text += "\x83\x5c";
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\AppInfo", "Name",
            long_text);
  EXPECT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
  const std::string work = base_ + "\\tool\\kdr4env";
  EXPECT_NE(std::string::npos,
            Read(work + "\\client\\kdr4reg.fil").find("Name=1:" + long_text + "\r\n"));
  const std::string log = Read(work + "\\kdr4tose.log");
  EXPECT_NE(std::string::npos, log.find("... (65538 bytes)"));
  size_t longest = 0;
  for (size_t at = 0; at < log.size();) {
    size_t end = std::min(log.find('\n', at), log.size());
    longest = std::max(longest, end - at);
    at = end + 1;
  }
  EXPECT_LT(longest, 2 * kLoggedValueBytes);
}

TEST_P(FlowTest, WorkFolderHeldByAnotherRunIsToldAndNothingIsDone) {
  SeedOldClient();
  InstallNew(Edition::kClient);
  // The program in a folder with a Japanese name ("表ツール": a second byte is a backslash); the
  // lock is reached from its code page 932 path as from an ASCII one.
  const std::string tool = base_ + "\\\x95\x5c\x83\x63\x81\x5b\x83\x8b";
  ASSERT_TRUE(fs().MakeSurePathExists(tool + "\\kdr4tose.exe"));
  ASSERT_TRUE(dlg_->InitWorkPaths(tool + "\\kdr4tose.exe"));
  const std::string env = dlg_->paths().root;
  ASSERT_EQ(tool + "\\kdr4env", env);
  const std::string new_branch = "Software\\VTQ\\KodrelSE";
  const std::vector<std::string> busy{std::string(kWorkFolderBusyMessage)};
  std::unique_ptr<HostFileLock> other;
  std::string error;
  ASSERT_EQ(world_->work_locks().TryLock(env, &other, &error), LockResult::kLocked) << error;
  EXPECT_EQ(busy, Collect());
  EXPECT_EQ(0, dlg_->DetectCollectedEditions());
  EXPECT_EQ("<missing>", Read(env + "\\kdr4tose.log"));

  other.reset();
  Collect();
  ASSERT_NE(0, dlg_->DetectCollectedEditions());
  const std::string log = Read(env + "\\kdr4tose.log");
  const auto before = DumpTree(reg(), RootKey::kCurrentUser, new_branch);
  ASSERT_EQ(world_->work_locks().TryLock(env, &other, &error), LockResult::kLocked) << error;
  EXPECT_EQ(busy, Migrate());
  EXPECT_EQ(before, DumpTree(reg(), RootKey::kCurrentUser, new_branch));
  EXPECT_EQ(log, Read(env + "\\kdr4tose.log"));
  EXPECT_FALSE(fs().Exists(env + "\\backup"));

  // The window's own commands gave the lock back when they ended.
  other.reset();
  EXPECT_NE(busy, Migrate());
}

TEST_P(FlowTest, CollectMessagesFollowTheInstalledEditions) {
  EXPECT_EQ(Messages{"Kodrel4の情報が有りません。"}, Collect());
  EXPECT_FALSE(fs().Exists(base_ + "\\tool\\kdr4env"));

  InstallOld(Edition::kPersonal);
  InstallOld(Edition::kServer);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Personal\\Client", "PRV_PATH",
            base_ + "\\p\\");
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Personal\\Server", "PUB_PATH",
            base_ + "\\p\\");
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Server", "PUB_PATH",
            base_ + "\\s\\");
  Messages both = {"Kodrel4 Personalの情報を収集しました。",
                   "Kodrel4 Serverの情報を収集しました。"};
  EXPECT_EQ(both, Collect());
  // A second run writes into the existing tree and says the same.
  EXPECT_EQ(both, Collect());
  EXPECT_EQ(101, dlg_->DetectCollectedEditions());
}

TEST_P(FlowTest, CollectWithoutDataPathShowsPathMessageFirst) {
  InstallOld(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "Host", "h");
  EXPECT_EQ((Messages{"ファイルパスの取得に失敗しました。"}), Collect());
  EXPECT_EQ(EditionFailure::kPathNotRead, dlg_->last_run().Cause(Edition::kClient));
  EXPECT_EQ(10, dlg_->last_run().failed);
  // The settings were still collected.
  EXPECT_EQ(Messages{"Host=1:h"}, Section("Software\\VTQ\\Kodrel\\Client\\Client",
                                          base_ + "\\tool\\kdr4env\\client\\kdr4reg.fil"));
}

TEST_P(FlowTest, PersonalWithoutPublicPathCopiesNothing) {
  InstallOld(Edition::kPersonal);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Personal\\Client", "PRV_PATH",
            base_ + "\\p\\");
  Put(base_ + "\\p\\DDBVID\\a.dat", "A");
  EXPECT_EQ((Messages{"ファイルパスの取得に失敗しました。"}), Collect());
  EXPECT_FALSE(fs().Exists(base_ + "\\tool\\kdr4env\\personal\\DDBVID\\a.dat"));
  EXPECT_TRUE(fs().IsFolder(base_ + "\\tool\\kdr4env\\personal\\DDBVID"));
}

TEST_P(FlowTest, CollectCopiesAddAndReplaceButNeverDelete) {
  InstallOld(Edition::kServer);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Server", "PUB_PATH",
            base_ + "\\pub\\");
  Put(base_ + "\\pub\\DDBDAT\\d.dat", "first");
  Put(base_ + "\\pub\\DDBDAT\\gone.dat", "old");
  Collect();
  const std::string work = base_ + "\\tool\\kdr4env\\server";
  EXPECT_EQ("first", Read(work + "\\DDBDAT\\d.dat"));
  Put(base_ + "\\pub\\DDBDAT\\d.dat", "second");
  ASSERT_TRUE(fs().WriteFileAtomically(base_ + "\\pub\\DDBDAT\\gone.dat", "x"));
  Collect();
  EXPECT_EQ("second", Read(work + "\\DDBDAT\\d.dat"));
  // The slog work folder exists (made with the edition) but no log folder was there to copy.
  EXPECT_TRUE(fs().IsFolder(work + "\\slog"));
}

TEST_P(FlowTest, ValueWithoutClosingBackslashIsABarePrefix) {
  InstallOld(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            base_ + "\\prv");
  Put(base_ + "\\prvDDBVID\\a.dat", "A");
  Put(base_ + "\\prv\\DDBVID\\wrong.dat", "W");
  EXPECT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
  EXPECT_EQ("A", Read(base_ + "\\tool\\kdr4env\\client\\DDBVID\\a.dat"));
  EXPECT_FALSE(fs().Exists(base_ + "\\tool\\kdr4env\\client\\DDBVID\\wrong.dat"));
}

// A data path value is read into 260 bytes with its terminator: one that does not fit is
// reported as one that could not be read, never cut short.
TEST_P(FlowTest, TooLongDataPathIsReportedNotCut) {
  InstallOld(Edition::kClient);
  std::string long_path = base_ + "\\" + std::string(258 - base_.size(), 'a') + "\\";
  ASSERT_EQ(260u, long_path.size());
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            long_path);
  Put(long_path + "DDBVID\\a.dat", "A");
  EXPECT_EQ((Messages{"ファイルパスの取得に失敗しました。"}), Collect());
  EXPECT_FALSE(fs().Exists(base_ + "\\tool\\kdr4env\\client\\DDBVID\\a.dat"));
}

TEST_P(FlowTest, TooLongNewDataPathFailsTheEditionWithoutCopying) {
  InstallNew(Edition::kServer);
  Put(base_ + "\\tool\\kdr4env\\server\\DDBDAT\\d.dat", "D");
  // 260 bytes and the terminator do not fit the read.
  std::string long_path = base_ + "\\" + std::string(258 - base_.size(), 'a') + "\\";
  ASSERT_EQ(260u, long_path.size());
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Server", "PUB_PATH",
            long_path);
  EXPECT_EQ(Messages{"KodrelSEがインストールされていません、或いは、情報が収集されていません。"},
            Migrate());
  EXPECT_FALSE(fs().Exists(long_path));
  // One character shorter fits, and the edition migrates: "<value>DDBDAT\" passes 260
  // characters, where the shell copy cannot go and the tool copies the files itself.
  long_path.erase(long_path.size() - 2, 1);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Server", "PUB_PATH",
            long_path);
  EXPECT_EQ(Messages{"Kodrel Serverの情報を移行しました。"}, Migrate());
  EXPECT_TRUE(fs().IsFolder(long_path + "DDBDAT"));
  EXPECT_EQ("D", Read(long_path + "DDBDAT\\d.dat"));
}

// Values of 250 characters (with a double-byte character whose second byte is a backslash):
// readable, though every folder path made from them passes 260 characters. Collect and Migrate
// copy their folders whole, the store is whole, and undo takes the Migrate back.
TEST_P(FlowTest, DataPathsWhoseFoldersPass260CharactersAreCopiedWholeAndUndone) {
  InstallOld(Edition::kClient);
  InstallNew(Edition::kClient);
  auto long_value = [&](std::string_view name) {
    std::string value = base_ + "\\" + std::string(name) + "\x95\x5c";
    return value + std::string(249 - value.size(), 'p') + "\\";
  };
  const std::string old_path = long_value("old");
  const std::string new_path = long_value("se");
  ASSERT_EQ(250u, old_path.size());
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            old_path);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
            new_path);
  const std::vector<std::string> files = {"DDBVID\\a.dat", "DDBVID\\sub\\b.dat", "log\\x.log"};
  for (const std::string& file : files) Put(old_path + file, file);
  Put(new_path + "DDBVID\\a.dat", "the new product's a");

  EXPECT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
  const std::string work = base_ + "\\tool\\kdr4env\\client\\";
  EXPECT_EQ("DDBVID\\a.dat", Read(work + "DDBVID\\a.dat"));
  EXPECT_EQ("DDBVID\\sub\\b.dat", Read(work + "DDBVID\\sub\\b.dat"));
  EXPECT_EQ("log\\x.log", Read(work + "plog\\x.log"));
  EXPECT_EQ(0, dlg_->last_run().failed);
  EditionCheck check = CheckEdition(fs(), dlg_->paths(), Edition::kClient, nullptr);
  EXPECT_TRUE(check.whole()) << StoreStateName(check.state());
  EXPECT_EQ(4u, check.files_checked);  // and the settings file

  EXPECT_EQ(Messages{"Kodrel Clientの情報を移行しました。"}, Migrate());
  EXPECT_EQ(0, dlg_->last_run().failed);
  for (const std::string& file : files) EXPECT_EQ(file, Read(new_path + file)) << file;

  UndoResult undone = UndoMigrate(reg(), fs(), BackupPlacesFor(dlg_->paths(), ""), "", false,
                                  MigrateUndoScope(reg(), fs(), dlg_->paths(), 260));
  EXPECT_TRUE(undone.complete()) << undone.error;
  EXPECT_EQ(1u, undone.Count(UndoOutcome::kRestored));
  EXPECT_EQ("the new product's a", Read(new_path + "DDBVID\\a.dat"));
  EXPECT_FALSE(fs().Exists(new_path + "DDBVID\\sub"));
  EXPECT_FALSE(fs().Exists(new_path + "log"));
}

TEST_P(FlowTest, UnwritableWorkFolderStillEndsWithTheMessages) {
  // The program on a drive where nothing can be created: a read-only medium, say.
  InstallOld(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            base_ + "\\prv\\");
  Put(base_ + "\\prv\\DDBVID\\a.dat", "A");
  ASSERT_TRUE(dlg_->InitWorkPaths(world_->MissingDrivePath() + "\\tool\\kdr4tose.exe"));
  // The store cannot be marked as being collected: nothing of the edition is tried, and the
  // user is told that its settings were not saved.
  // No log can be written there either, so the message names none.
  EXPECT_EQ((Messages{SettingsNotWrittenMessage("Kodrel4 Client", "")}), Collect());
  EXPECT_EQ(10, dlg_->last_run().failed);
  EXPECT_EQ(EditionFailure::kStoreNotMarked, dlg_->last_run().Cause(Edition::kClient));
  EXPECT_EQ(0, dlg_->DetectCollectedEditions());
  EXPECT_FALSE(view_.migrate_enabled);
}

TEST_P(FlowTest, SettingsFileNotWrittenFailsTheEditionAndIsTold) {
  // Client with empty data folders: nothing else would tell the user. Server after it is
  // collected whole: Client's failure is not told again as Server's.
  InstallOld(Edition::kClient);
  InstallOld(Edition::kServer);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            base_ + "\\prv\\");
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Server", "PUB_PATH",
            base_ + "\\pub\\");
  ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\prv\\DDBVID\\"));
  ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\pub\\DDBDAT\\"));
  const std::string work = base_ + "\\tool\\kdr4env";
  // A folder where the settings file goes.
  ASSERT_TRUE(fs().MakeSurePathExists(work + "\\client\\kdr4reg.fil\\"));
  Messages told = Collect();
  EXPECT_EQ((Messages{SettingsNotWrittenMessage("Kodrel4 Client",
                                                Cp932ForDisplay(work) + "\\kdr4tose.log"),
                      "Kodrel4 Serverの情報を収集しました。"}),
            told);
  EXPECT_EQ(EditionFailure::kSettingsNotWritten, dlg_->last_run().Cause(Edition::kClient));
  EXPECT_EQ(EditionFailure::kNone, dlg_->last_run().Cause(Edition::kServer));
  EXPECT_EQ(10, dlg_->last_run().failed);
  // The store says what is missing from it; it is never sealed as whole.
  EXPECT_EQ(StoreState::kIncomplete, ManifestState(fs(), dlg_->paths(), Edition::kClient));
  EXPECT_EQ(StoreState::kWhole, ManifestState(fs(), dlg_->paths(), Edition::kServer));
  std::string log = Read(work + "\\kdr4tose.log");
  // The file, the call and the platform's error.
  EXPECT_NE(std::string::npos, log.find("FAIL\t" + work + "\\client\\kdr4reg.fil\t")) << log;
  EXPECT_NE(std::string::npos, log.find(": " + DescribeCode(kAccessDenied) + "\n")) << log;
}

TEST_P(FlowTest, FileNotCopiedIsToldAfterTheEditionsMessageAndLogged) {
  SeedOldClient();
  const std::string work = base_ + "\\tool\\kdr4env";
  // A folder where a file goes: that one file cannot be copied, the others are.
  ASSERT_TRUE(fs().MakeSurePathExists(work + "\\client\\DDBVID\\a.dat\\"));
  const std::string log_shown = Cp932ForDisplay(work) + "\\kdr4tose.log";
  EXPECT_EQ((Messages{NotCopiedMessage("Kodrel4 Client", true, 1, 0, log_shown)}), Collect());
  EXPECT_EQ(10, dlg_->last_run().failed);
  EXPECT_EQ(EditionFailure::kFilesNotCopied, dlg_->last_run().Cause(Edition::kClient));
  const auto& not_copied = dlg_->last_run().Copies(Edition::kClient).not_copied;
  ASSERT_EQ(1u, not_copied.size());
  EXPECT_EQ(base_ + "\\old\\prv\\DDBVID\\a.dat", not_copied[0].source);
  EXPECT_EQ(kAccessDenied, not_copied[0].error.code);
  EXPECT_EQ("B", Read(work + "\\client\\DDBVID\\sub\\b.dat"));
  std::string log = Read(work + "\\kdr4tose.log");
  EXPECT_NE(std::string::npos, log.find("FAIL\t" + base_ + "\\old\\prv\\DDBVID\\a.dat\t")) << log;
  EXPECT_NE(std::string::npos,
            log.find("SHOW\t" + NotCopiedMessage("Kodrel4 Client", true, 1, 0, log_shown) + "\n"))
      << log;
  EXPECT_EQ(std::string::npos, log.find("secret")) << "credentials are hidden";

  // The store is incomplete: Migrate refuses it, naming the file count.
  InstallNew(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
            base_ + "\\new\\prv\\");
  EXPECT_EQ(
      Messages{
          "Kodrel4 Clientの情報には収集できなかったファイルが1個有るため、移行せず、その詳細を" +
          work + "\\kdr4tose.log" + "に記録しましたので、「情報収集開始」で収集し直してください。"},
      Migrate());
  EXPECT_FALSE(fs().Exists(base_ + "\\new\\prv\\DDBVID"));

  // Sealed as it is (as verify --accept does), Migrate goes on: the edition's message, then the
  // same kind of message for what did not arrive.
  ManifestWriteError error;
  ASSERT_TRUE(
      WriteEditionManifest(fs(), dlg_->paths(), Edition::kClient, "1", "t", nullptr, {}, &error))
      << ManifestWriteErrorText(error).Utf8();
  ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\new\\prv\\log\\x.log\\"));
  EXPECT_EQ((Messages{NotCopiedMessage("Kodrel Client", false, 1, 0, log_shown)}), Migrate());
  EXPECT_EQ(10, dlg_->last_run().failed);
  EXPECT_EQ(EditionFailure::kFilesNotCopied, dlg_->last_run().Cause(Edition::kClient));
  // The log ends with each edition's outcome, its cause named by code.
  EXPECT_NE(std::string::npos,
            Read(work + "\\kdr4tose.log").find("#\toutcome of Client: failed, files_not_copied ("));
  // Both runs are in the log, one after the other.
  log = Read(work + "\\kdr4tose.log");
  EXPECT_LT(log.find("#\tcollect, "), log.rfind("#\tmigrate, ")) << log;
  // Each run's head says which version ran where and as whom, and on which work folder.
  EXPECT_NE(std::string::npos, log.find(std::string("#\tkdr4tose ") + ToolVersion() + " on "))
      << log;
  EXPECT_NE(std::string::npos, log.find("#\twork folder " + Cp932ForDisplay(work) + ", ")) << log;
  EXPECT_NE(std::string::npos, log.rfind("#\tmigrate, ")) << log;
}

TEST_P(FlowTest, DataPathsMustNameADriveAndStayInIt) {
  InstallOld(Edition::kClient);
  InstallNew(Edition::kServer);
  Put(base_ + "\\tool\\kdr4env\\server\\DDBDAT\\d.dat", "D");
  Put(base_ + "\\x\\DDBVID\\a.dat", "A");
  // "?" is what the registry's 8-bit text makes of a character outside code page 932; "*"
  // would make the platform copy pick folders by pattern.
  for (std::string value : {base_ + "\\..\\..\\x\\", base_.substr(2) + "\\x\\", std::string(),
                            base_.substr(0, 2) + "x\\", base_ + "\\?\\", base_ + "\\x*\\"}) {
    SCOPED_TRACE(value);
    SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
              value);
    SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Server", "PUB_PATH",
              value);
    EXPECT_EQ((Messages{"ファイルパスの取得に失敗しました。"}), Collect());
    EXPECT_FALSE(fs().Exists(base_ + "\\tool\\kdr4env\\client\\DDBVID\\a.dat"));
    EXPECT_EQ(Messages{"KodrelSEがインストールされていません、或いは、情報が収集されていません。"},
              Migrate());
    EXPECT_FALSE(fs().Exists(base_ + "\\tool\\DDBDAT"));
    EXPECT_FALSE(fs().Exists(base_ + "\\x\\DDBDAT"));
  }
}

TEST_P(FlowTest, ASettingsFileNeverPicksWhereMigrateCopies) {
  InstallNew(Edition::kClient);
  const std::string work = base_ + "\\tool\\kdr4env\\client";
  Put(work + "\\DDBVID\\a.dat", "A");
  Put(work + "\\kdr4reg.fil", "[Software\\VTQ\\Kodrel\\Client\\Client]\r\nPRV_PATH=1:" + base_ +
                                  "\\evil\\\r\nprv_path=1:" + base_ + "\\evil\\\r\nHost=1:h\r\n");
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
            base_ + "\\se\\");
  EXPECT_EQ(Messages{"Kodrel Clientの情報を移行しました。"}, Migrate());
  EXPECT_EQ("A", Read(base_ + "\\se\\DDBVID\\a.dat"));
  EXPECT_FALSE(fs().Exists(base_ + "\\evil"));
  EXPECT_NE(std::string::npos,
            Read(base_ + "\\tool\\kdr4env\\kdr4tose.log").find("never imported"));
}

TEST_P(FlowTest, WorkFolderInsideADataFolderIsRefusedNotCopiedIntoItself) {
  InstallOld(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            base_ + "\\old\\prv\\");
  Put(base_ + "\\old\\prv\\DDBVID\\a.dat", "A");
  Put(base_ + "\\old\\prv\\log\\x.log", "X");
  // The program placed inside DDBVID, in another letter case.
  ASSERT_TRUE(dlg_->InitWorkPaths(base_ + "\\old\\PRV\\ddbvid\\tool\\kdr4tose.exe"));
  // Here the settings file cannot be created (CreateFile: 3 path not found under Win32, 2 on the
  // portable writer); the user is told so instead of nothing.
  // Nor can the store be marked as being collected, so nothing of the edition is written.
  Messages told = Collect();
  EXPECT_EQ((Messages{SettingsNotWrittenMessage("Kodrel4 Client", LogShown())}), told);
  EXPECT_EQ(10, dlg_->last_run().failed);
  EXPECT_FALSE(fs().Exists(base_ + "\\old\\prv\\DDBVID\\tool\\kdr4env\\client\\DDBVID\\a.dat"));
  EXPECT_FALSE(fs().Exists(base_ + "\\old\\prv\\DDBVID\\tool\\kdr4env\\client\\plog\\x.log"));
}

TEST_P(FlowTest, MissingWorkSubfolderIsMadeBeforeTheCopy) {
  InstallOld(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            base_ + "\\prv\\");
  Put(base_ + "\\prv\\DDBVID\\only.dat", "O");
  // An edition folder from an earlier Collect whose DDBVID was deleted: it is not made again
  // with the edition's folders, and the source holds a single file.
  ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\tool\\kdr4env\\client\\"));
  EXPECT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
  EXPECT_EQ("O", Read(base_ + "\\tool\\kdr4env\\client\\DDBVID\\only.dat"));
}

// Migrate of all combinations: each edition not shared, shared with a data step that succeeds,
// or shared with one that fails.
enum class Outcome { kNotShared, kSucceeds, kFails };

TEST_P(FlowTest, MigrateMessagesForEveryCombinationOfOutcomes) {
  const Outcome all[] = {Outcome::kNotShared, Outcome::kSucceeds, Outcome::kFails};
  int run = 0;
  for (Outcome p : all) {
    for (Outcome c : all) {
      for (Outcome s : all) {
        SCOPED_TRACE(::testing::Message()
                     << "personal " << int(p) << " client " << int(c) << " server " << int(s));
        // A fresh world for every combination.
        world_ = GetParam()();
        base_ = world_->Base();
        dlg_ = std::make_unique<CMigrateDlg>(WorldServices(), view_);
        ASSERT_TRUE(dlg_->InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
        ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\tool\\kdr4tose.exe"));
        const std::string root = base_ + "\\tool\\kdr4env";
        auto prepare = [&](Edition e, Outcome o) {
          if (o == Outcome::kNotShared) return;
          InstallNew(e);
          ASSERT_TRUE(
              fs().MakeSurePathExists(root + "\\" + std::string(EditionFolderName(e)) + "\\"));
          if (o == Outcome::kFails) return;  // no data path values: the data step fails
          const std::string dest = base_ + "\\new\\" + std::string(EditionFolderName(e)) + "\\";
          switch (e) {
            case Edition::kPersonal:
              SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Personal\\Client",
                        "PRV_PATH", dest);
              SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Personal\\Server",
                        "PUB_PATH", dest);
              break;
            case Edition::kClient:
              SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client",
                        "PRV_PATH", dest);
              break;
            case Edition::kServer:
              SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Server",
                        "PUB_PATH", dest);
              break;
          }
        };
        prepare(Edition::kPersonal, p);
        prepare(Edition::kClient, c);
        prepare(Edition::kServer, s);

        // What the user is told: each edition whose data step succeeded; then, when Server was
        // attempted and failed, or was not attempted and the last of Personal and Client that
        // was attempted failed (or none was), that nothing was migrated.
        Messages expected;
        if (p == Outcome::kSucceeds) expected.push_back("Kodrel Personalの情報を移行しました。");
        if (c == Outcome::kSucceeds) expected.push_back("Kodrel Clientの情報を移行しました。");
        if (s == Outcome::kSucceeds) expected.push_back("Kodrel Serverの情報を移行しました。");
        Outcome last_of_first_two = c != Outcome::kNotShared ? c : p;
        bool closing = s == Outcome::kFails ||
                       (s == Outcome::kNotShared && last_of_first_two != Outcome::kSucceeds);
        if (closing) {
          expected.push_back(
              "KodrelSEがインストールされていません、或いは、情報が収集されていません。");
        }
        EXPECT_EQ(expected, Migrate());
        ++run;
      }
    }
  }
  EXPECT_EQ(27, run);
}

TEST_P(FlowTest, ClientMigrateToMissingDriveFailsWithoutCopying) {
  InstallNew(Edition::kClient);
  const std::string work = base_ + "\\tool\\kdr4env\\client";
  Put(work + "\\DDBVID\\a.dat", "A");
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
            world_->MissingDrivePath() + "\\SE\\prv\\");
  // Found before anything is written, and named.
  Messages told = Migrate();
  EXPECT_EQ((Messages{DestinationUnusableMessage(
                Edition::kClient, Cp932ForDisplay(world_->MissingDrivePath() + "\\SE\\prv\\DDBVID"),
                LogShown())}),
            told);
  EXPECT_EQ(10, dlg_->last_run().failed);
  EXPECT_EQ(EditionFailure::kDestinationUnusable, dlg_->last_run().Cause(Edition::kClient));
}

TEST_P(FlowTest, PersonalMigrateKeepsPrivateCopiesWhenPublicKeyIsMissing) {
  InstallNew(Edition::kPersonal);
  const std::string work = base_ + "\\tool\\kdr4env\\personal";
  Put(work + "\\DDBVID\\a.dat", "A");
  Put(work + "\\plog\\p.log", "P");
  Put(work + "\\DDBDAT\\d.dat", "D");
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Personal\\Client", "PRV_PATH",
            base_ + "\\se\\prv\\");
  EXPECT_EQ(Messages{"KodrelSEがインストールされていません、或いは、情報が収集されていません。"},
            Migrate());
  EXPECT_EQ("A", Read(base_ + "\\se\\prv\\DDBVID\\a.dat"));
  EXPECT_EQ("P", Read(base_ + "\\se\\prv\\log\\p.log"));
  EXPECT_FALSE(fs().Exists(base_ + "\\se\\pub"));
}

TEST_P(FlowTest, ServerMigrateWithMissingLogFolderStillSucceeds) {
  InstallNew(Edition::kServer);
  const std::string work = base_ + "\\tool\\kdr4env\\server";
  Put(work + "\\DDBDAT\\d.dat", "D");
  Put(base_ + "\\se\\pub\\DDBDAT\\d.dat", "old");
  Put(base_ + "\\se\\pub\\DDBDAT\\keep.dat", "K");
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Server", "PUB_PATH",
            base_ + "\\se\\pub\\");
  EXPECT_EQ(Messages{"Kodrel Serverの情報を移行しました。"}, Migrate());
  EXPECT_EQ("D", Read(base_ + "\\se\\pub\\DDBDAT\\d.dat"));
  EXPECT_EQ("K", Read(base_ + "\\se\\pub\\DDBDAT\\keep.dat"));
  // The public log folder is made even though the work tree has no slog to fill it.
  EXPECT_TRUE(fs().IsFolder(base_ + "\\se\\pub\\log"));
}

TEST_P(FlowTest, ButtonRuleFollowsPresenceCodes) {
  dlg_->RefreshButtons();
  EXPECT_FALSE(view_.collect_enabled);
  EXPECT_FALSE(view_.migrate_enabled);
  InstallNew(Edition::kClient);
  ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\tool\\kdr4env\\personal\\"));
  dlg_->RefreshButtons();
  EXPECT_FALSE(view_.migrate_enabled);  // new 10, collected 100
  InstallNew(Edition::kPersonal);
  dlg_->RefreshButtons();
  EXPECT_TRUE(view_.migrate_enabled);
  // A "Keys" subkey withdraws an installation.
  MakeKey(reg(), RootKey::kLocalMachine, NewMarker(Edition::kPersonal) + "\\Keys");
  dlg_->RefreshButtons();
  EXPECT_FALSE(view_.migrate_enabled);
  EXPECT_EQ(10, dlg_->DetectNewEditions());
  InstallOld(Edition::kServer);
  dlg_->RefreshButtons();
  EXPECT_TRUE(view_.collect_enabled);
  EXPECT_EQ(1, dlg_->DetectOldEditions());
}

// Files and folders not copied are counted apart in the window's message, and a folder is named
// with its trailing backslash in the store's manifest. The shell copy on Windows cannot tell a
// folder it did not make: it names each file below it, which is not there.
TEST_P(FlowTest, FilesAndFoldersNotCopiedAreCountedApart) {
  SeedOldClient();
  const std::string work = base_ + "\\tool\\kdr4env";
  ASSERT_TRUE(fs().MakeSurePathExists(work + "\\client\\DDBVID\\a.dat\\"));  // where a file goes
  Put(work + "\\client\\DDBVID\\sub", "a file where a folder goes");
  const std::string log_shown = Cp932ForDisplay(work) + "\\kdr4tose.log";
#ifdef _WIN32
  const std::string items = "2個のファイル";
  const std::string sub = "sub\\b.dat";
#else
  const std::string items = "1個のファイルと1個のフォルダ";
  const std::string sub = "sub\\";
#endif
  EXPECT_EQ((Messages{"Kodrel4 Clientの情報のうち" + items + "を収集できなかったため、その詳細を" +
                      log_shown + "に記録しました。"}),
            Collect());
  std::vector<std::string> missed;
  for (const ManifestMiss& miss :
       CheckEdition(fs(), dlg_->paths(), Edition::kClient, nullptr).missed) {
    missed.push_back(miss.what);
  }
  std::sort(missed.begin(), missed.end());
  const std::string old = Cp932ForDisplay(base_) + "\\old\\prv\\DDBVID\\";
  EXPECT_EQ((std::vector<std::string>{old + "a.dat", old + sub}), missed);
}

// A data folder that is not there skips its pair (the user never had it); one on a drive or
// share that cannot be reached now is data not copied, and the user is told.
TEST_P(FlowTest, UnreachableDataFolderIsAFailureNotASkip) {
  InstallOld(Edition::kClient);
  const std::string key = "Software\\VTQ\\Kodrel\\Client\\Client";
  for (const std::string& prv :
       {world_->MissingDrivePath() + "\\prv\\", std::string("\\\\nosuchserver\\share\\prv\\")}) {
    SCOPED_TRACE(prv);
    SetString(reg(), RootKey::kCurrentUser, key, "PRV_PATH", prv);
    Messages told = Collect();
    EXPECT_EQ((Messages{NotCopiedMessage("Kodrel4 Client", true, 0, 2, LogShown())}), told);
    EXPECT_EQ(10, dlg_->last_run().failed);
  }
  SetString(reg(), RootKey::kCurrentUser, key, "PRV_PATH", base_ + "\\never\\prv\\");
  EXPECT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
  EXPECT_EQ(0, dlg_->last_run().failed);
}

// Another name of the same folder (a second drive letter, as subst makes) is the same folder:
// the program inside a data folder so named is not copied into itself, and a new data folder
// inside the work folder is refused as a source inside it is, under either name.
TEST_P(FlowTest, FoldersAreComparedByIdentityNotSpelling) {
  const std::string alias = world_->AliasDrive();
  if (alias.empty()) GTEST_SKIP() << "no second drive letter can be made here";
  SeedOldClient();
  EXPECT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
  InstallNew(Edition::kClient);
  for (const std::string& spelling : {base_, alias}) {
    SCOPED_TRACE(spelling);
    SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
              spelling + "\\tool\\kdr4env\\client\\");
    Messages told = Migrate();
    EXPECT_EQ((Messages{NotCopiedMessage("Kodrel Client", false, 0, 2, LogShown())}), told);
    EXPECT_FALSE(fs().Exists(base_ + "\\tool\\kdr4env\\client\\log"));
  }

  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
            alias + "\\old\\prv\\");
  Put(base_ + "\\old\\prv\\DDBVID\\tool\\kdr4tose.exe", "");
  ASSERT_TRUE(dlg_->InitWorkPaths(base_ + "\\old\\prv\\DDBVID\\tool\\kdr4tose.exe"));
  Messages told = Collect();
  EXPECT_EQ((Messages{NotCopiedMessage("Kodrel4 Client", true, 0, 1, LogShown())}), told);
  EXPECT_FALSE(fs().Exists(base_ + "\\old\\prv\\DDBVID\\tool\\kdr4env\\client\\DDBVID\\a.dat"));
  EXPECT_EQ("X", Read(base_ + "\\old\\prv\\DDBVID\\tool\\kdr4env\\client\\plog\\x.log"));
}

// A run's message boxes pass the window's messages on: the timer's refresh and a click that
// reaches a button while one is up. Neither may act until the run ends.
TEST_P(FlowTest, NoCommandStartsWhileOneRuns) {
  SeedOldClient();
  InstallNew(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
            base_ + "\\new\\prv\\");
  struct ReenteringView : RecordingView {
    void ShowMessage(std::string_view text) override {
      RecordingView::ShowMessage(text);
      if (dlg == nullptr || inside) return;
      inside = true;
      dlg->RefreshButtons();
      enabled_during.push_back(collect_enabled || migrate_enabled);
      dlg->OnMigrate();
      dlg->OnCollect();
      inside = false;
    }
    CMigrateDlg* dlg = nullptr;
    bool inside = false;
    std::vector<bool> enabled_during;
  } view;
  CMigrateDlg dlg(WorldServices(), view);
  view.dlg = &dlg;
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnCollect();
  dlg.OnMigrate();
  EXPECT_EQ(
      (Messages{"Kodrel4 Clientの情報を収集しました。", "Kodrel Clientの情報を移行しました。"}),
      view.messages);
  EXPECT_EQ((std::vector<bool>{false, false}), view.enabled_during);
  EXPECT_TRUE(view.migrate_enabled && view.collect_enabled && view.exit_enabled);
}

// Asks its run to stop once it reaches step `phase` with `files` done, as Exit or Ctrl-C would.
class StopAt : public RunProgress {
 public:
  StopAt(RunPhase phase, uint64_t files) : phase_(phase), files_(files) {}

 private:
  void Changed(const ProgressState& state) override {
    if (state.phase == phase_ && state.files_done >= files_) RequestStop();
  }
  RunPhase phase_;
  uint64_t files_;
};

TEST_P(FlowTest, AStoppedRunEndsAfterTheFileItCopiedShowsNothingAndLogsItsInterruption) {
  SeedOldClient();
  InstallNew(Edition::kClient);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH",
            base_ + "\\new\\prv\\");
  const std::string store = base_ + "\\tool\\kdr4env\\client";
  const BackupPlaces places = BackupPlacesFor(dlg_->paths(), "");
  struct Case {
    bool migrate;
    RunPhase phase;
    size_t unfinished_migrates;  // what the next start finds
  };
  for (const Case& c : {Case{false, RunPhase::kCopying, 0}, Case{true, RunPhase::kWritingBackup, 0},
                        Case{true, RunPhase::kCopying, 1}}) {
    SCOPED_TRACE(::testing::Message() << c.migrate << " " << static_cast<int>(c.phase));
    if (c.migrate) {
      // A whole store to migrate from, and nothing migrated yet.
      dlg_->set_progress(nullptr);
      ASSERT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
    }
    const bool copies = c.phase == RunPhase::kCopying;
    StopAt stop(c.phase, copies ? 1 : 0);
    dlg_->set_progress(&stop);
    EXPECT_EQ(Messages{}, c.migrate ? Migrate() : Collect());
    EXPECT_EQ(EditionFailure::kInterrupted, dlg_->last_run().Cause(Edition::kClient));
    EXPECT_NE(std::string::npos, Read(dlg_->log_file())
                                     .find(c.migrate ? "#\tinterrupted: migrate did not finish"
                                                     : "#\tinterrupted: collect did not finish"));
    // Stopped between files (the shell copy: between folders): what was copied is whole and
    // counted, the folder after it never begun; stopped at the backup, nothing copied.
    const std::string copied_to = c.migrate ? base_ + "\\new\\prv\\" : store + "\\";
    std::vector<std::string> copied;
    std::vector<std::string> later;
    (void)fs().ListFiles(copied_to + "DDBVID\\", &copied);
    (void)fs().ListFiles(copied_to + (c.migrate ? "log\\" : "plog\\"), &later);
    EXPECT_EQ(copies, !copied.empty());
    EXPECT_EQ(copied.size(), stop.State().run_files);
    EXPECT_EQ(Messages{}, later);
    if (c.migrate) {
      EXPECT_EQ(c.unfinished_migrates, FindUnfinishedMigrates(fs(), places).size());
      // What it wrote is taken back (nothing, when it stopped at the backup).
      Services services = WorldServices();
      EXPECT_TRUE(UndoLastMigrate(services, dlg_->paths(), "", false, nullptr).complete());
      copied.clear();
      (void)fs().ListFiles(copied_to + "DDBVID\\", &copied);
      EXPECT_EQ(Messages{}, copied);
    } else {
      EXPECT_EQ(StoreState::kUnfinished, ManifestState(fs(), dlg_->paths(), Edition::kClient));
    }
  }
}

// The files are counted before the copies only for a progress that shows the totals: the count
// walks every source folder.
class TotalsSeen : public RunProgress {
 public:
  explicit TotalsSeen(bool shows) : shows_(shows) {}
  bool ShowsTotals() const override { return shows_; }
  uint64_t most = 0;

 private:
  void Changed(const ProgressState& state) override { most = std::max(most, state.files_total); }
  bool shows_;
};

TEST_P(FlowTest, FilesAreCountedBeforeTheCopiesOnlyWhereTheTotalsAreShown) {
  SeedOldClient();
  for (bool shows : {true, false}) {
    TotalsSeen progress(shows);
    dlg_->set_progress(&progress);
    ASSERT_EQ(Messages{"Kodrel4 Clientの情報を収集しました。"}, Collect());
    EXPECT_NE(0u, progress.State().run_files);
    EXPECT_EQ(shows, progress.most != 0) << shows;
  }
}

INSTANTIATE_TEST_SUITE_P(Worlds, FlowTest, ::testing::ValuesIn(FlowWorldFactories()));

}  // namespace kdr::testing
