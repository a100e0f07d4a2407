#pragma once

#include <cstdint>
#include <string>

// What a file keeps besides its bytes, as the platform that read it keeps it: a backup records
// it for each file a Migrate replaces, and undo gives it back to the restored file.
namespace kdr {

struct FileMetadata {
  enum class Kind : uint8_t { kWindows, kPosix };
  Kind kind = Kind::kPosix;
  // Windows: the attribute bits GetFileAttributesW gives that a copy keeps and
  // SetFileAttributesW takes back (kKeptAttributes).
  uint32_t attributes = 0;
  // POSIX: the permission bits (07777), the owner and the group.
  uint32_t mode = 0;
  uint32_t owner = 0;
  uint32_t group = 0;
  // The last write, in nanoseconds since 1970 (Windows keeps 100 ns steps).
  int64_t modified_ns = 0;
  friend bool operator==(const FileMetadata&, const FileMetadata&) = default;
};

// Read-only, hidden, system and archive.
inline constexpr uint32_t kKeptAttributes = 0x1 | 0x2 | 0x4 | 0x20;
inline constexpr uint32_t kReadOnlyAttribute = 0x1;

// The parts of FileMetadata a platform could not set, as bits.
enum MetadataPart : unsigned {
  kMetadataAttributes = 1,
  kMetadataMode = 2,
  kMetadataOwner = 4,
  kMetadataGroup = 8,
  kMetadataTime = 16,
};

// The parts `metadata` holds: attributes and time (Windows), or mode, owner, group and time.
unsigned MetadataParts(const FileMetadata& metadata);

// "its attributes, owner and time", for a message saying what was not set; empty for none.
std::string DescribeMetadataParts(unsigned parts);

}  // namespace kdr
