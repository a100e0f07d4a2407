#include "store/store_check.h"

#include <optional>
#include <set>

#include "platform/cp932.h"
#include "store/manifest.h"

namespace kdr {
namespace {

std::string FolderWithSlash(const WorkPaths& paths, Edition edition) {
  return paths.Folder(edition) + "\\";
}

}  // namespace

std::string_view ProblemText(StoreProblemKind kind) {
  switch (kind) {
    case StoreProblemKind::kMissing:
      return "missing";
    case StoreProblemKind::kTruncated:
      return "shorter than when collected";
    case StoreProblemKind::kChanged:
      return "content changed since collected";
    case StoreProblemKind::kUnreadable:
      return "cannot be read";
    case StoreProblemKind::kNotAFile:
      return "not a plain file (a folder, a link or a device): it would not be migrated as "
             "collected";
    case StoreProblemKind::kNotListed:
      break;
  }
  return "not in the manifest";
}

bool WriteEditionManifest(FileSystem& files, const WorkPaths& paths, Edition edition,
                          std::string_view tool_version, std::string_view time,
                          const DigestCache* known, std::string* error) {
  std::string folder = FolderWithSlash(paths, edition);
  std::vector<std::string> names;
  if (!files.ListFiles(folder, &names)) {
    *error = "the edition folder could not be listed";
    return false;
  }
  Manifest manifest;
  manifest.tool_version = tool_version;
  manifest.time = time;
  for (const std::string& name : names) {
    if (Cp932EqualNoCase(name, kManifestName)) continue;
    std::string full = folder + name;
    std::optional<FileDigest> digest;
    if (known) {
      auto it = known->find(full);
      if (it != known->end()) digest = it->second;
    }
    if (!digest) digest = DigestFile(files, full);
    if (!digest) {
      *error = "cannot be read: " + full;
      return false;
    }
    manifest.files.push_back(ManifestFile{name, *digest});
  }
  std::optional<std::string> text = FormatManifest(manifest);
  if (!text) {
    *error = "a file name is not valid code page 932";
    return false;
  }
  if (!files.WriteFileAtomically(folder + std::string(kManifestName), *text)) {
    *error = "the manifest could not be written";
    return false;
  }
  return true;
}

EditionCheck CheckEdition(FileSystem& files, const WorkPaths& paths, Edition edition,
                          DigestCache* digests) {
  EditionCheck check;
  std::string folder = FolderWithSlash(paths, edition);
  std::string manifest_path = folder + std::string(kManifestName);
  if (!files.Exists(manifest_path)) return check;
  check.has_manifest = true;
  std::optional<std::string> text = files.ReadFile(manifest_path);
  if (!text) {
    check.manifest_error = "the manifest cannot be read";
    return check;
  }
  ManifestParseResult parsed = ParseManifest(*text);
  if (!parsed.manifest) {
    check.manifest_error =
        "the manifest is damaged: line " + std::to_string(parsed.error_line) + ": " + parsed.error;
    return check;
  }
  // The listing holds plain files only: a link put where a collected file was reads as that
  // file's content, but Migrate's copy would not carry it as a file.
  std::vector<std::string> present;
  if (!files.ListFiles(folder, &present)) {
    check.manifest_error = "the edition folder cannot be listed";
    return check;
  }
  std::set<std::string, Cp932NoCaseLess> plain(present.begin(), present.end());
  std::set<std::string, Cp932NoCaseLess> listed;
  for (const ManifestFile& file : parsed.manifest->files) {
    listed.insert(file.path);
    ++check.files_checked;
    std::string full = folder + file.path;
    if (!files.Exists(full)) {
      check.problems.push_back({file.path, StoreProblemKind::kMissing});
      continue;
    }
    if (!plain.contains(file.path)) {
      check.problems.push_back({file.path, StoreProblemKind::kNotAFile});
      continue;
    }
    std::optional<FileDigest> digest = DigestFile(files, full);
    if (!digest) {
      check.problems.push_back({file.path, StoreProblemKind::kUnreadable});
    } else if (digest->size < file.digest.size) {
      check.problems.push_back({file.path, StoreProblemKind::kTruncated});
    } else if (*digest != file.digest) {
      check.problems.push_back({file.path, StoreProblemKind::kChanged});
    } else if (digests) {
      (*digests)[full] = *digest;
    }
  }
  for (const std::string& name : present) {
    if (!Cp932EqualNoCase(name, kManifestName) && !listed.contains(name)) {
      check.problems.push_back({name, StoreProblemKind::kNotListed});
    }
  }
  return check;
}

}  // namespace kdr
