// Writes benchmark inputs to disk.
//
//   kdr-bench-gen registry VALUES FILE.reg [SEED]   a profile as a REGEDIT4 registry file
//   kdr-bench-gen tree BYTES FOLDER [SEED]          a data folder tree of about BYTES
//
// "registry" prints what the profile holds (name=value pairs) for the caller's checks.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "bench/synthetic_profile.h"
#include "platform/memory/registry_file.h"

namespace {

int WriteRegistry(size_t values, const char* path, uint32_t seed) {
  kdr::MemoryRegistry registry;
  kdr::bench::ProfileOptions options;
  options.values = values;
  options.seed = seed;
  kdr::bench::ProfileStats stats = kdr::bench::GenerateProfile(options, &registry);
  kdr::RegistryFileSaveResult saved =
      kdr::SaveRegistryFile(registry, kdr::RegistryFileFormat::kRegedit4);
  if (!saved.ok()) {
    std::fprintf(stderr, "cannot save the registry: %s\n", saved.error->reason.c_str());
    return 1;
  }
  FILE* file = std::fopen(path, "wb");
  if (!file) {
    std::perror(path);
    return 1;
  }
  bool ok = std::fwrite(saved.bytes.data(), 1, saved.bytes.size(), file) == saved.bytes.size();
  if (std::fclose(file) != 0 || !ok) {
    std::perror(path);
    return 1;
  }
  std::printf(
      "values=%zu keys=%zu strings=%zu dwords=%zu binaries=%zu credentials=%zu cp932=%zu "
      "skip_listed=%zu entries=%zu importable=%zu sections=%zu bytes=%zu\n",
      stats.tree_values, stats.keys, stats.strings, stats.dwords, stats.binaries, stats.credentials,
      stats.cp932_texts, stats.skip_listed, stats.exported_entries, stats.importable_entries,
      stats.exported_sections, saved.bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: %s registry VALUES FILE.reg [SEED]\n"
                 "       %s tree BYTES FOLDER [SEED]\n",
                 argv[0], argv[0]);
    return 2;
  }
  std::string_view what = argv[1];
  uint64_t count = std::strtoull(argv[2], nullptr, 10);
  uint32_t seed = argc > 4 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 1;
  if (what == "registry") return WriteRegistry(count, argv[3], seed);
  if (what == "tree") {
    std::string error;
    size_t files = kdr::bench::GenerateDataTree(argv[3], count, seed, &error);
    if (files == 0) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::printf("files=%zu bytes=%llu\n", files, static_cast<unsigned long long>(count));
    return 0;
  }
  std::fprintf(stderr, "unknown kind %s\n", argv[1]);
  return 2;
}
