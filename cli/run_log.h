#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/activity_log.h"
#include "platform/file_system.h"

// The detailed log of one run (--log FILE) and the copy progress on a terminal.
namespace kdr::cli {

// Writes one line per event, UTF-8, fields separated by tabs; a control character inside a
// field (a tab, a line break) is written as \xNN so that every event stays one line:
//   DONE <text>               something done
//   SKIP <text> <reason>      something passed over, and why
//   COPY <source> <bytes>     one file copied
//   FAIL <source> <error>     one item that could not be copied, with the platform's error
//   SHOW <text>               a message the tool showed
//   #    <comment>            the run's start and result
class RunLog : public ActivityLog {
 public:
  // Opens (and truncates) the file; check ok().
  explicit RunLog(const std::filesystem::path& path);
  bool ok() const { return static_cast<bool>(out_); }

  void Done(std::string_view text) override;
  void Skipped(std::string_view text, std::string_view reason) override;
  void Copied(std::string_view source_utf8, uint64_t bytes);
  void CopyFailed(std::string_view source_utf8, std::string_view error);
  void Shown(std::string_view text);
  void Comment(std::string_view text);
  // Writes out what is buffered; false when anything could not be written.
  bool Close();

 private:
  void Line(std::string_view tag, std::string_view first, std::string_view second = {},
            bool has_second = false);
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

// The copy observer of the run: each item goes to the log (when there is one) and the progress.
class CopyReporter : public CopyObserver {
 public:
  CopyReporter(RunLog* log, Progress& progress) : log_(log), progress_(progress) {}
  void FileCopied(std::string_view source_path, uint64_t bytes) override;
  void CopyFailed(std::string_view source_path, const FileResult& error) override;

 private:
  RunLog* log_;
  Progress& progress_;
};

}  // namespace kdr::cli
