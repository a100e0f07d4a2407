#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

// 128-bit content hashes (XXH3-128) of files and byte strings, to tell a whole copy from a
// damaged one. Not a defence against someone who changes a file on purpose.
namespace kdr {

struct ContentHash {
  uint64_t high = 0;
  uint64_t low = 0;
  friend bool operator==(const ContentHash&, const ContentHash&) = default;
};

// 32 lowercase hex digits, high half first (the canonical XXH128 form).
std::string HashToHex(const ContentHash& hash);
std::optional<ContentHash> HashFromHex(std::string_view hex);

// Hashes bytes handed in pieces; the result does not depend on how they were cut.
class ContentHasher {
 public:
  ContentHasher();
  ~ContentHasher();
  ContentHasher(const ContentHasher&) = delete;
  ContentHasher& operator=(const ContentHasher&) = delete;
  void Add(std::string_view bytes);
  ContentHash Finish() const;
  uint64_t size() const { return size_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  uint64_t size_ = 0;
};

ContentHash HashBytes(std::string_view bytes);

// A file's size and hash, read once from start to end.
struct FileDigest {
  uint64_t size = 0;
  ContentHash hash;
  friend bool operator==(const FileDigest&, const FileDigest&) = default;
};

// Fails as ReadFileInPieces does: the file is missing or cannot be read whole.
Result<FileDigest> DigestFile(FileSystem& files, std::string_view path);

}  // namespace kdr
