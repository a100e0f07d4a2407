#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/contract_implementations.h"

// One FileSystem implementation set up for the contract test over a scratch folder. The harness
// seeds and inspects files by its platform's own means, not through the interface under test.
namespace kdr::contract {

class FileSystemHarness {
 public:
  virtual ~FileSystemHarness() = default;
  virtual FileSystem& fs() = 0;
  // An empty scratch folder, as a tool path ending with a backslash.
  virtual const std::string& root() const = 0;
  // The root of a drive that does not exist, such as "Q:\".
  virtual std::string MissingDrive() const = 0;
  // The names in a folder, sorted; empty when it is missing.
  virtual std::vector<std::string> List(const std::string& folder) = 0;
  // Creates or replaces a file.
  virtual bool Put(const std::string& path, const std::string& bytes) = 0;
  // Creates a file by a name its platform's own calls would take for a device ("NUL", "aux."):
  // on Windows by the path's "\\?\" form.
  virtual bool PutByOwnName(const std::string& path, const std::string& bytes) {
    return Put(path, bytes);
  }
  // Reads a file back; "<missing>" when it cannot be read.
  virtual std::string Get(const std::string& path) = 0;
  virtual bool MakeFolder(const std::string& path) = 0;
  virtual bool SetModified(const std::string& path, int64_t unix_seconds) = 0;
  // Makes a file read-only (POSIX: no write bits; Windows: the attribute) or writable again.
  virtual bool SetReadOnly(const std::string& path, bool read_only) = 0;
  virtual bool IsReadOnly(const std::string& path) = 0;
  // Takes (or gives back) every right of the tool's user on folder `path`. False where that
  // cannot keep the user out (no such rights kept, or run as root).
  virtual bool ShutFolder(const std::string& /*path*/, bool /*shut*/) { return false; }
  // Empty when the platform reads 8-bit names as code page 932; otherwise why not.
  virtual std::string Cp932Problem() const = 0;
  // Wine, where it differs from Windows (each use says how).
  virtual bool IsWine() const { return false; }
  // The POSIX implementation, which names POSIX calls in its errors.
  virtual bool IsPosix() const { return false; }
};

using FileSystemImplementation = Implementation<std::unique_ptr<FileSystemHarness>>;

}  // namespace kdr::contract
