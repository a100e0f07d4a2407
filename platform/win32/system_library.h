#pragma once

#include <windows.h>

// A library of the system folder, loaded when the program first needs one of its functions
// instead of when the program starts. Under Wine every library loaded costs a run of server
// requests (and some memory), paid by each run, also by the many that never copy a folder.
namespace kdr {

// Owns the module handle: frees it once, when destroyed.
class SystemLibrary {
 public:
  // Loads `name` from the system folder only, never from the program's or the current folder.
  explicit SystemLibrary(const wchar_t* name);
  ~SystemLibrary();
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // The exported function `name`, or null; error() then says why (the library did not load,
  // or it has no such export).
  FARPROC Find(const char* name);
  DWORD error() const { return error_; }

 private:
  HMODULE module_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// One function of a system library: the library loaded and the function looked up when the
// object is made (as a function-local static, on the first call), both kept while it lives.
// `Function` is the function's type, such as decltype(PathFileExistsA).
template <typename Function>
class SystemFunction {
 public:
  SystemFunction(const wchar_t* library, const char* name)
      : library_(library),
        // Through void*: FARPROC stands for any exported function.
        function_(reinterpret_cast<Function*>(reinterpret_cast<void*>(library_.Find(name)))) {}

  // Null when the library or the function is missing; error() says why.
  Function* get() const { return function_; }
  DWORD error() const { return library_.error(); }

 private:
  SystemLibrary library_;
  Function* function_;
};

}  // namespace kdr
