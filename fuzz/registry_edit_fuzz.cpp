// Registry file write-back: whatever file is read, editing the KodrelSE branch (a changed value,
// a new value, a new key) and writing it back changes no line outside that branch, and the
// written file reads back with the edits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/memory_files.h"
#include "platform/cp932.h"
#include "platform/memory/registry_file.h"
#include "platform/memory/registry_file_lines.h"
#include "platform/memory/registry_text.h"

using namespace kdr;

namespace {

const std::vector<RegistryBranch> kBranches = {
    {RootKey::kLocalMachine, "Software\\VTQ"},
    {RootKey::kCurrentUser, "Software\\VTQ\\Kodrel"},
    {RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE"},
};
constexpr std::string_view kBranchKey = "[HKEY_CURRENT_USER\\SOFTWARE\\VTQ\\KODRELSE";

// The file's lines (as raw bytes) that are not in a block of the KodrelSE branch.
std::vector<std::string> Outside(std::string_view bytes) {
  registry_text::FileLines lines(bytes);
  std::vector<std::string> out;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    // After a final line end there is no line, only the end of the file.
    if (i + 1 == lines.size() && lines.Begin(i) == lines.End(i)) break;
    std::string_view text = lines.Text(i);
    std::vector<uint32_t> chars;
    for (size_t at = 0; at < text.size();) {
      chars.push_back(registry_text::CharAt(lines.format(), text, at, &at));
    }
    size_t pos = 0;
    while (pos < chars.size() && (chars[pos] == ' ' || chars[pos] == '\t')) ++pos;
    if (pos < chars.size() && chars[pos] == '[') {
      std::string key;
      for (size_t k = pos; k < chars.size(); ++k) {
        if (k == pos + 1 && chars[k] == '-') continue;
        key.push_back(chars[k] < 0x80 ? AsciiUpper(static_cast<char>(chars[k])) : '\x7f');
      }
      inside = key.starts_with(kBranchKey) &&
               (key.size() == kBranchKey.size() || key[kBranchKey.size()] == '\\' ||
                key[kBranchKey.size()] == ']');
    }
    if (!inside) out.emplace_back(text);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MemoryRegistry registry;
  RegistryFileLoadResult loaded = LoadRegistryFile(bytes, &registry, kBranches);
  // With the old product's branch only checked, not held (as a Migrate loads the file), the
  // file is accepted or refused alike, and that branch's values are not held.
  MemoryRegistry part;
  RegistryFileLoadResult checked =
      LoadRegistryFile(bytes, &part, {kBranches[0], kBranches[2]}, {kBranches[1]});
  if (checked.ok() != loaded.ok()) fuzz::Fail("a branch only checked is read otherwise");
  if (part.Find(RootKey::kCurrentUser, kBranches[1].path)) fuzz::Fail("a checked branch held");
  if (!loaded.ok()) return 0;
  LimitedRegistry limited(registry, RegistryFileLimits(loaded.format));
  RegistryKeyPtr key;
  const std::string edited = "Software\\VTQ\\KodrelSE\\Client\\Common";
  if (limited.CreateKey(RootKey::kCurrentUser, edited, &key) == kOk) {
    if (key->SetValue("SRVPORT", kRegDword, DwordData(8080)) != kOk) fuzz::Fail("set SRVPORT");
    // The file's format may refuse a value (its limits); the store then stays as it was, and
    // the write-back below is checked either way.
    (void)key->SetValue("Department", kRegSz, std::string("\x89\x63\x8b\xc6\x95\x94", 6) + '\0');
  }
  if (limited.CreateKey(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\New", &key) == kOk) {
    (void)key->SetValue("", kRegBinary, std::string(100, '\x5c'));  // as above
  }
  RegistryFileSaveResult saved =
      WriteBackRegistryFile(bytes, registry, {RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE"});
  if (!saved.ok()) fuzz::Fail("write-back refused what the limits let in");
  if (Outside(bytes) != Outside(saved.bytes)) fuzz::Fail("a line outside the branch changed");
  MemoryRegistry back;
  if (!LoadRegistryFile(saved.bytes, &back, kBranches).ok()) fuzz::Fail("written file refused");
  RegistryKeyPtr check;
  uint32_t type = 0;
  std::string value;
  if (back.OpenKey(RootKey::kCurrentUser, edited, kKeyQueryValue, &check) != kOk ||
      check->QueryValue("SRVPORT", &type, &value) != kOk || value != DwordData(8080)) {
    fuzz::Fail("the edit did not read back");
  }
  return 0;
}
