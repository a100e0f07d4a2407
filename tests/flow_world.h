#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_view.h"
#include "app/migrate_dlg.h"
#include "platform/file_system.h"
#include "platform/profile_file.h"
#include "platform/registry.h"
#include "platform/work_folder_lock.h"
#include "tests/support/registry_values.h"

// A complete set of services for the Collect and Migrate flows, so that one set of scenarios
// runs against the portable services natively and against the Win32 services under Wine.
namespace kdr::testing {

class FlowWorld {
 public:
  virtual ~FlowWorld() = default;
  virtual Registry& registry() = 0;
  virtual FileSystem& files() = 0;
  virtual ProfileFile& profiles() = 0;
  virtual WorkFolderLocks& work_locks() = 0;
  // A fresh, empty folder for this test (a Windows path without a trailing backslash).
  virtual std::string Base() = 0;
  // A Windows path on a drive that does not exist.
  virtual std::string MissingDrivePath() = 0;
  // A drive ("S:") whose root is the folder Base() names, as subst or a mapped drive makes
  // one; empty when the platform cannot make one here.
  virtual std::string AliasDrive() = 0;
};

using FlowWorldFactory = std::unique_ptr<FlowWorld> (*)();

// The worlds this platform's test binary provides; each platform file registers its own.
std::vector<FlowWorldFactory>& FlowWorldFactories();
inline bool RegisterFlowWorld(FlowWorldFactory factory) {
  FlowWorldFactories().push_back(factory);
  return true;
}

// Records what the dialog logic showed and which buttons it left enabled.
class RecordingView : public DialogView {
 public:
  void EnableControl(int id, bool enable) override {
    if (id == kCollectButton) collect_enabled = enable;
    if (id == kMigrateButton) migrate_enabled = enable;
    if (id == kExitButton) exit_enabled = enable;
  }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  OwnerWindow* CopyOwner() override { return nullptr; }

  std::vector<std::string> messages;
  bool collect_enabled = false;
  bool migrate_enabled = false;
  bool exit_enabled = true;
};

// Every key and value at and below `path`, one sorted line each: "key" or "key|name|type|hex".
std::vector<std::string> DumpTree(Registry& registry, RootKey root, std::string_view path);

// Files below a folder, one sorted line each: "relative\path|content" (folders end with "\").
std::vector<std::string> DumpFolder(FileSystem& files, std::string_view folder,
                                    const std::vector<std::string>& relative_paths);

}  // namespace kdr::testing
