// The verified store, the backup and undo, end to end against each platform's services.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <thread>
#include <utility>

#include "app/messages.h"
#include "app/migrate_dlg.h"
#include "core/presence.h"
#include "engine/previews.h"
#include "engine/undo_scope.h"
#include "platform/temp_file_name.h"
#include "platform/text_encoding.h"
#include "store/backup_journal.h"
#include "store/copy_record.h"
#include "store/manifest.h"
#include "store/store_check.h"
#include "store/store_time.h"
#include "store/undo.h"
#include "tests/fault/faulty_services.h"
#include "tests/flow_world.h"

namespace kdr::testing {
namespace {

using Messages = std::vector<std::string>;

class StoreFlowTest : public ::testing::TestWithParam<FlowWorldFactory> {
 protected:
  void SetUp() override {
    world_ = GetParam()();
    base_ = world_->Base();
    dlg_ = std::make_unique<CMigrateDlg>(
        Services{world_->registry(), world_->files(), world_->profiles(), 260}, view_);
    ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\tool\\kdr4tose.exe"));
    ASSERT_TRUE(dlg_->InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
    SeedAllEditions();
  }

  Registry& reg() { return world_->registry(); }
  FileSystem& fs() { return world_->files(); }
  const WorkPaths& paths() { return dlg_->paths(); }
  // The items of the last Undo, as its observer got them.
  std::vector<UndoItem> items_;
  UndoResult Undo(std::string_view name, bool force) {
    items_.clear();
    return UndoMigrate(reg(), fs(), BackupPlacesFor(paths(), ""), name, force,
                       MigrateUndoScope(reg(), fs(), paths(), 260),
                       [&](const UndoItem& item) { items_.push_back(item); });
  }

  void Put(const std::string& path, std::string_view content) {
    ASSERT_TRUE(fs().MakeSurePathExists(path));
    ASSERT_TRUE(fs().WriteFileAtomically(path, content));
  }

  // All three editions of both products, with data folders on both sides; the new product
  // already holds a value and a data file that Migrate replaces.
  void SeedAllEditions() {
    for (Edition e : kAllEditions) {
      MakeKey(reg(), RootKey::kLocalMachine, Traits(e).old_marker);
      MakeKey(reg(), RootKey::kLocalMachine, Traits(e).new_marker);
    }
    const std::string old = "Software\\VTQ\\Kodrel\\";
    const std::string se = "Software\\VTQ\\KodrelSE\\";
    const struct {
      std::string key, value, folder;
    } paths[] = {{"Personal\\Client", "PRV_PATH", "pp"},
                 {"Personal\\Server", "PUB_PATH", "pb"},
                 {"Client\\Client", "PRV_PATH", "cp"},
                 {"Client\\Server", "PUB_PATH", "sp"}};
    for (const auto& p : paths) {
      SetString(reg(), RootKey::kCurrentUser, old + p.key, p.value,
                base_ + "\\old\\" + p.folder + "\\");
      SetString(reg(), RootKey::kCurrentUser, se + p.key, p.value,
                base_ + "\\se\\" + p.folder + "\\");
    }
    SetString(reg(), RootKey::kCurrentUser, old + "Personal\\AppInfo\\App1", "Name", "one");
    SetString(reg(), RootKey::kCurrentUser, old + "Personal\\Common\\Rdb", "RDB_USER", "scott");
    SetString(reg(), RootKey::kCurrentUser, old + "Client\\AppInfo", "Name", "app");
    SetString(reg(), RootKey::kCurrentUser, old + "Client\\Client", "Host", "srv:01");
    SetDword(reg(), RootKey::kCurrentUser, old + "Client\\Common", "SRVPORT", 7);
    SetString(reg(), RootKey::kCurrentUser, old + "Client\\Server", "TBL_LEVEL", "2");
    SetString(reg(), RootKey::kCurrentUser, se + "Client\\Client", "Host", "before");
    Put(base_ + "\\old\\pp\\DDBVID\\a.dat", "personal a");
    Put(base_ + "\\old\\pp\\log\\p.log", "personal log");
    Put(base_ + "\\old\\pb\\DDBDAT\\d.dat", "personal d");
    Put(base_ + "\\old\\cp\\DDBVID\\c.dat", "client c");
    Put(base_ + "\\old\\cp\\DDBVID\\sub\\e.dat", "client e");
    Put(base_ + "\\old\\cp\\DDBVID\\zero.dat", "");
    Put(base_ + "\\old\\sp\\DDBDAT\\s.dat", "server s");
    Put(base_ + "\\se\\cp\\DDBVID\\c.dat", "the new product's own c");
    Put(base_ + "\\se\\cp\\DDBVID\\keep.dat", "untouched");
  }

  // The new product's branch, and every file below its data folders with its content.
  std::vector<std::string> Branch() {
    return DumpTree(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE");
  }
  std::map<std::string, std::string> Data() {
    std::map<std::string, std::string> out;
    std::vector<std::string> names;
    if (!fs().ListFiles(base_ + "\\se\\", &names)) return out;
    for (const std::string& name : names) {
      out[name] = fs().ReadFile(base_ + "\\se\\" + name).value_or("<unreadable>");
    }
    return out;
  }

  Messages Run(bool collect) {
    view_.messages.clear();
    collect ? dlg_->OnCollect() : dlg_->OnMigrate();
    return view_.messages;
  }

  std::string LogPath() { return paths().root + "\\kdr4tose.log"; }
  // The files the last run from `start` on kept, as its editions' lines count them.
  size_t KeptInLastRun(std::string_view start) {
    std::string log = fs().ReadFile(LogPath()).value_or("");
    size_t count = 0;
    for (size_t at = log.rfind(start); (at = log.find(" file(s) kept: ", at)) != log.npos; ++at) {
      size_t from = log.rfind(": ", at) + 2;
      count += std::stoul(log.substr(from, at - from));
    }
    return count;
  }

  std::unique_ptr<FlowWorld> world_;
  std::string base_;
  RecordingView view_;
  std::unique_ptr<CMigrateDlg> dlg_;
};

const Messages kAllMigrated = {std::string(MigratedMessage(Edition::kPersonal)),
                               std::string(MigratedMessage(Edition::kClient)),
                               std::string(MigratedMessage(Edition::kServer))};
const Messages kAllCollected = {std::string(CollectedMessage(Edition::kPersonal)),
                                std::string(CollectedMessage(Edition::kClient)),
                                std::string(CollectedMessage(Edition::kServer))};

TEST_P(StoreFlowTest, OneChangedByteKeepsThatEditionOutAndTheOthersMigrate) {
  Run(true);
  const std::string stored = paths().Folder(Edition::kClient) + "\\DDBVID\\sub\\e.dat";
  std::string bytes = fs().ReadFile(stored).value();
  bytes[3] ^= 1;
  ASSERT_TRUE(fs().WriteFileAtomically(stored, bytes));

  EXPECT_EQ(
      (Messages{std::string(MigratedMessage(Edition::kPersonal)),
                "収集したKodrel4 Clientの情報に内容が変わったファイルが1個有るため、移行せず、その"
                "詳細を" +
                    LogPath() + "に記録しましたので、「情報収集開始」で収集し直してください。",
                std::string(MigratedMessage(Edition::kServer))}),
      Run(false));
  EXPECT_EQ(EditionWeight(Edition::kClient), dlg_->last_run().damaged);
  // Nothing of Client was written: neither its data nor its settings.
  EXPECT_EQ("the new product's own c", fs().ReadFile(base_ + "\\se\\cp\\DDBVID\\c.dat"));
  EXPECT_FALSE(fs().Exists(base_ + "\\se\\cp\\DDBVID\\sub"));
  RegistryKeyPtr key;
  ASSERT_EQ(kOk, reg().OpenKey(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Client",
                               kKeyQueryValue, &key));
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(kOk, key->QueryValue("Host", &type, &data));
  EXPECT_EQ(std::string("before\0", 7), data);
  EXPECT_EQ("personal a", fs().ReadFile(base_ + "\\se\\pp\\DDBVID\\a.dat"));
}

TEST_P(StoreFlowTest, MissingOrExtraFilesAndADamagedManifestAreFound) {
  Run(true);
  ASSERT_TRUE(fs().RemoveFile(paths().Folder(Edition::kPersonal) + "\\DDBVID\\a.dat"));
  Put(paths().Folder(Edition::kServer) + "\\DDBDAT\\added.dat", "x");
  std::string manifest = paths().Folder(Edition::kClient) + "\\" + std::string(kManifestName);
  std::string text = fs().ReadFile(manifest).value();
  ASSERT_TRUE(fs().WriteFileAtomically(manifest, text.substr(0, text.size() - 3)));
  auto refused = [&](std::string_view edition, std::string_view what) {
    return "収集したKodrel4 " + std::string(edition) + "の情報に" + std::string(what) +
           "が1個有るため、移行せず、その詳細を" + LogPath() +
           "に記録しましたので、「情報収集開始」で収集し直してください。";
  };
  // Each names its own cause, and nothing follows that would name another.
  EXPECT_EQ((Messages{refused("Personal", "無くなったファイル"),
                      refused("Client", "内容が変わったファイル"),
                      refused("Server", "追加されたファイル")}),
            Run(false));
  EXPECT_FALSE(fs().Exists(base_ + "\\se\\pp"));
}

// Calls `hook` with the source folder just before and after each folder copy, and with each
// copied file's source path as the copy tells it is done, before anyone else hears it.
enum class CopyMoment { kBefore, kFileDone, kAfter };
class CopyHook : public FaultyFileSystem {
 public:
  CopyHook(FileSystem& inner, std::function<void(std::string_view, CopyMoment)> hook)
      : FaultyFileSystem(inner, plan_), hook_(std::move(hook)) {}
  FileResult CopyFolder(std::string_view destination, std::string_view source, OwnerWindow* owner,
                        CopyObserver* observer) override {
    hook_(source, CopyMoment::kBefore);
    Told told(hook_, observer);
    FileResult result = FaultyFileSystem::CopyFolder(destination, source, owner, &told);
    hook_(source, CopyMoment::kAfter);
    return result;
  }

 private:
  struct Told : ForwardingCopyObserver {
    Told(std::function<void(std::string_view, CopyMoment)>& hook, CopyObserver* next)
        : ForwardingCopyObserver(next), hook(hook) {}
    void FileCopied(std::string_view path, uint64_t bytes) override {
      hook(path, CopyMoment::kFileDone);
      ForwardingCopyObserver::FileCopied(path, bytes);
    }
    std::function<void(std::string_view, CopyMoment)>& hook;
  };
  FaultPlan plan_;  // fails nothing
  std::function<void(std::string_view, CopyMoment)> hook_;
};

// A stop asked as an edition's store is sealed: with editions still to collect, the run is
// cut short and says so; after the last one, it stopped nothing and says nothing of a stop.
TEST_P(StoreFlowTest, AStopAskedOnceTheLastStoreIsSealedStopsNothing) {
  class StopOnSeal : public FaultyFileSystem {
   public:
    StopOnSeal(FileSystem& inner, std::string manifest, RunProgress& progress)
        : FaultyFileSystem(inner, plan_), manifest_(std::move(manifest)), progress_(progress) {}
    FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) override {
      FileResult written = FaultyFileSystem::WriteFileAtomically(path, bytes);
      // Its first write marks the store begun; the second seals it.
      if (path == manifest_ && ++writes_ == 2) progress_.RequestStop();
      return written;
    }

   private:
    FaultPlan plan_;
    std::string manifest_;
    RunProgress& progress_;
    int writes_ = 0;
  };
  size_t told = 0;  // how much of the log earlier runs wrote
  for (Edition sealed : {Edition::kPersonal, Edition::kServer}) {
    SCOPED_TRACE(EditionName(sealed));
    const bool last = sealed == Edition::kServer;
    RunProgress progress;
    StopOnSeal files(fs(), paths().Folder(sealed) + "\\" + std::string(kManifestName), progress);
    RecordingView view;
    CMigrateDlg dlg(Services{reg(), files, world_->profiles(), 260}, view);
    ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
    dlg.set_progress(&progress);
    dlg.OnCollect();
    EXPECT_TRUE(progress.StopRequested());
    EXPECT_EQ(!last, dlg.stopped());
    EXPECT_EQ(StoreState::kWhole, CheckEdition(fs(), paths(), sealed, nullptr).state());
    for (Edition e : kAllEditions) {
      EXPECT_EQ(last || e == sealed, HasEdition(dlg.last_run().attempted, e)) << EditionName(e);
    }
    EXPECT_EQ(0, dlg.last_run().failed);
    const std::string log = fs().ReadFile(LogPath()).value_or("");
    EXPECT_EQ(!last, log.find("interrupted: collect did not finish", told) != log.npos);
    told = log.size();
  }
}

TEST_P(StoreFlowTest, AFileChangedAroundItsCopyIsNotCountedCopied) {
  const std::string store = paths().Folder(Edition::kClient) + "\\DDBVID\\";
  const std::string old = base_ + "\\old\\cp\\DDBVID\\";
  enum Change { kOneByte, kCut, kFolderInstead };
  const struct {
    const char* what;
    bool collect;
    CopyMoment when;      // at this moment of the copy of
    std::string at;       // this source folder or file,
    std::string changed;  // this file is changed so
    Change change;
    std::string source;  // the source path reported not copied
  } kCases[] = {
      {"store changed between the check and the copy", false, CopyMoment::kBefore, store,
       store + "c.dat", kOneByte, store + "c.dat"},
      {"copy changed once the copy is done", true, CopyMoment::kAfter, old, store + "c.dat",
       kOneByte, old + "c.dat"},
      {"copy changed as its file is done", true, CopyMoment::kFileDone, old + "c.dat",
       store + "c.dat", kOneByte, old + "c.dat"},
      {"copy cut short", true, CopyMoment::kFileDone, old + "c.dat", store + "c.dat", kCut,
       old + "c.dat"},
      // Last: the folder stays.
      {"a copy that fails midway", true, CopyMoment::kBefore, old, store + "sub\\e.dat",
       kFolderInstead, old + "sub\\e.dat"},
  };
  Run(true);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    CopyHook hooked(fs(), [&](std::string_view source, CopyMoment when) {
      if (when != c.when || source != c.at) return;
      std::string bytes = fs().ReadFile(c.changed).value_or("");
      ASSERT_FALSE(bytes.empty());
      if (c.change == kFolderInstead) {
        ASSERT_TRUE(fs().RemoveFile(c.changed));
        ASSERT_TRUE(fs().CreateFolder(c.changed).ok());
        return;
      }
      bytes[0] ^= 1;
      if (c.change == kCut) bytes.resize(1);
      // Windows replaces no file that is open, and the copy's read-back may be reading it for a
      // moment: try again, as another program would.
      bool written = false;
      for (int attempt = 0; attempt < 400 && !written; ++attempt) {
        written = fs().WriteFileAtomically(c.changed, bytes).ok();
        if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      ASSERT_TRUE(written);
    });
    RecordingView view;
    CMigrateDlg dlg(Services{reg(), hooked, world_->profiles(), 260}, view);
    ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
    c.collect ? dlg.OnCollect() : dlg.OnMigrate();
    std::vector<std::string> not_copied;
    for (const FailedItem& item : dlg.last_run().Copies(Edition::kClient).not_copied) {
      not_copied.push_back(item.source);
    }
    EXPECT_EQ(std::vector<std::string>{c.source}, not_copied);
    EXPECT_EQ(EditionWeight(Edition::kClient), dlg.last_run().failed);
    // A Collect that missed a file never seals the store as whole.
    if (c.collect) {
      EXPECT_EQ(StoreState::kIncomplete,
                CheckEdition(fs(), paths(), Edition::kClient, nullptr).state());
      EXPECT_EQ(0, dlg.last_run().sealed & EditionWeight(Edition::kClient));
    }
  }
}

// A copy that tells a file by a path outside the folder it copies: that file's copy cannot be
// checked, so it counts as not copied and the edition fails, never passes unchecked.
TEST_P(StoreFlowTest, AFileToldOutsideTheFolderCopiedIsNotCountedCopied) {
  class TellsElsewhere : public FaultyFileSystem {
   public:
    explicit TellsElsewhere(FileSystem& inner) : FaultyFileSystem(inner, plan_) {}
    FileResult CopyFolder(std::string_view destination, std::string_view source, OwnerWindow* owner,
                          CopyObserver* observer) override {
      Told told(observer);
      return FaultyFileSystem::CopyFolder(destination, source, owner, &told);
    }

   private:
    struct Told : ForwardingCopyObserver {
      using ForwardingCopyObserver::ForwardingCopyObserver;
      void FileCopied(std::string_view path, uint64_t bytes) override {
        const bool first = !told_elsewhere;
        told_elsewhere = true;
        ForwardingCopyObserver::FileCopied(first ? "C:\\elsewhere\\x.dat" : path, bytes);
      }
      bool told_elsewhere = false;
    };
    FaultPlan plan_;
  } files(fs());
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), files, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnCollect();
  size_t told = 0;
  for (Edition e : kAllEditions) {
    const auto& items = dlg.last_run().Copies(e).not_copied;
    for (const FailedItem& item : items) EXPECT_EQ("C:\\elsewhere\\x.dat", item.source);
    EXPECT_EQ(!items.empty(), HasEdition(dlg.last_run().failed, e)) << EditionName(e);
    told += items.size();
  }
  EXPECT_NE(0u, told);
}

void RemoveTree(FileSystem& files, const std::string& folder) {
  std::vector<std::string> names;
  ASSERT_TRUE(files.ListFiles(folder + "\\", &names));
  for (const std::string& name : names) ASSERT_TRUE(files.RemoveFile(folder + "\\" + name));
  std::vector<std::string> folders;
  ASSERT_TRUE(files.ListFolders(folder + "\\", &folders));
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    ASSERT_TRUE(files.RemoveFolder(folder + "\\" + *it));
  }
  ASSERT_TRUE(files.RemoveFolder(folder));
}

// A Mac's "._x" beside an "x" is clutter the manifest leaves out; one alone is the user's file.
TEST_P(StoreFlowTest, TheManifestLeavesOutAMacsCompanionFileOnlyBesideItsFile) {
  Put(base_ + "\\old\\cp\\DDBVID\\._c.dat", "mac");
  Put(base_ + "\\old\\cp\\DDBVID\\._lone.dat", "mine");
  Run(true);
  const std::string manifest =
      fs().ReadFile(paths().Folder(Edition::kClient) + "\\" + std::string(kManifestName))
          .value_or("");
  std::optional<Manifest> parsed = ParseManifest(manifest).manifest;
  ASSERT_TRUE(parsed);
  std::set<std::string> listed;
  for (const ManifestFile& file : parsed->files) listed.insert(file.path);
  EXPECT_TRUE(listed.contains("DDBVID\\c.dat"));
  EXPECT_TRUE(listed.contains("DDBVID\\._lone.dat"));
  EXPECT_FALSE(listed.contains("DDBVID\\._c.dat"));
}

// Each way Client's store can be left after a Collect: what the check calls it and whether
// Migrate takes it. A refused one is told by one message naming the cause, and nothing of the
// edition is written.
TEST_P(StoreFlowTest, EachStoreStateIsNamedAndOnlyWholeOrUnmanifestedStoresMigrate) {
  const std::string store = paths().Folder(Edition::kClient);
  const struct {
    const char* what;
    std::function<void()> change;
    StoreState state;
    size_t missing, changed, added;
    const char* told;  // part of the refusal; null when Client migrates
  } kCases[] = {
      {"as collected", [] {}, StoreState::kWhole, 0, 0, 0, nullptr},
      {"system clutter",
       [&] {
         Put(store + "\\Thumbs.db", "");
         Put(store + "\\DDBVID\\desktop.ini", "[x]");
         Put(store + "\\DDBVID\\._c.dat", "mac");
         Put(store + "\\System Volume Information\\x", "");
         Put(store + "\\DDBVID\\.ds_store", "");
       },
       StoreState::kWhole, 0, 0, 0, nullptr},
      {"a work subfolder removed", [&] { RemoveTree(fs(), store + "\\DDBVID"); },
       StoreState::kWhole, 0, 0, 0, nullptr},
      {"a file missing", [&] { ASSERT_TRUE(fs().RemoveFile(store + "\\DDBVID\\c.dat")); },
       StoreState::kChanged, 1, 0, 0, "無くなったファイルが1個有るため"},
      {"a file changed", [&] { Put(store + "\\DDBVID\\zero.dat", "now"); }, StoreState::kChanged, 0,
       1, 0, "内容が変わったファイルが1個有るため"},
      {"files added",
       [&] {
         Put(store + "\\other.dat", "");
         Put(store + "\\DDBVID\\._nothing.dat", "");
       },
       StoreState::kChanged, 0, 0, 2, "追加されたファイルが2個有るため"},
      {"unfinished",
       [&] {
         ManifestWriteError error;
         ASSERT_TRUE(MarkEditionBegun(fs(), paths(), Edition::kClient, "1", "t", &error));
       },
       StoreState::kUnfinished, 0, 0, 0, "収集が途中で終わっているため"},
      {"incomplete",
       [&] {
         ManifestWriteError error;
         ASSERT_TRUE(WriteEditionManifest(fs(), paths(), Edition::kClient, "1", "t", nullptr,
                                          {{"C:\\old\\x.dat", "access denied"}}, &error));
       },
       StoreState::kIncomplete, 0, 0, 0, "収集できなかったファイルが1個有るため"},
      {"no manifest",
       [&] { ASSERT_TRUE(fs().RemoveFile(store + "\\" + std::string(kManifestName))); },
       StoreState::kNoManifest, 0, 0, 0, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Run(true);
    Put(base_ + "\\se\\cp\\DDBVID\\c.dat", "the new product's own c");
    c.change();
    EditionCheck check = CheckEdition(fs(), paths(), Edition::kClient, nullptr);
    EXPECT_EQ(c.state, check.state());
    EXPECT_EQ(c.missing, check.missing());
    EXPECT_EQ(c.changed, check.changed());
    EXPECT_EQ(c.added, check.added());
    Messages told = Run(false);
    EXPECT_EQ(c.state, dlg_->last_run().Store(Edition::kClient));
    ASSERT_EQ(3u, told.size());
    EXPECT_EQ(MigratedMessage(Edition::kPersonal), told[0]);
    EXPECT_EQ(MigratedMessage(Edition::kServer), told[2]);
    if (!c.told) {
      EXPECT_EQ(MigratedMessage(Edition::kClient), told[1]);
      continue;
    }
    EXPECT_NE(std::string::npos, told[1].find(c.told)) << told[1];
    EXPECT_EQ(EditionWeight(Edition::kClient), dlg_->last_run().damaged);
    EXPECT_EQ(EditionFailure::kStoreRefused, dlg_->last_run().Cause(Edition::kClient));
    EXPECT_EQ("the new product's own c", fs().ReadFile(base_ + "\\se\\cp\\DDBVID\\c.dat"));
    // Collected again, the store is whole once more.
    Run(true);
    EXPECT_TRUE(CheckEdition(fs(), paths(), Edition::kClient, nullptr).whole());
  }
}

// A manifest the platform's calls cannot reach by its path (on Windows, one past the 260
// characters of a long work folder) is listed all the same: the store is refused, never migrated
// as one from before manifests.
class UnreachableManifest : public FaultyFileSystem {
 public:
  explicit UnreachableManifest(FileSystem& inner) : FaultyFileSystem(inner, plan_) {}
  Result<EntryKind> Lookup(std::string_view path) override {
    if (path.ends_with(kManifestName)) return EntryKind::kNone;
    return FaultyFileSystem::Lookup(path);
  }
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override {
    if (path.ends_with(kManifestName)) return FileResult::Fail(kPathNotFound, "CreateFile", path);
    return FaultyFileSystem::OpenForReading(path);
  }

 private:
  FaultPlan plan_;  // fails nothing
};

TEST_P(StoreFlowTest, AManifestThatCannotBeOpenedIsNotAStoreWithoutOne) {
  Run(true);
  UnreachableManifest files(fs());
  EXPECT_EQ(StoreState::kChanged, ManifestState(files, paths(), Edition::kClient));
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), files, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_EQ(111, dlg.last_run().damaged);
  EXPECT_EQ(0, dlg.last_run().unverified);
}

TEST_P(StoreFlowTest, AStoreWithoutManifestStillMigrates) {
  Run(true);
  for (Edition e : kAllEditions) {
    ASSERT_TRUE(fs().RemoveFile(paths().Folder(e) + "\\" + std::string(kManifestName)));
  }
  EXPECT_EQ(kAllMigrated, Run(false));
  EXPECT_EQ(111, dlg_->last_run().unverified);
  EXPECT_EQ("client e", fs().ReadFile(base_ + "\\se\\cp\\DDBVID\\sub\\e.dat"));
}

TEST_P(StoreFlowTest, UndoLeavesBranchAndDataFoldersAsBefore) {
  // Folders that hold no file are copied as well, and must go with the rest.
  ASSERT_TRUE(fs().CreateFolder(base_ + "\\old\\cp\\DDBVID\\sub\\empty").ok());
  ASSERT_TRUE(fs().CreateFolder(base_ + "\\old\\cp\\DDBVID\\sub\\empty\\deeper").ok());
  const auto branch = Branch();
  const auto data = Data();
  Run(true);
  EXPECT_EQ(kAllMigrated, Run(false));
  ASSERT_NE(branch, Branch());
  ASSERT_NE(data, Data());
  ASSERT_FALSE(dlg_->last_run().backup_name.empty());
  EXPECT_TRUE(fs().IsFolder(paths().root + "\\backup\\" + dlg_->last_run().backup_name));

  UndoResult result = Undo("", false);
  for (const UndoItem& item : items_) {
    EXPECT_TRUE(item.outcome != UndoOutcome::kRefused && item.outcome != UndoOutcome::kFailed)
        << UndoItemText(item) << ": " << UndoReasonText(item);
  }
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_EQ(dlg_->last_run().backup_name, result.backup);
  EXPECT_EQ(branch, Branch());
  EXPECT_EQ(data, Data());
  // Folders Migrate made are gone too.
  EXPECT_FALSE(fs().Exists(base_ + "\\se\\pp"));
  EXPECT_FALSE(fs().Exists(base_ + "\\se\\cp\\DDBVID\\sub"));
  EXPECT_TRUE(fs().Exists(base_ + "\\se\\cp\\DDBVID"));
  std::vector<BackupInfo> backups = ListBackups(fs(), BackupPlacesFor(paths(), ""));
  ASSERT_EQ(1u, backups.size());
  EXPECT_TRUE(backups[0].undone);
  EXPECT_EQ((std::vector<std::string>{"Personal", "Client", "Server"}), backups[0].editions);
}

// Files and folders that cannot be removed, each with the platform's `code`.
class Unremovable : public FaultyFileSystem {
 public:
  Unremovable(FileSystem& inner, Status code) : FaultyFileSystem(inner, plan_), code_(code) {}
  FileResult RemoveFile(std::string_view path) override {
    return FileResult::Fail(code_, "DeleteFile", path);
  }
  FileResult RemoveFolder(std::string_view path) override {
    return FileResult::Fail(code_, "RemoveDirectory", path);
  }

 private:
  FaultPlan plan_;  // fails nothing
  Status code_;
};

// Undo says why a file or folder it made stays: only a folder that holds something else is
// called not empty, and neither is ever called removed.
TEST_P(StoreFlowTest, UndoTellsWhyWhatMigrateMadeCannotBeRemoved) {
  ASSERT_TRUE(fs().CreateFolder(base_ + "\\old\\cp\\DDBVID\\sub\\empty").ok());
  Run(true);
  EXPECT_EQ(kAllMigrated, Run(false));
  const struct {
    Status code;
    std::set<std::string> folders;
    std::string file;
  } cases[] = {
      // The folders that hold a file undo could not remove say so; the empty one is not empty
      // only by the platform's word, and says just that.
      {kDirNotEmpty,
       {"refused: not empty: it holds a file undo did not take back",
        "failed: cannot be removed (RemoveDirectory: 145 folder not empty)"},
       "cannot be removed (DeleteFile: 145 folder not empty)"},
      {kAccessDenied,
       {"failed: cannot be removed (RemoveDirectory: 5 access denied)"},
       "cannot be removed (DeleteFile: 5 access denied)"},
      {kSharingViolation,
       {"failed: cannot be removed (RemoveDirectory: 32 in use by another process)"},
       "cannot be removed (DeleteFile: 32 in use by another process)"},
  };
  std::string name;  // each undo after the first names the backup again
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Unremovable files(fs(), c.code);
    std::set<std::string> folders, removed_files;
    UndoResult result = UndoMigrate(
        reg(), files, BackupPlacesFor(paths(), ""), name, false,
        MigrateUndoScope(reg(), files, paths(), 260), [&](const UndoItem& item) {
          if (item.subject == UndoSubject::kValue || item.subject == UndoSubject::kKey) return;
          const std::string what = UndoItemText(item);
          EXPECT_NE(UndoOutcome::kRemoved, item.outcome) << what;
          if (item.subject == UndoSubject::kFolder &&
              item.outcome != UndoOutcome::kAlreadyAsBefore) {
            folders.insert(std::string(UndoOutcomeText(item.outcome)) + ": " +
                           UndoReasonText(item));
          }
          if (item.subject == UndoSubject::kFile && item.outcome == UndoOutcome::kFailed) {
            removed_files.insert(UndoReasonText(item));
          }
        });
    name = result.backup;
    EXPECT_FALSE(result.complete());
    EXPECT_EQ(c.folders, folders);
    EXPECT_EQ(std::set<std::string>{c.file}, removed_files);
  }
}

// One file whose removal fails, as a file another program holds open.
class OneFileHeld : public FaultyFileSystem {
 public:
  OneFileHeld(FileSystem& inner, std::string held)
      : FaultyFileSystem(inner, plan_), held_(std::move(held)) {}
  FileResult RemoveFile(std::string_view path) override {
    if (path == held_) return FileResult::Fail(kSharingViolation, "DeleteFile", path);
    return FaultyFileSystem::RemoveFile(path);
  }

 private:
  FaultPlan plan_;  // fails nothing
  std::string held_;
};

// A folder the Migrate made that stays because undo could not take one of its own files back
// is not said to hold files of the user's; one that holds a file the Migrate did not add is.
TEST_P(StoreFlowTest, UndoSaysWhoseFileKeepsAFolderTheMigrateMade) {
  const std::string sub = base_ + "\\se\\cp\\DDBVID\\sub";
  const struct {
    std::string held, added, folder;
  } cases[] = {
      {sub + "\\e.dat", "", "not empty: it holds a file undo did not take back"},
      {"", sub + "\\mine.txt", "not empty: it holds files the Migrate did not add"},
      {sub + "\\e.dat", sub + "\\mine.txt", "not empty: it holds files the Migrate did not add"},
  };
  Run(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.held + " " + c.added);
    EXPECT_EQ(kAllMigrated, Run(false));
    if (!c.added.empty()) Put(c.added, "the user's own");
    OneFileHeld files(fs(), c.held);
    std::vector<std::string> folders;
    UndoResult result = UndoMigrate(
        reg(), files, BackupPlacesFor(paths(), ""), "", false,
        MigrateUndoScope(reg(), files, paths(), 260), [&](const UndoItem& item) {
          if (item.subject == UndoSubject::kFolder && item.outcome != UndoOutcome::kRemoved) {
            folders.push_back(UndoItemText(item) + ": " + UndoReasonText(item));
          }
        });
    EXPECT_FALSE(result.complete());
    EXPECT_EQ(std::vector<std::string>{"folder " + sub + ": " + c.folder}, folders);
    // Clear the way for the next Migrate and its undo.
    ASSERT_TRUE(fs().RemoveFile(sub + "\\e.dat") || c.held.empty());
    if (!c.added.empty()) {
      ASSERT_TRUE(fs().RemoveFile(c.added));
    }
    ASSERT_TRUE(fs().RemoveFolder(sub));
  }
}

// Reads of one file and lookups of another that fail, as on a file the user cannot open.
class UnreadableFiles : public FaultyFileSystem {
 public:
  UnreadableFiles(FileSystem& inner, std::string read, std::string looked)
      : FaultyFileSystem(inner, plan_), read_(std::move(read)), looked_(std::move(looked)) {}
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override {
    if (path == read_) return FileResult::Fail(kAccessDenied, "CreateFile", path);
    return FaultyFileSystem::OpenForReading(path);
  }
  Result<EntryKind> Lookup(std::string_view path) override {
    if (path == looked_) return FileResult::Fail(kAccessDenied, "GetFileAttributes", path);
    return FaultyFileSystem::Lookup(path);
  }

 private:
  FaultPlan plan_;  // fails nothing
  std::string read_, looked_;
};

// Undo says why a file cannot be taken back: the file or its saved copy cannot be looked at or
// read (with the call), the saved copy is missing, or it is not what was saved. A file that
// cannot be looked at is never taken for one that is gone.
TEST_P(StoreFlowTest, UndoSaysWhyAFileCannotBeTakenBack) {
  Run(true);
  EXPECT_EQ(kAllMigrated, Run(false));
  const std::string backup = paths().root + "\\backup\\" + dlg_->last_run().backup_name;
  std::vector<std::string> saved_copies;
  ASSERT_TRUE(fs().ListFiles(backup + "\\files\\", &saved_copies));
  ASSERT_EQ(1u, saved_copies.size());  // the new product's own c.dat, which Migrate replaced
  const std::string saved = backup + "\\files\\" + saved_copies[0];
  const std::string replaced = base_ + "\\se\\cp\\DDBVID\\c.dat";
  const std::string added = base_ + "\\se\\cp\\DDBVID\\sub\\e.dat";
  const std::string kept = fs().ReadFile(saved).value_or("");
  const struct {
    std::string read, looked, saved_content, file, reason;
  } cases[] = {
      {"", replaced, kept, replaced, "cannot be read (GetFileAttributes: 5 access denied)"},
      {"", added, kept, added, "cannot be read (GetFileAttributes: 5 access denied)"},
      {replaced, "", kept, replaced, "cannot be read (CreateFile: 5 access denied)"},
      {saved, "", kept, replaced, "its saved copy cannot be read (CreateFile: 5 access denied)"},
      {"", "", "not what was saved", replaced,
       "its saved copy is damaged: it is not what the Migrate saved"},
      {"", "", "", replaced, "its saved copy is missing (<call>: 2 file not found)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    Put(replaced, "client c");  // as the Migrate wrote it, whatever the case before did
    if (c.reason.find("missing") != std::string::npos) {
      ASSERT_TRUE(fs().RemoveFile(saved));
    } else {
      ASSERT_TRUE(fs().WriteFileAtomically(saved, c.saved_content));
    }
    UnreadableFiles files(fs(), c.read, c.looked);
    std::vector<std::string> failed;
    UndoResult result = UndoMigrate(
        reg(), files, BackupPlacesFor(paths(), ""), dlg_->last_run().backup_name, false,
        MigrateUndoScope(reg(), files, paths(), 260), [&](const UndoItem& item) {
          if (item.subject != UndoSubject::kFile || item.outcome != UndoOutcome::kFailed) return;
          std::string reason = UndoReasonText(item);
          // The platform names its own open.
          if (size_t at = reason.find("(" + item.call + ": 2 "); at != std::string::npos) {
            reason.replace(at + 1, item.call.size(), "<call>");
          }
          failed.push_back(UndoItemText(item) + ": " + reason);
        });
    EXPECT_FALSE(result.complete());
    EXPECT_EQ(std::vector<std::string>{"file " + c.file + ": " + c.reason}, failed);
  }
}

// A backup whose undone marker cannot be looked at is not taken for one never undone: the list
// says why, and a later undo stays in the way of an older one.
TEST_P(StoreFlowTest, AnUndoneMarkerThatCannotBeLookedAtIsATrouble) {
  Run(true);
  ASSERT_EQ(kAllMigrated, Run(false));
  const std::string marker = paths().root + "\\backup\\" + dlg_->last_run().backup_name + "\\" +
                             std::string(kUndoneMarkerName);
  ASSERT_TRUE(Undo("", false).complete());
  for (bool looked : {true, false}) {
    SCOPED_TRACE(looked);
    UnreadableFiles files(fs(), "", looked ? "" : marker);
    std::vector<BackupInfo> backups = ListBackups(files, BackupPlacesFor(paths(), ""));
    ASSERT_EQ(1u, backups.size());
    EXPECT_EQ(looked, backups[0].undone);
    EXPECT_EQ(looked ? BackupInfo::Trouble::kNone : BackupInfo::Trouble::kUndoneUnknown,
              backups[0].trouble);
    EXPECT_EQ(looked ? ""
                     : "whether it was undone cannot be told (GetFileAttributes " + marker +
                           ": 5 access denied)",
              backups[0].error);
  }
}

// A store file or work subfolder that cannot be looked at is neither missing nor removed: the
// check reads on and says what it could not read. (A listed file is looked at only when it
// cannot be opened: one that reads as collected is whole.)
TEST_P(StoreFlowTest, AStoreItemThatCannotBeLookedAtIsNotTakenForGone) {
  Run(true);
  const std::string folder = paths().Folder(Edition::kClient) + "\\";
  const struct {
    std::string looked;
    std::vector<std::string> problems;
  } cases[] = {
      {"DDBVID\\c.dat", {"DDBVID\\c.dat: cannot be read"}},
      {"DDBVID", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.looked);
    UnreadableFiles files(fs(), folder + c.looked, folder + c.looked);
    EditionCheck check = CheckEdition(files, paths(), Edition::kClient, nullptr);
    std::vector<std::string> problems;
    for (const StoreProblem& p : check.problems) {
      problems.push_back(p.path + ": " + std::string(ProblemText(p.kind)));
    }
    EXPECT_EQ(c.problems, problems);
    EXPECT_EQ(std::vector<std::string>{}, check.skipped_folders);
    EXPECT_LT(0u, check.files_checked);
  }
}

// A destination folder that cannot be looked at is not one the Migrate creates: the file in it
// would be written over unsaved, and undo would remove the folder. The edition fails instead, and
// the log says which lookup failed.
TEST_P(StoreFlowTest, ADestinationThatCannotBeLookedAtIsNotCreated) {
  Run(true);
  const std::string folder = base_ + "\\se\\cp\\DDBVID";
  UnreadableFiles files(fs(), "", folder);
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), files, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_NE(kAllMigrated, view.messages);
  EXPECT_EQ("the new product's own c", fs().ReadFile(folder + "\\c.dat").value_or(""));
  EXPECT_NE(std::string::npos, fs().ReadFile(LogPath()).value_or("").find(
                                   "GetFileAttributes " + folder + ": 5 access denied"));
}

// What cannot be looked at is not taken for nothing there: undo does not say there is no backup
// (a newer one may lie in that place), and an edition folder still counts as collected (its
// store check then says why it cannot be read).
TEST_P(StoreFlowTest, APlaceThatCannotBeLookedAtIsNotEmpty) {
  Run(true);
  EXPECT_EQ(kAllMigrated, Run(false));
  const std::string backups = BackupPlacesFor(paths(), "").work + "\\";
  UnreadableFiles files(fs(), "", backups);
  UndoResult result = UndoMigrate(reg(), files, BackupPlacesFor(paths(), ""), "", false,
                                  MigrateUndoScope(reg(), files, paths(), 260));
  EXPECT_EQ(UndoProblem::kPlaceUnlisted, result.problem);
  EXPECT_EQ("cannot look at " + backups + " (GetFileAttributes " + backups + ": 5 access denied)",
            result.error);
  EXPECT_EQ(0u, result.Total());
  for (Edition e : kAllEditions) {
    SCOPED_TRACE(EditionName(e));
    UnreadableFiles unlooked(fs(), "", paths().Folder(e));
    EXPECT_EQ(DetectCollectedEditions(fs(), paths()), DetectCollectedEditions(unlooked, paths()));
  }
}

// A Collect's dry run does not call a data folder that cannot be looked at absent.
TEST_P(StoreFlowTest, ACollectPreviewDoesNotCallAnUnreadableSourceAbsent) {
  class Unlooked : public FaultyFileSystem {
   public:
    Unlooked(FileSystem& inner, std::string under)
        : FaultyFileSystem(inner, plan_), under_(std::move(under)) {}
    Result<EntryKind> Lookup(std::string_view path) override {
      if (path.starts_with(under_)) return FileResult::Fail(kAccessDenied, "stat", path);
      return FaultyFileSystem::Lookup(path);
    }

   private:
    FaultPlan plan_;  // fails nothing
    std::string under_;
  } files(fs(), base_ + "\\old\\");
  const EditionCode editions = DetectOldEditions(reg());
  size_t copied = 0;
  for (const CollectPreview& p :
       PreviewCollect(Services{reg(), files, world_->profiles(), 260}, paths(), editions)) {
    EXPECT_EQ(std::vector<std::string>{}, p.absent_sources) << EditionName(p.edition);
    copied += p.files.size();
  }
  EXPECT_LT(0u, copied);
}

// A store whose edition folder cannot be listed says why, when it is checked and when its
// manifest is written.
class UnlistedFolder : public FaultyFileSystem {
 public:
  UnlistedFolder(FileSystem& inner, std::string folder)
      : FaultyFileSystem(inner, plan_), folder_(std::move(folder)) {}
  FileResult ListFiles(std::string_view folder, std::vector<std::string>* files) override {
    if (folder == folder_) return FileResult::Fail(kAccessDenied, "FindFirstFile", folder);
    return FaultyFileSystem::ListFiles(folder, files);
  }

 private:
  FaultPlan plan_;  // fails nothing
  std::string folder_;
};

TEST_P(StoreFlowTest, AnEditionFolderThatCannotBeListedSaysWhy) {
  Run(true);
  const std::string folder = paths().Folder(Edition::kClient) + "\\";
  UnlistedFolder files(fs(), folder);
  const std::string cause = "(FindFirstFile " + folder + ": 5 access denied)";
  EXPECT_EQ("the edition folder cannot be listed " + cause,
            CheckEdition(files, paths(), Edition::kClient, nullptr).manifest_error);
  ManifestWriteError error;
  EXPECT_FALSE(
      WriteEditionManifest(files, paths(), Edition::kClient, "1", "t", nullptr, {}, &error));
  EXPECT_EQ("the edition folder could not be listed " + cause,
            ManifestWriteErrorText(error).Utf8());
}

// A journal whose last part lost its end (cut on the way, not by a stopped run, since that
// edition was written) cannot say undo took everything back.
TEST_P(StoreFlowTest, UndoOfAJournalCutInsideAWrittenEditionSaysItIsNotAsBefore) {
  Run(true);
  const auto branch = Branch();
  ASSERT_EQ(kAllMigrated, Run(false));
  const std::string journal =
      paths().root + "\\backup\\" + dlg_->last_run().backup_name + "\\" + std::string(kJournalName);
  const std::optional<std::string> text = fs().ReadFile(journal);
  ASSERT_TRUE(text);
  const size_t last_end = text->rfind("\nend\t");
  const size_t last_start = text->rfind("\nedition\t");
  ASSERT_LT(last_start, last_end);
  for (size_t cut : {last_end + 1, (last_start + last_end) / 2}) {
    ASSERT_TRUE(fs().WriteFileAtomically(journal, text->substr(0, cut)).ok());
    UndoResult result = Undo("", false);
    EXPECT_FALSE(result.complete()) << cut;
    EXPECT_NE(std::string::npos, result.error.find("Server")) << result.error;
    EXPECT_FALSE(ListBackups(fs(), BackupPlacesFor(paths(), ""))[0].undone);
    EXPECT_NE(branch, Branch());
  }
}

// Calls `hook` once, as a backup journal is first written after `file` was read whole (after
// that edition's check and plan, before its import).
class JournalHook : public FaultyFileSystem {
 public:
  JournalHook(FileSystem& inner, std::string file, std::function<void()> hook)
      : FaultyFileSystem(inner, plan_), file_(std::move(file)), hook_(std::move(hook)) {}
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override {
    armed_ = armed_ || path == file_;
    return FaultyFileSystem::OpenForReading(path);
  }
  FileResult AppendToFile(std::string_view path, std::string_view bytes) override {
    if (armed_ && hook_ && path.find("\\backup\\") != std::string_view::npos) {
      std::exchange(hook_, {})();
    }
    return FaultyFileSystem::AppendToFile(path, bytes);
  }

 private:
  FaultPlan plan_;  // fails nothing
  std::string file_;
  bool armed_ = false;
  std::function<void()> hook_;
};

// Notes, in order, each saved copy made (written or a second name), each write-out and each append
// to a journal.
class BackupOrder : public FaultyFileSystem {
 public:
  explicit BackupOrder(FileSystem& inner) : FaultyFileSystem(inner, plan_) {}
  FileResult WriteNewFile(std::string_view path, std::string_view bytes) override {
    calls.push_back("new " + std::string(path.substr(path.rfind('\\') + 1)));
    return FaultyFileSystem::WriteNewFile(path, bytes);
  }
  FileResult WriteNewCopy(std::string_view path, std::string_view from) override {
    calls.push_back("new " + std::string(path.substr(path.rfind('\\') + 1)));
    return FaultyFileSystem::WriteNewCopy(path, from);
  }
  FileResult WriteOutNewFiles(std::string_view folder) override {
    calls.push_back("write out");
    return FaultyFileSystem::WriteOutNewFiles(folder);
  }
  FileResult AppendToFile(std::string_view path, std::string_view bytes) override {
    if (path.ends_with(kJournalName)) calls.push_back("journal");
    return FaultyFileSystem::AppendToFile(path, bytes);
  }
  std::vector<std::string> calls;

 private:
  FaultPlan plan_;  // fails nothing
};

// The saved copies are put on the disk together, before the journal that names them: a journal
// block on the disk never names a copy that a power cut could still take.
TEST_P(StoreFlowTest, SavedCopiesAreOnTheDiskBeforeTheJournalNamesThem) {
  Run(true);
  BackupOrder order(fs());
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), order, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_EQ(kAllMigrated, view.messages);
  // Personal replaces nothing; Client replaces c.dat; Server replaces nothing. Each edition's
  // part of the journal is followed by the line that says its writes ended.
  EXPECT_EQ((std::vector<std::string>{"journal", "journal", "new 1", "write out", "journal",
                                      "journal", "journal", "journal"}),
            order.calls);
}

// Settings files read anew on every call (no hold), whose first list of sections may come back
// empty: the plan of the first edition then sees nothing, its import everything.
class UnheldProfiles : public ProfileFile {
 public:
  UnheldProfiles(ProfileFile& inner, bool first_list_empty)
      : inner_(inner), first_(first_list_empty) {}
  bool WriteSection(std::string_view section, std::string_view entries,
                    std::string_view file) override {
    return inner_.WriteSection(section, entries, file);
  }
  bool WriteString(std::string_view section, std::string_view key, std::string_view value,
                   std::string_view file) override {
    return inner_.WriteString(section, key, value, file);
  }
  uint32_t GetSectionNames(std::span<char> buffer, std::string_view file) override {
    if (std::exchange(first_, false) && buffer.size() >= 2) {
      buffer[0] = buffer[1] = '\0';
      return 0;
    }
    return inner_.GetSectionNames(buffer, file);
  }
  uint32_t GetSection(std::string_view section, std::span<char> buffer,
                      std::string_view file) override {
    return inner_.GetSection(section, buffer, file);
  }
  FileResult Flush() override { return inner_.Flush(); }

 private:
  ProfileFile& inner_;
  bool first_;
};

// Held, the settings file is read once for the plan and the import; read anew, the import sees
// the change but may not write it.
TEST_P(StoreFlowTest, ASettingsFileChangedAfterThePlanIsNotImportedUnrecorded) {
  const auto branch = Branch();
  Run(true);
  const std::string settings = paths().SettingsFile(Edition::kClient);
  const std::string log_path = LogPath();
  for (bool held : {true, false}) {
    SCOPED_TRACE(held ? "held" : "read anew");
    JournalHook hooked(fs(), settings, [&] {
      std::string text = fs().ReadFile(settings).value_or("");
      size_t host = text.find("Host=");
      ASSERT_NE(std::string::npos, host);
      ASSERT_TRUE(fs().WriteFileAtomically(settings, text.insert(host, "Slipped=1:in\r\n")));
    });
    UnheldProfiles unheld(world_->profiles(), /*first_list_empty=*/false);
    RecordingView view;
    CMigrateDlg dlg(Services{reg(), hooked, held ? world_->profiles() : unheld, 260}, view);
    ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
    dlg.OnMigrate();
    const Messages want = held ? kAllMigrated
                               : Messages{std::string(MigratedMessage(Edition::kPersonal)),
                                          SettingsChangedMessage(Edition::kClient, log_path),
                                          std::string(MigratedMessage(Edition::kServer))};
    EXPECT_EQ(want, view.messages);
    UndoResult result = Undo("", false);
    EXPECT_TRUE(result.complete()) << result.error;
    EXPECT_EQ(branch, Branch());
    // The next round starts from the store as collected.
    std::string text = fs().ReadFile(settings).value_or("");
    text.erase(text.find("Slipped=1:in\r\n"), 14);
    ASSERT_TRUE(fs().WriteFileAtomically(settings, text));
  }
}

// Nothing below `prefix` can be created or written: a write-protected stick.
class WriteProtected : public FaultyFileSystem {
 public:
  WriteProtected(FileSystem& inner, std::string prefix)
      : FaultyFileSystem(inner, plan_), prefix_(std::move(prefix)) {}
  FileResult CreateFolder(std::string_view path) override {
    return Below(path) ? Denied("CreateDirectory", path) : FaultyFileSystem::CreateFolder(path);
  }
  FileResult MakeSurePathExists(std::string_view path) override {
    return Below(path) && !FaultyFileSystem::IsFolder(path.substr(0, path.rfind('\\')))
               ? Denied("CreateDirectory", path)
               : FaultyFileSystem::MakeSurePathExists(path);
  }
  FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) override {
    return Below(path) ? Denied("CreateFile", path)
                       : FaultyFileSystem::WriteFileAtomically(path, bytes);
  }
  FileResult AppendToFile(std::string_view path, std::string_view bytes) override {
    return Below(path) ? Denied("CreateFile", path) : FaultyFileSystem::AppendToFile(path, bytes);
  }

 private:
  bool Below(std::string_view path) const { return path.starts_with(prefix_); }
  static FileResult Denied(std::string_view call, std::string_view path) {
    return FileResult::Fail(kAccessDenied, call, path);
  }
  std::string prefix_;
  FaultPlan plan_;  // fails nothing
};

TEST_P(StoreFlowTest, AWriteProtectedStoreMigratesWithItsBackupAndLogInTheUsersFolder) {
  const auto branch = Branch();
  const auto data = Data();
  Run(true);
  const std::string log_before = fs().ReadFile(LogPath()).value_or("");
  WriteProtected stick(fs(), paths().root);
  const std::string user = base_ + "\\user\\kdr4tose";
  RecordingView view;
  Services services{reg(), stick, world_->profiles(), 260};
  services.user_state_folder = user;
  CMigrateDlg dlg(services, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  ASSERT_FALSE(view.messages.empty());
  // Where the backup went is told once, then each edition's own message.
  EXPECT_EQ(Messages(kAllMigrated.begin(), kAllMigrated.end()),
            Messages(view.messages.begin() + 1, view.messages.end()));
  EXPECT_NE(std::string::npos, view.messages[0].find(user + "\\backup\\")) << view.messages[0];
  EXPECT_EQ(0, dlg.last_run().failed);
  EXPECT_EQ(user + "\\" + std::string(kWorkLogName), dlg.log_file());
  EXPECT_NE(std::string::npos, fs().ReadFile(dlg.log_file()).value_or("").find("#\tmigrate, "));
  EXPECT_EQ(log_before, fs().ReadFile(LogPath()).value_or(""));
  // Undo finds the backup there, and logs beside it.
  UndoResult result = UndoLastMigrate(services, paths(), "", false, nullptr);
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_NE(std::string::npos, fs().ReadFile(dlg.log_file()).value_or("").find("undo of backup"));
  EXPECT_EQ(log_before, fs().ReadFile(LogPath()).value_or(""));
  EXPECT_EQ(branch, Branch());
  EXPECT_EQ(data, Data());
}

// The new product's two data paths naming one folder: both log folders land in its "log". The
// second copy would replace the first's file; it is refused and told, and undo takes the rest
// back whole.
TEST_P(StoreFlowTest, TwoFoldersWritingTheSameFileAreNotCopiedOverEachOther) {
  Put(base_ + "\\old\\pb\\log\\p.log", "public log");
  Run(true);
  SetString(reg(), RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Personal\\Server", "PUB_PATH",
            base_ + "\\se\\pp\\");
  const auto data = Data();
  Messages told = Run(false);
  ASSERT_EQ(3u, told.size());
  EXPECT_EQ(NotCopiedMessage("Kodrel Personal", false, 0, 1, Cp932ForDisplay(dlg_->log_file())),
            told[0]);
  EXPECT_TRUE(HasEdition(dlg_->last_run().failed, Edition::kPersonal));
  EXPECT_EQ("personal log", fs().ReadFile(base_ + "\\se\\pp\\log\\p.log"));
  EXPECT_EQ("personal d", fs().ReadFile(base_ + "\\se\\pp\\DDBDAT\\d.dat"));
  UndoResult result = Undo("", false);
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_EQ(data, Data());
}

// Backups are ordered by their number, not by their names (times): three Migrates with the
// clock moved back before each are taken back newest first, and the value the user set between
// the first two survives.
TEST_P(StoreFlowTest, UndoTakesBackTheLastMigrateAfterTheClockWasMovedBack) {
  static int run = 0;
  run = 0;
  Run(true);
  RecordingView view;
  Services services{reg(), fs(), world_->profiles(), 260};
  services.clock = [] {
    const char* names[] = {"20300101-000000", "20200101-000000", "20100101-000000"};
    return StoreTime{"2000-01-01T00:00:00+09:00", names[run++ % 3]};
  };
  CMigrateDlg dlg(services, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  const std::string key = "Software\\VTQ\\KodrelSE\\Client\\Client";
  auto host = [&] {
    RegistryKeyPtr opened;
    uint32_t type = 0;
    std::string value;
    if (reg().OpenKey(RootKey::kCurrentUser, key, kKeyQueryValue, &opened) != kOk ||
        opened->QueryValue("Host", &type, &value) != kOk) {
      return std::string("<none>");
    }
    return value.substr(0, value.find('\0'));
  };
  dlg.OnMigrate();
  SetString(reg(), RootKey::kCurrentUser, key, "Host", "mine");
  dlg.OnMigrate();
  dlg.OnMigrate();
  std::vector<BackupInfo> backups = ListBackups(fs(), BackupPlacesFor(paths(), ""));
  ASSERT_EQ(3u, backups.size());
  EXPECT_EQ("20100101-000000", backups.back().name);
  // The first backup cannot be taken back while the later ones of the same editions stand.
  UndoResult early = Undo("20300101-000000", false);
  EXPECT_NE(std::string::npos, early.error.find("20200101-000000")) << early.error;
  EXPECT_EQ("srv:01", host());
  EXPECT_TRUE(Undo("", false).complete());
  EXPECT_TRUE(Undo("", false).complete());
  EXPECT_EQ("mine", host());
  // The first Migrate's value is the user's now: refused, not restored, unless forced.
  EXPECT_FALSE(Undo("", false).complete());
  EXPECT_EQ("mine", host());
}

TEST_P(StoreFlowTest, AnImportThatReadsMoreThanItsPlanWritesNothingUnrecorded) {
  const auto branch = Branch();
  Run(true);
  UnheldProfiles profiles(world_->profiles(), /*first_list_empty=*/true);
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), fs(), profiles, 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_EQ((Messages{SettingsChangedMessage(Edition::kPersonal, LogPath()),
                      std::string(MigratedMessage(Edition::kClient)),
                      std::string(MigratedMessage(Edition::kServer))}),
            view.messages);
  EXPECT_EQ(EditionWeight(Edition::kPersonal), dlg.last_run().failed);
  UndoResult result = Undo("", false);
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_EQ(branch, Branch());
}

// A value set twice by its settings file: the first write is as planned as the last, and a
// value whose last data the new product already holds is still in the backup, since a run
// stopped between the two writes would leave the first.
TEST_P(StoreFlowTest, AValueSetTwiceIsMigratedAndBackedUpEvenWhenItEndsUnchanged) {
  const auto branch = Branch();
  Run(true);
  const std::string settings = paths().SettingsFile(Edition::kClient);
  std::string text = fs().ReadFile(settings).value_or("");
  size_t host = text.find("Host=1:srv:01\r\n");
  ASSERT_NE(std::string::npos, host);
  text.replace(host, 13, "Host=1:interim\r\nHost=1:before");
  // The same key again, named in other case.
  text += "[Software\\VTQ\\Kodrel\\CLIENT\\client]\r\nExtra=1:e\r\n";
  ASSERT_TRUE(fs().WriteFileAtomically(settings, text));
  ASSERT_TRUE(
      fs().RemoveFile(paths().Folder(Edition::kClient) + "\\" + std::string(kManifestName)));
  EXPECT_EQ(kAllMigrated, Run(false));
  UndoResult result = Undo("", false);
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_EQ(branch, Branch());
  EXPECT_EQ(1, std::count_if(items_.begin(), items_.end(), [](const UndoItem& item) {
              return UndoItemText(item).ends_with("\\Client\\Client\\Host");
            }));
}

TEST_P(StoreFlowTest, UndoRefusesExactlyWhatChangedSinceAndForceRestoresIt) {
  const auto branch = Branch();
  const auto data = Data();
  Run(true);
  Run(false);
  const std::string key = "Software\\VTQ\\KodrelSE\\Client\\Client";
  SetString(reg(), RootKey::kCurrentUser, key, "Host", "changed by the user");
  ASSERT_TRUE(fs().WriteFileAtomically(base_ + "\\se\\cp\\DDBVID\\c.dat", "edited later"));

  UndoResult result = Undo("", false);
  EXPECT_FALSE(result.complete());
  std::vector<std::string> refused;
  for (const UndoItem& item : items_) {
    if (item.outcome == UndoOutcome::kRefused) refused.push_back(UndoItemText(item));
    EXPECT_NE(UndoOutcome::kFailed, item.outcome)
        << UndoItemText(item) << ": " << UndoReasonText(item);
  }
  EXPECT_EQ((std::vector<std::string>{"value HKCU\\" + key + "\\Host",
                                      "file " + base_ + "\\se\\cp\\DDBVID\\c.dat"}),
            refused);
  EXPECT_EQ(2u, result.Count(UndoOutcome::kRefused));
  EXPECT_EQ("edited later", fs().ReadFile(base_ + "\\se\\cp\\DDBVID\\c.dat"));
  EXPECT_FALSE(ListBackups(fs(), BackupPlacesFor(paths(), ""))[0].undone);

  result = Undo(result.backup, true);
  EXPECT_TRUE(result.complete());
  EXPECT_EQ(branch, Branch());
  EXPECT_EQ(data, Data());
}

TEST_P(StoreFlowTest, UndoAfterASecondMigrateTakesBackOneMigrateEachTime) {
  const auto branch = Branch();
  const auto data = Data();
  Run(true);
  EXPECT_EQ(kAllMigrated, Run(false));
  const auto first_branch = Branch();
  const auto first_data = Data();
  EXPECT_EQ(kAllMigrated, Run(false));
  ASSERT_EQ(2u, ListBackups(fs(), BackupPlacesFor(paths(), "")).size());

  // The second Migrate found everything as the first left it; undoing it changes nothing, and
  // the next undo takes back the first.
  UndoResult second = Undo("", false);
  EXPECT_TRUE(second.complete()) << second.error;
  EXPECT_EQ(first_branch, Branch());
  EXPECT_EQ(first_data, Data());
  UndoResult first = Undo("", false);
  EXPECT_TRUE(first.complete()) << first.error;
  EXPECT_NE(second.backup, first.backup);
  EXPECT_EQ(branch, Branch());
  EXPECT_EQ(data, Data());
  // With every backup undone there is nothing left to take back by default.
  EXPECT_NE(std::string::npos, Undo("", false).error.find("undone"));
}

// Metadata a copy does not give a file: read-only (and hidden, where files have attributes)
// and a time of 2001. Returns it as the file now has it.
FileMetadata GiveOddMetadata(FileSystem& files, const std::string& path) {
  FileMetadata metadata;
  EXPECT_TRUE(files.GetMetadata(path, &metadata)) << path;
  if (metadata.kind == FileMetadata::Kind::kWindows) {
    metadata.attributes |= 0x3;
  } else {
    metadata.mode = 0440;
  }
  metadata.modified_ns = 981173106000000000;
  unsigned not_set = 0;
  EXPECT_TRUE(files.SetMetadata(path, metadata, &not_set)) << path;
  EXPECT_TRUE(files.GetMetadata(path, &metadata)) << path;
  return metadata;
}

// A file the Migrate replaces gets back what it had besides its bytes, and a read-only file
// the Migrate added goes; a second undo by name finds everything as before.
TEST_P(StoreFlowTest, UndoGivesReplacedFilesTheirMetadataBackAndRemovesReadOnlyOnes) {
  const std::string replaced = base_ + "\\se\\cp\\DDBVID\\c.dat";
  const FileMetadata before = GiveOddMetadata(fs(), replaced);
  Put(base_ + "\\old\\cp\\DDBVID\\ro.dat", "read-only");
  GiveOddMetadata(fs(), base_ + "\\old\\cp\\DDBVID\\ro.dat");
  const auto data = Data();
  Run(true);
  EXPECT_EQ(kAllMigrated, Run(false));
  ASSERT_EQ("client c", fs().ReadFile(replaced));
  FileMetadata migrated;
  ASSERT_TRUE(fs().GetMetadata(replaced, &migrated));
  ASSERT_NE(before, migrated);

  UndoResult result = Undo("", false);
  for (const UndoItem& item : items_) EXPECT_EQ("", UndoReasonText(item)) << UndoItemText(item);
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_EQ(data, Data());
  FileMetadata after;
  ASSERT_TRUE(fs().GetMetadata(replaced, &after));
  EXPECT_EQ(before, after);
  EXPECT_FALSE(fs().Exists(base_ + "\\se\\cp\\DDBVID\\ro.dat"));

  result = Undo(result.backup, false);
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_EQ(result.Total(), result.Count(UndoOutcome::kAlreadyAsBefore));
}

// A file system that cannot give a file its owner, as for a process that is not root: each
// file keeps another owner than the one asked for.
class NoOwnerGiven : public FaultyFileSystem {
 public:
  explicit NoOwnerGiven(FileSystem& inner) : FaultyFileSystem(inner, plan_) {}
  FileResult GetMetadata(std::string_view path, FileMetadata* metadata) override {
    FileResult got = FaultyFileSystem::GetMetadata(path, metadata);
    metadata->owner ^= 1;
    return got;
  }
  FileResult SetMetadata(std::string_view path, const FileMetadata& metadata,
                         unsigned* not_set) override {
    FileResult set = FaultyFileSystem::SetMetadata(path, metadata, not_set);
    *not_set |= kMetadataOwner;
    return set ? FileResult::Fail(kAccessDenied, "SetFileSecurity", path) : set;
  }

 private:
  FaultPlan plan_;  // fails nothing
};

// Metadata that cannot be given back does not fail the restored file, but the undo says which
// file and what, and never that everything is as before; an undo by name tries again.
TEST_P(StoreFlowTest, MetadataNotGivenBackIsNamedAndTheUndoIsNotCalledComplete) {
  const std::string replaced = base_ + "\\se\\cp\\DDBVID\\c.dat";
  GiveOddMetadata(fs(), replaced);
  const auto data = Data();
  Run(true);
  EXPECT_EQ(kAllMigrated, Run(false));
  NoOwnerGiven files(fs());
  std::vector<UndoItem> items;
  auto undo = [&](std::string_view name) {
    items.clear();
    return UndoMigrate(reg(), files, BackupPlacesFor(paths(), ""), name, false,
                       MigrateUndoScope(reg(), files, paths(), 260),
                       [&](const UndoItem& item) { items.push_back(item); });
  };
  UndoResult result = undo("");
  EXPECT_FALSE(result.complete());
  EXPECT_TRUE(result.content_complete()) << result.error;
  EXPECT_EQ(1u, result.metadata_not_restored);
  EXPECT_EQ(data, Data());
  std::vector<std::string> told;
  for (const UndoItem& item : items) {
    if (!UndoReasonText(item).empty())
      told.push_back(UndoItemText(item) + ": " + UndoReasonText(item));
  }
  EXPECT_EQ((std::vector<std::string>{"file " + replaced +
                                      ": its owner could not be restored (SetFileSecurity: " +
                                      DescribeCode(kAccessDenied) + ")"}),
            told);
  EXPECT_TRUE(ListBackups(fs(), BackupPlacesFor(paths(), ""))[0].undone);
  // Again by name: the content is as before, the owner still cannot be given.
  result = undo(result.backup);
  EXPECT_EQ(1u, result.metadata_not_restored);
  EXPECT_FALSE(result.complete());
}

// A Migrate stopped while the shell copy wrote a file in place (its window ended by force): the
// journal lacks the line that ends the edition's writes, and the file is cut short. The next
// start says so; undo takes it all back without force, or a second Migrate repairs it and its
// backup keeps what the user had, never the cut file.
TEST_P(StoreFlowTest, AMigrateStoppedInItsWritesIsToldAndTakenBackWhole) {
  const std::string replaced = base_ + "\\se\\sp\\DDBDAT\\s.dat";
  Put(replaced, "the new product's own s");
  // One the stopped Migrate made, beside the one it was writing.
  Put(base_ + "\\old\\sp\\DDBDAT\\t.dat", "server t");
  const auto branch = Branch();
  const auto data = Data();
  for (bool migrate_again : {false, true}) {
    SCOPED_TRACE(migrate_again ? "migrate again, then undo both" : "undo");
    Run(true);
    EXPECT_EQ(kAllMigrated, Run(false));
    const std::string journal =
        paths().root + "\\backup\\" + dlg_->last_run().backup_name + "\\kdr4tose.undo";
    std::string text = fs().ReadFile(journal).value_or("");
    const std::string last = FormatJournalWritten(Edition::kServer);
    ASSERT_TRUE(text.ends_with(last));
    ASSERT_TRUE(fs().WriteFileAtomically(journal, text.substr(0, text.size() - last.size())));
    ASSERT_TRUE(fs().WriteFileAtomically(replaced, "serv"));
    // What a copy ended by force leaves: its temporary folder, in a destination folder that was
    // there before and in one the Migrate made.
    const std::string ended = TempFileName(2147483632, 1);
    const std::vector<std::string> leftovers = {base_ + "\\se\\cp\\DDBVID\\" + ended,
                                                base_ + "\\se\\pp\\log\\" + ended};
    for (const std::string& leftover : leftovers) Put(leftover + "\\sub\\c.dat", "cli");

    view_.messages.clear();
    dlg_->TellUnfinishedMigrate();
    EXPECT_EQ(Messages{std::string(kUnfinishedMigrateMessage)}, view_.messages);
    if (migrate_again) {
      EXPECT_EQ(kAllMigrated, Run(false));
      // What the stopped one wrote as the store has it is not written again (all 8 data files
      // but the cut one; where a copy cannot leave single files, but the two of its folder),
      // yet the backup still takes it back.
      EXPECT_EQ(fs().CopyCanKeepFiles() ? 7u : 6u, KeptInLastRun("migrate Personal"));
      // Nor are their store files read where the record proves them (t.dat's among them), but
      // for those of a folder copied again whole.
      const std::string log = fs().ReadFile(LogPath()).value_or("");
      const std::string server = log.substr(log.rfind("store of Server checked"));
      EXPECT_EQ(fs().CopyCanKeepFiles(),
                server.starts_with("store of Server checked: whole, 3 file(s) as collected (1 "))
          << server.substr(0, server.find('\n'));
      view_.messages.clear();
      dlg_->TellUnfinishedMigrate();
      EXPECT_EQ(Messages{}, view_.messages);
      EXPECT_TRUE(Undo("", false).complete());
    }
    UndoResult result = Undo("", false);
    for (const UndoItem& item : items_) {
      EXPECT_TRUE(item.outcome != UndoOutcome::kRefused && item.outcome != UndoOutcome::kFailed)
          << UndoItemText(item) << ": " << UndoReasonText(item);
    }
    EXPECT_TRUE(result.complete()) << result.error;
    EXPECT_EQ(branch, Branch());
    EXPECT_EQ(data, Data());
    for (const std::string& leftover : leftovers) EXPECT_FALSE(fs().Exists(leftover)) << leftover;
    EXPECT_FALSE(fs().Exists(base_ + "\\se\\pp"));
    view_.messages.clear();
    dlg_->TellUnfinishedMigrate();
    EXPECT_EQ(Messages{}, view_.messages);
  }
}

TEST_P(StoreFlowTest, UndoOfAnUnknownBackupSaysSo) {
  UndoResult none = Undo("", false);
  EXPECT_FALSE(none.complete());
  EXPECT_NE(std::string::npos, none.error.find("no backup"));
  Run(true);
  Run(false);
  UndoResult wrong = Undo("19990101-000000", false);
  EXPECT_NE(std::string::npos, wrong.error.find("no backup 19990101-000000"));
  EXPECT_TRUE(items_.empty());
  EXPECT_EQ(0u, wrong.Total());
}

// A journal of megabytes is read in pieces and checked whole before anything is undone: one
// malformed line near its end leaves even its first item alone; whole, every item of it is
// handed over once, wherever the pieces were cut.
TEST_P(StoreFlowTest, UndoChecksALargeJournalWholeBeforeUndoingAnyOfIt) {
  Run(true);
  Run(false);
  const std::string key = "Software\\VTQ\\KodrelSE\\Client\\\x95\x5c";
  EditionPlan plan;
  plan.edition = Edition::kClient;
  plan.keys_created = {key};
  plan.values.Add(PlannedValueRef{key, "first", false, 0, "", 3, "written"});
  const size_t kValues = 3000;  // about 4 MB of journal
  for (size_t i = 1; i < kValues; ++i) {
    plan.values.Add(PlannedValueRef{key, "v" + std::to_string(i), false, 0, "", 1,
                                    std::string(600, static_cast<char>('a' + i % 26))});
  }
  size_t lines = 0;
  std::string journal = FormatJournalStart("2099-01-01T00:00:00Z", &lines);
  ASSERT_TRUE(AppendJournalEdition(plan, {}, &lines, &journal));
  ASSERT_GT(journal.size(), 3u << 20);
  const std::string path = paths().root + "\\backup\\20990101-000000\\kdr4tose.undo";
  Put(paths().root + "\\backup\\20990101-000000\\" + std::string(kSequenceName), "99\n");
  SetRaw(reg(), RootKey::kCurrentUser, key, "first", 3, "written");

  std::string damaged = journal;
  size_t last_value = damaged.rfind("\nvalue\t");
  damaged.replace(last_value + 1, 5, "valuE");
  Put(path, damaged);
  UndoResult refused = Undo("20990101-000000", false);
  EXPECT_NE(std::string::npos, refused.error.find("damaged: line " + std::to_string(kValues + 4)))
      << refused.error;
  EXPECT_TRUE(items_.empty());
  EXPECT_EQ(2u, DumpTree(reg(), RootKey::kCurrentUser, key).size());  // the key and its value

  Put(path, journal);
  UndoResult result = Undo("20990101-000000", false);
  EXPECT_TRUE(result.complete()) << result.error;
  EXPECT_EQ(2u, result.Count(UndoOutcome::kRemoved));  // the value, then its key
  EXPECT_EQ(kValues - 1, result.Count(UndoOutcome::kAlreadyAsBefore));
  EXPECT_EQ(kValues + 1, items_.size());
  EXPECT_TRUE(DumpTree(reg(), RootKey::kCurrentUser, key).empty());
}

// The journal lies in the work folder, which travels on USB sticks: whatever it names outside the
// new product's branch and data folders is never touched, not even when forced.
TEST_P(StoreFlowTest, UndoNeverTouchesAnythingOutsideWhatAMigrateWrites) {
  Run(true);
  Run(false);
  const std::string old_file = base_ + "\\old\\cp\\DDBVID\\c.dat";
  const std::string se_data = base_ + "\\se\\cp\\DDBVID";
  ASSERT_TRUE(fs().MakeSurePathExists(base_ + "\\old\\empty\\"));
  MakeKey(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Empty");
  const auto old_branch = DumpTree(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel");

  EditionPlan plan;
  plan.edition = Edition::kClient;
  plan.keys_created = {"Software\\VTQ\\Kodrel\\Client\\Empty", "Software\\VTQ\\KodrelSEX"};
  plan.values.Add(
      PlannedValueRef{"Software\\VTQ\\Kodrel\\Client\\Client", "Host", false, 0, "", 1, "srv:01"});
  plan.folders_created = {base_ + "\\old\\empty"};
  std::vector<JournalFile> files;
  for (const std::string& path :
       {old_file, se_data + "\\..\\..\\..\\old\\cp\\DDBVID\\c.dat",
        se_data + "\\x/../../../../old/cp/DDBVID/c.dat", se_data + "X\\c.dat", se_data}) {
    files.push_back(JournalFile{PlannedFile{"s", path, false, 0, {8, HashBytes("client c")}, {}},
                                "", FileDigest{}});
  }
  size_t lines = 0;
  std::string journal = FormatJournalStart("2099-01-01T00:00:00Z", &lines);
  ASSERT_TRUE(AppendJournalEdition(plan, files, &lines, &journal));
  Put(paths().root + "\\backup\\20990101-000000\\kdr4tose.undo", journal);
  Put(paths().root + "\\backup\\20990101-000000\\" + std::string(kSequenceName), "99\n");

  UndoResult result = Undo("", /*force=*/true);
  EXPECT_EQ("20990101-000000", result.backup);
  EXPECT_EQ(9u, items_.size());
  EXPECT_EQ(9u, result.Count(UndoOutcome::kRefused));
  for (const UndoItem& item : items_) {
    EXPECT_EQ(UndoOutcome::kRefused, item.outcome) << UndoItemText(item);
    EXPECT_NE(std::string::npos, UndoReasonText(item).find("outside what a Migrate writes"))
        << UndoItemText(item);
  }
  EXPECT_EQ("client c", fs().ReadFile(old_file));
  EXPECT_TRUE(fs().IsFolder(base_ + "\\old\\empty\\"));
  EXPECT_EQ(old_branch, DumpTree(reg(), RootKey::kCurrentUser, "Software\\VTQ\\Kodrel"));
  // The real backup still undoes whole (forced past the later one, which was refused).
  EXPECT_TRUE(Undo(dlg_->last_run().backup_name, true).complete());
}

// Whether the platform's folder copy asks about a file already at the destination (the Win32
// shell copy takes the whole folder, and asks about none).
bool CopyAsksAboutExistingFiles(FileSystem& files, const std::string& folder) {
  struct Probe : CopyObserver {
    void FileCopied(std::string_view, uint64_t) override {}
    void CopyFailed(std::string_view, const FileResult&) override {}
    bool KeepsExisting(std::string_view, std::string_view, const CopyPairStamps&) override {
      asked = true;
      return false;
    }
    bool asked = false;
  } probe;
  const std::string file = folder + "\\from\\a.dat";
  if (!files.MakeSurePathExists(file) || !files.WriteFileAtomically(file, "a")) return false;
  for (int i = 0; i < 2; ++i) {
    if (!files.CopyFolder(folder + "\\to\\", folder + "\\from\\", nullptr, &probe)) return false;
  }
  return probe.asked;
}

// Collecting again copies only what changed: a store file still as its source is kept when the
// platform's stamps can prove it (they hold a change time) and its copy asks, and the store ends
// as a full Collect leaves it. A source or a store file given other bytes of the same size and
// time is copied.
TEST_P(StoreFlowTest, CollectAgainCopiesOnlyWhatChanged) {
  const std::string source = base_ + "\\old\\cp\\DDBVID\\c.dat";
  const std::string stored = paths().Folder(Edition::kClient) + "\\DDBVID\\c.dat";
  const std::string manifest = paths().Folder(Edition::kClient) + "\\" + std::string(kManifestName);
  auto without_time = [&] {
    std::string text = fs().ReadFile(manifest).value_or("");
    size_t at = text.find("\ntime\t");
    return at == std::string::npos ? text : text.erase(at, text.find('\n', at + 1) - at);
  };
  auto kept = [&] { return KeptInLastRun("collect Personal"); };
  auto same_size_and_time = [&](const std::string& path, std::string_view content) {
    FileMetadata before;
    ASSERT_TRUE(fs().GetMetadata(path, &before));
    ASSERT_TRUE(fs().WriteFileAtomically(path, content));
    unsigned not_set = 0;
    static_cast<void>(fs().SetMetadata(path, before, &not_set));
  };
  EXPECT_EQ(kAllCollected, Run(true));
  // The file system says truly whether its copy can leave a file as it is.
  EXPECT_EQ(fs().CopyCanKeepFiles(), CopyAsksAboutExistingFiles(fs(), base_ + "\\probe"));
  const bool proves = fs().Stamp(source)->changed_ns != 0;
  const bool keeps = fs().CopyCanKeepFiles();
  const size_t all = 7;  // the data files of the three editions
  // Where a copy cannot leave single files, the changed file's folder (three files) is copied.
  const struct {
    const char* change;
    std::function<void()> make;
    size_t kept;
    size_t kept_whole;
    std::string content;
  } cases[] = {
      {"nothing", [] {}, all, all, "client c"},
      {"the source", [&] { same_size_and_time(source, "client C"); }, all - 1, all - 3, "client C"},
      {"the store file", [&] { same_size_and_time(stored, "client X"); }, all - 1, all - 3,
       "client C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    c.make();
    EXPECT_EQ(kAllCollected, Run(true));
    EXPECT_EQ(!proves ? 0 : keeps ? c.kept : c.kept_whole, kept());
    EXPECT_EQ(c.content, fs().ReadFile(stored).value_or("<unreadable>"));
    EXPECT_TRUE(CheckEdition(fs(), paths(), Edition::kClient, nullptr).whole());
    // The manifest is the one a Collect that copies everything writes.
    const std::string after_keep = without_time();
    for (Edition e : kAllEditions) static_cast<void>(fs().RemoveFile(CopyRecordPath(paths(), e)));
    EXPECT_EQ(kAllCollected, Run(true));
    EXPECT_EQ(0u, kept());
    EXPECT_EQ(without_time(), after_keep);
  }
}

// A second Migrate leaves the files the data folders hold already as the store has them: it
// neither copies nor saves them. A file the user changed in between is replaced and saved.
// Undo of each Migrate in turn gives back the state before it, the user's change kept.
TEST_P(StoreFlowTest, MigrateAgainKeepsFilesInPlaceAndUndoGivesBackEachState) {
  const std::string changed = base_ + "\\se\\cp\\DDBVID\\sub\\e.dat";
  auto kept = [&] { return KeptInLastRun("migrate Personal"); };
  auto saved = [&] {
    std::vector<std::string> names;
    const std::string folder =
        paths().root + "\\backup\\" + dlg_->last_run().backup_name + "\\files\\";
    return fs().ListFiles(folder, &names) ? names.size() : 0;
  };
  Run(true);
  const auto before_first = Data();
  ASSERT_EQ(kAllMigrated, Run(false));
  const auto after_first = Data();
  EXPECT_EQ(0u, kept());
  EXPECT_EQ(1u, saved());  // the new product's own c.dat
  ASSERT_TRUE(fs().WriteFileAtomically(changed, "client E"));
  auto before_second = Data();
  ASSERT_EQ(kAllMigrated, Run(false));
  // All 7 data files but the one changed, where the copy can leave files as they are; else all
  // but the three of its folder, which is copied again whole, each of them saved.
  const bool keeps = fs().CopyCanKeepFiles();
  EXPECT_EQ(keeps ? 6u : 4u, kept());
  EXPECT_EQ(keeps ? 1u : 3u, saved());
  EXPECT_EQ(after_first, Data());
  EXPECT_TRUE(Undo("", false).complete());
  EXPECT_EQ(before_second, Data());
  // The user's own change to a file the first Migrate made stays: undo removes only its own.
  Undo("", false);
  auto expected = before_first;
  expected["cp\\DDBVID\\sub\\e.dat"] = "client E";
  EXPECT_EQ(expected, Data());
}

// Migrating again after a Migrate that finished keeps what that one placed, by its record
// when the stamps prove it; a data file given other bytes of the same size, its time put back,
// is replaced by the store's.
TEST_P(StoreFlowTest, MigrateAgainReplacesAFileChangedWithItsSizeAndTimePutBack) {
  const std::string placed = base_ + "\\se\\cp\\DDBVID\\sub\\e.dat";
  const std::string stored = paths().Folder(Edition::kClient) + "\\DDBVID\\sub\\e.dat";
  auto same_size_and_time = [&](const std::string& path) {
    FileMetadata before;
    ASSERT_TRUE(fs().GetMetadata(path, &before));
    std::string other = fs().ReadFile(path).value_or("");
    ASSERT_FALSE(other.empty());
    other[0] ^= 1;
    ASSERT_TRUE(fs().WriteFileAtomically(path, other));
    unsigned not_set = 0;
    static_cast<void>(fs().SetMetadata(path, before, &not_set));
  };
  ASSERT_EQ(kAllCollected, Run(true));
  ASSERT_EQ(kAllMigrated, Run(false));
  ASSERT_EQ(kAllMigrated, Run(false));
  const bool keeps = fs().CopyCanKeepFiles();
  const size_t all = 7;  // the data files of the three editions
  // Where a copy cannot leave single files, the changed file's folder (three files) is copied.
  const struct {
    const char* change;
    std::function<void()> make;
    size_t kept;
    size_t kept_whole;
  } cases[] = {
      {"nothing", [] {}, all, all},
      {"a placed file, size and time put back", [&] { same_size_and_time(placed); }, all - 1,
       all - 3},
      {"the record removed",
       [&] {
         for (Edition e : kAllEditions) {
           static_cast<void>(fs().RemoveFile(MigrateRecordPath(BackupRoot(paths()), e)));
         }
       },
       all, all},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    c.make();
    ASSERT_EQ(kAllMigrated, Run(false));
    EXPECT_EQ(keeps ? c.kept : c.kept_whole, KeptInLastRun("migrate Personal"));
    EXPECT_EQ(fs().ReadFile(stored), fs().ReadFile(placed));
  }
}

// Stamps of the paths in `frozen` stay as they were, as on a disk that changes a file's bytes
// without a write through the file system.
class FrozenStamps : public FaultyFileSystem {
 public:
  explicit FrozenStamps(FileSystem& inner) : FaultyFileSystem(inner, plan_) {}
  Result<FileStamp> Stamp(std::string_view path) override {
    auto it = frozen.find(std::string(path));
    return it != frozen.end() ? Result<FileStamp>(it->second) : FaultyFileSystem::Stamp(path);
  }
  std::map<std::string, FileStamp> frozen;

 private:
  FaultPlan plan_;
};

// Migrating again reads only the store files it copies: one whose place the record proves is
// not read (here its bytes changed unseen, and its place keeps the right ones), while one that
// is to be copied again is read before anything is written, and refuses the store.
TEST_P(StoreFlowTest, MigrateAgainReadsTheStoreFilesItCopies) {
  const std::string placed = base_ + "\\se\\cp\\DDBVID\\sub\\e.dat";
  const std::string stored = paths().Folder(Edition::kClient) + "\\DDBVID\\sub\\e.dat";
  ASSERT_EQ(kAllCollected, Run(true));
  ASSERT_EQ(kAllMigrated, Run(false));
  if (fs().Stamp(stored)->changed_ns == 0) {
    GTEST_SKIP() << "no stamps that prove a file here";
  }
  const std::string content = fs().ReadFile(stored).value_or("");
  FrozenStamps files(fs());
  files.frozen[stored] = *fs().Stamp(stored);
  std::string damaged = content;
  damaged[0] ^= 1;
  ASSERT_TRUE(fs().WriteFileAtomically(stored, damaged));
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), files, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_EQ(kAllMigrated, view.messages);
  EXPECT_EQ(content, fs().ReadFile(placed));
  // The user's own change to the placed file: it is to be replaced by the store's.
  Put(placed, "the user's e");
  view.messages.clear();
  dlg.OnMigrate();
  ASSERT_EQ(3u, view.messages.size());
  EXPECT_NE(MigratedMessage(Edition::kClient), view.messages[1]);
  EXPECT_EQ(EditionFailure::kStoreRefused, dlg.last_run().Cause(Edition::kClient));
  EXPECT_EQ(StoreState::kChanged, dlg.last_run().Store(Edition::kClient));
  EXPECT_EQ("the user's e", fs().ReadFile(placed));
}

// A Migrate again makes no copy whose every file is in place already, yet takes away what a
// copy ended by force left there; the copy of a folder with a file changed is made, and only
// that one.
TEST_P(StoreFlowTest, MigrateAgainMakesOnlyTheCopiesWithSomethingToWrite) {
  ASSERT_EQ(kAllCollected, Run(true));
  ASSERT_EQ(kAllMigrated, Run(false));
  const std::string leftover = base_ + "\\se\\pp\\DDBVID\\" + TempFileName(2147483632, 1);
  Put(leftover + "\\sub\\c.dat", "cli");
  std::vector<std::string> made;
  CopyHook hooked(fs(), [&](std::string_view source, CopyMoment when) {
    if (when == CopyMoment::kBefore) made.emplace_back(source);
  });
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), hooked, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_EQ(kAllMigrated, view.messages);
  EXPECT_EQ(std::vector<std::string>{}, made);
  EXPECT_EQ(7u, KeptInLastRun("migrate Personal"));
  EXPECT_FALSE(fs().Exists(leftover));
  Put(base_ + "\\se\\cp\\DDBVID\\sub\\e.dat", "the user's e");
  view.messages.clear();
  dlg.OnMigrate();
  EXPECT_EQ(kAllMigrated, view.messages);
  EXPECT_EQ(std::vector<std::string>{paths().Folder(Edition::kClient) + "\\DDBVID\\"}, made);
  EXPECT_EQ(fs().ReadFile(paths().Folder(Edition::kClient) + "\\DDBVID\\sub\\e.dat"),
            fs().ReadFile(base_ + "\\se\\cp\\DDBVID\\sub\\e.dat"));
}

// A file found in place that changes before its copy's turn is neither told kept nor written
// over: it is not in the backup.
TEST_P(StoreFlowTest, AFileChangedAfterItWasFoundInPlaceIsNotCopiedOver) {
  ASSERT_EQ(kAllCollected, Run(true));
  ASSERT_EQ(kAllMigrated, Run(false));
  const std::string placed = base_ + "\\se\\cp\\DDBVID\\sub\\e.dat";
  // Asked of the Client's store once its plan has found the files in place, before anything is
  // written.
  class ChangedOnLook : public FaultyFileSystem {
   public:
    ChangedOnLook(FileSystem& inner, std::string store, std::string path)
        : FaultyFileSystem(inner, plan_), inner_(inner), store_(store), path_(std::move(path)) {}
    bool HoldsOnlyFilesAndFolders(std::string_view folder) override {
      if (folder.starts_with(store_) && !path_.empty()) {
        static_cast<void>(inner_.WriteFileAtomically(path_, "the user's e"));
        path_.clear();
      }
      return inner_.HoldsOnlyFilesAndFolders(folder);
    }

   private:
    FaultPlan plan_;
    FileSystem& inner_;
    std::string store_;
    std::string path_;
  } files(fs(), paths().Folder(Edition::kClient), placed);
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), files, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_EQ(EditionFailure::kFilesNotCopied, dlg.last_run().Cause(Edition::kClient));
  EXPECT_EQ("the user's e", fs().ReadFile(placed));
}

// A Migrate puts each file it placed on record as its read-back proves it, not once the whole
// folder is checked: a Migrate ended by force then leaves on record what it placed, and the
// next one need not read it again.
TEST_P(StoreFlowTest, AMigratePutsItsCopiesOnRecordAsTheyAreProven) {
  ASSERT_EQ(kAllCollected, Run(true));
  const std::string record = MigrateRecordPath(BackupPlacesFor(paths(), "").work, Edition::kClient);
  const std::string store = paths().Folder(Edition::kClient) + "\\DDBVID\\";
  std::optional<size_t> lines_when_copied;
  CopyHook hooked(fs(), [&](std::string_view source, CopyMoment when) {
    if (!source.starts_with(store)) return;
    // Long enough between two files for the record to be written out.
    if (when == CopyMoment::kFileDone) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    if (when == CopyMoment::kAfter && !lines_when_copied) {
      const std::string text = fs().ReadFile(record).value_or("");
      lines_when_copied = std::count(text.begin(), text.end(), '\n');
    }
  });
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), hooked, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  dlg.OnMigrate();
  EXPECT_EQ(kAllMigrated, view.messages);
  // Its header and at least the first file: the last is proven as the folder's copy ends.
  EXPECT_LE(2u, lines_when_copied.value_or(0));
}

// Counts the opens of backup journals.
class CountedJournalReads : public FaultyFileSystem {
 public:
  explicit CountedJournalReads(FileSystem& inner) : FaultyFileSystem(inner, plan_) {}
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override {
    if (path.ends_with(kJournalName)) ++reads;
    return FaultyFileSystem::OpenForReading(path);
  }
  size_t reads = 0;

 private:
  FaultPlan plan_;
};

// A Migrate reads the journals of earlier ones only as far back as it needs: backups pile up
// run after run, and a run must not grow slower with each one before it.
TEST_P(StoreFlowTest, MigrateReadsAsManyJournalsAfterManyMigrates) {
  ASSERT_EQ(kAllCollected, Run(true));
  CountedJournalReads files(fs());
  RecordingView view;
  CMigrateDlg dlg(Services{reg(), files, world_->profiles(), 260}, view);
  ASSERT_TRUE(dlg.InitWorkPaths(base_ + "\\tool\\kdr4tose.exe"));
  std::vector<size_t> reads;
  for (int i = 0; i < 5; ++i) {
    files.reads = 0;
    view.messages.clear();
    dlg.OnMigrate();
    ASSERT_EQ(kAllMigrated, view.messages);
    reads.push_back(files.reads);
  }
  EXPECT_EQ(reads[1], reads[4]);
}

// Stamps that record no change time prove nothing. FaultyFileSystem's stamps, as set here.
class StampedFiles : public FaultyFileSystem {
 public:
  explicit StampedFiles(FileSystem& inner) : FaultyFileSystem(inner, plan_) {}
  Result<FileStamp> Stamp(std::string_view path) override {
    auto it = stamps.find(std::string(path));
    if (it == stamps.end()) return FileResult::Fail(kNotFound, "CreateFile", path);
    return it->second;
  }
  std::map<std::string, FileStamp> stamps;

 private:
  FaultPlan plan_;
};

// A store file is kept only when both stamps are the recorded ones, change time included; the
// record is read back by the next run once flushed, and a line cut short is passed over.
TEST_P(StoreFlowTest, CopyRecordKeepsOnlyWhatBothStampsProve) {
  StampedFiles files(fs());
  const std::string from = base_ + "\\old\\a.dat";
  const std::string to = paths().Folder(Edition::kClient) + "\\DDBVID\\a.dat";
  const FileStamp source{5, 100, 7, 200};
  const FileStamp copy{5, 100, 8, 300};
  const FileDigest digest{5, HashBytes("abcde")};
  auto moved = [](FileStamp stamp, int64_t FileStamp::*field) {
    stamp.*field += 1;
    return stamp;
  };
  const struct {
    const char* name;
    FileStamp source_now, copy_now;
    bool kept;
  } cases[] = {
      {"both as recorded", source, copy, true},
      {"the source's change time moved", moved(source, &FileStamp::changed_ns), copy, false},
      {"the source's time moved", moved(source, &FileStamp::modified_ns), copy, false},
      {"the source is another file", {5, 100, 9, 200}, copy, false},
      {"the source's size differs", {6, 100, 7, 200}, copy, false},
      {"the copy's change time moved", source, moved(copy, &FileStamp::changed_ns), false},
  };
  ASSERT_TRUE(fs().MakeSurePathExists(CopyRecordPath(paths(), Edition::kClient)));
  {
    CopyRecord record(files, paths(), Edition::kClient);
    record.Proven(from, to, digest, source, copy);
    record.Proven(from, to + "x", digest, {5, 100, 7, 0}, copy);  // proves nothing
    ASSERT_TRUE(record.Flush());
  }
  ASSERT_TRUE(fs().AppendToFile(CopyRecordPath(paths(), Edition::kClient), "6162\t5\t"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files.stamps = {{from, c.source_now}, {to, c.copy_now}, {to + "x", copy}};
    CopyRecord record(files, paths(), Edition::kClient);
    record.Load();
    FileDigest got;
    FileResult refused;
    EXPECT_EQ(c.kept, record.Keeps(from, to, {}, &got, &refused));
    if (c.kept) {
      EXPECT_EQ(digest, got);
    }
    EXPECT_FALSE(record.Keeps(from, to + "x", {}, &got, &refused));
    // The stamps the copy took as it came to the files decide, not ones taken again.
    files.stamps.clear();
    EXPECT_EQ(c.kept, record.Keeps(from, to, {c.source_now, c.copy_now}, &got, &refused));
  }
}

// A Collect stopped (killed) midway keeps what was proven more than a moment before: the
// record reaches the disk as it goes, not only in a Flush at the end. Files are copied by the
// thousand each second, so a second's worth lost would be half a run to copy again.
TEST_P(StoreFlowTest, CopyRecordIsOnTheDiskSoonAfterAFileIsProven) {
  StampedFiles files(fs());
  const std::string folder = paths().Folder(Edition::kClient) + "\\DDBVID\\";
  const FileStamp stamp{5, 100, 7, 200};
  const FileDigest digest{5, HashBytes("abcde")};
  files.stamps = {{"a", stamp}, {"b", stamp}, {folder + "a", stamp}, {folder + "b", stamp}};
  ASSERT_TRUE(fs().MakeSurePathExists(CopyRecordPath(paths(), Edition::kClient)));
  CopyRecord running(files, paths(), Edition::kClient);
  running.Proven("a", folder + "a", digest, stamp, stamp);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  running.Proven("b", folder + "b", digest, stamp, stamp);
  // Read while the first run still holds what it did not write, as after a kill.
  CopyRecord next(files, paths(), Edition::kClient);
  next.Load();
  FileDigest got;
  FileResult refused;
  EXPECT_TRUE(next.Keeps("a", folder + "a", {}, &got, &refused));
}

INSTANTIATE_TEST_SUITE_P(Worlds, StoreFlowTest, ::testing::ValuesIn(FlowWorldFactories()));

}  // namespace
}  // namespace kdr::testing
