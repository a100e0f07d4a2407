#pragma once

#include <sys/stat.h>

#include "platform/file_system.h"

namespace kdr {

// The stamp of a file from its stat: one rule for every place that takes one, so that stamps
// taken by a listing's walk and by FileSystem::Stamp compare equal.
inline FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.file_id = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
  stamp.changed_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

}  // namespace kdr
