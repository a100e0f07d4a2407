// The ProfileFile contract against our profile files over the portable file system.
#include <stdlib.h>

#include <filesystem>

#include "platform/posix/portable_file_system.h"
#include "tests/profile_file_harness.h"

namespace kdr::contract {

std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kdr-profile-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  return pattern + "/";
}

namespace {

const bool registered = RegisterImplementation("Portable", &MakePortableOver<PortableFileSystem>);

}  // namespace
}  // namespace kdr::contract
