#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kdr::bench {

// A small, fast, deterministic generator (SplitMix64).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high].
  uint32_t Between(uint32_t low, uint32_t high) {
    return low + static_cast<uint32_t>(Next() % (uint64_t{high} - low + 1));
  }
  template <size_t N>
  std::string_view Pick(const std::array<std::string_view, N>& items) {
    return items[Next() % N];
  }

 private:
  uint64_t state_;
};

}  // namespace kdr::bench
