// The settings part of Collect and Migrate, and the data folder copy, on the real Win32 path
// (advapi32's registry, our profile files over the Win32 file system, SHFileOperationA), one
// step per process so that bench/run can time each step, count the Wine server requests it
// makes and take its peak memory, alternating with reg.exe and xcopy.
//
//   kdr-bench-wine.exe seed VALUES [SEED]   the old product's branch of a synthetic profile
//                                           into HKEY_CURRENT_USER (replacing what was there)
//                                           and both products' markers into
//                                           HKEY_LOCAL_MACHINE, so that kdr4tose-cli.exe finds
//                                           every edition; prints values=, keys=, importable=,
//                                           entries=
//   kdr-bench-wine.exe clear                removes the new product's branch
//   kdr-bench-wine.exe reset                the new product's branch as installed: its data
//                                           path values alone
//   kdr-bench-wine.exe collect FOLDER       the three editions' folders and settings export into
//                                           the work folder FOLDER\kdr4env (which should hold
//                                           no settings files yet); prints seconds=
//   kdr-bench-wine.exe migrate FOLDER       the three settings files imported; prints seconds=
//   kdr-bench-wine.exe copy SOURCE DEST     Win32FileSystem::CopyFolder; prints seconds=
//
// Every line also holds peak_kb= (the peak working set of this process). Exits 1 on a failure.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/synthetic_profile.h"
#include "core/edition_folders.h"
#include "core/presence.h"
#include "core/work_paths.h"
#include "platform/portable_profile_file.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_registry.h"
#include "settings/settings_export.h"
#include "settings/settings_import.h"

namespace kdr::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kOldBranch[] = "Software\\VTQ\\Kodrel";

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

unsigned long long PeakKilobytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize / 1024;
}

// Copies `node` (at `path`) and everything below it into the real registry.
bool CopyTree(Registry& target, const MemoryRegistry::Node& node, const std::string& path,
              RootKey root = RootKey::kCurrentUser) {
  RegistryKeyPtr key;
  if (target.CreateKey(root, path, &key) != kOk) return false;
  for (const MemoryRegistry::Value& value : node.values()) {
    if (key->SetValue(value.name(), value.type(), value.data()) != kOk) return false;
  }
  key.reset();
  for (const auto& [name, child] : node.children()) {
    if (!CopyTree(target, *child, path + "\\" + child->name(), root)) return false;
  }
  return true;
}

size_t CountKeys(const MemoryRegistry::Node& node) {
  size_t count = 1;
  for (const auto& [name, child] : node.children()) count += CountKeys(*child);
  return count;
}

bool Paths(const char* folder, WorkPaths* paths) {
  if (!InitWorkPathsFromFolder(folder, MAX_PATH, paths)) {
    std::fprintf(stderr, "work folder too long: %s\n", folder);
    return false;
  }
  return true;
}

constexpr char kNewBranch[] = "Software\\VTQ\\KodrelSE";

// Data folders that exist, so that kdr4tose-cli.exe copies them too.
ProfileOptions OptionsWithDataFolders(size_t values, uint32_t seed) {
  ProfileOptions options;
  options.values = values;
  options.seed = seed;
  options.old_data_root = "C:\\kdr4bench\\old\\";
  options.new_data_root = "C:\\kdr4bench\\new\\";
  return options;
}

// The new product's branch as its installation leaves it: its data path values only.
int Reset() {
  MemoryRegistry profile;
  GenerateProfile(OptionsWithDataFolders(0, 1), &profile);
  const MemoryRegistry::Node* installed = profile.Find(RootKey::kCurrentUser, kNewBranch);
  RegDeleteTreeA(HKEY_CURRENT_USER, kNewBranch);
  Win32Registry registry;
  if (installed == nullptr || !CopyTree(registry, *installed, kNewBranch)) return 1;
  std::printf("reset=yes");
  return 0;
}

int Seed(size_t values, uint32_t seed) {
  MemoryRegistry profile;
  const ProfileOptions options = OptionsWithDataFolders(values, seed);
  ProfileStats stats = GenerateProfile(options, &profile);
  const MemoryRegistry::Node* old_branch = profile.Find(RootKey::kCurrentUser, kOldBranch);
  if (old_branch == nullptr) return 1;
  RegDeleteTreeA(HKEY_CURRENT_USER, kOldBranch);
  RegDeleteTreeA(HKEY_CURRENT_USER, kNewBranch);
  Win32Registry registry;
  bool copied = CopyTree(registry, *old_branch, kOldBranch);
  for (Edition edition : kAllEditions) {
    for (std::string_view marker : {OldMarkerKey(edition), NewMarkerKey(edition)}) {
      const MemoryRegistry::Node* node = profile.Find(RootKey::kLocalMachine, marker);
      copied = copied && node != nullptr &&
               CopyTree(registry, *node, std::string(marker), RootKey::kLocalMachine);
    }
  }
  Win32FileSystem files;
  for (const char* folder :
       {"personal\\prv\\DDBVID\\", "personal\\prv\\log\\", "personal\\pub\\DDBDAT\\",
        "personal\\pub\\log\\", "client\\prv\\DDBVID\\", "client\\prv\\log\\",
        "server\\pub\\DDBDAT\\", "server\\pub\\log\\"}) {
    const std::string path = options.old_data_root + folder;
    copied = copied && files.MakeSurePathExists(path) &&
             files.WriteFileAtomically(path + "a.dat", std::string(1000, 'x'));
  }
  if (!copied) {
    std::fprintf(stderr, "could not write the profile into the registry\n");
    return 1;
  }
  std::printf("values=%zu keys=%zu importable=%zu entries=%zu", stats.tree_values,
              CountKeys(*old_branch), stats.importable_entries, stats.exported_entries);
  return 0;
}

int Collect(const char* folder) {
  WorkPaths paths;
  if (!Paths(folder, &paths)) return 2;
  Win32FileSystem files;
  Win32Registry registry;
  PortableProfileFile profiles(files);
  NullActivityLog log;
  ExportContext ctx{registry, profiles, log};
  Clock::time_point start = Clock::now();
  // As the tool's Collect does it: each edition's folders, then its settings.
  bool ok = true;
  for (Edition edition : kAllEditions) {
    MakeEditionFolders(files, paths, edition);
    ok = ExportEditionSettings(ctx, paths, edition) && ok;
  }
  std::printf("seconds=%.6f", Seconds(start));
  return ok ? 0 : 1;
}

int Migrate(const char* folder) {
  WorkPaths paths;
  if (!Paths(folder, &paths)) return 2;
  Win32FileSystem files;
  Win32Registry registry;
  PortableProfileFile profiles(files);
  NullActivityLog log;
  Clock::time_point start = Clock::now();
  // In the order Migrate takes the editions.
  for (Edition edition : kAllEditions) {
    SettingsImporter importer(registry, profiles, log);
    importer.ImportSettingsFile(paths.SettingsFile(edition));
  }
  std::printf("seconds=%.6f", Seconds(start));
  return 0;
}

int Copy(const char* source, const char* destination) {
  Win32FileSystem files;
  std::string from = std::string(source) + "\\";
  std::string to = std::string(destination) + "\\";
  // The tool makes the destination first (Wine's shell copy needs it).
  if (!files.MakeSurePathExists(to)) return 1;
  Clock::time_point start = Clock::now();
  FileResult result = files.CopyFolder(to, from, nullptr, nullptr);
  std::printf("seconds=%.6f result=%d", Seconds(start), static_cast<int>(result.code));
  return result.ok() ? 0 : 1;
}

int Run(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  int status = 2;
  if (command == "seed" && argc >= 3) {
    uint32_t seed = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 1;
    status = Seed(std::strtoull(argv[2], nullptr, 10), seed);
  } else if (command == "clear") {
    LONG result = RegDeleteTreeA(HKEY_CURRENT_USER, kNewBranch);
    std::printf("cleared=%s", result == ERROR_SUCCESS ? "yes" : "nothing");
    status = result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? 0 : 1;
  } else if (command == "reset") {
    status = Reset();
  } else if (command == "collect" && argc == 3) {
    status = Collect(argv[2]);
  } else if (command == "migrate" && argc == 3) {
    status = Migrate(argv[2]);
  } else if (command == "copy" && argc == 4) {
    status = Copy(argv[2], argv[3]);
  } else {
    std::fprintf(stderr,
                 "usage: %s seed VALUES [SEED] | clear | reset | collect FOLDER | migrate FOLDER | "
                 "copy SOURCE DEST\n",
                 argv[0]);
    return 2;
  }
  std::printf(" peak_kb=%llu\n", PeakKilobytes());
  return status;
}

}  // namespace
}  // namespace kdr::bench

int main(int argc, char** argv) { return kdr::bench::Run(argc, argv); }
