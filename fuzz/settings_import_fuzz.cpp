// The settings import end to end on the in-memory registry, with the fuzz input as the settings
// file: whatever the file holds, nothing outside Software\VTQ\KodrelSE is created or changed
// (the keys above it may be created), and only text and double-word values are written there.
#include <algorithm>
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
#include "tests/support/registry_values.h"

using namespace kdr;

namespace {

const std::string kFile = "C:\\kdr4env\\client\\kdr4reg.fil";

// Whether each item of a dump lies in HKCU\Software\VTQ\KodrelSE (the key itself included).
std::vector<bool> InBranch(const std::vector<fuzz::DumpItem>& items) {
  static const std::vector<std::string_view> kBranch = {"Software", "VTQ", "KodrelSE"};
  std::vector<bool> in(items.size());
  size_t matched = 0;  // names of the branch matched by the current key's path
  for (size_t i = 0; i < items.size(); ++i) {
    const fuzz::DumpItem& item = items[i];
    if (!item.is_value) {
      matched = std::min(matched, item.depth == 0 ? 0 : item.depth - 1);
      if (item.depth > 0 && matched == item.depth - 1 && matched < kBranch.size() &&
          Cp932EqualNoCase(item.name, kBranch[matched])) {
        ++matched;
      }
    }
    in[i] = item.root == RootKey::kCurrentUser && matched == kBranch.size() &&
            item.depth >= kBranch.size();
  }
  return in;
}

// The keys and values outside the branch.
std::vector<fuzz::DumpItem> Outside(const std::vector<fuzz::DumpItem>& items) {
  std::vector<bool> in = InBranch(items);
  std::vector<fuzz::DumpItem> out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!in[i]) out.push_back(items[i]);
  }
  return out;
}

void Seed(MemoryRegistry& reg) {
  SetString(reg, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Common", "Host", "old");
  SetDword(reg, RootKey::kCurrentUser, "Software\\VTQ\\Kodrel\\Client\\Common", "SRVPORT", 7);
  SetString(reg, RootKey::kCurrentUser, "Software\\Other", "Keep", "me");
  SetRaw(reg, RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\Client\\Common", "Bin", kRegBinary,
         "\x01\x02");
  SetString(reg, RootKey::kCurrentUser, "Software\\VTQ", "Top", "t");
  SetString(reg, RootKey::kLocalMachine, "Software\\VTQ\\Kodrel Client", "x", "y");
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
  std::vector<bool> in = InBranch(after);
  for (size_t i = 0; i < after.size(); ++i) {
    const fuzz::DumpItem& item = after[i];
    if (!item.is_value || !in[i]) continue;
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
