#pragma once

#include <windows.h>

namespace kdr::win {

// The application: switches on the common controls, builds the Windows services, runs the
// main dialog modally and returns when it closes. Its result is not used.
class CMigrateApp {
 public:
  int Run(HINSTANCE instance);
};

}  // namespace kdr::win
