#include "datafolders/data_folders.h"

#include <optional>
#include <span>
#include <vector>

#include "platform/text_encoding.h"

namespace kdr {
namespace {

// One folder below a data path and its counterpart in the edition's work folder.
struct CopyPair {
  std::string_view data_folder;  // below PRV_PATH or PUB_PATH
  std::string_view work_folder;  // below the edition folder
};

constexpr CopyPair kPrivatePairs[] = {{"DDBVID", "DDBVID"}, {"log", "plog"}};
constexpr CopyPair kPublicPairs[] = {{"DDBDAT", "DDBDAT"}, {"log", "slog"}};

constexpr size_t kPatternAndTerminators = 5;  // "*.*" and the two NULs of the copy's lists
constexpr size_t kTerminators = 2;

// A data path value: its text up to the first NUL, whatever its registry type.
std::optional<std::string> ReadPathValue(DataFolderContext& ctx, std::string_view key_path,
                                         std::string_view value_name) {
  RegistryKeyPtr key;
  if (ctx.registry.OpenKey(RootKey::kCurrentUser, key_path, kKeyQueryValue, &key) != kOk) {
    ctx.log.Skipped(std::string(value_name) + " of " + Cp932ForDisplay(key_path),
                    "the key does not exist");
    return std::nullopt;
  }
  uint32_t type = 0;
  std::string data;
  if (key->QueryValue(value_name, &type, &data) != kOk) {
    ctx.log.Skipped(std::string(value_name) + " of " + Cp932ForDisplay(key_path),
                    "the value does not exist");
    return std::nullopt;
  }
  data.resize(data.find('\0') == std::string::npos ? data.size() : data.find('\0'));
  ctx.log.Done(std::string(value_name) + " of " + Cp932ForDisplay(key_path) + " = " +
               Cp932ForDisplay(data));
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

// Every path composed from a value must fit the platform's calls whole; a value that would not
// is treated as one that could not be read, rather than cut short.
bool ValueFits(DataFolderContext& ctx, std::string_view value, std::span<const CopyPair> pairs,
               size_t extra, std::string_view value_name) {
  for (const CopyPair& pair : pairs) {
    if (InData(value, pair).size() + extra > ctx.max_path) {
      ctx.log.Skipped(
          std::string(value_name) + " = " + Cp932ForDisplay(value),
          "too long for the platform's " + std::to_string(ctx.max_path) + "-character paths");
      return false;
    }
  }
  return true;
}

void CollectPairs(DataFolderContext& ctx, Edition edition, std::string_view value,
                  std::span<const CopyPair> pairs) {
  for (const CopyPair& pair : pairs) {
    CopyFolderContents(ctx, InWork(ctx, edition, pair), InData(value, pair));
  }
}

// Collects an edition whose folders come from one key and value.
bool CollectOneValue(DataFolderContext& ctx, Edition edition, std::string_view key_path,
                     std::string_view value_name, std::span<const CopyPair> pairs) {
  std::optional<std::string> value = ReadPathValue(ctx, key_path, value_name);
  if (!value || !ValueFits(ctx, *value, pairs, kPatternAndTerminators, value_name)) {
    ctx.show_message(kPathReadFailedMessage);
    return false;
  }
  CollectPairs(ctx, edition, *value, pairs);
  return true;
}

enum class OnMakeSureFailure { kCopyAnyway, kStop };

// Make sure of each destination below `value`, then copy into it. False when a make-sure step
// failed and the rule says stop.
bool MigratePairs(DataFolderContext& ctx, Edition edition, std::string_view value,
                  std::span<const CopyPair> pairs, OnMakeSureFailure rule) {
  for (const CopyPair& pair : pairs) {
    std::string destination = InData(value, pair);
    if (!ctx.files.MakeSurePathExists(destination)) {
      ctx.log.Skipped("folder " + Cp932ForDisplay(destination), "could not be created");
      if (rule == OnMakeSureFailure::kStop) return false;
    }
    CopyFolderContents(ctx, destination, InWork(ctx, edition, pair));
  }
  return true;
}

std::optional<std::string> ReadMigrateValue(DataFolderContext& ctx, std::string_view key_path,
                                            std::string_view value_name,
                                            std::span<const CopyPair> pairs) {
  std::optional<std::string> value = ReadPathValue(ctx, key_path, value_name);
  if (value && !ValueFits(ctx, *value, pairs, kTerminators, value_name)) value.reset();
  return value;
}

}  // namespace

bool CopyFolderContents(DataFolderContext& ctx, std::string_view destination,
                        std::string_view source) {
  std::string what = "copy " + Cp932ForDisplay(source) + " -> " + Cp932ForDisplay(destination);
  if (!ctx.files.IsFolder(source)) {
    ctx.log.Skipped(what, "the source folder does not exist");
    return false;
  }
  if (source.size() + kPatternAndTerminators > ctx.max_path ||
      destination.size() + kTerminators > ctx.max_path) {
    ctx.log.Skipped(what, "a path is too long for the platform");
    return false;
  }
  int result = ctx.files.CopyFolder(destination, source, ctx.copy_owner, ctx.copy_observer);
  if (result != 0) {
    ctx.log.Skipped(what, "the copy failed (" + std::to_string(result) + ")");
    return false;
  }
  // Read back: a copy that is not the same as its source counts as a file not copied.
  if (ctx.verify_copies) {
    size_t bad = VerifyFolderCopy(ctx.files, destination, source, ctx.digests,
                                  [&](std::string_view path, std::string_view why) {
                                    ctx.log.Skipped("copy " + Cp932ForDisplay(path), why);
                                    if (ctx.copy_observer) ctx.copy_observer->CopyFailed(path, why);
                                  });
    if (bad != 0) {
      ctx.log.Skipped(what, std::to_string(bad) + " file(s) not copied whole");
      return false;
    }
  }
  ctx.log.Done(what);
  return true;
}

bool CollectPersonalData(DataFolderContext& ctx) {
  // Both values are read before anything is copied; either missing stops the edition.
  std::optional<std::string> private_path =
      ReadPathValue(ctx, "Software\\VTQ\\Kodrel\\Personal\\Client", "PRV_PATH");
  std::optional<std::string> public_path =
      ReadPathValue(ctx, "Software\\VTQ\\Kodrel\\Personal\\Server", "PUB_PATH");
  if (!private_path || !public_path ||
      !ValueFits(ctx, *private_path, kPrivatePairs, kPatternAndTerminators, "PRV_PATH") ||
      !ValueFits(ctx, *public_path, kPublicPairs, kPatternAndTerminators, "PUB_PATH")) {
    ctx.show_message(kPathReadFailedMessage);
    return false;
  }
  CollectPairs(ctx, Edition::kPersonal, *private_path, kPrivatePairs);
  CollectPairs(ctx, Edition::kPersonal, *public_path, kPublicPairs);
  return true;
}

bool CollectClientData(DataFolderContext& ctx) {
  return CollectOneValue(ctx, Edition::kClient, "Software\\VTQ\\Kodrel\\Client\\Client", "PRV_PATH",
                         kPrivatePairs);
}

bool CollectServerData(DataFolderContext& ctx) {
  // The Server edition's value lies below the Client branch.
  return CollectOneValue(ctx, Edition::kServer, "Software\\VTQ\\Kodrel\\Client\\Server", "PUB_PATH",
                         kPublicPairs);
}

bool MigratePersonalData(DataFolderContext& ctx) {
  std::optional<std::string> private_path =
      ReadMigrateValue(ctx, "Software\\VTQ\\KodrelSE\\Personal\\Client", "PRV_PATH", kPrivatePairs);
  if (!private_path) return false;
  MigratePairs(ctx, Edition::kPersonal, *private_path, kPrivatePairs,
               OnMakeSureFailure::kCopyAnyway);
  // The private folders stay copied even when the public value is missing.
  std::optional<std::string> public_path =
      ReadMigrateValue(ctx, "Software\\VTQ\\KodrelSE\\Personal\\Server", "PUB_PATH", kPublicPairs);
  if (!public_path) return false;
  MigratePairs(ctx, Edition::kPersonal, *public_path, kPublicPairs, OnMakeSureFailure::kCopyAnyway);
  return true;
}

bool MigrateClientData(DataFolderContext& ctx) {
  std::optional<std::string> private_path =
      ReadMigrateValue(ctx, "Software\\VTQ\\KodrelSE\\Client\\Client", "PRV_PATH", kPrivatePairs);
  if (!private_path) return false;
  return MigratePairs(ctx, Edition::kClient, *private_path, kPrivatePairs,
                      OnMakeSureFailure::kStop);
}

bool MigrateServerData(DataFolderContext& ctx) {
  std::optional<std::string> public_path =
      ReadMigrateValue(ctx, "Software\\VTQ\\KodrelSE\\Client\\Server", "PUB_PATH", kPublicPairs);
  if (!public_path) return false;
  MigratePairs(ctx, Edition::kServer, *public_path, kPublicPairs, OnMakeSureFailure::kCopyAnyway);
  return true;
}

std::vector<FolderCopy> PlannedCopies(Registry& registry, FileSystem& files, const WorkPaths& paths,
                                      size_t max_path, Edition edition, bool migrate,
                                      std::vector<std::string>* unreadable) {
  NullActivityLog quiet;
  DataFolderContext ctx{registry, files, paths, quiet, nullptr, nullptr, {}, max_path};
  std::string_view product = migrate ? "Software\\VTQ\\KodrelSE\\" : "Software\\VTQ\\Kodrel\\";
  struct Source {
    std::string_view key;  // below the product's branch
    std::string_view value_name;
    std::span<const CopyPair> pairs;
  };
  std::vector<Source> sources;
  switch (edition) {
    case Edition::kPersonal:
      sources = {{"Personal\\Client", "PRV_PATH", kPrivatePairs},
                 {"Personal\\Server", "PUB_PATH", kPublicPairs}};
      break;
    case Edition::kClient:
      sources = {{"Client\\Client", "PRV_PATH", kPrivatePairs}};
      break;
    case Edition::kServer:
      sources = {{"Client\\Server", "PUB_PATH", kPublicPairs}};
      break;
  }
  std::vector<FolderCopy> copies;
  for (const Source& source : sources) {
    std::string key = std::string(product) + std::string(source.key);
    std::optional<std::string> value = ReadPathValue(ctx, key, source.value_name);
    if (!value || !ValueFits(ctx, *value, source.pairs,
                             migrate ? kTerminators : kPatternAndTerminators, source.value_name)) {
      unreadable->push_back(std::string(source.value_name) + " of " + Cp932ForDisplay(key));
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
