#pragma once

#include "app/win32/dialog.h"
#include "res/resource.h"

namespace kdr::win {

// The About box (template 100): the icon, the name and version, and OK. Everything it shows
// is in the template; OK, Enter, Escape and the close box end it.
class CAboutDlg : public CDialog {
 public:
  INT_PTR DoModal(HINSTANCE instance, HWND parent) {
    return CDialog::DoModal(instance, IDD_ABOUTBOX, parent);
  }
};

}  // namespace kdr::win
