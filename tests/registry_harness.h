#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "tests/contract_implementations.h"

// One Registry implementation set up for the contract test, with its own means of looking.
namespace kdr::contract {

class RegistryHarness {
 public:
  virtual ~RegistryHarness() = default;
  virtual Registry& registry() = 0;
  // An existing, empty key below HKEY_CURRENT_USER\Software that the test may fill.
  virtual const std::string& base() const = 0;
  // A DWORD read by the platform's own means, not through the interface under test.
  virtual std::optional<uint32_t> DirectDword(const std::string& path, const std::string& name) = 0;
  // Whether values are enumerated in the order they were created (as Windows does); Wine sorts
  // them by name.
  virtual bool ValuesInCreationOrder() const { return !IsWine(); }
  // Wine, where it differs from Windows (each use says how).
  virtual bool IsWine() const { return false; }
};

using RegistryImplementation = Implementation<std::unique_ptr<RegistryHarness>>;

}  // namespace kdr::contract
