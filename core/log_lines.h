#pragma once

#include <string>
#include <string_view>

#include "core/activity_log.h"

// The one format of the run's log, for --log and for kdr4env\kdr4tose.log: UTF-8, one event a
// line, fields separated by tabs, a control character inside a field (a tab, a line break)
// written as \xNN so that every event stays one line:
//   DONE <text>               something done
//   SKIP <text> <reason>      something passed over, and why
//   COPY <source> <bytes>     one file copied
//   FAIL <source> <error>     one item that could not be copied, with the platform's error
//                             (a folder's source ends with a separator)
// A source is shown with one kind of separator (PathForDisplay).
//   SHOW <text>               a message the tool showed
//   #    <comment>            the run's start and result
namespace kdr {

// Appends `text` to *out with each control character written as \xNN, as a log field is.
void AppendEscaped(std::string_view text, std::string* out);

// Formats the events as lines and keeps them until they are taken.
class LogLines : public ActivityLog {
 public:
  void Done(const LogText& text) override;
  void Skipped(const LogText& text, const LogText& reason) override;
  void Copied(std::string_view source, uint64_t bytes) override;
  void CopyFailed(std::string_view source, std::string_view error) override;
  void Shown(std::string_view text) override;
  void Comment(std::string_view text) override;

  // The lines written since the last call.
  std::string Take();
  // Puts lines taken but not written back, in front of any added since.
  void Restore(std::string lines) { pending_.insert(0, lines); }
  bool empty() const { return pending_.empty(); }
  size_t size() const { return pending_.size(); }

 protected:
  // After each line: a log that writes as it goes takes the lines here.
  virtual void LineAdded() {}

 private:
  void Line(std::string_view tag, std::string_view first, std::string_view second = {},
            bool has_second = false);
  // A line whose first field is a source path in code page 932: shown in UTF-8 here, once.
  void SourceLine(std::string_view tag, std::string_view source, std::string_view second);
  std::string pending_;
};

}  // namespace kdr
