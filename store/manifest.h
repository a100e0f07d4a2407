#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cp932.h"
#include "store/content_hash.h"

// The manifest of one edition folder of the store (kdr4tose.manifest): which files Collect left
// there, with their sizes and content hashes. Text, one item a line, tab-separated, paths in
// UTF-8 relative to the edition folder, so that two manifests can be compared with diff:
//
//   kdr4tose-manifest <TAB> 2
//   tool <TAB> 1.0.0.1
//   time <TAB> 2026-12-08T23:50:00Z
//   state <TAB> begun | sealed
//   file <TAB> 1234 <TAB> <32 hex digits> <TAB> DDBVID\sub\a.dat
//   missed <TAB> <what was not collected> <TAB> <why>
//   end <TAB> <number of file lines>
//
// Collect writes a begun manifest before it puts anything into the edition folder and replaces
// it with the sealed one at its end, so an interrupted Collect is never taken for a finished
// one. A "missed" line names a file (or a folder, its path ending with a backslash; older
// builds wrote some without it) Collect could not take, with the reason.
// A tab, line end or "%" in a path or reason is written as %XX. Format 1 (from the first
// versions with manifests) has no state or missed lines and reads as sealed.
namespace kdr {

inline constexpr std::string_view kManifestName = "kdr4tose.manifest";
inline constexpr int kManifestFormat = 2;

struct ManifestFile {
  std::string path;  // code page 932, backslashes, relative to the edition folder
  FileDigest digest;
};

// Something Collect could not put into the store, as the log tells it (UTF-8).
// The reasons Collect gives for what it could not take, besides a failed call's own text.
inline constexpr std::string_view kMissNotWritten = "could not be written";
inline constexpr std::string_view kMissSeeLog = "not collected (see the log)";
inline constexpr std::string_view kMissDataFolders = "data folders";

struct ManifestMiss {
  std::string what;  // the source path, or the item that failed
  std::string why;
};

struct Manifest {
  int format = kManifestFormat;
  std::string tool_version;
  std::string time;    // local time with its offset, ISO 8601 (UTC in older manifests)
  bool sealed = true;  // false: Collect began and has not finished
  std::vector<ManifestFile> files;
  std::vector<ManifestMiss> missed;
};

// nullopt when a path is not valid code page 932 (it could not be written as UTF-8).
std::optional<std::string> FormatManifest(const Manifest& manifest);

// What is wrong with a damaged manifest, for a front end to say in its own words.
enum class ManifestDamage {
  kNone,
  kNoLineEnd,
  kTextAfterEnd,
  kNotAManifest,
  kUnknownFormat,
  kNoTool,
  kNoTime,
  kNoState,
  kBadMissed,
  kFileFields,
  kBadSize,
  kBadHash,
  kBadPath,
  kPathTwice,
  kBadCount,
  kUnknownLine,
  kNoEnd,
};

struct ManifestParseResult {
  std::optional<Manifest> manifest;
  size_t error_line = 0;  // 1 upwards when manifest is empty
  std::string error;      // English
  ManifestDamage damage = ManifestDamage::kNone;
  std::string detail;  // kUnknownFormat: the format number
  Cp932NameSet paths;  // every file's path, when the manifest was accepted
};

// `damage` in English, with `detail` for {0}.
std::string ManifestDamageText(ManifestDamage damage, std::string_view detail);

// Accepts only a whole, well-formed manifest: every line as above, paths relative without ".."
// or empty names, no path twice, the end line present with the right count.
ManifestParseResult ParseManifest(std::string_view text);

// A relative path that stays inside the folder it is relative to (code page 932).
bool IsSafeRelativePath(std::string_view path);

}  // namespace kdr
