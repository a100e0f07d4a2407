// Every call to the services that can fail is made to fail in turn, once per run, during a
// Collect and a Migrate of all three editions: the tool neither crashes nor hangs, shows the
// messages its failure rules call for, leaves the old product's registry branch, its data
// folders and (on Migrate) the work tree exactly as they were, and every settings file is its
// previous or its new version, written whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "app/messages.h"
#include "app/migrate_dlg.h"
#include "core/presence.h"
#include "datafolders/data_folders.h"
#include "engine/undo_scope.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/registry_file.h"
#include "platform/portable_profile_file.h"
#include "platform/posix/portable_file_system.h"
#include "store/manifest.h"
#include "store/undo.h"
#include "tests/fault/faulty_services.h"
#include "tests/flow_world.h"
#include "tests/posix/temp_folder.h"

namespace kdr::testing {
namespace {

namespace fs = std::filesystem;

constexpr Edition kEditions[] = {Edition::kPersonal, Edition::kClient, Edition::kServer};

// Files below a host folder with their contents, by relative path.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!fs::exists(root, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string rel = fs::relative(it->path(), root).string();
    if (it->is_directory()) {
      files[rel + "/"] = "";
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      files[rel] = s.str();
    }
  }
  return files;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// Records the edition each command works on, so that a failed call can be placed.
class PhaseLog : public ActivityLog {
 public:
  explicit PhaseLog(FaultPlan& plan) : plan_(plan) {}
  // A Migrate first checks the store ("check <edition>"), then plans and saves its backup
  // ("backup <edition>"); only after the backup is written does it change anything.
  void Done(const LogText& shown) override {
    const std::string text = shown.Utf8();
    if (text.starts_with("collect ")) plan_.SetPhase(text);
    if (text.starts_with("migrate ")) plan_.SetPhase("check " + std::string(text.substr(8)));
    if (text.starts_with("store of ")) {
      plan_.SetPhase("backup " + std::string(text.substr(9, text.find(' ', 9) - 9)));
    }
    if (text.starts_with("backup of ")) {
      plan_.SetPhase("migrate " + std::string(text.substr(10, text.find(' ', 10) - 10)));
    }
  }
  void Skipped(const LogText&, const LogText&) override {}

 private:
  FaultPlan& plan_;
};

// One sample: the old product with all three editions, the new one with all three.
class World {
 public:
  World() {
    fs::create_directories(host_ / "c" / "tool");
    files_.MapDrive('C', host_ / "c");
    Seed();
  }

  void Seed() {
    for (const char* marker : {"Kodrel Personal", "Kodrel Client", "Kodrel Server",
                               "Kodrel SE Personal", "Kodrel SE Client", "Kodrel SE Server"}) {
      registry_.Create(RootKey::kLocalMachine, std::string("Software\\VTQ\\") + marker);
    }
    const std::string p = "Software\\VTQ\\Kodrel\\Personal\\";
    const std::string c = "Software\\VTQ\\Kodrel\\Client\\";
    auto str = [&](const std::string& k, const char* n, const std::string& v) {
      SetString(registry_, RootKey::kCurrentUser, k, n, v);
    };
    str(p + "AppInfo\\App1", "Name", "one");
    str(p + "AppInfo\\App1\\Sub", "DB_PASS", "secret");
    SetDword(registry_, RootKey::kCurrentUser, p + "Client\\MAX", "Rows", 100);
    str(p + "Common\\Rdb", "RDB_USER", "scott");
    str(p + "Client", "PRV_PATH", "C:\\old\\p\\prv\\");
    str(p + "Server", "PUB_PATH", "C:\\old\\p\\pub\\");
    str(c + "AppInfo", "Name", "app");
    str(c + "AppInfo\\a", "X", "a");
    str(c + "Client", "Host", "srv:01");
    str(c + "Client", "PRV_PATH", "C:\\old\\c\\prv\\");
    SetDword(registry_, RootKey::kCurrentUser, c + "Client\\Current", "Mode", 0x12345678);
    SetDword(registry_, RootKey::kCurrentUser, c + "Common", "SRVPORT", 1);
    str(c + "Common", "USER_LEVEL_", "3");
    str(c + "Common\\Rdb", "RDB_SCHEMA", "s");
    str(c + "Server", "TBL_LEVEL", "2");
    str(c + "Server", "PUB_PATH", "C:\\old\\s\\pub\\");
    str(c + "Server\\User", "U", "u");
    const std::string np = "Software\\VTQ\\KodrelSE\\Personal\\";
    const std::string nc = "Software\\VTQ\\KodrelSE\\Client\\";
    str(np + "Client", "PRV_PATH", "C:\\se\\p\\prv\\");
    str(np + "Server", "PUB_PATH", "C:\\se\\p\\pub\\");
    str(nc + "Client", "PRV_PATH", "C:\\se\\c\\prv\\");
    str(nc + "Server", "PUB_PATH", "C:\\se\\s\\pub\\");
    for (const char* f : {"p/prv/DDBVID/a.dat", "p/prv/DDBVID/sub/b.dat", "p/prv/log/x.log",
                          "p/pub/DDBDAT/d.dat", "p/pub/log/y.log", "c/prv/DDBVID/c.dat",
                          "c/prv/log/c.log", "s/pub/DDBDAT/s.dat", "s/pub/log/s.log"}) {
      fs::path file = host_ / "c" / "old" / f;
      fs::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << "data of " << f;
    }
  }

  // A change that makes the next Collect write other settings files.
  void ChangeOldSettings() {
    SetString(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App1",
              "Name", "one, changed");
    SetString(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\AppInfo", "Added",
              "new");
    SetDword(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Common", "SRVPORT",
             2);
  }

  // Runs one command through services that fail call `k` (0: none).
  std::vector<std::string> Run(bool collect, FaultPlan& plan) {
    FaultyRegistry registry(registry_, plan);
    FaultyFileSystem files(files_, plan);
    // Our profile files write through the failing file system, as in the tool.
    PortableProfileFile profiles(files);
    FaultyProfileFile faulty_profiles(profiles, plan);
    PhaseLog log(plan);
    Services services{registry, files, faulty_profiles, 4096, &log, nullptr};
    RecordingView view;
    CMigrateDlg dlg(services, view);
    if (!dlg.InitWorkPaths("C:\\tool\\kdr4tose.exe")) ADD_FAILURE() << "work paths";
    plan.SetPhase("start");
    if (collect) {
      dlg.OnCollect();
    } else {
      dlg.OnMigrate();
    }
    EXPECT_TRUE(view.exit_enabled);
    last_run = dlg.last_run();
    return view.messages;
  }

  // Takes the registry and the files of `other` (cheaper than running its commands again).
  void CopyFrom(const World& other) {
    RegistryFileSaveResult saved = SaveRegistryFile(other.registry_, RegistryFileFormat::kRegedit4);
    ASSERT_TRUE(saved.ok());
    for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser}) {
      registry_.Root(root).Clear();
    }
    ASSERT_TRUE(LoadRegistryFile(saved.bytes, &registry_).ok());
    fs::remove_all(host_ / "c");
    fs::copy(other.host_ / "c", host_ / "c", fs::copy_options::recursive);
  }

  // Undoes the newest Migrate through services that fail as `plan` says.
  UndoResult Undo(FaultPlan& plan) {
    FaultyRegistry registry(registry_, plan);
    FaultyFileSystem files(files_, plan);
    PortableProfileFile profiles(files_);
    Services services{registry, files, profiles, 4096, nullptr, nullptr};
    RecordingView view;
    CMigrateDlg dlg(services, view);
    if (!dlg.InitWorkPaths("C:\\tool\\kdr4tose.exe")) ADD_FAILURE() << "work paths";
    plan.SetPhase("undo");
    return UndoMigrate(registry, files, BackupPlacesFor(dlg.paths(), ""), "", false,
                       MigrateUndoScope(registry, files, dlg.paths(), 4096));
  }

  // The work folder's log, which each run appends to.
  std::string WorkLog() {
    std::ifstream in(host_ / "c" / "tool" / "kdr4env" / "kdr4tose.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  RunSummary last_run;

  std::string SettingsFile(Edition e) {
    const char* name = e == Edition::kPersonal ? "personal"
                       : e == Edition::kClient ? "client"
                                               : "server";
    std::ifstream in(host_ / "c" / "tool" / "kdr4env" / name / "kdr4reg.fil", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::vector<std::string> OldBranch() {
    auto lines = DumpTree(registry_, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel");
    auto machine = DumpTree(registry_, RootKey::kLocalMachine, "Software");
    lines.insert(lines.end(), machine.begin(), machine.end());
    return lines;
  }
  std::vector<std::string> NewBranch() {
    return DumpTree(registry_, RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE");
  }
  std::map<std::string, std::string> OldData() { return Snapshot(host_ / "c" / "old"); }
  // The work tree without its log, which every run adds to, the backups Migrate adds and the
  // manifests' times.
  std::map<std::string, std::string> WorkTree() {
    std::map<std::string, std::string> tree = Snapshot(host_ / "c" / "tool");
    tree.erase("kdr4env/kdr4tose.log");
    std::erase_if(tree, [](const auto& item) { return item.first.starts_with("kdr4env/backup/"); });
    for (auto& [path, content] : tree) {
      if (!path.ends_with("kdr4tose.manifest")) continue;
      size_t time = content.find("\ntime\t");
      if (time != std::string::npos) content.erase(time, content.find('\n', time + 1) - time);
    }
    return tree;
  }
  // Backup folders (the record of the files Migrates placed lies beside them).
  size_t Backups() {
    std::error_code ec;
    size_t n = 0;
    for (fs::directory_iterator it(host_ / "c" / "tool" / "kdr4env" / "backup", ec), end;
         !ec && it != end; it.increment(ec)) {
      n += it->is_directory(ec) ? 1 : 0;
    }
    return n;
  }
  std::map<std::string, std::string> NewData() { return Snapshot(host_ / "c" / "se"); }

 private:
  TempFolder temp_{"kdr-fault"};
  const fs::path& host_ = temp_.path();
  MemoryRegistry registry_;
  PortableFileSystem files_;
};

// A call's label without the time in a backup folder's name, which differs between runs.
std::string Untimed(std::string label) {
  size_t at = label.find("\\backup\\");
  for (size_t i = at == std::string::npos ? label.size() : at; i < label.size(); ++i) {
    if (label[i] >= '0' && label[i] <= '9') label[i] = '#';
  }
  return label;
}

bool InPhaseOf(const std::string& failed, const char* command, Edition e) {
  return failed.starts_with(std::string(command) + " " + std::string(EditionName(e)) + "|");
}

// The call after `failed` in the fault-free trace, or empty.
std::string NextInTrace(const std::vector<std::string>& trace, uint64_t k) {
  return k < trace.size() ? trace[k] : std::string();
}

bool IsCopy(const std::string& call) { return call.find("|copy ") != std::string::npos; }

// A copy read back for comparison: a failed read makes the copy count as not copied.
// The settings file and the whole edition folder are read only for the manifest, not a copy,
// and the record of an edition's copies is read whole, as every file read whole is.
bool IsReadBack(const std::string& call) {
  if (call.ends_with("kdr4reg.fil") || call.ends_with(".copies") || call.ends_with(".placed")) {
    return false;
  }
  for (const char* folder : {"personal\\", "client\\", "server\\"}) {
    if (call.ends_with(std::string("\\kdr4env\\") + folder)) return false;
  }
  return call.find("|list ") != std::string::npos || call.find("|readpieces ") != std::string::npos;
}

// The message for the files not copied that a failed call left, as the edition counted them.
// True when there is such a message.
bool ExpectNotCopied(World& w, const std::string& failed, const char* command, Edition e,
                     std::vector<std::string>* want) {
  if (failed.empty() || !InPhaseOf(failed, command, e)) return false;
  const bool collect = std::string_view(command) == "collect";
  const std::string product = collect ? CollectedProduct(e) : MigratedProduct(e);
  const std::string log = "C:\\tool\\kdr4env\\kdr4tose.log";
  // A copy that failed as a whole names its source folder.
  if (IsCopy(failed)) {
    want->push_back(NotCopiedMessage(product, collect, 0, 1, log));
    return true;
  }
  if (IsReadBack(failed)) {
    const auto& items = w.last_run.Copies(e).not_copied;
    const size_t folders = static_cast<size_t>(
        std::count_if(items.begin(), items.end(), [](const FailedItem& i) { return i.folder(); }));
    EXPECT_NE(0u, items.size()) << failed;
    EXPECT_TRUE(HasEdition(w.last_run.failed, e)) << failed;
    if (!items.empty()) {
      want->push_back(NotCopiedMessage(product, collect, items.size() - folders, folders, log));
    }
    return !items.empty();
  }
  return false;
}

// A copy that failed is visible: the edition failed (the console's exit code), its list of
// files not copied names the folder (the console's standard error), and the log says so.
void ExpectCopyFailureVisible(World& w, const std::string& failed, const char* command) {
  if (!IsCopy(failed)) return;
  for (Edition e : kEditions) {
    if (!InPhaseOf(failed, command, e)) continue;
    EXPECT_TRUE(HasEdition(w.last_run.failed, e)) << EditionName(e);
    const auto& not_copied = w.last_run.Copies(e).not_copied;
    ASSERT_EQ(1u, not_copied.size());
    EXPECT_EQ(failed.substr(failed.find("|copy ") + 6), not_copied[0].source);
    EXPECT_NE(std::string::npos, w.WorkLog().find("FAIL\t" + not_copied[0].source + "\t"));
  }
}

// Whether the section of the old branch `section` holds a value that the import writes (every
// value but the data paths) in the dump `old_branch`.
bool HasImportedValue(const std::vector<std::string>& old_branch, const std::string& section) {
  for (const std::string& line : old_branch) {
    if (!line.starts_with(section + "|")) continue;
    std::string name =
        line.substr(section.size() + 1, line.find('|', section.size() + 1) - section.size() - 1);
    if (name != "PRV_PATH" && name != "PUB_PATH") return true;
  }
  return false;
}

// A failed read of a data path value: the query itself, or the open right before it.
bool IsPathRead(const std::string& call, const std::string& next) {
  auto is_query = [](const std::string& c) {
    return c.find("|query ") != std::string::npos &&
           (c.ends_with(" PRV_PATH") || c.ends_with(" PUB_PATH"));
  };
  if (is_query(call)) return true;
  return call.find("|open HKCU\\") != std::string::npos && call.ends_with(" 1") && is_query(next);
}

// A failed open of an edition's installation marker in the last view asked (the 32-bit view
// holds no marker here, so the 64-bit one decides): the edition is not seen as installed.
bool IsDecidingMarkerOpen(const std::string& call, const std::string& next,
                          std::string_view marker) {
  const std::string open = "start|open HKLM\\" + std::string(marker) + " ";
  return call.starts_with(open) && !next.starts_with(open);
}

// What a faulty run started from, and how it went.
struct FaultyRun {
  std::vector<std::string> old_branch, new_branch;    // before the run
  std::map<std::string, std::string> old_data, work;  // before the run
  std::string failed;                                 // the call that failed, empty when none did
  std::string next;                                   // the call after it in the fault-free trace
  std::vector<std::string> messages;
  uint64_t k = 0;  // the number of the failing call (1 upwards), 0 for none
};

// Runs Collect (or Migrate) once for each call of the fault-free `trace` failing in turn, and
// once with none failing, each time in a world made by `prepare`. Whatever failed, the old
// product's keys and data stay as they were, a failed copy is visible, and `check` holds.
void SweepEveryFailingCall(const std::vector<std::string>& trace, bool collect,
                           void (*prepare)(World&),
                           const std::function<void(World&, const FaultyRun&)>& check) {
  const char* command = collect ? "collect" : "migrate";
  for (uint64_t k = 1; k <= trace.size() + 1; ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + ": " +
                 (k <= trace.size() ? trace[k - 1] : std::string("none")));
    World w;
    prepare(w);
    FaultyRun run{
        w.OldBranch(), w.NewBranch(), w.OldData(), w.WorkTree(), {}, NextInTrace(trace, k), {}};
    FaultPlan plan(k);
    run.messages = w.Run(collect, plan);
    run.failed = plan.failed();
    if (!run.failed.empty()) run.k = k;
    if (k <= trace.size()) {
      ASSERT_EQ(Untimed(run.failed), Untimed(trace[k - 1])) << "the run took another road";
    }
    ExpectCopyFailureVisible(w, run.failed, command);
    EXPECT_EQ(w.OldBranch(), run.old_branch);
    EXPECT_EQ(w.OldData(), run.old_data);
    check(w, run);
  }
  std::cout << command << ": " << trace.size() << " fault points swept\n";
}

void CollectOnce(World& w) {
  FaultPlan none;
  w.Run(true, none);
}

void CollectThenChangeSettings(World& w) {
  CollectOnce(w);
  w.ChangeOldSettings();
}

TEST(FaultInjectionTest, EveryFailingCallDuringCollectKeepsTheRules) {
  // The fault-free runs: the previous and the new settings files, and the trace of calls.
  std::map<Edition, std::string> previous, fresh;
  std::vector<std::string> trace, expected_messages;
  {
    World w;
    CollectOnce(w);
    for (Edition e : kEditions) previous[e] = w.SettingsFile(e);
    w.ChangeOldSettings();
    FaultPlan counting;
    expected_messages = w.Run(true, counting);
    trace = counting.trace();
    for (Edition e : kEditions) fresh[e] = w.SettingsFile(e);
  }
  ASSERT_GT(trace.size(), 50u);
  for (Edition e : kEditions) ASSERT_NE(previous[e], fresh[e]) << EditionName(e);
  ASSERT_EQ(expected_messages,
            (std::vector<std::string>{std::string(CollectedMessage(Edition::kPersonal)),
                                      std::string(CollectedMessage(Edition::kClient)),
                                      std::string(CollectedMessage(Edition::kServer))}));

  // The first write of each edition's manifest says Collect has begun; a failed one stops the
  // edition before anything of it is written.
  std::set<uint64_t> begun_writes;
  for (Edition e : kEditions) {
    for (uint64_t k = 1; k <= trace.size(); ++k) {
      const std::string& call = trace[k - 1];
      if (InPhaseOf(call, "collect", e) && call.find("|writefile ") != std::string::npos &&
          call.ends_with(std::string(kManifestName))) {
        begun_writes.insert(k);
        break;
      }
    }
  }
  ASSERT_EQ(std::size(kEditions), begun_writes.size());
  SweepEveryFailingCall(
      trace, true, CollectThenChangeSettings, [&](World& w, const FaultyRun& run) {
        const std::string& failed = run.failed;
        // Messages: each edition's collected message, after the path message when its data path
        // read was the failing call.
        std::map<Edition, bool> detected;
        for (Edition e : kEditions)
          detected[e] = !IsDecidingMarkerOpen(failed, run.next, OldMarkerKey(e));
        std::vector<std::string> want;
        for (Edition e : kEditions) {
          if (!detected[e]) continue;
          const bool path_failed =
              !failed.empty() && InPhaseOf(failed, "collect", e) && IsPathRead(failed, run.next);
          if (path_failed) want.emplace_back(kPathReadFailedMessage);
          // A failed edition is told by its causes, never by the message that it was collected.
          const bool settings_failed = !failed.empty() && InPhaseOf(failed, "collect", e) &&
                                       ((failed.find("|writefile ") != std::string::npos &&
                                         failed.ends_with("kdr4reg.fil")) ||
                                        begun_writes.count(run.k) != 0 ||
                                        failed.find("|profile-flush") != std::string::npos ||
                                        failed.find("|profile-s") != std::string::npos);
          const std::string log = "C:\\tool\\kdr4env\\kdr4tose.log";
          if (settings_failed) {
            want.emplace_back(SettingsNotWrittenMessage(CollectedProduct(e), log));
          }
          const bool copies_failed = ExpectNotCopied(w, failed, "collect", e, &want);
          if (!HasEdition(w.last_run.failed, e)) {
            EXPECT_FALSE(path_failed || settings_failed || copies_failed) << failed;
            want.emplace_back(CollectedMessage(e));
          } else if (!path_failed && !settings_failed && !copies_failed) {
            want.emplace_back(CollectFailedMessage(CollectedProduct(e), log));
          }
        }
        EXPECT_EQ(run.messages, want);

        for (Edition e : kEditions) {
          std::string now = w.SettingsFile(e);
          bool in_phase = !failed.empty() && InPhaseOf(failed, "collect", e);
          bool write_failed = failed.find("|writefile ") != std::string::npos ||
                              failed.find("|profile-flush") != std::string::npos;
          if (now == fresh[e] || (write_failed && in_phase && now == previous[e])) continue;
          if (!detected[e] && now == previous[e]) continue;
          // A failed read or profile write during this edition's export: a whole file of this
          // run, holding no line that neither version holds.
          ASSERT_TRUE(in_phase && !write_failed) << EditionName(e) << " file is neither version:\n"
                                                 << now;
          ASSERT_TRUE(now.ends_with("\r\n")) << now;
          std::set<std::string> known;
          for (const auto& l : Lines(previous[e])) known.insert(l);
          for (const auto& l : Lines(fresh[e])) known.insert(l);
          for (const auto& l : Lines(now))
            EXPECT_TRUE(known.count(l)) << EditionName(e) << ": " << l;
        }
      });
}

TEST(FaultInjectionTest, EveryFailingCallDuringMigrateKeepsTheRules) {
  std::vector<std::string> trace, expected_messages, new_branch;
  std::map<std::string, std::string> new_data;
  {
    World w;
    CollectOnce(w);
    FaultPlan counting;
    expected_messages = w.Run(false, counting);
    trace = counting.trace();
    new_branch = w.NewBranch();
    new_data = w.NewData();
  }
  ASSERT_GT(trace.size(), 30u);
  ASSERT_EQ(expected_messages,
            (std::vector<std::string>{std::string(MigratedMessage(Edition::kPersonal)),
                                      std::string(MigratedMessage(Edition::kClient)),
                                      std::string(MigratedMessage(Edition::kServer))}));

  SweepEveryFailingCall(trace, false, CollectOnce, [&](World& w, const FaultyRun& run) {
    const std::string& failed = run.failed;
    // An edition's data step fails when its path read fails, or for Client when one of its
    // destination folders cannot be made.
    std::map<Edition, bool> ok;
    for (Edition e : kEditions) {
      bool hit = !failed.empty() && InPhaseOf(failed, "migrate", e);
      bool path_read = hit && IsPathRead(failed, run.next);
      bool client_folder =
          hit && e == Edition::kClient && failed.find("|makesure ") != std::string::npos;
      ok[e] = !path_read && !client_folder;
    }
    // A failure while the store is checked, or while the backup is planned and saved, stops
    // the edition before it writes anything, with one message naming the problem. A failed
    // backup folder is replaced by the next name. A failed settings read leaves the plan short
    // of a section's values (of every section's when the list of sections was not read): the
    // import may not write them, and says so.
    std::map<Edition, std::string> guard;
    const std::string log = "C:\\tool\\kdr4env\\kdr4tose.log";
    // A record of proven copies that cannot be read only has its files read instead.
    const bool record_read = failed.find("|readpieces ") != std::string::npos &&
                             (failed.ends_with(".copies") || failed.ends_with(".placed"));
    for (Edition e : kEditions) {
      if (failed.empty() || record_read) continue;
      const std::string backup = "backup " + std::string(EditionName(e)) + "|";
      if (failed.starts_with("check " + std::string(EditionName(e)) + "|")) {
        // Whatever call failed, one file (or the manifest) could not be checked.
        EditionCheck check;
        check.has_manifest = true;
        check.problems = {{"x", StoreProblemKind::kUnreadable}};
        guard[e] = StoreRefusedMessage(e, check, log);
      } else if (failed.starts_with(backup + "profile-names ") ||
                 (failed.starts_with(backup + "profile-read ") &&
                  HasImportedValue(run.old_branch, failed.substr(backup.size() + 13)))) {
        guard[e] = SettingsChangedMessage(e, log);
      } else if (failed.starts_with(backup) && failed.find("|profile-") == std::string::npos &&
                 !(failed.find("|readpieces ") != std::string::npos &&
                   failed.ends_with("kdr4reg.fil")) &&
                 failed.find("|mkdir ") == std::string::npos) {
        guard[e] = BackupFailedMessage(e, log);
      }
      if (guard.count(e)) ok[e] = false;
    }
    // The messages as the dialog gives them: the outcome of the last of Personal and Client
    // attempted decides whether a Server that is not there shows the not-migrated message.
    // A failed edition shows no message that it migrated; one whose failure was told with its
    // cause is not followed by the message that names another.
    std::vector<std::string> want;
    bool flag = false;
    bool last_told = false;
    for (Edition e : {Edition::kPersonal, Edition::kClient}) {
      if (IsDecidingMarkerOpen(failed, run.next, NewMarkerKey(e))) continue;
      if (guard.count(e)) want.push_back(guard[e]);
      const bool copies_failed = ExpectNotCopied(w, failed, "migrate", e, &want);
      flag = ok[e] && !copies_failed;
      last_told = guard.count(e) != 0 || copies_failed;
      if (flag) want.emplace_back(MigratedMessage(e));
    }
    if (!IsDecidingMarkerOpen(failed, run.next, NewMarkerKey(Edition::kServer))) {
      const Edition e = Edition::kServer;
      if (guard.count(e)) want.push_back(guard[e]);
      const bool copies_failed = ExpectNotCopied(w, failed, "migrate", e, &want);
      if (ok[e] && !copies_failed) {
        want.emplace_back(MigratedMessage(e));
      } else if (!guard.count(e) && !copies_failed) {
        want.emplace_back(kNotMigratedMessage);
      }
    } else if (!flag && !last_told) {
      want.emplace_back(kNotMigratedMessage);
    }
    EXPECT_EQ(run.messages, want);
    EXPECT_EQ(w.WorkTree(), run.work) << "Migrate changed the work tree";
    if (failed.empty()) {
      EXPECT_EQ(w.NewBranch(), new_branch);
      EXPECT_EQ(w.NewData(), new_data);
    }
    // Whatever failed, the run wrote nothing that its backup did not record.
    FaultPlan none;
    w.Undo(none);
    EXPECT_EQ(w.NewBranch(), run.new_branch) << "undo could not take back the run";
  });
}

// A failing call during undo: either undo says it is not complete, or the branch and the data
// folders are as before the Migrate; and a second undo then finishes the job.
TEST(FaultInjectionTest, EveryFailingCallDuringUndoIsToldOrHarmless) {
  World migrated;
  FaultPlan none;
  migrated.Run(true, none);
  const auto branch = migrated.NewBranch();
  const auto data = migrated.NewData();
  const auto old_branch = migrated.OldBranch();
  const auto old_data = migrated.OldData();
  migrated.Run(false, none);
  ASSERT_NE(migrated.NewBranch(), branch);
  std::vector<std::string> trace;
  {
    World w;
    w.CopyFrom(migrated);
    FaultPlan counting;
    ASSERT_TRUE(w.Undo(counting).complete());
    trace = counting.trace();
    ASSERT_EQ(w.NewBranch(), branch);
  }
  ASSERT_GT(trace.size(), 20u);
  size_t told = 0;
  for (uint64_t k = 1; k <= trace.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + ": " + trace[k - 1]);
    World w;
    w.CopyFrom(migrated);
    FaultPlan plan(k);
    UndoResult first = w.Undo(plan);
    ASSERT_EQ(Untimed(plan.failed()), Untimed(trace[k - 1])) << "the undo took another road";
    if (first.complete()) {
      EXPECT_EQ(w.NewBranch(), branch) << "undo said it was complete";
      EXPECT_EQ(w.NewData(), data) << "undo said it was complete";
    } else {
      ++told;
      FaultPlan again;
      UndoResult second = w.Undo(again);
      EXPECT_TRUE(second.complete()) << second.error;
      EXPECT_EQ(w.NewBranch(), branch) << "after a second undo";
      EXPECT_EQ(w.NewData(), data) << "after a second undo";
    }
    EXPECT_EQ(w.OldBranch(), old_branch);
    EXPECT_EQ(w.OldData(), old_data);
  }
  std::cout << "undo: " << trace.size() << " fault points swept, " << told << " told\n";
  EXPECT_GT(told, trace.size() / 2);
}

// Collect and Migrate again and again in one process: the same files, keys and values each
// time, nothing grows. (Leaks are found by the sanitizer build of this test.)
TEST(RepeatedRunsTest, HundredCyclesGiveTheSameResult) {
  World w;
  std::map<Edition, std::string> files;
  std::vector<std::string> new_branch;
  std::map<std::string, std::string> work, data;
  for (int cycle = 1; cycle <= 100; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    FaultPlan none;
    w.Run(true, none);
    w.Run(false, none);
    if (cycle == 1) {
      for (Edition e : kEditions) files[e] = w.SettingsFile(e);
      new_branch = w.NewBranch();
      work = w.WorkTree();
      data = w.NewData();
      ASSERT_GT(new_branch.size(), 10u);
      continue;
    }
    for (Edition e : kEditions) ASSERT_EQ(w.SettingsFile(e), files[e]);
    ASSERT_EQ(w.NewBranch(), new_branch);
    ASSERT_EQ(w.WorkTree(), work);
    // Each Migrate keeps its own backup, and nothing else grows.
    ASSERT_EQ(w.Backups(), static_cast<size_t>(cycle));
    ASSERT_EQ(w.NewData(), data);
  }
}

}  // namespace
}  // namespace kdr::testing
