#include <cstdio>
#include <cstdlib>

#include "fuzz/memory_files.h"

namespace kdr::fuzz {

void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace kdr::fuzz
