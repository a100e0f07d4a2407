#pragma once

#include <string_view>

#include "platform/owner_window.h"

// What the dialog logic needs of whatever shows it: the Windows dialog, the console, a test.
namespace kdr {

// Control IDs of the main dialog.
inline constexpr int kExitButton = 1;  // the dialog's OK command
inline constexpr int kCollectButton = 1000;
inline constexpr int kMigrateButton = 1001;

class DialogView {
 public:
  virtual ~DialogView() = default;
  // Enables or disables one of the three buttons.
  virtual void EnableControl(int control_id, bool enable) = 0;
  // Shows `text` (UTF-8) to the user and returns when the user has seen it (a modal message
  // box with one OK button on Windows).
  virtual void ShowMessage(std::string_view text) = 0;
  // The window that owns the platform copy's own messages (null when there is none).
  virtual OwnerWindow* CopyOwner() = 0;
};

}  // namespace kdr
