#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/dialog_view.h"
#include "app/migrate_dlg.h"
#include "app/win32/dialog.h"
#include "app/win32/progress_window.h"
#include "app/win32/win32_handles.h"
#include "platform/win32/owner_window_win32.h"

namespace kdr::win {

// The main dialog window (template 102). It shows a kdr::CMigrateDlg, which holds the state
// and the logic: this class turns clicks and timer ticks into calls on it, and carries out
// what it asks of its view (enable a button, show a message box, own the copy's windows).
// Collect and Migrate run on a thread of their own, so that the window answers throughout; what
// they ask of the view is carried out on the window's thread, which they wait for (a message
// box is dismissed before the run goes on, as when it ran on the window's thread).
class CMigrateDlgWindow : public CDialog, public DialogView {
 public:
  explicit CMigrateDlgWindow(const Services& services);
  ~CMigrateDlgWindow() override;

  INT_PTR DoModal(HINSTANCE instance);

  // DialogView.
  void EnableControl(int control_id, bool enable) override;
  void ShowMessage(std::string_view text) override;
  OwnerWindow* CopyOwner() override { return ToOwnerWindow(window()); }

 protected:
  bool OnInit() override;
  bool OnCommand(int id, int notify_code) override;
  void OnTimer(UINT_PTR id) override;
  bool OnSysCommand(WPARAM command) override;
  bool OnSetCursor(HWND over, int hit_test) override;
  bool OnAppMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  bool OnPaint() override;
  bool OnIconEraseBackground(HDC dc) override;
  HICON OnQueryDragIcon() override { return big_icon_.get(); }
  void OnDestroy() override;

 private:
  void AddAboutMenuItem();
  void SetIcons();
  void CreateToolTips();
  void AddToolTip(int control_id, std::string_view text);
  // A call of the run's thread, waiting to be carried out on the window's.
  struct PendingCall {
    const std::function<void()>* call;
    bool done = false;
  };
  // Runs `call` on the window's thread and returns once it has.
  void OnWindowThread(const std::function<void()>& call);
  void Carry(PendingCall* pending);
  void StartRun(bool migrate);
  void RunEnded();
  // Exit or the close box during a run: asks, and stops the run and ends the program on yes.
  void AskToStop();
  void TellUser(std::string_view text, UINT type, int* answer);

  CMigrateDlg logic_;
  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
  UniqueWindow tooltip_;
  ScopedTimer refresh_timer_;
  std::wstring caption_;  // the message boxes' caption: the program's file name
  DWORD window_thread_ = 0;
  RunProgress progress_;
  CProgressWindow progress_window_{progress_};
  std::thread worker_;
  std::atomic<bool> running_{false};
  bool exit_after_run_ = false;
  bool asking_ = false;  // the question whether to stop is open
  // What the run asked while the question was open, carried out once it is answered: a message
  // box of the run's would otherwise open over the question.
  std::vector<PendingCall*> held_calls_;
  std::mutex calls_mutex_;
  std::condition_variable call_done_;
};

// The executable's full path, however long, in the ANSI code page (GetModuleFileNameA), or
// an empty string when it cannot be read.
std::string ModulePathAnsi();
// The executable's file name without its extension (GetModuleFileNameW).
std::wstring ModuleTitle();

}  // namespace kdr::win
