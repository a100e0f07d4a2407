// The profile-file reader over any file: both list reads with buffers of many sizes (never a
// byte past the buffer, always a well-ended list, the whole list when it fits), every section
// read, and a write into the file that reads back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/memory_files.h"
#include "platform/cp932.h"
#include "platform/portable_profile_file.h"

using namespace kdr;

namespace {

const std::string kFile = "C:\\kdr4env\\client\\kdr4reg.fil";
constexpr size_t kSizes[] = {1, 2, 3, 4, 7, 16, 100, 1024, 10240, 20480};

// Calls `read` with a buffer of exactly `size` bytes (so that the sanitizer sees any byte
// beyond it) and checks the list it leaves against the whole list.
template <typename Read>
void CheckCutList(size_t size, const std::string& whole, Read read) {
  std::vector<char> buffer(size, '\x5a');
  uint32_t n = read(std::span<char>(buffer));
  if (n > size) fuzz::Fail("returned more than the buffer");
  if (size >= 2) {
    if (n > size - 2 || buffer[n] != '\0') fuzz::Fail("list not ended by a NUL");
    if (n >= 1 && buffer[n - 1] != '\0' && n != size - 2) fuzz::Fail("last name not ended");
  }
  // A buffer that holds the whole list gets the whole list.
  const bool empty = whole == std::string(2, '\0');
  if (size >= whole.size() + 1) {
    // (A line that starts with a NUL lists as an empty text, which ends the list early: the
    // count may then exceed what the list shows, so an empty list is checked by its bytes.)
    if (!empty && n != whole.size() - 1) fuzz::Fail("length of a list that fits");
    if (std::string(buffer.data(), n + 1) != whole.substr(0, n + 1)) {
      fuzz::Fail("list that fits differs");
    }
  }
  // A cut list is a prefix of the whole one.
  if (size >= 2 && n <= size - 2 && n <= whole.size()) {
    if (std::string(buffer.data(), n) != whole.substr(0, n)) fuzz::Fail("cut list not a prefix");
  }
}

std::vector<std::string> Names(const std::string& list) {
  std::vector<std::string> names;
  for (size_t at = 0; at < list.size() && list[at] != '\0';) {
    size_t end = list.find('\0', at);
    names.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::MemoryFiles files;
  files.Put(kFile, std::string_view(reinterpret_cast<const char*>(data), size));
  PortableProfileFile profiles(files);

  std::string names = profiles.ReadSectionNames(kFile);
  if (names.size() < 2 || names.compare(names.size() - 2, 2, std::string(2, '\0')) != 0) {
    fuzz::Fail("section list not ended by two NULs");
  }
  for (size_t s : kSizes) {
    CheckCutList(s, names, [&](std::span<char> b) { return profiles.GetSectionNames(b, kFile); });
  }
  std::vector<std::string> sections = Names(names);
  for (const std::string& section : sections) {
    std::string entries = profiles.ReadSection(section, kFile);
    for (size_t s : kSizes) {
      CheckCutList(s, entries,
                   [&](std::span<char> b) { return profiles.GetSection(section, b, kFile); });
    }
  }

  // A write into the first listed section is found there by a fresh reader, and the file
  // keeps every section it listed.
  // Not for a file holding NUL bytes: a listed name is cut at its first NUL, and a write to
  // the cut name does not always reach the section it was cut from (a lead byte of a
  // double-byte character before the NUL), a known limit for hand-edited files.
  bool has_nul = std::string_view(reinterpret_cast<const char*>(data), size).find('\0') !=
                 std::string_view::npos;
  if (!has_nul && !sections.empty() && !sections.front().empty() &&
      sections.front().find_first_of(" \t\v") == std::string::npos) {
    if (!profiles.WriteString(sections.front(), "FuzzKey", "1:v", kFile)) fuzz::Fail("write");
    if (!profiles.Flush()) fuzz::Fail("flush");
    PortableProfileFile reader(files);
    std::string entries = reader.ReadSection(sections.front(), kFile);
    // The key keeps the spelling of an entry the file already holds under another case.
    entries = Cp932UpperCase(entries);
    std::string wanted("\0FUZZKEY=1:V\0", 13);
    if ((std::string(1, '\0') + entries).find(wanted) == std::string::npos)
      fuzz::Fail("written entry not read back");
    std::vector<std::string> after = Names(reader.ReadSectionNames(kFile));
    if (after.size() < sections.size()) fuzz::Fail("a write lost a section");
  }
  return 0;
}
