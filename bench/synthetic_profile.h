#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/memory/memory_registry.h"

// Synthetic but realistic user profiles of the old product, for the benchmarks: registry values
// placed below the key trees that Collect walks, the installation markers of every edition of
// both products, the data path values, and data folders of a chosen size.
namespace kdr::bench {

struct ProfileOptions {
  size_t values = 1000;  // values below the exported key trees (the single values come on top)
  uint32_t seed = 1;
  // Where the data path values of the old and the new product point (Windows folders ending
  // with a backslash); each edition's PRV_PATH and PUB_PATH lie below them, as
  // "<root>personal\\prv\\", "<root>client\\prv\\", "<root>server\\pub\\" and so on.
  std::string old_data_root = "D:\\Kodrel4\\";
  std::string new_data_root = "E:\\KodrelSE\\";
};

// What the generated profile holds, and so what a Collect and a Migrate of it must produce.
struct ProfileStats {
  size_t keys = 0;         // keys made below the exported trees
  size_t tree_values = 0;  // values below the exported trees (options.values)
  size_t strings = 0;      // of those, REG_SZ
  size_t dwords = 0;       // REG_DWORD
  size_t binaries = 0;     // REG_BINARY
  size_t credentials = 0;  // REG_SZ values with a credential name
  size_t cp932_texts = 0;  // REG_SZ values holding double-byte text
  size_t skip_listed = 0;  // PRVSAVE and RSTFILE values, never exported
  // Entries the three settings files hold after a Collect, summed over the editions, and the
  // entries of type 1 or 4 that a Migrate writes back.
  size_t exported_entries = 0;
  size_t importable_entries = 0;
  // Sections (one per exported key; single values add theirs) summed over the editions.
  size_t exported_sections = 0;
};

// Fills `registry` (normally empty) with a profile of options.values values. Deterministic for
// a given seed.
ProfileStats GenerateProfile(const ProfileOptions& options, MemoryRegistry* registry);

// Writes a tree of files of about `total_bytes` below `root` (created): nested folders up to four
// levels, file sizes from 1 KB to 8 MB with many small and a few large ones. Returns the number
// of files written, or 0 on an error (with `error` set).
size_t GenerateDataTree(const std::filesystem::path& root, uint64_t total_bytes, uint32_t seed,
                        std::string* error);

}  // namespace kdr::bench
