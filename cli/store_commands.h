#pragma once

#include <string>

#include "app/migrate_dlg.h"
#include "store/store_check.h"

// The console commands around the store: verify, undo, and the previews of collect and
// migrate. Each prints its result (text or one JSON object) and returns the exit code.
namespace kdr::cli {

struct StoreCommandOptions {
  bool json = false;
  bool quiet = false;
  bool force = false;  // undo
  bool list = false;   // undo
  std::string backup;  // undo: the backup's name (UTF-8); empty for the newest
  std::string accept;  // verify: the edition whose store is sealed as it now is (UTF-8)
};

// exit 0 when every collected edition is whole, 1 when one is not, 2 when nothing is collected.
// With options.accept, lists that edition's differences and then seals its store as it now is
// (exit 0 when sealed, 1 when it could not be).
int RunVerify(const Services& services, const WorkPaths& paths, const StoreCommandOptions& options);

// exit 0 when everything was restored, 1 when something was refused or failed. *changed is
// set when the registry may have been written.
int RunUndo(const Services& services, const WorkPaths& paths, const StoreCommandOptions& options,
            bool* changed);

// What collect or migrate would do; writes nothing.
int RunCollectPreview(CMigrateDlg& dlg, const Services& services,
                      const StoreCommandOptions& options);
int RunMigratePreview(CMigrateDlg& dlg, const Services& services,
                      const StoreCommandOptions& options);

// A store's state, and with its counts, in the console's language (--json and the logs keep
// StoreStateName's).
std::string StateName(StoreState state);
std::string StateText(const EditionCheck& check);

// The one JSON object printed after a collect or migrate with --json.
std::string RunSummaryJson(const char* command, const RunSummary& summary);

}  // namespace kdr::cli
