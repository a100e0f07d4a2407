#include "core/log_text.h"

#include "platform/text_encoding.h"

namespace kdr {

void LogText::Add(std::string_view bytes, Part part) {
  // English since the last name becomes a part of its own, so that it stays as it was.
  size_t last = parts_.empty() ? 0 : parts_.back().end;
  if (bytes_.size() > last) parts_.push_back({bytes_.size(), Kind::kEnglish});
  bytes_.append(bytes);
  part.end = bytes_.size();
  parts_.push_back(part);
}

LogText& LogText::operator+=(std::string_view english) {
  bytes_.append(english);
  return *this;
}

LogText& LogText::operator+=(Cp932Text name) {
  Add(name.text, {0, Kind::kCp932});
  return *this;
}

LogText& LogText::operator+=(const Cp932Excerpt& excerpt) {
  // Kept up to one byte past the cut: whether the last character fits depends on the next byte.
  std::string_view kept = excerpt.max_bytes < excerpt.start.size()
                              ? excerpt.start.substr(0, excerpt.max_bytes + 1)
                              : excerpt.start;
  Add(kept, {0, Kind::kExcerpt, excerpt.max_bytes, excerpt.whole_size});
  return *this;
}

LogText& LogText::operator+=(const LogText& other) {
  size_t begin = 0;
  for (const Part& part : other.parts_) {
    std::string_view bytes = std::string_view(other.bytes_).substr(begin, part.end - begin);
    if (part.kind == Kind::kEnglish) {
      *this += bytes;
    } else {
      Add(bytes, part);
    }
    begin = part.end;
  }
  return *this += std::string_view(other.bytes_).substr(begin);
}

std::string LogText::Utf8() const {
  if (parts_.empty()) return bytes_;
  std::string out;
  out.reserve(bytes_.size() + bytes_.size() / 2);
  size_t begin = 0;
  for (const Part& part : parts_) {
    std::string_view bytes = std::string_view(bytes_).substr(begin, part.end - begin);
    switch (part.kind) {
      case Kind::kEnglish:
        out += bytes;
        break;
      case Kind::kCp932:
        out += Cp932ForDisplay(bytes);
        break;
      case Kind::kExcerpt:
        out += Cp932ExcerptForDisplay(bytes, part.max_bytes, part.whole_size);
        break;
    }
    begin = part.end;
  }
  out.append(bytes_, begin);
  return out;
}

}  // namespace kdr
