#include "platform/win32/last_error_text.h"

#include "platform/win32/wide_text.h"

namespace kdr {

std::string LastErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = "error " + std::to_string(code);
  if (size > 0 && buffer != nullptr) {
    std::wstring message(buffer, size);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) {
      message.pop_back();
    }
    text += " (" + WideToUtf8(message) + ")";
  }
  if (buffer != nullptr) LocalFree(buffer);
  return text;
}

}  // namespace kdr
