// The settings export of a synthetic profile through our profile files and through the
// platform's profile functions (Windows), each into its own folder, timed, and the files
// compared byte for byte.
//
//   kdr-bench-profile.exe [--runs R] [--platform-runs P] VALUES...
//
// For each VALUES: the profile is generated into the in-memory registry and the three editions
// exported, R times through PortableProfileFile (over the Win32 file system) and P times
// through Win32ProfileFile (P = 0 leaves the platform out). Prints one line per size:
// values=, ours_s= (median), ours_min_s=, ours_max_s=, platform_s= (median), platform_min_s=,
// platform_max_s=, ratio=, identical=yes|no|yes-but-empty-sections, bytes=. Exits 1 when the
// files differ in anything but the empty sections that Wine leaves out.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/synthetic_profile.h"
#include "core/work_paths.h"
#include "platform/portable_profile_file.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_profile_file.h"
#include "settings/settings_export.h"

namespace kdr::bench {
namespace {

struct Timing {
  double median = 0, min = 0, max = 0;
};

Timing Summarize(std::vector<double> seconds) {
  Timing t;
  if (seconds.empty()) return t;
  std::sort(seconds.begin(), seconds.end());
  size_t n = seconds.size();
  t.median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
  t.min = seconds.front();
  t.max = seconds.back();
  return t;
}

// A run that failed would time nothing: the benchmark stops instead.
void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "failed: %s\n", what);
  std::exit(1);
}

// Exports the three editions into a fresh work folder below `base`; returns the seconds taken.
double Export(Registry& registry, ProfileFile& profiles, Win32FileSystem& files,
              const std::string& folder, WorkPaths* paths) {
  Require(InitWorkPathsFromFolder(folder, MAX_PATH, paths), "work paths");
  for (Edition edition : kAllEditions) {
    const std::string& file = paths->SettingsFile(edition);
    DeleteFileA(file.c_str());
    Require(files.MakeSurePathExists(file).ok(), "settings folder");
  }
  NullActivityLog log;
  ExportContext ctx{registry, profiles, log};
  auto start = std::chrono::steady_clock::now();
  bool exported = ExportPersonalSettings(ctx, *paths);
  exported = ExportClientSettings(ctx, *paths) && exported;
  exported = ExportServerSettings(ctx, *paths) && exported;
  auto stop = std::chrono::steady_clock::now();
  Require(exported, "export");
  return std::chrono::duration<double>(stop - start).count();
}

// `text` without the header lines of empty sections (a header followed by another header or by
// the end of the file).
std::string WithoutEmptySections(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    bool header = text[start] == '[';
    bool next_is_header = end >= text.size() || text[end] == '[';
    if (!(header && next_is_header)) out.append(text, start, end - start);
    start = end;
  }
  return out;
}

int Run(int runs, int platform_runs, const std::vector<size_t>& sizes) {
  char temp[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return 2;
  std::string base = std::string(temp) + "kdr-profile-bench";
  CreateDirectoryA(base.c_str(), nullptr);
  bool all_identical = true;
  for (size_t values : sizes) {
    MemoryRegistry registry;
    ProfileOptions options;
    options.values = values;
    GenerateProfile(options, &registry);
    Win32FileSystem files;
    std::vector<double> ours;
    std::vector<double> platform;
    WorkPaths ours_paths;
    WorkPaths platform_paths;
    std::string size_folder = base + "\\" + std::to_string(values);
    CreateDirectoryA(size_folder.c_str(), nullptr);
    for (int i = 0; i < runs; ++i) {
      PortableProfileFile profiles(files);
      ours.push_back(Export(registry, profiles, files, size_folder + "\\ours", &ours_paths));
    }
    for (int i = 0; i < platform_runs; ++i) {
      Win32ProfileFile profiles;
      platform.push_back(
          Export(registry, profiles, files, size_folder + "\\platform", &platform_paths));
    }
    Timing o = Summarize(ours);
    Timing p = Summarize(platform);
    std::string identical = "n/a";
    size_t bytes = 0;
    for (Edition edition : kAllEditions) {
      std::optional<std::string> a = files.ReadFile(ours_paths.SettingsFile(edition));
      if (a) bytes += a->size();
      if (platform_runs == 0) continue;
      std::optional<std::string> b = files.ReadFile(platform_paths.SettingsFile(edition));
      // Wine's WritePrivateProfileSectionA with an empty list does not create a missing section
      // (Windows does, and so do we): files that differ only by empty sections say so.
      std::string verdict = "no";
      if (a && b && *a == *b) {
        verdict = "yes";
      } else if (a && b && WithoutEmptySections(*a) == *b) {
        verdict = "yes-but-empty-sections";
      }
      if (verdict == "no") all_identical = false;
      if (identical == "n/a" || identical == "yes" ||
          (identical == "yes-but-empty-sections" && verdict == "no")) {
        identical = verdict;
      }
    }
    std::printf(
        "values=%zu ours_s=%.6f ours_min_s=%.6f ours_max_s=%.6f platform_s=%.6f "
        "platform_min_s=%.6f platform_max_s=%.6f ratio=%.1f identical=%s bytes=%zu\n",
        values, o.median, o.min, o.max, p.median, p.min, p.max,
        o.median > 0 && platform_runs > 0 ? p.median / o.median : 0.0, identical.c_str(), bytes);
    std::fflush(stdout);
  }
  return all_identical ? 0 : 1;
}

}  // namespace
}  // namespace kdr::bench

int main(int argc, char** argv) {
  int runs = 5;
  int platform_runs = 1;
  std::vector<size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--platform-runs" && i + 1 < argc) {
      platform_runs = std::max(0, std::atoi(argv[++i]));
    } else {
      sizes.push_back(std::strtoull(arg.c_str(), nullptr, 10));
    }
  }
  if (sizes.empty()) {
    std::fprintf(stderr, "usage: %s [--runs R] [--platform-runs P] VALUES...\n", argv[0]);
    return 2;
  }
  return kdr::bench::Run(runs, platform_runs, sizes);
}
