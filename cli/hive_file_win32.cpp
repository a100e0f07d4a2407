#include "cli/hive_file.h"

// Hive files are read through libhivex, which the Windows build does not have.
namespace kdr::cli {

const bool kHiveFilesSupported = false;

bool LoadHive(const std::filesystem::path&, const HiveMount&, const std::vector<RegistryBranch>&,
              const std::vector<RegistryBranch>&, MemoryRegistry*, std::string* error) {
  *error = "hive files cannot be read by this build";
  return false;
}

bool WriteBackHive(std::string_view, const HiveMount&, const MemoryRegistry&, const RegistryBranch&,
                   const PutBytes&, std::string* error) {
  *error = "hive files cannot be written by this build";
  return false;
}

}  // namespace kdr::cli
