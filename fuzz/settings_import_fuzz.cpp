// The settings import end to end on the in-memory registry, with the fuzz input as the settings
// file: whatever the file holds, nothing outside Software\VTQ\KodrelSE is created or changed
// (the keys above it may be created), and only text and double-word values are written there.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/activity_log.h"
#include "fuzz/memory_files.h"
#include "fuzz/registry_dump.h"
#include "platform/cp932.h"
#include "platform/portable_profile_file.h"
#include "settings/settings_import.h"

using namespace kdr;

namespace {

const std::string kFile = "C:\\kdr4env\\client\\kdr4reg.fil";

bool InBranch(std::string_view path) {
  constexpr std::string_view kBranch = "HKCU\\Software\\VTQ\\KodrelSE";
  if (!Cp932StartsWithNoCase(path, kBranch)) return false;
  return path.size() == kBranch.size() || path[kBranch.size()] == '\\';
}

// The keys and values outside the branch.
std::vector<fuzz::DumpItem> Outside(const std::vector<fuzz::DumpItem>& items) {
  std::vector<fuzz::DumpItem> out;
  for (const fuzz::DumpItem& item : items) {
    if (!InBranch(item.path)) out.push_back(item);
  }
  return out;
}

void Seed(MemoryRegistry& reg) {
  reg.SetString(RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Common", "Host", "old");
  reg.SetDword(RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Common", "SRVPORT", 7);
  reg.SetString(RootKey::kCurrentUser, "Software\\Other", "Keep", "me");
  reg.SetValue(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Common", "Bin", kRegBinary,
               "\x01\x02");
  reg.SetString(RootKey::kCurrentUser, "Software\\VTQ", "Top", "t");
  reg.SetString(RootKey::kLocalMachine, "Software\\VTQ\\Kodrel Client", "x", "y");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::MemoryFiles files;
  files.Put(kFile, std::string_view(reinterpret_cast<const char*>(data), size));
  MemoryRegistry reg;
  Seed(reg);
  std::vector<fuzz::DumpItem> before = fuzz::Dump(reg);

  PortableProfileFile profiles(files);
  NullActivityLog log;
  SettingsImporter importer(reg, profiles, log);
  importer.ImportSettingsFile(kFile);
  // The import only reads its file.
  if (*files.Get(kFile) != std::string_view(reinterpret_cast<const char*>(data), size)) {
    fuzz::Fail("settings file changed");
  }

  std::vector<fuzz::DumpItem> after = fuzz::Dump(reg);
  // Outside the branch, only the keys above it may be new: HKCU\Software and HKCU\Software\VTQ
  // exist already, so nothing at all may differ.
  if (!(Outside(before) == Outside(after))) fuzz::Fail("written outside Software\\VTQ\\KodrelSE");
  // Inside, every value that is new or changed is a terminated text or a four-byte double word.
  for (const fuzz::DumpItem& item : after) {
    if (!item.is_value || !InBranch(item.path)) continue;
    bool old = false;
    for (const fuzz::DumpItem& b : before) old = old || b == item;
    if (old) continue;
    if (item.type == kRegSz) {
      if (item.data.empty() || item.data.back() != '\0') fuzz::Fail("text without its terminator");
    } else if (item.type == kRegDword) {
      if (item.data.size() != 4) fuzz::Fail("double word not four bytes");
    } else {
      fuzz::Fail("value of another type written");
    }
  }
  return 0;
}
