#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/registry_text.h"

// The lines of a registry editor file as byte ranges of the file itself, so that a write-back
// can keep every line it does not change exactly as it was.
namespace kdr::registry_text {

class FileLines {
 public:
  // Splits at CR LF, LF or CR. A version 5 file (one that starts with the UTF-16LE byte order
  // mark) is split at those characters in UTF-16LE; an odd last byte is left out.
  explicit FileLines(std::string_view bytes);

  Format format() const { return format_; }
  bool cut_off() const { return cut_off_; }  // a version 5 file with an odd number of bytes
  size_t size() const { return begins_.size(); }

  // Byte offsets of line `i`: its text [Begin, End), its line end [End, Next).
  size_t Begin(size_t i) const { return begins_[i]; }
  size_t End(size_t i) const;
  size_t Next(size_t i) const { return i + 1 < begins_.size() ? begins_[i + 1] : limit_; }

  // The text of line `i`, as it stands in the file.
  std::string_view Text(size_t i) const { return bytes_.substr(Begin(i), End(i) - Begin(i)); }
  // The first character of line `i` that is not a blank (its first unit for a two-unit
  // character), or kNoChar for a blank line; without decoding the line.
  static constexpr uint32_t kNoChar = 0xffffffff;
  uint32_t FirstChar(size_t i) const;

  // The file's line end in its own encoding (that of the first line; CR LF when there is none).
  std::string Eol() const;

 private:
  size_t Unit() const { return UnitSize(format_); }
  bool IsChar(size_t at, char c) const;

  std::string_view bytes_;
  Format format_;
  bool cut_off_ = false;
  size_t limit_;  // end of the text (an odd last byte of a version 5 file left out)
  std::vector<size_t> begins_;
};

}  // namespace kdr::registry_text
