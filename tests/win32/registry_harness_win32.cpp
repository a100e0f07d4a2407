// The Registry contract against the system registry, isolated below a scratch key
// HKEY_CURRENT_USER\Software\kdr4tose-contract-<pid>-<n> that is deleted afterwards.
#include <windows.h>

#include <atomic>

#include "platform/win32/win32_registry.h"
#include "tests/registry_harness.h"
#include "tests/win32/running_under_wine.h"

namespace kdr::contract {
namespace {

class Win32Harness : public RegistryHarness {
 public:
  Win32Harness() {
    static std::atomic<int> counter{0};
    base_ = "Software\\kdr4tose-contract-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
    RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      RegCloseKey(key);
    }
  }
  ~Win32Harness() override { RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }

  Registry& registry() override { return registry_; }
  const std::string& base() const override { return base_; }
  std::optional<uint32_t> DirectDword(const std::string& path, const std::string& name) override {
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr,
                     &number, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    return number;
  }
  bool IsWine() const override { return RunningUnderWine(); }

 private:
  Win32Registry registry_;
  std::string base_;
};

std::unique_ptr<RegistryHarness> MakeWin32() { return std::make_unique<Win32Harness>(); }

const bool registered = RegisterImplementation("Win32", &MakeWin32);

}  // namespace
}  // namespace kdr::contract
