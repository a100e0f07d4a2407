#include "cli/run_log.h"

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

}  // namespace kdr::cli
