#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

// The registry writes a Migrate's plan saw its import make, so that the import itself can be
// held to them: a settings file read anew by the import may say more than the plan read, and
// what the backup did not record, undo cannot take back. Kept as 64-bit hashes (8 bytes a
// value); key paths and value names compare without regard to ASCII case, as the registry's.
namespace kdr {

// Keys and values below HKEY_CURRENT_USER.
class PlannedWrites {
 public:
  void AddKey(std::string_view path);
  void AddValue(std::string_view key, std::string_view name, uint32_t type, std::string_view data);
  // A value written more than once with other data: its last data may equal what the registry
  // holds, but a run stopped between the writes would leave an earlier one.
  void AddRewritten(std::string_view key, std::string_view name);
  // Sorts what was added; the questions below need it.
  void Seal();

  bool HasKey(std::string_view path) const;
  bool HasValue(std::string_view key, std::string_view name, uint32_t type,
                std::string_view data) const;
  bool WasRewritten(std::string_view key, std::string_view name) const;

 private:
  std::vector<uint64_t> keys_;
  std::vector<uint64_t> values_;
  std::vector<uint64_t> rewritten_;
};

// A registry that passes everything to `inner`, and either notes each key created and value set
// (kRecord), or refuses with kAccessDenied any key creation, value write or removal that is not
// in `writes` (kGuard), counting what it refused.
class PlannedWritesRegistry : public Registry {
 public:
  enum class Mode { kRecord, kGuard };
  PlannedWritesRegistry(Registry& inner, PlannedWrites& writes, Mode mode)
      : inner_(inner), writes_(writes), mode_(mode) {}

  using Registry::OpenKey;
  Status OpenKey(RootKey root, std::string_view path, uint32_t access, RegistryKeyPtr* key,
                 RegistryView view) override;
  Status CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) override;
  Status DeleteKey(RootKey root, std::string_view path) override;

  // Distinct keys and values refused (a write tried again counts once).
  size_t refused() const;

 private:
  class Key;
  // False (with the refusal noted) when the guard refuses a write; true when it may go ahead.
  bool AllowKey(RootKey root, std::string_view path);
  bool AllowValue(RootKey root, std::string_view key, std::string_view name, uint32_t type,
                  std::string_view data);
  Status Wrap(RootKey root, std::string_view path, Status status, RegistryKeyPtr* key);

  Registry& inner_;
  PlannedWrites& writes_;
  Mode mode_;
  std::vector<uint64_t> refused_;  // hashes, maybe repeated
};

}  // namespace kdr
