#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/edition.h"
#include "core/log_text.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/profile_file.h"
#include "platform/registry.h"
#include "store/copy_record.h"
#include "store/edition_plan.h"
#include "store/planned_writes.h"
#include "store/verified_copy.h"

// Planning a Migrate of one edition without writing anything.
namespace kdr {

struct PlanInputs {
  Registry& registry;
  FileSystem& files;
  ProfileFile& profiles;
  const WorkPaths& paths;
  size_t max_path;
  const DigestCache* known;  // digests of store files already read (may be null)
};

// Why an edition's Migrate could not be planned, for a front end to say in its own words.
// Paths in code page 932.
struct PlanError {
  enum class Kind {
    kNone,
    kKeyUnopenable,    // the key `path` below HKEY_CURRENT_USER, with `status`
    kValueUnreadable,  // the value `name` of key `path`, with `status`
    kFolderUnlisted,   // the folder `path`
    kFileUnreadable,   // the file `path`
    kNotLookedAt,      // what is at `path` could not be asked: `failure`
  };
  Kind kind = Kind::kNone;
  std::string path;
  std::string name;
  Status status = kOk;
  FileResult failure;
};

// In English, as the log and --json have it: "cannot read <key>\<name> (<status>)".
LogText PlanErrorText(const PlanError& error);

// Plans the edition's Migrate: the settings file imported into an empty store held in memory
// and compared with the registry, the data copies from the path values as the import leaves
// them. Reads only. False with *error when a key, a value or a folder could not be read.
// *writes (when given) receives every key and value the import was seen to write, to hold the
// real import to them; a value the import writes more than once with other data is planned even
// when its last data is what the registry holds.
bool PlanMigrate(const PlanInputs& in, Edition edition, EditionPlan* plan, PlanError* error,
                 PlannedWrites* writes = nullptr);

// The stamps of store files, by full path, as the store's check found them.
using StoreFileStamps = std::unordered_map<std::string, FileStamp>;

// Moves each planned file that replaces one with the same content from plan->files to
// plan->kept: the copy leaves it, and the backup has nothing of it to save. The file is read and
// hashed here unless `placed` (may be null: the record of what earlier Migrates placed) proves
// it and its store file (by its stamp in `store`) unchanged since one placed it. A file a
// Migrate that did not finish wrote there is kept by the copy too, but stays among the plan's
// files, so that the backup gives back what was there before that one. With
// `whole_copies_only` (for a copy that cannot leave single files), files are kept only where
// their whole copy is (CopiesKeptWhole), which is then not made.
void KeepFilesInPlace(FileSystem& files, EditionPlan* plan, const CopyRecord* placed = nullptr,
                      const StoreFileStamps* store = nullptr, bool whole_copies_only = false);

// Puts on record in `placed` the files of plan.kept that were proven by reading them, with
// their store files' stamps from `store`: once those store files are known to be as collected.
void RecordKeptFiles(const EditionPlan& plan, CopyRecord* placed, const StoreFileStamps& store);

// A planned copy that writes nothing: each of its files (relative paths) is kept in place.
struct CopyKeptWhole {
  std::string source;
  std::string destination;
  std::vector<WholeKeptFile> files;
};

// The copies of `plan` (after KeepFilesInPlace) whose every file is kept, that make no folder and
// find nothing in their way, and whose store folders hold nothing a listing of files leaves out.
std::vector<CopyKeptWhole> CopiesKeptWhole(FileSystem& files, const EditionPlan& plan);

// Leaves each file of a plan's `kept` out of the copy while it is still the file read; one
// written since is neither kept nor replaced (it is not in the backup). Copies read back equal
// to their store files go on record in `placed` (when set), with their store files' stamps as
// the check found them.
class PlannedKeeps : public CopyKeeper {
 public:
  explicit PlannedKeeps(FileSystem& files) : files_(files) {}
  void Set(const std::vector<KeptFile>& kept);
  void SetWhole(std::vector<CopyKeptWhole> whole) { whole_ = std::move(whole); }
  void RecordIn(CopyRecord* placed, const StoreFileStamps* store) {
    placed_ = placed;
    store_ = store;
  }
  bool Keeps(std::string_view source, std::string_view destination, const CopyPairStamps& known,
             FileDigest* digest, FileResult* refused) override;
  void Proven(std::string_view source, std::string_view destination, const FileDigest& digest,
              const FileStamp& source_stamp, const FileStamp& copy_stamp) override;
  const std::vector<WholeKeptFile>* KeptWhole(std::string_view source,
                                              std::string_view destination) override;

 private:
  FileSystem& files_;
  std::map<std::string, KeptFile> kept_;  // by destination
  std::vector<CopyKeptWhole> whole_;
  CopyRecord* placed_ = nullptr;
  const StoreFileStamps* store_ = nullptr;
};

}  // namespace kdr
