#include "datafolders/copy_report.h"

namespace kdr {

void LogKept(ActivityLog& log, std::string_view edition, uint64_t kept, std::string_view where) {
  if (kept == 0) return;
  log.Done(std::string(edition) + ": " + std::to_string(kept) +
           " file(s) kept: " + std::string(where) + " held them already, proven the same");
}

void CopyRecorder::FileCopied(std::string_view source_path, uint64_t bytes) {
  ++report_.files_copied;
  report_.bytes_copied += bytes;
  log_.Copied(source_path, bytes);
  ForwardingCopyObserver::FileCopied(source_path, bytes);
}

void CopyRecorder::FileKept(std::string_view source_path, uint64_t bytes) {
  // Counted only: the edition's one line (LogKept) names how many; a line a file would cost a
  // run that keeps thousands of files more than the run itself.
  ++report_.files_kept;
  ForwardingCopyObserver::FileKept(source_path, bytes);
}

void CopyRecorder::CopyFailed(std::string_view source_path, const FileResult& error) {
  report_.not_copied.push_back(FailedItem{std::string(source_path), error});
  log_.CopyFailed(source_path, Describe(error));
  ForwardingCopyObserver::CopyFailed(source_path, error);
}

void CopyRecorder::CopiedItself(std::string_view source_path) {
  log_.Done("copied " + Cp932Text(source_path) +
            " with the tool's own copy: its path is too long for the shell copy");
  ForwardingCopyObserver::CopiedItself(source_path);
}

void CopyRecorder::CopiedInPlace(std::string_view destination, std::string_view why) {
  log_.Done("copying into " + Cp932Text(destination) +
            " in place, each file under its own name while it is written: " + std::string(why));
  ForwardingCopyObserver::CopiedInPlace(destination, why);
}

}  // namespace kdr
