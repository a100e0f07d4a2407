// The flows against the Win32 services under Wine: the prefix's real registry, real folders on
// drive C:, the shell copy, and our profile files over the Win32 file calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/portable_profile_file.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_work_folder_locks.h"
#include "tests/flow_world.h"

namespace kdr::testing {
namespace {

void DeleteTree(HKEY root, const char* path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, "Software", 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
  RegDeleteTreeA(key, path);
  RegCloseKey(key);
}

class Win32World : public FlowWorld {
 public:
  Win32World() {
    // Every world starts without either product, in both registry views.
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      DeleteTree(HKEY_LOCAL_MACHINE, "VTQ", view);
      DeleteTree(HKEY_CURRENT_USER, "VTQ", view);
    }
    static int counter = 0;
    base_ =
        "C:\\kdr4test\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    if (FileResult made = files_.MakeSurePathExists(base_ + "\\"); !made) {
      ADD_FAILURE() << Describe(made);
    }
  }
  Registry& registry() override { return registry_; }
  FileSystem& files() override { return files_; }
  ProfileFile& profiles() override { return profiles_; }
  WorkFolderLocks& work_locks() override { return work_locks_; }
  std::string Base() override { return base_; }
  std::string MissingDrivePath() override { return "Q:"; }
  std::string AliasDrive() override {
    std::wstring target(base_.begin(), base_.end());
    if (!DefineDosDeviceW(0, L"S:", target.c_str())) return std::string();
    alias_ = true;
    // Wine 8 accepts the definition but opens nothing through it (error 3); the UI tests make
    // their second letter as a dosdevices link instead.
    return files_.IsFolder("S:\\") ? "S:" : std::string();
  }
  ~Win32World() override {
    if (alias_) DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"S:", nullptr);
  }

 private:
  std::string base_;
  bool alias_ = false;
  Win32Registry registry_;
  Win32FileSystem files_;
  PortableProfileFile profiles_{files_};
  Win32WorkFolderLocks work_locks_;
};

std::unique_ptr<FlowWorld> MakeWin32World() { return std::make_unique<Win32World>(); }

const bool registered = RegisterFlowWorld(&MakeWin32World);

}  // namespace
}  // namespace kdr::testing
