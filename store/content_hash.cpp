#include "store/content_hash.h"

// Hashing is most of the cost of reading a copy back. The build targets every x86-64 processor
// (SSE2); where the processor has AVX2, long inputs go through xxHash's AVX2 loop, about three
// times as fast, with the same result. Not in the Windows build: MinGW's GCC does not align
// AVX2 spills on the stack there.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define KDR_HASH_AVX2 1
// As xxHash's own dispatcher: among other things, aligns the accumulators for AVX2's loads.
#define XXH_X86DISPATCH 1
#define XXH_DISPATCH_AVX2 1
#define XXH_TARGET_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>
#endif

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "platform/hex_text.h"

namespace kdr {
namespace {

#ifdef KDR_HASH_AVX2
__attribute__((target("avx2"), noinline)) void UpdateAvx2(XXH3_state_t* state, const void* bytes,
                                                          size_t size) {
#if XXH_VERSION_NUMBER >= 802
  XXH3_update(state, static_cast<const xxh_u8*>(bytes), size, XXH3_accumulate_avx2,
              XXH3_scrambleAcc_avx2);
#else
  XXH3_update(state, static_cast<const xxh_u8*>(bytes), size, XXH3_accumulate_512_avx2,
              XXH3_scrambleAcc_avx2);
#endif
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

struct ContentHasher::State {
  XXH3_state_t xxh;
};

ContentHasher::ContentHasher() : state_(std::make_unique<State>()) {
  XXH3_128bits_reset(&state_->xxh);
}

ContentHasher::~ContentHasher() = default;

void ContentHasher::Add(std::string_view bytes) {
#ifdef KDR_HASH_AVX2
  if (kHasAvx2) {
    UpdateAvx2(&state_->xxh, bytes.data(), bytes.size());
    size_ += bytes.size();
    return;
  }
#endif
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
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[15 - i] = kHexDigits[(hash.high >> (4 * i)) & 15];
    out[31 - i] = kHexDigits[(hash.low >> (4 * i)) & 15];
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

Result<FileDigest> DigestFile(FileSystem& files, std::string_view path) {
  ContentHasher hasher;
  FileResult read =
      files.ReadFileInPieces(path, [&](std::string_view piece) { hasher.Add(piece); });
  if (!read) return read;
  return FileDigest{hasher.size(), hasher.Finish()};
}

}  // namespace kdr
