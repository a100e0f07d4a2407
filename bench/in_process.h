#pragma once

#include <sys/resource.h>

#include <chrono>
#include <string_view>

#include "app/dialog_view.h"

// What the benchmarks that run the dialog's commands in process share: a view without a window,
// and the clocks they are timed by.
namespace kdr::bench {

using Clock = std::chrono::steady_clock;

// Counts the messages instead of showing them.
class QuietView : public DialogView {
 public:
  void EnableControl(int, bool) override {}
  void ShowMessage(std::string_view) override { ++messages; }
  OwnerWindow* CopyOwner() override { return nullptr; }
  int messages = 0;
};

inline double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of this process (user and system), which other processes on the machine do
// not inflate as they do the elapsed time.
inline double CpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace kdr::bench
