#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "store/verified_copy.h"

// The store's own check: the manifest written at the end of an edition's Collect, and the
// edition folder compared with it before Migrate uses it.
namespace kdr {

// Writes `<edition folder>\kdr4tose.manifest` atomically for every file of the edition folder
// (settings file and data), taking digests from `known` where it has them. False with *error
// when a file cannot be read or the manifest cannot be written.
bool WriteEditionManifest(FileSystem& files, const WorkPaths& paths, Edition edition,
                          std::string_view tool_version, std::string_view time,
                          const DigestCache* known, std::string* error);

enum class StoreProblemKind { kMissing, kTruncated, kChanged, kUnreadable, kNotListed, kNotAFile };

struct StoreProblem {
  std::string path;  // relative to the edition folder (code page 932)
  StoreProblemKind kind;
};

std::string_view ProblemText(StoreProblemKind kind);

struct EditionCheck {
  bool has_manifest = false;
  std::string manifest_error;  // the manifest exists but cannot be used: why (and the line)
  size_t files_checked = 0;
  std::vector<StoreProblem> problems;
  // The edition folder holds exactly what its manifest lists.
  bool whole() const { return has_manifest && manifest_error.empty() && problems.empty(); }
  // Migrate may go on: whole, or a store from before manifests.
  bool usable() const { return whole() || (!has_manifest && manifest_error.empty()); }
  // Files that are not as listed (a manifest that cannot be used counts as one).
  size_t bad_count() const { return problems.size() + (manifest_error.empty() ? 0 : 1); }
};

// Compares the edition folder with its manifest: every listed file present with its size and
// hash, and nothing else but the manifest itself. The digests of files found as listed go into
// `digests` (may be null) under their full paths.
EditionCheck CheckEdition(FileSystem& files, const WorkPaths& paths, Edition edition,
                          DigestCache* digests);

}  // namespace kdr
