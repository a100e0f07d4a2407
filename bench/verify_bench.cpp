// What the safeguards cost: Collect and Migrate of a synthetic profile with a large data tree,
// in three modes taking turns in one process: everything on (the manifest, the read-back of
// every copy, the check before Migrate, and the backup), the backup alone (what undo needs, no
// verification), and everything off; and the undo of each Migrate made with a backup. Prints
// one line per run and the medians with two ratios: verification alone (on / backup) and all
// the safeguards (on / off).
//
//   kdr-bench-verify VALUES TREE_BYTES WORK_DIR [RUNS]
//
// WORK_DIR is made; the tree lies in the Client's data folder of the old product (drive D:).
// Exits 1 when a run reports a failure or an undo is not complete.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/migrate_dlg.h"
#include "bench/in_process.h"
#include "bench/synthetic_profile.h"
#include "engine/undo_scope.h"
#include "platform/memory/memory_registry.h"
#include "platform/portable_profile_file.h"
#include "platform/posix/portable_file_system.h"
#include "store/undo.h"

namespace kdr::bench {
namespace {

namespace fs = std::filesystem;
// Small files in every data folder Collect copies besides the Client's big one.
bool MakeSmallFolders(const fs::path& drive_d) {
  static constexpr const char* kFolders[] = {
      "Kodrel4/personal/prv/DDBVID", "Kodrel4/personal/prv/log", "Kodrel4/personal/pub/DDBDAT",
      "Kodrel4/personal/pub/log",    "Kodrel4/client/prv/log",   "Kodrel4/server/pub/DDBDAT",
      "Kodrel4/server/pub/log"};
  std::error_code ec;
  for (const char* folder : kFolders) {
    fs::create_directories(drive_d / folder, ec);
    if (ec) return false;
    FILE* file = std::fopen((drive_d / folder / "f.ddv").c_str(), "wb");
    if (!file) return false;
    bool ok = std::fputs(folder, file) >= 0;
    if (std::fclose(file) != 0 || !ok) return false;
  }
  return true;
}

struct Times {
  double collect = 0, migrate = 0, undo = 0;
  double collect_cpu = 0, migrate_cpu = 0;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Runs Collect or Migrate with a fresh dialog and profile-file cache, as a new start of the
// program would; false when the dialog counts a failed edition (or, for Migrate, none at all).
enum class Mode { kOn, kBackup, kOff };
constexpr const char* kModeNames[] = {"on", "backup", "off"};

bool RunCommand(Registry& registry, PortableFileSystem& files, const std::string& work, Mode mode,
                bool collect, double* seconds, double* cpu_seconds, WorkPaths* paths) {
  QuietView view;
  PortableProfileFile profiles(files);
  Services services{registry, files, profiles, 4096};
  services.verification = mode == Mode::kOn;
  services.backup = mode != Mode::kOff;
  CMigrateDlg dlg(services, view);
  if (!dlg.InitWorkPathsFromFolder(work)) return false;
  // The previous command's gigabyte goes to the disk first, or whichever command follows it
  // would pay for that.
  ::sync();
  double cpu = CpuSeconds();
  Clock::time_point start = Clock::now();
  collect ? dlg.OnCollect() : dlg.OnMigrate();
  *seconds = Seconds(start);
  *cpu_seconds = CpuSeconds() - cpu;
  *paths = dlg.paths();
  if (dlg.last_run().failed != 0 || (!collect && dlg.last_run().attempted == 0)) {
    std::fprintf(stderr, "%s failed: %d of %d\n", collect ? "collect" : "migrate",
                 dlg.last_run().failed, dlg.last_run().attempted);
    return false;
  }
  return true;
}

// One Collect and Migrate into empty work and new-data folders; with a backup, an undo.
bool RunOnce(size_t values, const fs::path& drive_d, const fs::path& base, Mode mode,
             Times* times) {
  std::error_code ec;
  fs::remove_all(base / "work", ec);
  fs::remove_all(base / "e", ec);
  fs::create_directories(base / "work", ec);
  fs::create_directories(base / "e", ec);
  MemoryRegistry registry;
  ProfileOptions options;
  options.values = values;
  GenerateProfile(options, &registry);
  PortableFileSystem files;
  files.MapDrive('D', drive_d);
  files.MapDrive('E', base / "e");
  std::string work = fs::absolute(base / "work").lexically_normal().string();
  WorkPaths paths;
  if (!RunCommand(registry, files, work, mode, true, &times->collect, &times->collect_cpu,
                  &paths)) {
    return false;
  }
  // The big tree must have been copied, or there is nothing to measure.
  if (!fs::exists(base / "work" / "kdr4env" / "client" / "DDBVID" / "f.ddv") &&
      fs::is_empty(base / "work" / "kdr4env" / "client" / "DDBVID", ec)) {
    return false;
  }
  if (!RunCommand(registry, files, work, mode, false, &times->migrate, &times->migrate_cpu,
                  &paths)) {
    return false;
  }
  if (mode == Mode::kOff) return true;
  Clock::time_point start = Clock::now();
  std::vector<UndoItem> not_undone;
  UndoResult undone = UndoMigrate(
      registry, files, BackupPlacesFor(paths, ""), "", false,
      MigrateUndoScope(registry, files, paths, 4096), [&](const UndoItem& item) {
        if (item.outcome == UndoOutcome::kRefused || item.outcome == UndoOutcome::kFailed) {
          not_undone.push_back(item);
        }
      });
  times->undo = Seconds(start);
  if (!undone.complete()) {
    std::fprintf(stderr, "undo not complete: %s, %zu refused, %zu failed\n", undone.error.c_str(),
                 undone.Count(UndoOutcome::kRefused), undone.Count(UndoOutcome::kFailed));
    for (const UndoItem& item : not_undone) {
      std::fprintf(stderr, "  %s: %s\n", UndoItemText(item).c_str(), UndoReasonText(item).c_str());
    }
    return false;
  }
  return true;
}

}  // namespace
}  // namespace kdr::bench

int main(int argc, char** argv) {
  using namespace kdr::bench;
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s VALUES TREE_BYTES WORK_DIR [RUNS]\n", argv[0]);
    return 2;
  }
  size_t values = std::strtoull(argv[1], nullptr, 10);
  uint64_t tree_bytes = std::strtoull(argv[2], nullptr, 10);
  fs::path base = argv[3];
  int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  std::string error;
  if (!MakeSmallFolders(base / "d") ||
      GenerateDataTree(base / "d" / "Kodrel4" / "client" / "prv" / "DDBVID", tree_bytes, 7,
                       &error) == 0) {
    std::fprintf(stderr, "cannot make the data tree: %s\n", error.c_str());
    return 2;
  }
  // Elapsed and processor seconds of each command, per mode.
  struct Series {
    std::vector<double> by_mode[3];
    double Median(Mode mode) const { return kdr::bench::Median(by_mode[static_cast<int>(mode)]); }
    double Ratio(Mode over) const { return Median(Mode::kOn) / Median(over); }
  } collect, migrate, collect_cpu, migrate_cpu;
  std::vector<double> undo;
  for (int r = 0; r < runs; ++r) {
    // Each mode takes each place in turn, so that none always finds the cache warmer.
    for (int place = 0; place < 3; ++place) {
      Mode mode = static_cast<Mode>((r + place) % 3);
      const char* name = kModeNames[static_cast<int>(mode)];
      Times t;
      if (!RunOnce(values, base / "d", base / "run", mode, &t)) {
        std::fprintf(stderr, "run %d (%s) failed\n", r, name);
        return 1;
      }
      std::printf(
          "run=%d mode=%s collect_s=%.3f migrate_s=%.3f undo_s=%.3f collect_cpu_s=%.3f "
          "migrate_cpu_s=%.3f\n",
          r, name, t.collect, t.migrate, t.undo, t.collect_cpu, t.migrate_cpu);
      std::fflush(stdout);
      auto add = [&](Series& series, double value) {
        series.by_mode[static_cast<int>(mode)].push_back(value);
      };
      add(collect, t.collect);
      add(migrate, t.migrate);
      add(collect_cpu, t.collect_cpu);
      add(migrate_cpu, t.migrate_cpu);
      if (mode == Mode::kOn) undo.push_back(t.undo);
    }
  }
  std::printf(
      "median collect_on_s=%.3f collect_backup_s=%.3f collect_off_s=%.3f migrate_on_s=%.3f "
      "migrate_backup_s=%.3f migrate_off_s=%.3f undo_s=%.3f undo_to_migrate=%.3f\n",
      collect.Median(Mode::kOn), collect.Median(Mode::kBackup), collect.Median(Mode::kOff),
      migrate.Median(Mode::kOn), migrate.Median(Mode::kBackup), migrate.Median(Mode::kOff),
      Median(undo), Median(undo) / migrate.Median(Mode::kOn));
  // Verification alone: everything on against the backup alone; all safeguards: against none.
  std::printf(
      "verification collect_ratio=%.3f migrate_ratio=%.3f collect_cpu_ratio=%.3f "
      "migrate_cpu_ratio=%.3f\n",
      collect.Ratio(Mode::kBackup), migrate.Ratio(Mode::kBackup), collect_cpu.Ratio(Mode::kBackup),
      migrate_cpu.Ratio(Mode::kBackup));
  std::printf(
      "all_safeguards collect_ratio=%.3f migrate_ratio=%.3f collect_cpu_ratio=%.3f "
      "migrate_cpu_ratio=%.3f\n",
      collect.Ratio(Mode::kOff), migrate.Ratio(Mode::kOff), collect_cpu.Ratio(Mode::kOff),
      migrate_cpu.Ratio(Mode::kOff));
  return 0;
}
