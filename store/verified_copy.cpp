#include "store/verified_copy.h"

#include <optional>
#include <vector>

namespace kdr {

size_t VerifyFolderCopy(FileSystem& files, std::string_view destination, std::string_view source,
                        DigestCache* cache, const CopyMismatch& mismatch) {
  std::vector<std::string> names;
  if (!files.ListFiles(source, &names)) {
    mismatch(source, "the source folder could not be listed to check the copy");
    return 1;
  }
  size_t bad = 0;
  for (const std::string& name : names) {
    std::string from = std::string(source) + name;
    std::string to = std::string(destination) + name;
    std::optional<FileDigest> original;
    if (cache) {
      auto known = cache->find(from);
      if (known != cache->end()) original = known->second;
    }
    if (!original) original = DigestFile(files, from);
    if (!original) {
      ++bad;
      mismatch(from, "the source could not be read to check the copy");
      continue;
    }
    std::optional<FileDigest> copy = DigestFile(files, to);
    if (!copy) {
      ++bad;
      mismatch(from, "the copy is missing or cannot be read");
    } else if (*copy != *original) {
      ++bad;
      mismatch(from, copy->size != original->size
                         ? "the copy has " + std::to_string(copy->size) + " bytes instead of " +
                               std::to_string(original->size)
                         : std::string("the copy's content differs from the source"));
    } else if (cache) {
      (*cache)[to] = *copy;
    }
  }
  return bad;
}

}  // namespace kdr
