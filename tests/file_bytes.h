#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Whole files as bytes, for tests that compare what was written byte for byte. Host paths.
namespace kdr::testing {

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

// Replaces the file with `bytes`; a failure fails the test.
inline void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f) << path;
  EXPECT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), f)) << path;
  std::fclose(f);
}

}  // namespace kdr::testing
