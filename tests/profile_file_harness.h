#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/portable_profile_file.h"
#include "platform/profile_file.h"
#include "tests/contract_implementations.h"

// One ProfileFile implementation set up for the contract test.
namespace kdr::contract {

struct ProfileSubject {
  std::unique_ptr<FileSystem> fs;  // what the profile file works through, when it needs one
  std::unique_ptr<ProfileFile> profile;
  bool is_wine = false;  // the platform's functions, under Wine (not Windows)
};

using ProfileImplementation = Implementation<ProfileSubject>;

// Our profile files over the host's file system `HostFiles`.
template <typename HostFiles>
ProfileSubject MakePortableOver() {
  ProfileSubject s;
  s.fs = std::make_unique<HostFiles>();
  s.profile = std::make_unique<PortableProfileFile>(*s.fs);
  return s;
}

// A fresh, empty host folder for one test, as a path ending with its separator; empty when it
// cannot be made.
std::string MakeTempFolder();

}  // namespace kdr::contract
