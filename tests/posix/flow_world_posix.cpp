// The flows against the portable services: the in-memory registry, the host file system with
// drive C: mapped to a temporary folder, and our profile files.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/memory/memory_registry.h"
#include "platform/portable_profile_file.h"
#include "platform/posix/portable_file_system.h"
#include "platform/posix/portable_work_folder_locks.h"
#include "tests/flow_world.h"
#include "tests/posix/temp_folder.h"

namespace kdr::testing {
namespace {

class PortableWorld : public FlowWorld {
 public:
  PortableWorld() {
    std::filesystem::create_directories(temp_.path() / "c");
    files_.MapDrive('C', temp_.path() / "c");
  }
  Registry& registry() override { return registry_; }
  FileSystem& files() override { return files_; }
  ProfileFile& profiles() override { return profiles_; }
  WorkFolderLocks& work_locks() override { return work_locks_; }
  std::string Base() override { return "C:\\t"; }
  std::string MissingDrivePath() override { return "Q:"; }
  std::string AliasDrive() override {
    std::filesystem::create_directories(temp_.path() / "c" / "t");
    files_.MapDrive('S', temp_.path() / "c" / "t");
    return "S:";
  }

 private:
  TempFolder temp_{"kdr-flow"};
  MemoryRegistry registry_;
  PortableFileSystem files_;
  PortableProfileFile profiles_{files_};
  PortableWorkFolderLocks work_locks_{files_};
};

std::unique_ptr<FlowWorld> MakePortableWorld() { return std::make_unique<PortableWorld>(); }

const bool registered = RegisterFlowWorld(&MakePortableWorld);

}  // namespace

}  // namespace kdr::testing
