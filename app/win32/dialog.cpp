#include "app/win32/dialog.h"

namespace kdr::win {

INT_PTR CDialog::DoModal(HINSTANCE instance, int template_id, HWND parent) {
  instance_ = instance;
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(template_id), parent, &CDialog::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool CDialog::OnCommand(int id, int /*notify_code*/) {
  if (id == IDOK || id == IDCANCEL) {
    EndDialog(id);
    return true;
  }
  return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lparam);
    dialog->window_ = window;
    SetWindowLongPtrW(window, DWLP_USER, lparam);
  } else {
    dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  // Messages that arrive before WM_INITDIALOG (WM_SETFONT) have no object yet.
  if (!dialog) return FALSE;
  INT_PTR result = dialog->Dispatch(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    dialog->window_ = nullptr;
  }
  return result;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInit() ? TRUE : FALSE;
    case WM_COMMAND:
      return OnCommand(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wparam));
      return TRUE;
    case WM_SYSCOMMAND:
      return OnSysCommand(wparam) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_ICONERASEBKGND:
      return OnIconEraseBackground(reinterpret_cast<HDC>(wparam)) ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      // One of the few messages whose dialog procedure result is the answer itself.
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_DESTROY:
      OnDestroy();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace kdr::win
