#include "datafolders/data_folders.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "datafolders/data_path.h"
#include "platform/folder_identity.h"
#include "platform/folder_reach.h"

namespace kdr {
namespace {

// One folder below a data path and its counterpart in the edition's work folder.
struct CopyPair {
  std::string_view data_folder;  // below PRV_PATH or PUB_PATH
  std::string_view work_folder;  // below the edition folder
};

constexpr CopyPair kPrivatePairs[] = {{"DDBVID", "DDBVID"}, {"log", "plog"}};
constexpr CopyPair kPublicPairs[] = {{"DDBDAT", "DDBDAT"}, {"log", "slog"}};

// A data path value: its text up to the first NUL, whatever its registry type.
std::optional<std::string> ReadPathValue(DataFolderContext& ctx, std::string_view key_path,
                                         std::string_view value_name) {
  RegistryKeyPtr key;
  if (ctx.registry.OpenKey(RootKey::kCurrentUser, key_path, kKeyQueryValue, &key) != kOk) {
    ctx.log.Skipped(std::string(value_name) + " of " + Cp932Text(key_path),
                    "the key does not exist");
    return std::nullopt;
  }
  uint32_t type = 0;
  std::string data;
  if (key->QueryValue(value_name, &type, &data) != kOk) {
    ctx.log.Skipped(std::string(value_name) + " of " + Cp932Text(key_path),
                    "the value does not exist");
    return std::nullopt;
  }
  data.resize(data.find('\0') == std::string::npos ? data.size() : data.find('\0'));
  if (std::optional<std::string> problem = DataPathProblem(data)) {
    ctx.log.Skipped(
        std::string(value_name) + " of " + Cp932Text(key_path) + " = " + Cp932Text(data), *problem);
    return std::nullopt;
  }
  ctx.log.Done(std::string(value_name) + " of " + Cp932Text(key_path) + " = " + Cp932Text(data));
  return data;
}

// The value is a bare prefix: "D:\Data\prv\" gives "D:\Data\prv\DDBVID\".
std::string InData(std::string_view value, const CopyPair& pair) {
  std::string path(value);
  path.append(pair.data_folder).push_back('\\');
  return path;
}

std::string InWork(DataFolderContext& ctx, Edition edition, const CopyPair& pair) {
  std::string path = ctx.paths.Folder(edition);
  path.append("\\").append(pair.work_folder).push_back('\\');
  return path;
}

// A value is read into a path buffer with its terminator, as the platform's read of it would
// be; a longer one is one that could not be read, never one cut short. The folder paths made
// from a value that fits may pass that size: the copies reach them by the platform's long form.
bool ValueFits(DataFolderContext& ctx, std::string_view value, std::string_view value_name) {
  if (value.size() < ctx.max_path) return true;
  ctx.log.Skipped(std::string(value_name) + " = " + Cp932Text(value),
                  "too long to be read: a data path value is read into " +
                      std::to_string(ctx.max_path) + " bytes, its terminator included");
  return false;
}

void CollectPairs(DataFolderContext& ctx, Edition edition, std::string_view value,
                  std::span<const CopyPair> pairs) {
  for (const CopyPair& pair : pairs) {
    // A folder that is not copied is logged and told to the copy observer, which is how the
    // user hears of it; the edition goes on with its other folders.
    (void)CopyFolderContents(ctx, InWork(ctx, edition, pair), InData(value, pair));
  }
}

// Passes each item on, counting those not copied.
class CountingObserver : public ForwardingCopyObserver {
 public:
  using ForwardingCopyObserver::ForwardingCopyObserver;
  void CopyFailed(std::string_view path, const FileResult& error) override {
    ++failures;
    ForwardingCopyObserver::CopyFailed(path, error);
  }
  int failures = 0;
};

enum class OnMakeSureFailure { kCopyAnyway, kStop };

// Make sure of each destination below `value`, then copy into it. False when a make-sure step
// failed and the rule says stop.
bool MigratePairs(DataFolderContext& ctx, Edition edition, std::string_view value,
                  std::span<const CopyPair> pairs, OnMakeSureFailure rule) {
  for (const CopyPair& pair : pairs) {
    std::string destination = InData(value, pair);
    std::string source = InWork(ctx, edition, pair);
    auto same = [&](const RefusedCopy& c) {
      return c.source == source && c.destination == destination;
    };
    if (ctx.refused_copies &&
        std::any_of(ctx.refused_copies->begin(), ctx.refused_copies->end(), same)) {
      // Told as a folder not copied: the edition fails, and nothing is replaced silently.
      FileResult why = FileResult::Fail(
          kFileExists, "CopyFolder (another folder of this Migrate writes the same files)",
          destination);
      if (ctx.copy_observer) ctx.copy_observer->CopyFailed(source, why);
      ctx.log.Skipped("copy " + Cp932Text(source) + " -> " + Cp932Text(destination), Describe(why));
      continue;
    }
    // A destination inside the work folder is refused by the copy: nothing is made there first.
    FolderIdentities own(ctx.files);
    FolderIdentities& folders = ctx.folders ? *ctx.folders : own;
    bool in_work = folders.AtOrBelow(destination, ctx.paths.root);
    if (FileResult made = in_work ? FileResult::Ok() : ctx.files.MakeSurePathExists(destination);
        !made) {
      ctx.log.Skipped("folder " + Cp932Text(destination), Describe(made));
      if (rule == OnMakeSureFailure::kStop) return false;
    }
    folders.ForgetMissing();
    // As on Collect: logged and told to the observer, and the edition goes on.
    (void)CopyFolderContents(ctx, destination, source);
  }
  return true;
}

std::optional<std::string> ReadMigrateValue(DataFolderContext& ctx, std::string_view key_path,
                                            std::string_view value_name) {
  std::optional<std::string> value = ReadPathValue(ctx, key_path, value_name);
  if (value && !ValueFits(ctx, *value, value_name)) value.reset();
  return value;
}

// A data path value and the folders below it.
struct DataPath {
  std::string_view key_path;  // under HKEY_CURRENT_USER
  std::string_view value_name;
  std::span<const CopyPair> pairs;
};

// What each edition copies: from the old product's paths on Collect, into the new product's on
// Migrate. On Collect every value is read before anything is copied, and any one missing stops
// the edition; on Migrate each value is read and its folders copied in turn.
struct EditionData {
  std::span<const DataPath> collect_from;
  std::span<const DataPath> migrate_to;
  OnMakeSureFailure migrate_rule;
};

constexpr DataPath kPersonalCollect[] = {
    {"Software\\VTQ\\Kodrel\\Personal\\Client", "PRV_PATH", kPrivatePairs},
    {"Software\\VTQ\\Kodrel\\Personal\\Server", "PUB_PATH", kPublicPairs}};
constexpr DataPath kPersonalMigrate[] = {
    {"Software\\VTQ\\KodrelSE\\Personal\\Client", "PRV_PATH", kPrivatePairs},
    {"Software\\VTQ\\KodrelSE\\Personal\\Server", "PUB_PATH", kPublicPairs}};
constexpr DataPath kClientCollect[] = {
    {"Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH", kPrivatePairs}};
constexpr DataPath kClientMigrate[] = {
    {"Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH", kPrivatePairs}};
// The Server edition's values lie below the Client branch.
constexpr DataPath kServerCollect[] = {
    {"Software\\VTQ\\Kodrel\\Client\\Server", "PUB_PATH", kPublicPairs}};
constexpr DataPath kServerMigrate[] = {
    {"Software\\VTQ\\KodrelSE\\Client\\Server", "PUB_PATH", kPublicPairs}};

// By EditionIndex. Only Client stops when a destination folder cannot be made.
constexpr std::array<EditionData, kEditionCount> kEditionData = {{
    {kPersonalCollect, kPersonalMigrate, OnMakeSureFailure::kCopyAnyway},
    {kClientCollect, kClientMigrate, OnMakeSureFailure::kStop},
    {kServerCollect, kServerMigrate, OnMakeSureFailure::kCopyAnyway},
}};

}  // namespace

bool CopyFolderContents(DataFolderContext& ctx, std::string_view destination,
                        std::string_view source) {
  LogText what = "copy " + Cp932Text(source) + " -> " + Cp932Text(destination);
  CountingObserver observer(ctx.copy_observer);
  auto refuse = [&](const FileResult& why) {
    observer.CopyFailed(source, why);
    ctx.log.Skipped(what, Describe(why));
    return false;
  };
  // A folder the user never had skips its pair; one on a share or drive that cannot be reached
  // now is data that was not copied.
  FileResult unreachable;
  FolderIdentities own(ctx.files);
  FolderIdentities& folders = ctx.folders ? *ctx.folders : own;
  switch (ReachFolder(ctx.files, source, &unreachable, &folders)) {
    case FolderReach::kThere:
      break;
    case FolderReach::kMissing:
      ctx.log.Skipped(what, "the source folder does not exist");
      return false;
    case FolderReach::kUnreachable:
      return refuse(unreachable);
  }
  // A copy into itself (the program placed inside a data folder, perhaps through another drive
  // letter) would grow without end; a data folder inside the work folder would have the copy
  // read or write the store itself.
  if (folders.Overlap(destination, source)) {
    return refuse(
        FileResult::Fail(kInvalidParam, "CopyFolder (one folder inside the other)", destination));
  }
  if (folders.AtOrBelow(destination, ctx.paths.root) && folders.AtOrBelow(source, ctx.paths.root)) {
    return refuse(FileResult::Fail(
        kInvalidParam, "CopyFolder (a data folder inside the work folder)", destination));
  }
  // A copy whose every file is in place already is not walked: each file is still held to the
  // stamp it had when it was found in place (taken again here unless the keeper has just taken
  // it, from one listing of the destination where the platform gives stamps with it), and told
  // as kept or as not copied.
  CopyKeeper* keeper = ctx.verify_copies ? ctx.keeper : nullptr;
  if (const std::vector<WholeKeptFile>* kept =
          keeper ? keeper->KeptWhole(source, destination) : nullptr) {
    KeepingObserver keeping(*keeper, ctx.digests, &observer);
    std::vector<std::string> there;
    std::vector<std::optional<FileStamp>> stamps;
    std::unordered_map<std::string_view, FileStamp> now;
    const bool unstamped = std::any_of(kept->begin(), kept->end(), [](const WholeKeptFile& file) {
      return !file.known.destination;
    });
    if (unstamped && ctx.files.ListsStampsInOneWalk() &&
        ctx.files.ListFileStamps(destination, &there, &stamps)) {
      now.reserve(there.size());
      for (size_t at = 0; at < there.size(); ++at) {
        if (stamps[at]) now.emplace(there[at], *stamps[at]);
      }
    }
    for (const WholeKeptFile& file : *kept) {
      const std::string from = std::string(source) + file.name;
      CopyPairStamps known = file.known;
      if (auto it = now.find(file.name); !known.destination && it != now.end()) {
        known.destination = it->second;
      }
      if (!keeping.KeepsExisting(from, std::string(destination) + file.name, known)) {
        observer.CopyFailed(from, FileResult::Fail(kSharingViolation, "CopyFile (not kept)", from));
      }
    }
    // What a copy ended by force left there goes, as a copy made would take it.
    ctx.files.RemoveLeftovers(destination);
    if (observer.failures != 0) {
      ctx.log.Skipped(what, std::to_string(observer.failures) + " item(s) not copied");
      return false;
    }
    ctx.log.Done(what);
    return true;
  }
  // The destination first, on every platform: Wine's shell copy of a single file into a
  // missing folder fails with 1223 where Windows creates it.
  if (!ctx.files.IsFolder(destination)) {
    if (FileResult made = ctx.files.MakeSurePathExists(destination); !made) return refuse(made);
    folders.ForgetMissing();
  }
  // With the copies checked, the source's digest is taken while the copy reads it, where the
  // platform's copy hands its bytes over; otherwise the check reads the source once more.
  std::optional<SourceHasher> hasher;
  if (ctx.verify_copies && ctx.digests) hasher.emplace(*ctx.digests, &observer);
  CopyObserver* told = hasher ? static_cast<CopyObserver*>(&*hasher) : &observer;
  // Each copy is read back in a second thread while the next files are copied.
  std::optional<DigestWorker> own_reader;
  DigestWorker* read_ahead = nullptr;
  std::optional<ReadBackStarter> starter;
  if (ctx.verify_copies) read_ahead = ctx.read_ahead ? ctx.read_ahead : &own_reader.emplace();
  // What this copy left to read (a failed copy's files) is dropped, not held open, and no key of
  // it stays for the next copy that shares the thread.
  struct ForgetAtEnd {
    DigestWorker* worker;
    ~ForgetAtEnd() {
      if (worker) worker->Forget();
    }
  } forget_at_end{read_ahead};
  if (ctx.verify_copies) {
    told = &starter.emplace(ctx.files, destination, source, ctx.digests, *read_ahead, told, keeper);
  }
  // Files proven to be in place already are left out of the copy and of its read-back.
  std::optional<KeepingObserver> keeping;
  if (keeper) told = &keeping.emplace(*keeper, ctx.digests, told);
  FileResult result = ctx.files.CopyFolder(destination, source, ctx.copy_owner, told);
  // A failed copy that named no item still lost something: the folder counts as one.
  if (!result && observer.failures == 0) return refuse(result);
  if (!result || observer.failures != 0) {
    ctx.log.Skipped(what, std::to_string(observer.failures) + " item(s) not copied");
    return false;
  }
  // Read back: a copy that is not the same as its source counts as a file not copied.
  if (ctx.verify_copies) {
    // Counted and logged as a file not copied.
    auto mismatch = [&](std::string_view path, std::string_view why) {
      observer.CopyFailed(path,
                          FileResult::Fail(kIoDevice, "ReadBack (" + std::string(why) + ")", path));
    };
    for (const std::string& path : starter->outside()) {
      mismatch(path, "the copy told it outside the folder it copied");
    }
    size_t bad = starter->outside().size() + VerifyFolderCopy(ctx.files, destination, source,
                                                              starter->copied(), ctx.digests,
                                                              mismatch, read_ahead, keeper);
    if (bad != 0) {
      ctx.log.Skipped(what, std::to_string(bad) + " file(s) not copied whole");
      return false;
    }
  }
  ctx.log.Done(what);
  return true;
}

bool CollectEditionData(DataFolderContext& ctx, Edition edition) {
  std::span<const DataPath> paths = kEditionData[EditionIndex(edition)].collect_from;
  std::vector<std::optional<std::string>> values;
  for (const DataPath& path : paths) {
    values.push_back(ReadPathValue(ctx, path.key_path, path.value_name));
  }
  auto unusable = [&] {
    ctx.show_message(kPathReadFailedMessage);
    return false;
  };
  for (const std::optional<std::string>& value : values) {
    if (!value) return unusable();
  }
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!ValueFits(ctx, *values[i], paths[i].value_name)) return unusable();
  }
  for (size_t i = 0; i < paths.size(); ++i) CollectPairs(ctx, edition, *values[i], paths[i].pairs);
  return true;
}

bool MigrateEditionData(DataFolderContext& ctx, Edition edition) {
  const EditionData& data = kEditionData[EditionIndex(edition)];
  // Folders copied from one value stay copied when a later value is missing.
  for (const DataPath& path : data.migrate_to) {
    std::optional<std::string> value = ReadMigrateValue(ctx, path.key_path, path.value_name);
    if (!value) return false;
    if (!MigratePairs(ctx, edition, *value, path.pairs, data.migrate_rule)) return false;
  }
  return true;
}

bool CollectPersonalData(DataFolderContext& ctx) {
  return CollectEditionData(ctx, Edition::kPersonal);
}

bool CollectClientData(DataFolderContext& ctx) { return CollectEditionData(ctx, Edition::kClient); }

bool CollectServerData(DataFolderContext& ctx) { return CollectEditionData(ctx, Edition::kServer); }

bool MigratePersonalData(DataFolderContext& ctx) {
  return MigrateEditionData(ctx, Edition::kPersonal);
}

bool MigrateClientData(DataFolderContext& ctx) { return MigrateEditionData(ctx, Edition::kClient); }

bool MigrateServerData(DataFolderContext& ctx) { return MigrateEditionData(ctx, Edition::kServer); }

std::vector<DataPathValue> DataPathValues(Edition edition, bool migrate) {
  const EditionData& data = kEditionData[EditionIndex(edition)];
  std::vector<DataPathValue> values;
  for (const DataPath& path : migrate ? data.migrate_to : data.collect_from) {
    values.push_back(DataPathValue{path.key_path, path.value_name});
  }
  return values;
}

std::vector<FolderCopy> PlannedCopies(Registry& registry, FileSystem& files, const WorkPaths& paths,
                                      size_t max_path, Edition edition, bool migrate,
                                      std::vector<DataPathValue>* unreadable) {
  NullActivityLog quiet;
  DataFolderContext ctx{registry, files, paths, quiet, nullptr, nullptr, {}, max_path};
  const EditionData& data = kEditionData[EditionIndex(edition)];
  std::vector<FolderCopy> copies;
  for (const DataPath& source : migrate ? data.migrate_to : data.collect_from) {
    std::string_view key = source.key_path;
    std::optional<std::string> value = ReadPathValue(ctx, key, source.value_name);
    if (!value || !ValueFits(ctx, *value, source.value_name)) {
      unreadable->push_back(DataPathValue{key, source.value_name});
      continue;
    }
    for (const CopyPair& pair : source.pairs) {
      FolderCopy copy{InData(*value, pair), InWork(ctx, edition, pair)};
      if (migrate) std::swap(copy.source, copy.destination);
      copies.push_back(std::move(copy));
    }
  }
  return copies;
}

}  // namespace kdr
