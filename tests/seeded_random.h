#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace kdr::testing {

// The random source of a test that draws its inputs: the test's own fixed seed, so every run
// tries the same inputs, or KDR_TEST_SEED to try others. Every failure while it lives names the
// seed and the command that draws the same inputs again.
class SeededRandom {
 public:
  explicit SeededRandom(uint32_t fixed)
      : seed_(Seed(fixed)), trace_(__FILE__, __LINE__, Note(seed_)), engine_(seed_) {}

  uint32_t operator()() { return static_cast<uint32_t>(engine_()); }
  uint32_t seed() const { return seed_; }

 private:
  static uint32_t Seed(uint32_t fixed) {
    const char* text = std::getenv("KDR_TEST_SEED");
    if (text == nullptr || *text == '\0') return fixed;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 0);
    if (*end != '\0' || value > UINT32_MAX) {
      ADD_FAILURE() << "KDR_TEST_SEED is not a 32-bit number: " << text;
      return fixed;
    }
    return static_cast<uint32_t>(value);
  }

  static std::string Note(uint32_t seed) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "*";
    ::testing::Test::RecordProperty("random_seed", std::to_string(seed));
    return "random inputs from seed " + std::to_string(seed) +
           "; draw them again with KDR_TEST_SEED=" + std::to_string(seed) +
           " kdr_tests --gtest_filter='" + name + "'";
  }

  uint32_t seed_;
  ::testing::ScopedTrace trace_;
  std::mt19937 engine_;
};

}  // namespace kdr::testing
