#include "core/log_lines.h"

#include <utility>

#include "platform/hex_text.h"
#include "platform/text_encoding.h"

namespace kdr {

void AppendEscaped(std::string_view text, std::string* out) {
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      *out += "\\x";
      AppendHexByte(byte, out);
    } else {
      out->push_back(c);
    }
  }
}

void LogLines::Line(std::string_view tag, std::string_view first, std::string_view second,
                    bool has_second) {
  pending_ += tag;
  pending_.push_back('\t');
  AppendEscaped(first, &pending_);
  if (has_second) {
    pending_.push_back('\t');
    AppendEscaped(second, &pending_);
  }
  pending_.push_back('\n');
  LineAdded();
}

void LogLines::Done(const LogText& text) { Line("DONE", text.Utf8()); }
void LogLines::Skipped(const LogText& text, const LogText& reason) {
  Line("SKIP", text.Utf8(), reason.Utf8(), true);
}
void LogLines::SourceLine(std::string_view tag, std::string_view source, std::string_view second) {
  Line(tag, PathForDisplay(source), second, true);
}
void LogLines::Copied(std::string_view source, uint64_t bytes) {
  SourceLine("COPY", source, std::to_string(bytes));
}
void LogLines::CopyFailed(std::string_view source, std::string_view error) {
  SourceLine("FAIL", source, error);
}
void LogLines::Shown(std::string_view text) { Line("SHOW", text); }
void LogLines::Comment(std::string_view text) { Line("#", text); }

std::string LogLines::Take() { return std::exchange(pending_, std::string()); }

}  // namespace kdr
