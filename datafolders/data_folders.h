#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/activity_log.h"
#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/folder_identity.h"
#include "platform/registry.h"
#include "store/edition_plan.h"
#include "store/verified_copy.h"

// The data folders of the products (found through their PRV_PATH and PUB_PATH values) copied
// into the work tree on Collect and from there into the new product's folders on Migrate.
namespace kdr {

struct DataFolderContext {
  Registry& registry;
  FileSystem& files;
  const WorkPaths& paths;
  ActivityLog& log;
  CopyObserver* copy_observer;  // told of every item copied or not (may be null)
  OwnerWindow* copy_owner;      // the window that owns the platform copy's own messages
  std::function<void(std::string_view)> show_message;
  // The longest path, terminators included, that the plain file calls accept: a data path
  // value longer than that cannot be read.
  size_t max_path;
  // Each copy is read back and compared with its source; the good copies' digests are kept
  // here (may be null).
  bool verify_copies = true;
  DigestCache* digests = nullptr;
  // Migrate: the copies its plan left out, as their files would land on another copy's (may
  // be null).
  const std::vector<RefusedCopy>* refused_copies = nullptr;
  // Decides which files already in place stay as they are, and hears of each copy proven
  // (may be null: every file is copied).
  CopyKeeper* keeper = nullptr;
  // The folders the edition's copies have asked about, shared by their checks (may be null:
  // each copy asks its own).
  FolderIdentities* folders = nullptr;
  // The read-back's second thread, shared by the edition's copies (may be null: each copy
  // starts its own).
  DigestWorker* read_ahead = nullptr;
};

// A folder a command copies whole, and where to.
struct FolderCopy {
  std::string source;       // ends with a backslash
  std::string destination;  // ends with a backslash
};

// A data path value: the registry value (below HKEY_CURRENT_USER) that names a data folder.
struct DataPathValue {
  std::string_view key_path;
  std::string_view value_name;
};

// The copies an edition's Collect or Migrate would make, with the path values as `registry`
// holds them now. Values that cannot be read (or would not fit) are named in *unreadable and
// their folders left out.
std::vector<FolderCopy> PlannedCopies(Registry& registry, FileSystem& files, const WorkPaths& paths,
                                      size_t max_path, Edition edition, bool migrate,
                                      std::vector<DataPathValue>* unreadable);

// The data path values an edition's Collect or Migrate reads, in the order it reads them.
std::vector<DataPathValue> DataPathValues(Edition edition, bool migrate);

// Shown when a data path value could not be read.
inline constexpr std::string_view kPathReadFailedMessage = "ファイルパスの取得に失敗しました。";

// Collect: each returns false when it showed the path message (nothing of the edition copied).
[[nodiscard]] bool CollectEditionData(DataFolderContext& ctx, Edition edition);
[[nodiscard]] bool CollectPersonalData(DataFolderContext& ctx);
[[nodiscard]] bool CollectClientData(DataFolderContext& ctx);
[[nodiscard]] bool CollectServerData(DataFolderContext& ctx);

// Migrate: true when the edition's path values were read (and, for Client, its destination
// folders made); the copies' own outcome does not enter the result.
[[nodiscard]] bool MigrateEditionData(DataFolderContext& ctx, Edition edition);
[[nodiscard]] bool MigratePersonalData(DataFolderContext& ctx);
[[nodiscard]] bool MigrateClientData(DataFolderContext& ctx);
[[nodiscard]] bool MigrateServerData(DataFolderContext& ctx);

// Copies every entry of folder `source` into folder `destination` (both end with a backslash),
// creating the destination first. False when the source is not an existing folder, one folder
// lies inside the other, or the copy fails; each item not copied is told to the copy observer
// (a folder whose copy was refused counts as one). Paths longer than `max_path` are copied too:
// each platform's copy reaches them.
[[nodiscard]] bool CopyFolderContents(DataFolderContext& ctx, std::string_view destination,
                                      std::string_view source);

}  // namespace kdr
