#include "cli/run_log.h"

#include "cli/cli_platform.h"
#include "platform/text_encoding.h"

namespace kdr::cli {
namespace {

std::string Escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

RunLog::RunLog(const std::filesystem::path& path)
    : out_(path, std::ios::binary | std::ios::trunc) {}

void RunLog::Line(std::string_view tag, std::string_view first, std::string_view second,
                  bool has_second) {
  if (!out_) return;
  std::string line(tag);
  line.push_back('\t');
  line += Escaped(first);
  if (has_second) {
    line.push_back('\t');
    line += Escaped(second);
  }
  line.push_back('\n');
  out_ << line;
}

void RunLog::Done(std::string_view text) { Line("DONE", text); }

void RunLog::Skipped(std::string_view text, std::string_view reason) {
  Line("SKIP", text, reason, true);
}

void RunLog::Copied(std::string_view source_utf8, uint64_t bytes) {
  Line("COPY", source_utf8, std::to_string(bytes), true);
}

void RunLog::CopyFailed(std::string_view source_utf8, std::string_view error) {
  Line("FAIL", source_utf8, error, true);
}

void RunLog::Shown(std::string_view text) { Line("SHOW", text); }

void RunLog::Comment(std::string_view text) { Line("#", text); }

bool RunLog::Close() {
  if (!out_) return false;
  out_.flush();
  bool ok = static_cast<bool>(out_);
  out_.close();
  return ok && !out_.fail();
}

void Progress::FileCopied(uint64_t bytes) {
  ++files_;
  bytes_ += bytes;
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  shown_ = true;
  std::string line =
      "copied " + std::to_string(files_) + " files, " + std::to_string(bytes_) + " bytes";
  size_t width = line.size();
  if (line.size() < width_) line.append(width_ - line.size(), ' ');
  width_ = width;
  line.insert(line.begin(), '\r');
  WriteStderr(line);
}

void Progress::Clear() {
  if (!enabled_ || !shown_) return;
  shown_ = false;
  std::string blank(width_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  WriteStderr(blank);
  width_ = 0;
}

void CopyReporter::FileCopied(std::string_view source_path, uint64_t bytes) {
  if (log_ != nullptr) log_->Copied(Cp932ForDisplay(source_path), bytes);
  progress_.FileCopied(bytes);
}

void CopyReporter::CopyFailed(std::string_view source_path, const FileResult& error) {
  if (log_ != nullptr) log_->CopyFailed(Cp932ForDisplay(source_path), Describe(error));
}

}  // namespace kdr::cli
