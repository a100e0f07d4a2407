#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/held_branches.h"
#include "platform/memory/memory_registry.h"
#include "platform/put_bytes.h"

// Windows registry hive files (a user's NTUSER.DAT, a machine's SOFTWARE) read into and written
// back from a MemoryRegistry, for the registry of a PC that is not running: the disk of a PC
// that no longer starts. The store holds code page 932 as the ANSI registry functions return it;
// a hive holds names and text as UTF-16, converted exactly or refused (as a version 5 registry
// file is: RegistryFileLimits(kVersion5) are the limits of a store written back to a hive).
namespace kdr::cli {

// Whether hive files can be read and written in this build.
extern const bool kHiveFilesSupported;

// Where a hive's root key stands in the registry: below `root`, at `path` ("" for the root).
struct HiveMount {
  RootKey root = RootKey::kCurrentUser;
  std::string path;
};
// A user's NTUSER.DAT is HKEY_CURRENT_USER; a SOFTWARE hive is HKEY_LOCAL_MACHINE\Software.
inline HiveMount UserHiveMount() { return {RootKey::kCurrentUser, ""}; }
inline HiveMount SoftwareHiveMount() { return {RootKey::kLocalMachine, "Software"}; }

// Why a hive could not be read or written, for the console to say in its language. Names are
// UTF-8 as the hive holds them.
enum class HiveProblem {
  kNone,
  kUnreadableHere,  // this build reads no hive files
  kUnwritableHere,
  kCall,               // `call` failed with `error_number`
  kNotAHive,           // ... and the file is not a hive
  kNotWhole,           // ... and the file is only part of one
  kDamaged,            // ... in a damaged hive: at `key` (and `value`), or below `key`
  kKeyTwice,           // `key` is listed below itself
  kKeyNameNotCp932,    // `key`'s last name
  kValueNameNotCp932,  // `value` of `key`
  kTextNotCp932,       // the text of `value` of `key`
  kTextNotForHive,     // the text of `value`, to be written
  kCutShort,           // the header says `header_bytes`, the file has `file_bytes`
  kNotTaken,           // the written hive's bytes were not taken
  kBranchNotInHive,    // `key`
};

struct HiveError {
  HiveProblem problem = HiveProblem::kNone;
  std::string call;
  int error_number = 0;
  std::string key;
  std::string value;
  bool below = false;
  uint64_t header_bytes = 0;
  uint64_t file_bytes = 0;
};

// In English, as the log has it: "it is not a registry hive file: hivex_open: ... (errno 95)".
std::string HiveErrorText(const HiveError& error);

// Reads the keys of `branches` that lie in the hive at `path` (mounted at `mount`), with their
// subkeys and values, into *registry, the keys marked as read from a file and the values as
// unchanged; the keys of `checked_only` are read and checked the same way but not kept. A branch
// the hive does not hold is absent. False with *error (the cause and errno where there is one)
// when the file is not a hive, is damaged, or holds a name or a text there with no exact code
// page 932 form; *registry may then hold a part and must be dropped.
bool LoadHive(const std::filesystem::path& path, const HiveMount& mount,
              const std::vector<RegistryBranch>& branches,
              const std::vector<RegistryBranch>& checked_only, MemoryRegistry* registry,
              HiveError* error);

// The hive `original` (the bytes of the file the store was read from) with `branch` made as the
// store holds it (values set, new keys added, keys
// the store no longer holds deleted; a key whose values did not change is left alone, and so
// are the unchanged values' bytes), handed to `put` in pieces, in order. Every other key of the
// hive stays as it was. False with *error when the hive cannot be opened, changed or committed,
// or a piece was not taken; nothing is put before every change was made.
bool WriteBackHive(std::string_view original, const HiveMount& mount,
                   const MemoryRegistry& registry, const RegistryBranch& branch,
                   const PutBytes& put, HiveError* error);

}  // namespace kdr::cli
