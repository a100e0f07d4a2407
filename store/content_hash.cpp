#include "store/content_hash.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace kdr {

struct ContentHasher::State {
  XXH3_state_t xxh;
};

ContentHasher::ContentHasher() : state_(std::make_unique<State>()) {
  XXH3_128bits_reset(&state_->xxh);
}

ContentHasher::~ContentHasher() = default;

void ContentHasher::Add(std::string_view bytes) {
  XXH3_128bits_update(&state_->xxh, bytes.data(), bytes.size());
  size_ += bytes.size();
}

ContentHash ContentHasher::Finish() const {
  XXH128_hash_t h = XXH3_128bits_digest(&state_->xxh);
  return ContentHash{h.high64, h.low64};
}

ContentHash HashBytes(std::string_view bytes) {
  XXH128_hash_t h = XXH3_128bits(bytes.data(), bytes.size());
  return ContentHash{h.high64, h.low64};
}

std::string HashToHex(const ContentHash& hash) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[15 - i] = kHex[(hash.high >> (4 * i)) & 15];
    out[31 - i] = kHex[(hash.low >> (4 * i)) & 15];
  }
  return out;
}

std::optional<ContentHash> HashFromHex(std::string_view hex) {
  if (hex.size() != 32) return std::nullopt;
  ContentHash hash;
  for (size_t i = 0; i < 32; ++i) {
    char c = hex[i];
    uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    uint64_t& half = i < 16 ? hash.high : hash.low;
    half = (half << 4) | digit;
  }
  return hash;
}

std::optional<FileDigest> DigestFile(FileSystem& files, std::string_view path) {
  ContentHasher hasher;
  if (!files.ReadFileInPieces(path, [&](std::string_view piece) { hasher.Add(piece); })) {
    return std::nullopt;
  }
  return FileDigest{hasher.size(), hasher.Finish()};
}

}  // namespace kdr
