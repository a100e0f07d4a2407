#include "cli/console_view.h"

#include <string>

#include "app/messages.h"
#include "cli/cli_platform.h"

namespace kdr::cli {

bool IsSuccessMessage(std::string_view text) {
  for (Edition edition : kAllEditions) {
    if (text == CollectedMessage(edition) || text == MigratedMessage(edition)) return true;
  }
  return false;
}

void ConsoleView::EnableControl(int control_id, bool enable) {
  switch (control_id) {
    case kCollectButton:
      collect_enabled_ = enable;
      break;
    case kMigrateButton:
      migrate_enabled_ = enable;
      break;
    case kExitButton:
      exit_enabled_ = enable;
      break;
    default:
      break;
  }
}

void ConsoleView::ShowMessage(std::string_view text) {
  if (silent_ || (quiet_ && IsSuccessMessage(text))) return;
  if (holding_) {
    held_.emplace_back(text);
    return;
  }
  progress_.Clear();
  std::string line(text);
  line.push_back('\n');
  WriteStdout(line);
}

void ConsoleView::ReleaseMessages(bool saved) {
  holding_ = false;
  std::vector<std::string> held = std::move(held_);
  held_.clear();
  for (const std::string& text : held) {
    if (saved || !IsSuccessMessage(text)) ShowMessage(text);
  }
}

}  // namespace kdr::cli
