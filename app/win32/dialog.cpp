#include "app/win32/dialog.h"

namespace kdr::win {

INT_PTR CDialog::DoModal(HINSTANCE instance, int template_id, HWND parent) {
  instance_ = instance;
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(template_id), parent, &CDialog::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(HINSTANCE instance, int template_id, HWND owner) {
  instance_ = instance;
  return CreateDialogParamW(instance, MAKEINTRESOURCEW(template_id), owner, &CDialog::DialogProc,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
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

// A dialog procedure's own answer to a message goes through DWLP_MSGRESULT.
bool CDialog::Answer(bool handled) {
  if (handled) SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
  return handled;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_APP && message <= 0xBFFF) {
    return OnAppMessage(message, wparam, lparam) ? TRUE : FALSE;
  }
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
    case WM_SETCURSOR:
      return Answer(OnSetCursor(reinterpret_cast<HWND>(wparam), LOWORD(lparam))) ? TRUE : FALSE;
    case WM_DESTROY:
      OnDestroy();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace kdr::win
