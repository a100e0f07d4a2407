// What telling the progress costs: Collect and Migrate of a synthetic profile with a large data
// tree, with a progress sink (the totals counted before the copies, each file told, the texts
// made four times a second as the window and the console make them) and without one, taking
// turns in one process. Prints one line per run and the medians with their ratios (with / without).
//
//   kdr-bench-progress VALUES TREE_BYTES WORK_DIR [RUNS [SMALL_FILES]]
//
// WORK_DIR is made; the tree lies in the Client's data folder of the old product (drive D:),
// and SMALL_FILES files of 2 KB (default 20000) in its log folder, where the cost per file
// shows.
// Exits 1 when a run reports a failure or the progress did not count every file.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/migrate_dlg.h"
#include "app/progress_text.h"
#include "bench/in_process.h"
#include "bench/synthetic_profile.h"
#include "platform/memory/memory_registry.h"
#include "platform/portable_profile_file.h"
#include "platform/posix/portable_file_system.h"

namespace kdr::bench {
namespace {

namespace fs = std::filesystem;

// Makes the texts a front end shows, at the rate the window reads them.
class ShownProgress : public RunProgress {
 public:
  size_t texts = 0;

 private:
  void Changed(const ProgressState& state) override {
    Clock::time_point now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    texts += MakeProgressTexts(state).counts.size() != 0 ? 1 : 0;
  }
  Clock::time_point last_{};
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct Times {
  double collect = 0, migrate = 0, collect_cpu = 0, migrate_cpu = 0;
};

bool RunCommand(Registry& registry, PortableFileSystem& files, const std::string& work,
                RunProgress* progress, bool collect, double* seconds, double* cpu_seconds) {
  QuietView view;
  PortableProfileFile profiles(files);
  Services services{registry, files, profiles, 4096};
  CMigrateDlg dlg(services, view);
  if (!dlg.InitWorkPathsFromFolder(work)) return false;
  dlg.set_progress(progress);
  ::sync();  // the previous command's writes are not this one's to pay for
  double cpu = CpuSeconds();
  Clock::time_point start = Clock::now();
  collect ? dlg.OnCollect() : dlg.OnMigrate();
  *seconds = Seconds(start);
  *cpu_seconds = CpuSeconds() - cpu;
  return dlg.last_run().failed == 0 && dlg.last_run().attempted != 0;
}

// One Collect and Migrate into empty work and new-data folders; false on a failure, or when
// the progress did not count the files it was told the totals of.
bool RunOnce(size_t values, const fs::path& drive_d, const fs::path& base, bool with_progress,
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
  ShownProgress progress;
  RunProgress* sink = with_progress ? &progress : nullptr;
  if (!RunCommand(registry, files, work, sink, true, &times->collect, &times->collect_cpu)) {
    return false;
  }
  if (with_progress) {
    ProgressState state = progress.State();
    if (state.files_done != state.files_total || state.bytes_done != state.bytes_total) {
      std::fprintf(stderr, "collect counted %llu of %llu files\n",
                   static_cast<unsigned long long>(state.files_done),
                   static_cast<unsigned long long>(state.files_total));
      return false;
    }
  }
  return RunCommand(registry, files, work, sink, false, &times->migrate, &times->migrate_cpu);
}

// The progress's own work, timed alone so that the machine's swings do not drown it: the count
// of a folder before its copies and one report per file to a sink that makes the shown texts.
// Medians of five, in seconds.
double CountSeconds(PortableFileSystem& files, const std::string& folder) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    uint64_t count = 0, bytes = 0;
    Clock::time_point start = Clock::now();
    files.CountFiles(folder, &count, &bytes);
    times.push_back(Seconds(start));
  }
  return Median(times);
}

double TellSeconds(uint64_t files) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    ShownProgress progress;
    Clock::time_point start = Clock::now();
    progress.Start(false);
    progress.StartPhase(RunPhase::kCopying, kdr::Edition::kClient, files, files * 2048);
    for (uint64_t f = 0; f < files; ++f) progress.AddDone(1, 2048);
    times.push_back(Seconds(start));
  }
  return Median(times);
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
  size_t small_files = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 20000;
  std::string error;
  const fs::path small = base / "d" / "Kodrel4" / "client" / "prv" / "log";
  std::error_code ec;
  fs::create_directories(small, ec);
  const std::string block(2048, 'x');
  for (size_t i = 0; i < small_files && !ec; ++i) {
    FILE* file = std::fopen((small / ("f" + std::to_string(i) + ".log")).c_str(), "wb");
    bool ok = file && std::fwrite(block.data(), 1, block.size(), file) == block.size();
    if (!file || std::fclose(file) != 0 || !ok) {
      std::fprintf(stderr, "cannot write the small files\n");
      return 2;
    }
  }
  size_t files = kdr::bench::GenerateDataTree(base / "d" / "Kodrel4" / "client" / "prv" / "DDBVID",
                                              tree_bytes, 7, &error);
  files += small_files;
  if (files == small_files) {
    std::fprintf(stderr, "cannot make the data tree: %s\n", error.c_str());
    return 2;
  }
  std::vector<double> collect[2], migrate[2], collect_cpu[2], migrate_cpu[2];
  for (int r = 0; r < runs; ++r) {
    // Each takes each place in turn, so that neither always finds the cache warmer.
    for (int place = 0; place < 2; ++place) {
      const int with = (r + place) % 2;
      Times t;
      if (!RunOnce(values, base / "d", base / "run", with == 1, &t)) {
        std::fprintf(stderr, "run %d (progress %s) failed\n", r, with ? "on" : "off");
        return 1;
      }
      std::printf(
          "run=%d progress=%s collect_s=%.3f migrate_s=%.3f collect_cpu_s=%.3f "
          "migrate_cpu_s=%.3f\n",
          r, with ? "on" : "off", t.collect, t.migrate, t.collect_cpu, t.migrate_cpu);
      std::fflush(stdout);
      collect[with].push_back(t.collect);
      migrate[with].push_back(t.migrate);
      collect_cpu[with].push_back(t.collect_cpu);
      migrate_cpu[with].push_back(t.migrate_cpu);
    }
  }
  auto ratio = [](const std::vector<double>* series) {
    return Median(series[1]) / std::max(Median(series[0]), 1e-9);
  };
  std::printf(
      "files=%zu median collect_on_s=%.3f collect_off_s=%.3f migrate_on_s=%.3f "
      "migrate_off_s=%.3f\n",
      files, Median(collect[1]), Median(collect[0]), Median(migrate[1]), Median(migrate[0]));
  std::printf(
      "progress collect_ratio=%.3f migrate_ratio=%.3f collect_cpu_ratio=%.3f "
      "migrate_cpu_ratio=%.3f\n",
      ratio(collect), ratio(migrate), ratio(collect_cpu), ratio(migrate_cpu));
  // Against the fastest run without progress: the largest share the progress can have had.
  kdr::PortableFileSystem portable;
  const double tell = TellSeconds(files);
  const double count_collect =
      CountSeconds(portable, fs::absolute(base / "d" / "Kodrel4").lexically_normal().string());
  const double count_migrate =
      CountSeconds(portable, fs::absolute(base / "run" / "work").lexically_normal().string());
  auto fastest = [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); };
  std::printf(
      "own tell_s=%.4f count_collect_s=%.4f count_migrate_s=%.4f collect_share=%.4f "
      "migrate_share=%.4f\n",
      tell, count_collect, count_migrate, (tell + count_collect) / fastest(collect[0]),
      (tell + count_migrate) / fastest(migrate[0]));
  return 0;
}
