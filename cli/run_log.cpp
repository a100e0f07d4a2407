#include "cli/run_log.h"

#include "cli/cli_platform.h"
#include "platform/text_encoding.h"

namespace kdr::cli {

RunLog::RunLog(const std::filesystem::path& path)
    : out_(path, std::ios::binary | std::ios::trunc) {}

void RunLog::LineAdded() {
  if (out_) out_ << Take();
}

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

}  // namespace kdr::cli
