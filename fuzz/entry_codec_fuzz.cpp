// The entry codec and parser: any bytes parse without harm, what FormatEntry writes reads back
// the same, hex text survives encode and decode, and an entry that the export would write reads
// back unchanged through a profile file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/memory_files.h"
#include "platform/portable_profile_file.h"
#include "settings/entry_codec.h"

using namespace kdr;

namespace {

std::string UpToFirstZero(std::string_view text) {
  return std::string(text.substr(0, text.find('\0')));
}

void CheckParseAnything(std::string_view entry) {
  ParsedEntry parsed;
  ParseResult result = ParseEntry(entry, &parsed);
  if (result != ParseResult::kOk) return;
  if (parsed.name.find('=') != std::string::npos) fuzz::Fail("parsed name holds '='");
  if (parsed.type == 4 && parsed.data.size() != 4) fuzz::Fail("double word not four bytes");
  // Written out again, the entry reads back the same.
  std::string again = parsed.name + "=" + FormatEntry(parsed.name, parsed.type, parsed.data, false);
  ParsedEntry reparsed;
  if (parsed.type == 4 || parsed.data.find('\0') == std::string::npos) {
    if (ParseEntry(again, &reparsed) != ParseResult::kOk) fuzz::Fail("reformatted entry refused");
    if (reparsed.name != parsed.name || reparsed.type != parsed.type) fuzz::Fail("name or type");
    if ((parsed.type == 4 || parsed.type == 1) && reparsed.data != parsed.data) {
      fuzz::Fail("data changed by format and parse");
    }
  }
}

void CheckHex(std::string_view text) {
  std::string encoded(text);
  HexEncodeInPlace(encoded);
  if (encoded.size() != 2 * UpToFirstZero(text).size()) fuzz::Fail("hex length");
  std::string decoded = encoded;
  if (!HexDecodeInPlace(decoded)) fuzz::Fail("own hex refused");
  if (decoded != UpToFirstZero(text)) fuzz::Fail("hex round trip");
  std::string any(text);
  std::string before = any;
  if (!HexDecodeInPlace(any) && any != before) fuzz::Fail("refused decode changed its text");
}

// What the export writes for one value reads back as the import expects.
void CheckThroughProfile(std::string_view name, uint32_t type, std::string_view data) {
  std::string entry = FormatEntry(name, type, data, true);
  if (name.empty() || !UnrepresentableReason(name, entry).empty()) return;
  const std::string section = "Software\\VTQ\\Kodrel\\Client\\Common";
  const std::string file = "C:\\kdr4env\\client\\kdr4reg.fil";
  fuzz::MemoryFiles files;
  {
    PortableProfileFile writer(files);
    if (!writer.WriteSection(section, "", file)) fuzz::Fail("write section");
    if (!writer.WriteString(section, name, entry, file)) fuzz::Fail("write string");
    if (!writer.Flush()) fuzz::Fail("flush");
  }
  PortableProfileFile reader(files);
  std::string list = reader.ReadSection(section, file);
  std::string expected = std::string(name) + "=" + entry;
  expected.push_back('\0');
  expected.push_back('\0');
  if (list != expected) fuzz::Fail("entry read back differs from the entry written");
  ParsedEntry parsed;
  ParseResult parse = ParseEntry(std::string_view(list).substr(0, list.size() - 2), &parsed);
  // A double word that is not four bytes long is refused on import, never misread.
  if (type == 4 && data.size() != 4) {
    if (parse != ParseResult::kBadDword) fuzz::Fail("odd-sized double word accepted");
    return;
  }
  if (parse != ParseResult::kOk) fuzz::Fail("written entry does not parse");
  if (parsed.name != name || parsed.type != type) fuzz::Fail("name or type after the file");
  if (type == 4 && data.size() == 4 && parsed.data != data) fuzz::Fail("double word after file");
  if (type == 1 && !IsCredentialName(name) && parsed.data != UpToFirstZero(data)) {
    fuzz::Fail("text after the file");
  }
  if (type == 1 && IsCredentialName(name)) {
    std::string text = parsed.data;
    if (!HexDecodeInPlace(text) || text != UpToFirstZero(data)) fuzz::Fail("credential text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view whole(reinterpret_cast<const char*>(data), size);
  CheckParseAnything(whole);
  CheckHex(whole);
  IsCredentialName(whole);
  UnrepresentableSectionReason(whole);

  FuzzedDataProvider input(data, size);
  static constexpr uint32_t kTypes[] = {1, 2, 3, 4, 7, 11};
  uint32_t type = input.PickValueInArray(kTypes);
  std::string name = input.ConsumeRandomLengthString(64);
  std::string value = input.ConsumeRemainingBytesAsString();
  CheckThroughProfile(name, type, value);
  return 0;
}
