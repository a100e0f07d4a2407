#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/activity_log.h"
#include "platform/file_system.h"

// What the data step of one edition copied and, above all, what it did not: each item with the
// platform's error, for the user's message, the console's list and the run's log.
namespace kdr {

struct FailedItem {
  std::string source;  // the tool's path (code page 932) of the file or folder not copied
  FileResult error;    // the call, path and Win32 error that say why
  bool folder() const { return NamesFolder(source); }
};

struct EditionCopyReport {
  std::vector<FailedItem> not_copied;
  uint64_t files_copied = 0;
  uint64_t bytes_copied = 0;
  // Files not copied because the destination held them already, proven the same.
  uint64_t files_kept = 0;
};

// Logs how many files of an edition were not copied because `where` held them already.
void LogKept(ActivityLog& log, std::string_view edition, uint64_t kept, std::string_view where);

// The copy observer of one edition's data step: records each item in the report, logs it, and
// passes it on to `next` (the console's progress; may be null).
class CopyRecorder : public ForwardingCopyObserver {
 public:
  CopyRecorder(EditionCopyReport& report, ActivityLog& log, CopyObserver* next)
      : ForwardingCopyObserver(next), report_(report), log_(log) {}

  void FileCopied(std::string_view source_path, uint64_t bytes) override;
  void CopyFailed(std::string_view source_path, const FileResult& error) override;
  void CopiedItself(std::string_view source_path) override;
  void FileKept(std::string_view source_path, uint64_t bytes) override;
  void CopiedInPlace(std::string_view destination, std::string_view why) override;

 private:
  EditionCopyReport& report_;
  ActivityLog& log_;
};

}  // namespace kdr
