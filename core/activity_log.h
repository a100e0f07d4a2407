#pragma once

#include <string_view>

// A record of what a run did and what it passed over, for the console tool's log. The window
// tool keeps none and passes NullActivityLog. Texts are UTF-8.
namespace kdr {

class ActivityLog {
 public:
  virtual ~ActivityLog() = default;
  // Something done: "export Software\...\Common: SRVPORT = 4:01000000".
  virtual void Done(std::string_view text) = 0;
  // Something passed over, and why.
  virtual void Skipped(std::string_view text, std::string_view reason) = 0;
};

class NullActivityLog : public ActivityLog {
 public:
  void Done(std::string_view) override {}
  void Skipped(std::string_view, std::string_view) override {}
};

}  // namespace kdr
