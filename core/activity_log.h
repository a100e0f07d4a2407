#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/log_text.h"

// A record of what a run did and what it passed over: the console tool's --log and the work
// folder's kdr4tose.log, which both programs keep. Texts are English with the names they are
// about in code page 932 (LogText); the log that writes them out converts them once.
namespace kdr {

// How much of a value's text a log line shows; the rest is summed up as its size.
inline constexpr size_t kLoggedValueBytes = 256;

class ActivityLog {
 public:
  virtual ~ActivityLog() = default;
  // Something done: "export Software\...\Common: SRVPORT = 4:01000000".
  virtual void Done(const LogText& text) = 0;
  // Something passed over, and why.
  virtual void Skipped(const LogText& text, const LogText& reason) = 0;
  // One file copied, by its source path. Paths here are in code page 932, as the core holds
  // them: the log that writes them out converts them once.
  virtual void Copied(std::string_view /*source*/, uint64_t /*bytes*/) {}
  // One item not copied (or not whole), with the call, path and error that say why.
  virtual void CopyFailed(std::string_view /*source*/, std::string_view /*error*/) {}
  // A message the tool showed.
  virtual void Shown(std::string_view /*text*/) {}
  // The run's start and result.
  virtual void Comment(std::string_view /*text*/) {}
};

class NullActivityLog : public ActivityLog {
 public:
  void Done(const LogText&) override {}
  void Skipped(const LogText&, const LogText&) override {}
};

// Passes every event to two logs (either may be null).
class LogTee : public ActivityLog {
 public:
  LogTee(ActivityLog* first, ActivityLog* second) : first_(first), second_(second) {}
  void Done(const LogText& text) override {
    if (first_) first_->Done(text);
    if (second_) second_->Done(text);
  }
  void Skipped(const LogText& text, const LogText& reason) override {
    if (first_) first_->Skipped(text, reason);
    if (second_) second_->Skipped(text, reason);
  }
  void Copied(std::string_view source, uint64_t bytes) override {
    if (first_) first_->Copied(source, bytes);
    if (second_) second_->Copied(source, bytes);
  }
  void CopyFailed(std::string_view source, std::string_view error) override {
    if (first_) first_->CopyFailed(source, error);
    if (second_) second_->CopyFailed(source, error);
  }
  void Shown(std::string_view text) override {
    if (first_) first_->Shown(text);
    if (second_) second_->Shown(text);
  }
  void Comment(std::string_view text) override {
    if (first_) first_->Comment(text);
    if (second_) second_->Comment(text);
  }

 private:
  ActivityLog* first_;
  ActivityLog* second_;
};

}  // namespace kdr
