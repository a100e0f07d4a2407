#include "cli/hive_file.h"

// Hive files are read through libhivex, which the Windows build does not have.
namespace kdr::cli {

const bool kHiveFilesSupported = false;

bool LoadHive(const std::filesystem::path&, const HiveMount&, const std::vector<RegistryBranch>&,
              const std::vector<RegistryBranch>&, MemoryRegistry*, HiveError* error) {
  error->problem = HiveProblem::kUnreadableHere;
  return false;
}

bool WriteBackHive(std::string_view, const HiveMount&, const MemoryRegistry&, const RegistryBranch&,
                   const PutBytes&, HiveError* error) {
  error->problem = HiveProblem::kUnwritableHere;
  return false;
}

}  // namespace kdr::cli
