#pragma once

#include <windows.h>

// A small base for modal dialogs built from a dialog template. One static dialog procedure
// finds the object (stored with the window at WM_INITDIALOG) and forwards the messages a
// dialog cares about to virtual handlers; a concrete dialog overrides only what it needs.
namespace kdr::win {

class CDialog {
 public:
  CDialog() = default;
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog of template `template_id` modally (DialogBoxParamW) and returns what
  // EndDialog was given, or -1 when the dialog could not be created.
  INT_PTR DoModal(HINSTANCE instance, int template_id, HWND parent);
  // Creates the dialog of template `template_id` modelessly (CreateDialogParamW), owned by
  // `owner`; false when it could not be. It lives until Destroy or its owner's end.
  bool Create(HINSTANCE instance, int template_id, HWND owner);
  void Destroy() {
    if (window_) DestroyWindow(window_);
  }

  HWND window() const { return window_; }

 protected:
  // WM_INITDIALOG. True lets the system set the default focus.
  virtual bool OnInit() { return true; }
  // WM_COMMAND. True when handled. The default ends the dialog on IDOK and IDCANCEL.
  virtual bool OnCommand(int id, int notify_code);
  // WM_TIMER.
  virtual void OnTimer(UINT_PTR /*id*/) {}
  // WM_SYSCOMMAND. True when handled; false leaves it to the system.
  virtual bool OnSysCommand(WPARAM /*command*/) { return false; }
  // WM_PAINT. True when the dialog painted itself.
  virtual bool OnPaint() { return false; }
  // WM_ICONERASEBKGND while minimised. True when handled.
  virtual bool OnIconEraseBackground(HDC /*dc*/) { return false; }
  // WM_QUERYDRAGICON: the icon shown while a minimised dialog is dragged, or null.
  virtual HICON OnQueryDragIcon() { return nullptr; }
  // WM_SETCURSOR over `over` (the dialog or one of its controls). True when it set the cursor.
  virtual bool OnSetCursor(HWND /*over*/, int /*hit_test*/) { return false; }
  // A message of the program's own (WM_APP and above). True when handled.
  virtual bool OnAppMessage(UINT /*message*/, WPARAM /*wparam*/, LPARAM /*lparam*/) {
    return false;
  }
  // WM_DESTROY: release what belongs to the window while it still exists.
  virtual void OnDestroy() {}

  void EndDialog(INT_PTR result) { ::EndDialog(window_, result); }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  void EnableItem(int id, bool enable) { EnableWindow(Item(id), enable ? TRUE : FALSE); }
  HINSTANCE instance() const { return instance_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Dispatch(UINT message, WPARAM wparam, LPARAM lparam);
  bool Answer(bool handled);

  HWND window_ = nullptr;
  HINSTANCE instance_ = nullptr;
};

}  // namespace kdr::win
