#include "app/win32/progress_window.h"

#include <commctrl.h>

#include "app/progress_text.h"
#include "platform/win32/wide_text.h"
#include "res/resource.h"

namespace kdr::win {

namespace {

// Often enough to look alive, rarely enough to cost the run nothing it would notice.
constexpr UINT kUpdatePeriodMs = 250;

}  // namespace

bool CProgressWindow::Open(HINSTANCE instance, HWND owner) {
  if (window()) return true;
  if (!Create(instance, IDD_PROGRESS, owner)) return false;
  ShowWindow(window(), SW_SHOWNOACTIVATE);
  return true;
}

bool CProgressWindow::OnInit() {
  SendDlgItemMessageW(window(), IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 1000);
  PlaceBelowOwner();
  Update();
  timer_.Start(window(), IDT_PROGRESS, kUpdatePeriodMs);
  return false;  // the focus stays with the main dialog
}

void CProgressWindow::PlaceBelowOwner() {
  HWND owner = GetWindow(window(), GW_OWNER);
  RECT owner_rect = {};
  RECT own = {};
  if (!owner || !GetWindowRect(owner, &owner_rect) || !GetWindowRect(window(), &own)) return;
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  int x = owner_rect.left + ((owner_rect.right - owner_rect.left) - width) / 2;
  int y = owner_rect.bottom;
  // Kept on the owner's screen: over the owner's lower part when there is no room below it.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x + width > work.right) x = work.right - width;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
  }
  SetWindowPos(window(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CProgressWindow::OnTimer(UINT_PTR id) {
  if (id == IDT_PROGRESS) Update();
}

void CProgressWindow::Update() {
  const ProgressState state = progress_.State();
  const ProgressTexts texts = MakeProgressTexts(state);
  SetText(IDC_PROGRESS_STEP, texts.step);
  SetText(IDC_PROGRESS_COUNTS, texts.counts);
  SetText(IDC_PROGRESS_LEFT, texts.left);
  const int permille = PermilleDone(state).value_or(0);
  SendDlgItemMessageW(window(), IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
}

void CProgressWindow::SetText(int id, const std::string& utf8) {
  std::wstring wide = Utf8ToWide(utf8);
  HWND control = Item(id);
  // Set only when it changed: a static control repaints on every set, which flickers.
  int length = GetWindowTextLengthW(control);
  std::wstring now(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  int got = GetWindowTextW(control, now.data(), static_cast<int>(now.size()));
  now.resize(got > 0 ? static_cast<size_t>(got) : 0);
  if (now != wide) SetWindowTextW(control, wide.c_str());
}

bool CProgressWindow::OnSetCursor(HWND /*over*/, int hit_test) {
  if (hit_test != HTCLIENT) return false;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  return true;
}

bool CProgressWindow::OnCommand(int /*id*/, int /*notify_code*/) {
  // Escape and Enter do not end it: the run does, or Exit on the main dialog.
  return true;
}

}  // namespace kdr::win
