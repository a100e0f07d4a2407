#include "platform/win32/system_library.h"

#include <string>

namespace kdr {

SystemLibrary::SystemLibrary(const wchar_t* name) {
  // The full path: a bare name would also be looked for beside the program and in the current
  // folder, where anyone may have put a library of that name.
  UINT size = GetSystemDirectoryW(nullptr, 0);
  if (size == 0) {
    error_ = GetLastError();
    return;
  }
  std::wstring path(size, L'\0');
  UINT length = GetSystemDirectoryW(path.data(), size);
  if (length == 0 || length >= size) {
    error_ = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return;
  }
  path.resize(length);
  path += L'\\';
  path += name;
  module_ = LoadLibraryW(path.c_str());
  if (module_ == nullptr) error_ = GetLastError();
}

SystemLibrary::~SystemLibrary() {
  if (module_ != nullptr) FreeLibrary(module_);
}

FARPROC SystemLibrary::Find(const char* name) {
  if (module_ == nullptr) return nullptr;
  FARPROC function = GetProcAddress(module_, name);
  if (function == nullptr) error_ = GetLastError();
  return function;
}

}  // namespace kdr
