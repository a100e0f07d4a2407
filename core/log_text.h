#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The text of a log event: English in UTF-8, with the names it is about (paths, registry key and
// value names, values) kept as the core holds them, in code page 932. Each output that shows it
// (the log file, a message) converts the names once, when it writes the text out.
namespace kdr {

// A name in code page 932, to be shown in UTF-8 by the output.
struct Cp932Text {
  explicit Cp932Text(std::string_view cp932) : text(cp932) {}
  std::string_view text;
};

// The first `max_bytes` of a code page 932 text of `whole_size` bytes (`start` holds at least
// that much of it, or all): shown cut between characters, with the whole size after it when cut.
struct Cp932Excerpt {
  std::string_view start;
  size_t max_bytes;
  size_t whole_size;
};

class LogText {
 public:
  LogText() = default;
  LogText(const char* english) : bytes_(english) {}             // NOLINT: English is a text
  LogText(std::string english) : bytes_(std::move(english)) {}  // NOLINT
  LogText(std::string_view english) : bytes_(english) {}        // NOLINT
  LogText(Cp932Text name) { *this += name; }                    // NOLINT: a name is a text

  LogText& operator+=(std::string_view english);
  LogText& operator+=(Cp932Text name);
  LogText& operator+=(const Cp932Excerpt& excerpt);
  LogText& operator+=(const LogText& other);

  // The text in UTF-8, each name converted; a byte that does not decode shows as \xNN.
  std::string Utf8() const;
  bool empty() const { return bytes_.empty(); }

 private:
  enum class Kind : unsigned char { kEnglish, kCp932, kExcerpt };
  struct Part {
    size_t end;  // in bytes_
    Kind kind;
    size_t max_bytes = 0;  // an excerpt's
    size_t whole_size = 0;
  };
  void Add(std::string_view bytes, Part part);
  std::string bytes_;
  // The parts of bytes_ up to the last name; English after it, or all English when empty.
  std::vector<Part> parts_;
};

inline LogText operator+(LogText text, std::string_view english) {
  text += english;
  return text;
}
inline LogText operator+(LogText text, Cp932Text name) {
  text += name;
  return text;
}
inline LogText operator+(LogText text, const Cp932Excerpt& excerpt) {
  text += excerpt;
  return text;
}
// Only a LogText itself: English converts to both kinds of right-hand side.
template <class T>
requires std::same_as<T, LogText> LogText operator+(LogText text, const T& more) {
  text += more;
  return text;
}
inline LogText operator+(std::string_view english, const LogText& text) {
  LogText joined(english);
  joined += text;
  return joined;
}

}  // namespace kdr
