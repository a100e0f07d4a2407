#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_result.h"

// INI-format profile files, with the behaviour of the Windows private-profile functions:
// section and key names match without regard to ASCII case, entries keep their order and
// their place when replaced, an emptied section stays listed, bytes pass through unchanged.
namespace kdr {

class ProfileFile {
 public:
  virtual ~ProfileFile() = default;

  // Removes all entries of `section` and leaves it (empty) in its place, creating the file
  // and the section when missing (`entries` is an empty list: only that is used).
  [[nodiscard]] virtual bool WriteSection(std::string_view section, std::string_view entries,
                                          std::string_view file) = 0;

  // Replaces the value of the entry `key` of `section`, or adds it at the end of the section;
  // creates the file and the section when missing.
  [[nodiscard]] virtual bool WriteString(std::string_view section, std::string_view key,
                                         std::string_view value, std::string_view file) = 0;

  // The same with the value `value_head` followed by `value_tail`, so that a caller need not
  // join a long value to a prefix first. This default joins them.
  [[nodiscard]] virtual bool WriteJoinedString(std::string_view section, std::string_view key,
                                               std::string_view value_head,
                                               std::string_view value_tail, std::string_view file) {
    std::string value;
    value.reserve(value_head.size() + value_tail.size());
    value.append(value_head).append(value_tail);
    return WriteString(section, key, value, file);
  }

  // Fills `buffer` with the section names in file order, each ended by a NUL, the list ended
  // by an empty name, cut to fit as Windows cuts it. Returns the characters written without
  // the final NUL (buffer size - 2 when cut).
  virtual uint32_t GetSectionNames(std::span<char> buffer, std::string_view file) = 0;

  // Fills `buffer` with the entries of `section` ("key=value", each ended by a NUL, the list
  // ended by an empty text), cut to fit as Windows cuts it. Returns the characters written
  // without the final NUL: 0 for a missing or empty section.
  virtual uint32_t GetSection(std::string_view section, std::span<char> buffer,
                              std::string_view file) = 0;

  // Writes out what earlier writes keep in memory. Success when every file was written, else the
  // first file that was not (or whose earlier write was refused), with the call and the error.
  [[nodiscard]] virtual FileResult Flush() = 0;

  // Between Hold and the matching Release of `file`, an implementation that keeps files in
  // memory may look at the file on disk once, at Hold, instead of before every call: a change
  // made by someone else meanwhile is seen by the first call after the last Release. Holds nest.
  // The platform's functions read the file on every call and ignore this.
  virtual void Hold(std::string_view file) { (void)file; }
  virtual void Release(std::string_view file) { (void)file; }

  // The whole list of section names (NUL-separated, ended by an empty name), however long.
  std::string ReadSectionNames(std::string_view file);
  // The whole list of entries of `section`, however long.
  std::string ReadSection(std::string_view section, std::string_view file);
};

// Holds a file for the lifetime of the object.
class ProfileFileHold {
 public:
  ProfileFileHold(ProfileFile& profiles, std::string_view file) : profiles_(profiles), file_(file) {
    profiles_.Hold(file_);
  }
  ~ProfileFileHold() { profiles_.Release(file_); }
  ProfileFileHold(const ProfileFileHold&) = delete;
  ProfileFileHold& operator=(const ProfileFileHold&) = delete;

 private:
  ProfileFile& profiles_;
  std::string file_;
};

}  // namespace kdr
