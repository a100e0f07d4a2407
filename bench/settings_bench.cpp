// Collect and Migrate of a synthetic profile in process: the in-memory registry, the host file
// system and our profile files, timed per phase, with the counts checked against what the
// profile holds. One run per process, so that the caller can repeat it and take the peak memory
// of the whole process.
//
//   kdr-bench-settings VALUES WORK_DIR [collect|migrate|both] [SEED]
//
// WORK_DIR is made and holds the work folder (work/, with kdr4env), the old data folders
// (drive D:, d/) and the new ones (drive E:, e/). "migrate" alone needs the files of an earlier
// "collect" in the same WORK_DIR. Prints one line of name=value pairs; exits 1 when a count is
// not what the profile says it must be.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/migrate_dlg.h"
#include "bench/in_process.h"
#include "bench/synthetic_profile.h"
#include "platform/memory/memory_registry.h"
#include "platform/portable_profile_file.h"
#include "platform/posix/portable_file_system.h"

namespace kdr::bench {
namespace {

namespace fs = std::filesystem;

long PeakKilobytes() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Entries ("name=...") and sections ("[...]") of a settings file; its lines hold no other kind.
void CountFile(FileSystem& files, const std::string& path, size_t* entries, size_t* sections) {
  std::optional<std::string> bytes = files.ReadFile(path);
  if (!bytes) return;
  size_t start = 0;
  while (start < bytes->size()) {
    size_t end = bytes->find('\n', start);
    if (end == std::string::npos) end = bytes->size();
    std::string_view line(bytes->data() + start, end - start);
    if (!line.empty() && line.front() == '[') {
      ++*sections;
    } else if (line.find('=') != std::string_view::npos) {
      ++*entries;
    }
    start = end + 1;
  }
}

size_t CountValuesBelow(const MemoryRegistry::Node& node) {
  size_t count = node.values().size();
  for (const auto& [name, child] : node.children()) count += CountValuesBelow(*child);
  return count;
}

size_t NewBranchValues(MemoryRegistry& registry) {
  const MemoryRegistry::Node* node =
      registry.Find(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE");
  return node ? CountValuesBelow(*node) : 0;
}

// A few small files in each data folder that Collect copies.
bool MakeOldDataFolders(const fs::path& drive_d) {
  static constexpr const char* kFolders[] = {
      "Kodrel4/personal/prv/DDBVID", "Kodrel4/personal/prv/log",  "Kodrel4/personal/pub/DDBDAT",
      "Kodrel4/personal/pub/log",    "Kodrel4/client/prv/DDBVID", "Kodrel4/client/prv/log",
      "Kodrel4/server/pub/DDBDAT",   "Kodrel4/server/pub/log"};
  std::error_code ec;
  for (const char* folder : kFolders) {
    fs::create_directories(drive_d / folder, ec);
    if (ec) return false;
    for (int i = 0; i < 3; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%d.ddv", i);
      FILE* file = std::fopen((drive_d / folder / name).c_str(), "wb");
      if (!file) return false;
      std::string bytes(1024 * (i + 1), static_cast<char>('a' + i));
      bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
      if (std::fclose(file) != 0 || !ok) return false;
    }
  }
  return true;
}

int Run(size_t values, const fs::path& base, std::string_view phase, uint32_t seed) {
  bool collect = phase == "collect" || phase == "both";
  bool migrate = phase == "migrate" || phase == "both";
  std::error_code ec;
  fs::create_directories(base / "work", ec);
  fs::create_directories(base / "e", ec);
  if (collect && !MakeOldDataFolders(base / "d")) {
    std::fprintf(stderr, "cannot make the data folders below %s\n", base.c_str());
    return 2;
  }

  Clock::time_point start = Clock::now();
  MemoryRegistry registry;
  ProfileOptions options;
  options.values = values;
  options.seed = seed;
  ProfileStats stats = GenerateProfile(options, &registry);
  double generate_s = Seconds(start);

  PortableFileSystem files;
  files.MapDrive('D', base / "d");
  files.MapDrive('E', base / "e");
  std::string work = fs::absolute(base / "work").lexically_normal().string();
  bool ok = true;
  std::printf("values=%zu keys=%zu generate_s=%.6f", stats.tree_values, stats.keys, generate_s);

  if (collect) {
    PortableProfileFile profiles(files);
    QuietView view;
    Services services{registry, files, profiles, 4096};
    CMigrateDlg dlg(services, view);
    if (!dlg.InitWorkPathsFromFolder(work)) return 2;
    double cpu = CpuSeconds();
    start = Clock::now();
    dlg.OnCollect();
    double collect_s = Seconds(start);
    double collect_cpu_s = CpuSeconds() - cpu;
    size_t entries = 0;
    size_t sections = 0;
    for (Edition edition : kAllEditions) {
      CountFile(files, dlg.paths().SettingsFile(edition), &entries, &sections);
    }
    std::printf(" collect_s=%.6f collect_cpu_s=%.6f entries=%zu sections=%zu", collect_s,
                collect_cpu_s, entries, sections);
    if (entries != stats.exported_entries || sections != stats.exported_sections ||
        dlg.last_run().attempted != 111 || dlg.last_run().failed != 0) {
      std::fprintf(stderr, "\ncollect: %zu entries in %zu sections, expected %zu in %zu\n", entries,
                   sections, stats.exported_entries, stats.exported_sections);
      ok = false;
    }
  }

  if (migrate) {
    PortableProfileFile profiles(files);  // read from the files, as a later run would
    QuietView view;
    Services services{registry, files, profiles, 4096};
    CMigrateDlg dlg(services, view);
    if (!dlg.InitWorkPathsFromFolder(work)) return 2;
    size_t before = NewBranchValues(registry);
    double cpu = CpuSeconds();
    start = Clock::now();
    dlg.OnMigrate();
    double migrate_s = Seconds(start);
    double migrate_cpu_s = CpuSeconds() - cpu;
    size_t imported = NewBranchValues(registry) - before;
    std::printf(" migrate_s=%.6f migrate_cpu_s=%.6f imported=%zu", migrate_s, migrate_cpu_s,
                imported);
    // SRVPORT and USER_LEVEL_ are in both the Client and the Server file, written twice.
    if (imported != stats.importable_entries - 2 || dlg.last_run().attempted != 111 ||
        dlg.last_run().failed != 0) {
      std::fprintf(stderr, "\nmigrate: %zu values written, expected %zu\n", imported,
                   stats.importable_entries - 2);
      ok = false;
    }
  }
  std::printf(" maxrss_kb=%ld\n", PeakKilobytes());
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace kdr::bench

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s VALUES WORK_DIR [collect|migrate|both] [SEED]\n", argv[0]);
    return 2;
  }
  size_t values = std::strtoull(argv[1], nullptr, 10);
  std::string phase = argc > 3 ? argv[3] : "both";
  if (phase != "collect" && phase != "migrate" && phase != "both") {
    std::fprintf(stderr, "unknown phase %s\n", phase.c_str());
    return 2;
  }
  uint32_t seed = argc > 4 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 1;
  return kdr::bench::Run(values, argv[2], phase, seed);
}
