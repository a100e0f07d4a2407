// kdr4tose-cli for the tests, in which another program changes the registry file during the
// write-back, as KDR_TEST_CHANGE_REGISTRY_FILE says: "in-place" changes its last byte before it
// is read again, keeping its size and modification time; any other value adds a line before
// the new text is written.
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>

#include "cli/registry_write_back_hooks.h"

namespace kdr::cli {
namespace {

bool Asked(bool in_place) {
  const char* how = std::getenv("KDR_TEST_CHANGE_REGISTRY_FILE");
  return how && (std::string_view(how) == "in-place") == in_place;
}

}  // namespace

void BeforeRegistryFileReadAgain(const std::filesystem::path& path) {
  if (!Asked(/*in_place=*/true)) return;
  std::error_code ec;
  auto modified = std::filesystem::last_write_time(path, ec);
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekg(-1, std::ios::end);
  char last = static_cast<char>(file.get() ^ 0x20);
  file.seekp(-1, std::ios::end);
  file.put(last);
  file.close();
  if (!ec) std::filesystem::last_write_time(path, modified, ec);
}

void BeforeRegistryFileWritten(const std::filesystem::path& path) {
  if (Asked(/*in_place=*/false))
    std::ofstream(path, std::ios::binary | std::ios::app) << "; changed meanwhile\r\n";
}

}  // namespace kdr::cli
