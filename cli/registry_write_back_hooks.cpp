#include "cli/registry_write_back_hooks.h"

namespace kdr::cli {

void BeforeRegistryFileReadAgain(const std::filesystem::path&) {}
void BeforeRegistryFileWritten(const std::filesystem::path&) {}

}  // namespace kdr::cli
