// Export-shaped writes through the profile layers, timed: each section is emptied first and
// then gets its entries, as the settings export does, and the file is written at the end.
//
//   profile_bench [--platform-entries N] [--no-platform]
//
// Prints our time for 16 000 entries in 1 600 sections and for 64 000 entries in 6 400
// sections (best of five runs each) and the ratio of the two; in the Windows build also the
// time of the platform's own profile functions for N entries (default 16 000, one run) and how
// many times faster ours is. The files written by the two layers are compared byte for byte.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/portable_profile_file.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_profile_file.h"
#else
#include <unistd.h>

#include "platform/posix/portable_file_system.h"
#endif

namespace kdr {
namespace {

constexpr int kEntriesPerSection = 10;

// The two parts of the last Export: the calls, and the Flush that writes the file.
double last_calls_s = 0;
double last_flush_s = 0;

std::string TempFolder() {
#ifdef _WIN32
  char base[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, base);
  std::string folder =
      std::string(base) + "kdr-profile-bench-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
#else
  std::string pattern =
      (std::filesystem::temp_directory_path() / "kdr-profile-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  return pattern + "/";
#endif
}

std::unique_ptr<FileSystem> HostFileSystem() {
#ifdef _WIN32
  return std::make_unique<Win32FileSystem>();
#else
  return std::make_unique<PortableFileSystem>();
#endif
}

// The writes of an export of `entries` values, into `file`, flushed; seconds taken.
double Export(ProfileFile& pf, const std::string& file, int entries) {
  std::remove(file.c_str());
  auto start = std::chrono::steady_clock::now();
  int sections = entries / kEntriesPerSection;
  for (int s = 0; s < sections; ++s) {
    std::string section = "Software\\VTQ\\Kodrel\\Client\\AppInfo\\App" + std::to_string(s);
    pf.WriteSection(section, "", file);
    for (int e = 0; e < kEntriesPerSection; ++e) {
      std::string key = "Value" + std::to_string(e);
      std::string value = e % 2 ? "4:0" + std::to_string(e) + "000000"
                                : "1:C:\\Kodrel\\Data\\" + std::to_string(s * 100 + e);
      pf.WriteString(section, key, value, file);
    }
  }
  auto written = std::chrono::steady_clock::now();
  if (!pf.Flush()) std::fprintf(stderr, "flush failed for %s\n", file.c_str());
  auto end = std::chrono::steady_clock::now();
  last_calls_s = std::chrono::duration<double>(written - start).count();
  last_flush_s = std::chrono::duration<double>(end - written).count();
  return std::chrono::duration<double>(end - start).count();
}

// The fastest of five runs (the machine may be busy with other work).
double BestOfFive(ProfileFile& pf, const std::string& file, int entries, double* calls,
                  double* flush) {
  double best = 1e300;
  for (int run = 0; run < 5; ++run) {
    double t = Export(pf, file, entries);
    if (t < best) {
      best = t;
      *calls = last_calls_s;
      *flush = last_flush_s;
    }
  }
  return best;
}

#ifdef _WIN32
std::string ReadAll(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}
#endif

int Main(int argc, char** argv) {
  int platform_entries = 16000;
  bool platform = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-platform") == 0) {
      platform = false;
    } else if (std::strcmp(argv[i], "--platform-entries") == 0 && i + 1 < argc) {
      platform_entries = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--platform-entries N] [--no-platform]\n", argv[0]);
      return 2;
    }
  }
  std::string folder = TempFolder();
  if (folder.empty()) return 1;
  auto fs = HostFileSystem();
  PortableProfileFile ours(*fs);

  double calls_16k = 0, flush_16k = 0, calls_64k = 0, flush_64k = 0;
  double ours_16k = BestOfFive(ours, folder + "ours16k.fil", 16000, &calls_16k, &flush_16k);
  double ours_64k = BestOfFive(ours, folder + "ours64k.fil", 64000, &calls_64k, &flush_64k);
  std::printf("ours     16000 entries / 1600 sections: %.4f s (calls %.4f s, flush %.4f s)\n",
              ours_16k, calls_16k, flush_16k);
  std::printf("ours     64000 entries / 6400 sections: %.4f s (calls %.4f s, flush %.4f s)\n",
              ours_64k, calls_64k, flush_64k);
  std::printf("ours     64000 / 16000 time ratio: %.2f (target <= 4.5)\n", ours_64k / ours_16k);
  int status = 0;
#ifdef _WIN32
  if (platform && platform_entries > 0) {
    Win32ProfileFile theirs;
    std::string theirs_file = folder + "platform.fil";
    double platform_time = Export(theirs, theirs_file, platform_entries);
    double ours_same = ours_16k;
    std::string ours_file = folder + "ours16k.fil";
    if (platform_entries != 16000) {
      ours_file = folder + "ours_n.fil";
      double calls = 0, flush = 0;
      ours_same = BestOfFive(ours, ours_file, platform_entries, &calls, &flush);
    }
    bool identical = ReadAll(ours_file) == ReadAll(theirs_file);
    std::printf("platform %d entries: %.2f s\n", platform_entries, platform_time);
    std::printf("platform / ours at %d entries: %.0fx (target >= 100x)\n", platform_entries,
                platform_time / ours_same);
    std::printf("files identical: %s\n", identical ? "yes" : "no");
    if (!identical) status = 1;
  }
#else
  (void)platform;
  (void)platform_entries;
#endif
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(folder), ec);
  return status;
}

}  // namespace
}  // namespace kdr

int main(int argc, char** argv) { return kdr::Main(argc, argv); }
