#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/log_lines.h"

// The detailed log of one run (--log FILE).
namespace kdr::cli {

// The --log file: the run's events in the log's one format (core/log_lines.h), written as
// they happen.
class RunLog : public LogLines {
 public:
  // Opens (and truncates) the file; check ok().
  explicit RunLog(const std::filesystem::path& path);
  bool ok() const { return static_cast<bool>(out_); }

  // Writes out what is buffered; false when anything could not be written.
  bool Close();

 private:
  void LineAdded() override;
  std::ofstream out_;
};

}  // namespace kdr::cli
