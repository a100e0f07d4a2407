// One folder copy through our portable file system, as Collect and Migrate copy data folders.
//
//   kdr-bench-copy SOURCE DESTINATION
//
// Copies the contents of the host folder SOURCE into DESTINATION (made when missing) and prints
// files=, bytes=, failures= and seconds=. Exits 1 when anything could not be copied.
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/posix/portable_file_system.h"

namespace {

class Counter : public kdr::CopyObserver {
 public:
  void FileCopied(std::string_view, uint64_t size) override {
    ++files;
    bytes += size;
  }
  void CopyFailed(std::string_view path, const kdr::FileResult& error) override {
    ++failures;
    std::string why = kdr::Describe(error);
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(path.size()), path.data(), why.c_str());
  }
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t failures = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE DESTINATION\n", argv[0]);
    return 2;
  }
  // Host paths without a drive letter pass through; the folders end with a backslash.
  std::string source = std::string(argv[1]) + "\\";
  std::string destination = std::string(argv[2]) + "\\";
  kdr::PortableFileSystem files;
  Counter counter;
  auto start = std::chrono::steady_clock::now();
  bool copied = files.CopyFolder(destination, source, nullptr, &counter).ok();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("files=%llu bytes=%llu failures=%llu seconds=%.6f\n",
              static_cast<unsigned long long>(counter.files),
              static_cast<unsigned long long>(counter.bytes),
              static_cast<unsigned long long>(counter.failures), seconds);
  return copied ? 0 : 1;
}
