// Re-collect over a settings file whose section holds many comment or blank lines: the section's
// entries are removed (WriteSection with an empty list) and written again one by one, as a
// second Collect does. Each shape is timed against a peer of the same size whose extra lines
// sit in another section, so the ratio shows what the kept lines cost per written key: a small
// constant (each kept line is looked at once) when that cost is nothing; in the hundreds when
// each key moves them all. Each figure is the least of three runs.
//
//   kdr-bench-recollect [KEPT_LINES] [KEYS]    (defaults 100000 and 20000)
//
// Prints one line per shape; exits 1 when a ratio is above 10 or a file is not as expected.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/in_process.h"
#include "platform/portable_profile_file.h"
#include "platform/posix/portable_file_system.h"

namespace kdr::bench {
namespace {

namespace fs = std::filesystem;

// A file with [Target] holding `keys` entries and, in [Target] or in [Other], `kept` lines.
std::string MakeFile(size_t keys, size_t kept, std::string_view kept_line, bool kept_in_target) {
  std::string text = "[Target]\r\n";
  for (size_t i = 0; i < keys; ++i) text += "k" + std::to_string(i) + "=old\r\n";
  if (!kept_in_target) text += "[Other]\r\n";
  for (size_t i = 0; i < kept; ++i) text += std::string(kept_line) + "\r\n";
  return text;
}

// CPU seconds of one re-collect of `text`; false in *ok when the result is not what it must be.
double Recollect(const fs::path& folder, const std::string& text, size_t keys, bool* ok) {
  PortableFileSystem files;
  std::string path = (folder / "settings.ini").string();
  if (!files.WriteFileAtomically(path, text).ok()) {
    *ok = false;
    return 0;
  }
  double start = CpuSeconds();
  {
    PortableProfileFile profiles(files);
    if (!profiles.WriteSection("Target", std::string_view("\0\0", 2), path)) *ok = false;
    for (size_t i = 0; i < keys; ++i) {
      if (!profiles.WriteString("Target", "k" + std::to_string(i), "new", path)) *ok = false;
    }
    if (!profiles.Flush()) *ok = false;
  }
  double seconds = CpuSeconds() - start;
  std::optional<std::string> written = files.ReadFile(path);
  // Every value renewed and every kept line still there ("new" is as long as "old").
  if (!written || written->size() != text.size() || written->find("=old") != std::string::npos) {
    *ok = false;
  }
  return seconds;
}

int Run(size_t kept, size_t keys) {
  fs::path folder = fs::temp_directory_path() / ("kdr-bench-recollect-" + std::to_string(getpid()));
  std::error_code ec;
  fs::create_directories(folder, ec);
  bool ok = !ec;
  struct Shape {
    const char* name;
    const char* line;
  };
  const Shape shapes[] = {{"comments", "; a comment line kept as it is"}, {"blank", ""}};
  for (const Shape& shape : shapes) {
    double inside = 1e9;
    double peer = 1e9;
    for (int run = 0; run < 3; ++run) {
      inside =
          std::min(inside, Recollect(folder, MakeFile(keys, kept, shape.line, true), keys, &ok));
      peer = std::min(peer, Recollect(folder, MakeFile(keys, kept, shape.line, false), keys, &ok));
    }
    double ratio = inside / (peer > 1e-6 ? peer : 1e-6);
    std::printf(
        "shape=%s kept_lines=%zu keys=%zu recollect_cpu_s=%.4f peer_cpu_s=%.4f ratio=%.2f\n",
        shape.name, kept, keys, inside, peer, ratio);
    if (ratio > 10) ok = false;
  }
  fs::remove_all(folder, ec);
  if (!ok) std::fprintf(stderr, "kdr-bench-recollect: a ratio above 10 or a wrong file\n");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace kdr::bench

int main(int argc, char** argv) {
  size_t kept = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  size_t keys = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000;
  return kdr::bench::Run(kept, keys);
}
