#pragma once

#include <windows.h>

#include <string>

#include "app/win32/dialog.h"
#include "app/win32/win32_handles.h"
#include "engine/run_progress.h"

namespace kdr::win {

// The window that shows a running Collect or Migrate (template IDD_PROGRESS), owned by the
// main dialog and placed below it: the step, the files and bytes done of the totals, a bar and
// the time left. It reads the run's progress on a timer of its own, so the run never waits
// for it.
class CProgressWindow : public CDialog {
 public:
  explicit CProgressWindow(const RunProgress& progress) : progress_(progress) {}
  ~CProgressWindow() override { Close(); }

  bool Open(HINSTANCE instance, HWND owner);
  void Close() { Destroy(); }

 protected:
  bool OnInit() override;
  void OnTimer(UINT_PTR id) override;
  bool OnSetCursor(HWND over, int hit_test) override;
  bool OnCommand(int id, int notify_code) override;
  void OnDestroy() override { timer_.Stop(); }

 private:
  void PlaceBelowOwner();
  void Update();
  void SetText(int id, const std::string& utf8);

  const RunProgress& progress_;
  ScopedTimer timer_;
};

}  // namespace kdr::win
