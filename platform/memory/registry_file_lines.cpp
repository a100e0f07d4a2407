#include "platform/memory/registry_file_lines.h"

namespace kdr::registry_text {

FileLines::FileLines(std::string_view bytes) : bytes_(bytes) {
  size_t start = 0;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xfe) {
    format_ = Format::kVersion5;
    start = 2;
    cut_off_ = (bytes.size() - 2) % 2 != 0;
  } else {
    format_ = Format::kRegedit4;
  }
  limit_ = bytes.size() - (cut_off_ ? 1 : 0);
  // A REGEDIT4 file can be split by bytes: CR and LF are never the second byte of a character.
  size_t unit = Unit();
  begins_.push_back(start);
  for (size_t i = start; i < limit_; i += unit) {
    if (IsChar(i, '\r')) {
      if (i + unit < limit_ && IsChar(i + unit, '\n')) i += unit;
      begins_.push_back(i + unit);
    } else if (IsChar(i, '\n')) {
      begins_.push_back(i + unit);
    }
  }
}

bool FileLines::IsChar(size_t at, char c) const {
  if (bytes_[at] != c) return false;
  return format_ == Format::kRegedit4 || bytes_[at + 1] == '\0';
}

size_t FileLines::End(size_t i) const {
  size_t next = Next(i);
  if (i + 1 == begins_.size()) return next;  // the last line has no line end
  size_t unit = Unit();
  size_t end = next - unit;  // a CR or an LF
  if (IsChar(end, '\n') && end >= begins_[i] + unit && IsChar(end - unit, '\r')) end -= unit;
  return end;
}

uint32_t FileLines::FirstChar(size_t i) const {
  size_t unit = Unit();
  for (size_t at = Begin(i), end = End(i); at + unit <= end; at += unit) {
    uint32_t c = static_cast<unsigned char>(bytes_[at]);
    if (unit == 2) c |= static_cast<uint32_t>(static_cast<unsigned char>(bytes_[at + 1])) << 8;
    if (!IsBlank(c)) return c;
  }
  return kNoChar;
}

std::string FileLines::Eol() const {
  std::string eol = size() > 1 ? std::string(bytes_.substr(End(0), Next(0) - End(0))) : "";
  if (!eol.empty()) return eol;
  return format_ == Format::kRegedit4 ? std::string("\r\n") : std::string("\r\0\n\0", 4);
}

}  // namespace kdr::registry_text
