#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/log_lines.h"
#include "platform/file_system.h"

// The detailed log of one run (--log FILE) and the copy progress on a terminal.
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

// Shows "copied N files, M bytes" on standard error while folders are copied, redrawn at most
// ten times a second, and only when standard error is a terminal.
class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled) {}
  void FileCopied(uint64_t bytes);
  // Removes the progress line (before other output, and at the end).
  void Clear();

 private:
  bool enabled_;
  bool shown_ = false;
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;
  size_t width_ = 0;  // of the line on the terminal
  std::chrono::steady_clock::time_point last_draw_{};
};

// The copy observer of the run: each file copied moves the progress on. (The log hears of
// every item through the dialog logic.)
class CopyReporter : public CopyObserver {
 public:
  explicit CopyReporter(Progress& progress) : progress_(progress) {}
  void FileCopied(std::string_view, uint64_t bytes) override { progress_.FileCopied(bytes); }
  void CopyFailed(std::string_view, const FileResult&) override {}

 private:
  Progress& progress_;
};

}  // namespace kdr::cli
