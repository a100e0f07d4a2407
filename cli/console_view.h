#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_view.h"
#include "cli/console_progress.h"

namespace kdr::cli {

// The dialog shown on a console: each message the window would show in a message box is one
// line on standard output, and the button states are kept for the status command. With
// `quiet`, only messages that report a problem are printed (not "... collected" or
// "... migrated"); with `silent` (--json, whose result is the only thing on standard output),
// none.
class ConsoleView : public DialogView {
 public:
  ConsoleView(bool quiet, bool silent, ConsoleProgress& progress)
      : quiet_(quiet), silent_(silent), progress_(progress) {}

  void EnableControl(int control_id, bool enable) override;
  void ShowMessage(std::string_view text) override;
  OwnerWindow* CopyOwner() override { return nullptr; }

  // Keeps the messages from here on until ReleaseMessages: a run whose results are saved only
  // at its end says an edition worked only once they are.
  void HoldMessages() { holding_ = true; }
  // Prints the kept messages in order; without `saved`, those that report a success are left
  // out, since what they report was not saved.
  void ReleaseMessages(bool saved);

  bool collect_enabled() const { return collect_enabled_; }
  bool migrate_enabled() const { return migrate_enabled_; }
  bool exit_enabled() const { return exit_enabled_; }

 private:
  bool quiet_;
  bool silent_;
  ConsoleProgress& progress_;
  bool collect_enabled_ = false;
  bool migrate_enabled_ = false;
  bool exit_enabled_ = true;
  bool holding_ = false;
  std::vector<std::string> held_;
};

// True for the texts that say an edition was collected or migrated.
bool IsSuccessMessage(std::string_view text);

}  // namespace kdr::cli
