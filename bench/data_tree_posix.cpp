#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <vector>

#include "bench/bench_random.h"
#include "bench/synthetic_profile.h"

namespace kdr::bench {
namespace {

std::string Numbered(const char* prefix, size_t n, const char* suffix) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%05zu%s", prefix, n, suffix);
  return buffer;
}

}  // namespace

size_t GenerateDataTree(const std::filesystem::path& root, uint64_t total_bytes, uint32_t seed,
                        std::string* error) {
  namespace fs = std::filesystem;
  Random random(seed);
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec) {
    *error = root.string() + ": " + ec.message();
    return 0;
  }
  std::vector<fs::path> folders = {root};
  std::vector<int> depth = {0};
  std::vector<uint64_t> block(1 << 17);  // 1 MB of varied bytes
  for (uint64_t& word : block) word = random.Next();
  uint64_t written = 0;
  size_t files = 0;
  while (written < total_bytes) {
    // Now and then a new folder below a random one, at most four levels deep.
    if (files % 12 == 0) {
      size_t parent = random.Next() % folders.size();
      if (depth[parent] < 4) {
        fs::path folder = folders[parent] / Numbered("dir", folders.size(), "");
        fs::create_directory(folder, ec);
        if (ec) {
          *error = folder.string() + ": " + ec.message();
          return 0;
        }
        folders.push_back(folder);
        depth.push_back(depth[parent] + 1);
      }
    }
    // Sizes spread evenly over the powers of two from 1 KB to 8 MB: many small files, few
    // large ones, as data folders hold.
    uint32_t exponent = random.Between(10, 22);
    uint64_t size = (uint64_t{1} << exponent) + random.Next() % (uint64_t{1} << exponent);
    size = std::min<uint64_t>(size, uint64_t{8} << 20);
    size = std::min<uint64_t>(size, std::max<uint64_t>(total_bytes - written, 1024));
    fs::path file = folders[random.Next() % folders.size()] / Numbered("data", files, ".ddv");
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      *error = file.string() + ": cannot create";
      return 0;
    }
    block[files % block.size()] ^= random.Next();  // no two files alike
    uint64_t left = size;
    bool ok = true;
    while (left > 0 && ok) {
      size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, block.size() * 8));
      ok = ::write(fd, block.data(), chunk) == static_cast<ssize_t>(chunk);
      left -= chunk;
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      *error = file.string() + ": write failed";
      return 0;
    }
    written += size;
    ++files;
  }
  return files;
}

}  // namespace kdr::bench
