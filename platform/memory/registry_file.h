#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/held_branches.h"
#include "platform/memory/limited_registry.h"
#include "platform/memory/memory_registry.h"
#include "platform/put_bytes.h"

// Registry editor export files (".reg"), read into and written from a MemoryRegistry, so that the
// console front end can work on such a file instead of the system registry.
//
// Two formats, as the Windows registry editor writes them:
//  - REGEDIT4: 8-bit text in code page 932. Names and strings are kept byte for byte, and so is
//    the data of hex(2) and hex(7) values.
//  - "Windows Registry Editor Version 5.00": UTF-16LE text with a byte order mark. Names and
//    strings are converted to code page 932 for the store, and so is the data of hex(1), hex(2)
//    and hex(7) values, which the file holds as UTF-16LE (the store holds what the ANSI registry
//    functions return). Text with no code page 932 form is refused, never replaced.
// Only the HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER branches (or HKLM, HKCU) can be held.
namespace kdr {

enum class RegistryFileFormat { kRegedit4 = 4, kVersion5 = 5 };

// Why a registry file was refused, for a front end to say in its own words; kOther for a
// failed save.
enum class RegistryFileProblem {
  kOther,
  kNotALine,
  kNul,
  kKeyLineUnclosed,
  kRootKey,
  kTooDeep,
  kEmptyKeyName,
  kKeyNameNotCp932,
  kRootDeleted,
  kEndsInHex,
  kValueOutsideKey,
  kNameUnterminated,
  kNameBadEscape,
  kNameNotCp932,
  kNoEquals,
  kNoData,
  kTextAfterDash,
  kStringUnterminated,
  kStringBadEscape,
  kTextAfterString,
  kStringNotCp932,
  kBadDword,
  kBadHexType,
  kNoHexColon,
  kOddText,
  kTextNotCp932,
  kUnknownData,
  kHexNotCommas,
  kBadHexByte,
  kHexByteTooLong,
  kUtf16Cut,
  kVersion5Not16,
  kRegedit4Is16,
  kNotRegFile,
};

struct RegistryFileError {
  int line = 0;        // 1 upwards: the line of the file that was refused; 0 for a save error
  std::string reason;  // English, names shown in UTF-8
  RegistryFileProblem problem = RegistryFileProblem::kOther;
  std::string detail;  // kRootKey: the root key as written (UTF-8); kTooDeep: the limit
};

// A failed save (line 0), with its reason.
inline RegistryFileError SaveError(std::string reason) {
  RegistryFileError error;
  error.reason = std::move(reason);
  return error;
}

// `problem` in English: "unsupported root key \"X\" (only ...)" with `detail` for {0}.
std::string RegistryFileProblemText(RegistryFileProblem problem, std::string_view detail);

struct RegistryFileLoadResult {
  std::optional<RegistryFileError> error;                     // set when the file was refused
  RegistryFileFormat format = RegistryFileFormat::kVersion5;  // the format read, when accepted
  bool ok() const { return !error; }
};

// Reads `bytes` and applies them to *registry as the registry editor imports a file: keys are
// created with their parents, values set in file order, "[-key]" deletes a key with its subtree
// and "name"=- a value. On a fresh registry the result is exactly the file's contents.
//
// With `branches`, only the keys in them are read (and the deletions of their parents); every
// other line is left alone, whatever it holds, and the store then holds only those branches
// (seen through a HeldBranchRegistry of them, a key outside is unknown). The keys of `checked_only`
// (with `branches`) are checked as if they were read, but not held. Every line that is read or
// checked is checked before anything is applied: when one is malformed, or holds text with no exact
// code page 932 form, the result holds the line and the reason and *registry is left unchanged.
// Each key and value keeps the line it came from as its origin, for WriteBackRegistryFile.
RegistryFileLoadResult LoadRegistryFile(std::string_view bytes, MemoryRegistry* registry,
                                        const std::vector<RegistryBranch>& branches = {},
                                        const std::vector<RegistryBranch>& checked_only = {});

struct RegistryFileSaveResult {
  std::optional<RegistryFileError> error;  // set when the store cannot be written
  std::string bytes;                       // the whole file, when written
  bool ok() const { return !error; }
};

// Writes every key of both roots that holds values or has no subkeys (a key without values
// that has subkeys is created by its subkeys' lines, and would otherwise repeat its path once per
// level below it), each key's values in store order, in `format`, in the registry editor's
// format: a key's subkeys in ascending case-insensitive order after it, REG_SZ as a quoted
// string when it is terminated and holds no other NUL (otherwise hex(1)), REG_DWORD as dword:
// when it has exactly 4 bytes, other data as hex: (REG_BINARY) or hex(N):, hex lines wrapped
// with "\" to 80 columns, CRLF line ends. Version 5 is UTF-16LE with a byte order mark. Reading
// the bytes back gives the same keys, values, types and data. Refused (with line 0 and a reason
// naming the key or value) when a name cannot be written in `format`, or when version 5 cannot
// hold a text unchanged (bytes that are not code page 932, or that do not come back the same
// from UTF-16).
RegistryFileSaveResult SaveRegistryFile(const MemoryRegistry& registry, RegistryFileFormat format);

// `original` (the file *registry was loaded from) with the changes the store holds below
// `branch` written into it, in the file's format and line ends: a changed value's lines are
// replaced where they are, a new value goes at the end of its key's last block, a new key gets
// a block at the end of the file, and the lines of values and the blocks of keys that the store
// no longer holds are dropped. Every other byte stays as it was. Refused (line 0) when a
// changed name or value cannot be written, which RegistryFileLimits lets the store refuse
// beforehand.
//
// The file is handed to `put` in pieces, in order, once every change has been checked; nothing
// is put when the write-back is refused. A refusal from `put` ends it (result refused too).
// A long value is rendered as it is put, never held a second time.
RegistryFileSaveResult WriteBackRegistryFile(std::string_view original,
                                             const MemoryRegistry& registry,
                                             const RegistryBranch& branch, const PutBytes& put);

// The same, with the whole file in the result.
RegistryFileSaveResult WriteBackRegistryFile(std::string_view original,
                                             const MemoryRegistry& registry,
                                             const RegistryBranch& branch);

// The names and values a file of `format` can hold, as limits for the store.
RegistryLimits RegistryFileLimits(RegistryFileFormat format);

}  // namespace kdr
