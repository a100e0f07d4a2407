#include "store/copy_record.h"

#include <optional>
#include <vector>

#include "store/text_fields.h"

namespace kdr {
namespace {

constexpr std::string_view kHeader = "kdr4tose-copies\t1\n";
// What is proven reaches the disk at least this often, so that a Collect stopped midway loses
// little of it, without a wait for the disk for each file. Files are proven by the thousand
// each second: a whole second unwritten would be much of a run to copy again, while ten writes
// a second cost next to nothing beside the copies.
constexpr auto kFlushEvery = std::chrono::milliseconds(100);

std::string Hex(std::string_view bytes) {
  std::string out;
  AppendHex(bytes, &out);
  return out;
}

// A path is never empty.
std::optional<std::string> Unhex(std::string_view hex) {
  return hex.empty() ? std::nullopt : BytesFromHex(hex);
}

void AppendStamp(std::string* out, const FileStamp& stamp) {
  out->append("\t").append(std::to_string(stamp.modified_ns));
  out->append("\t").append(std::to_string(stamp.changed_ns));
  out->append("\t").append(std::to_string(stamp.file_id));
}

std::optional<int64_t> ParseTime(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  std::optional<uint64_t> value = ParseDecimal(negative ? text.substr(1) : text);
  if (!value || *value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return negative ? -static_cast<int64_t>(*value) : static_cast<int64_t>(*value);
}

std::optional<FileStamp> ParseStamp(const std::vector<std::string_view>& f, size_t at,
                                    uint64_t size) {
  std::optional<int64_t> modified = ParseTime(f[at]);
  std::optional<int64_t> changed = ParseTime(f[at + 1]);
  std::optional<uint64_t> id = ParseDecimal(f[at + 2]);
  if (!modified || !changed || !id) return std::nullopt;
  return FileStamp{size, *modified, *id, *changed};
}

}  // namespace

std::string CopyRecordPath(const WorkPaths& paths, Edition edition) {
  return paths.root + "\\" + std::string(Traits(edition).folder_name) + ".copies";
}

std::string MigrateRecordPath(std::string_view folder, Edition edition) {
  return std::string(folder) + "\\" + std::string(Traits(edition).folder_name) + ".placed";
}

CopyRecord::CopyRecord(FileSystem& files, const WorkPaths& paths, Edition edition)
    : files_(files),
      path_(CopyRecordPath(paths, edition)),
      folder_(paths.Folder(edition) + "\\"),
      last_flush_(std::chrono::steady_clock::now()) {}

CopyRecord::CopyRecord(FileSystem& files, std::string path)
    : files_(files), path_(std::move(path)), last_flush_(std::chrono::steady_clock::now()) {}

bool CopyRecord::Load() {
  std::optional<std::string> text = files_.ReadFile(path_);
  if (!text || !std::string_view(*text).starts_with(kHeader)) return false;
  std::string_view rest = std::string_view(*text).substr(kHeader.size());
  std::string_view line;
  size_t lines = 0;
  while (TakeLine(&rest, &line)) {
    ++lines;
    std::vector<std::string_view> f = SplitTabs(line);
    if (f.size() != 9) continue;
    std::optional<std::string> path = Unhex(f[0]);
    std::optional<uint64_t> size = ParseDecimal(f[1]);
    std::optional<ContentHash> hash = HashFromHex(f[2]);
    if (!path || !size || !hash) continue;
    std::optional<FileStamp> source = ParseStamp(f, 3, *size);
    std::optional<FileStamp> copy = ParseStamp(f, 6, *size);
    if (!source || !copy) continue;
    Entry entry{FileDigest{*size, *hash}, *source, *copy};
    // A record is written in its map's order: each line goes at the end, with no search. A
    // later line for a path (appended by a run that proved the file again) replaces the first.
    if (entries_.empty() || entries_.key_comp()(entries_.rbegin()->first, *path)) {
      entries_.emplace_hint(entries_.end(), std::move(*path), entry);
    } else {
      entries_[*path] = entry;
    }
  }
  // Lines passed over or replaced by later ones: the next Rewrite drops them.
  changed_ = lines != entries_.size() || !rest.empty();
  return true;
}

bool CopyRecord::Holds(std::string_view path, const FileStamp& source_now,
                       const FileStamp& copy_now, const FileDigest& digest) const {
  auto it = entries_.find(Relative(path));
  if (it == entries_.end()) return false;
  const Entry& entry = it->second;
  return entry.source.changed_ns != 0 && entry.copy.changed_ns != 0 && entry.source == source_now &&
         entry.copy == copy_now && entry.digest == digest;
}

std::string CopyRecord::Relative(std::string_view path) const {
  if (folder_.empty()) return std::string(path);
  if (path.size() <= folder_.size() || !Cp932StartsWithNoCase(path, folder_)) return {};
  return std::string(path.substr(folder_.size()));
}

bool CopyRecord::Keeps(std::string_view source, std::string_view destination,
                       const CopyPairStamps& known, FileDigest* digest, FileResult* /*refused*/) {
  auto it = entries_.find(Relative(destination));
  if (it == entries_.end()) return false;
  const Entry& entry = it->second;
  if (entry.source.changed_ns == 0 || entry.copy.changed_ns == 0) return false;
  if (StampOr(known.source, files_, source) != entry.source ||
      StampOr(known.destination, files_, destination) != entry.copy) {
    return false;
  }
  *digest = entry.digest;
  return true;
}

const std::vector<WholeKeptFile>* CopyRecord::KeptWhole(std::string_view source,
                                                        std::string_view destination) {
  // A copy that leaves single files asks of each as it goes.
  if (files_.CopyCanKeepFiles() || !files_.IsFolder(destination)) return nullptr;
  std::vector<std::string> names;
  std::vector<std::string> folders;
  if (!files_.ListFiles(source, &names) || !files_.ListFolders(source, &folders)) return nullptr;
  std::vector<WholeKeptFile> kept;
  kept.reserve(names.size());
  FileDigest digest;
  FileResult refused;
  for (std::string& name : names) {
    const std::string from = std::string(source) + name;
    const std::string to = std::string(destination) + name;
    Result<FileStamp> source_now = files_.Stamp(from);
    Result<FileStamp> copy_now = files_.Stamp(to);
    if (!source_now || !copy_now) return nullptr;
    WholeKeptFile file{std::move(name), {*source_now, *copy_now}};
    if (!Keeps(from, to, file.known, &digest, &refused)) return nullptr;
    kept.push_back(std::move(file));
  }
  for (const std::string& folder : folders) {
    if (!files_.IsFolder(std::string(destination) + folder)) return nullptr;
  }
  if (!files_.HoldsOnlyFilesAndFolders(source)) return nullptr;
  whole_ = std::move(kept);
  return &whole_;
}

void CopyRecord::Proven(std::string_view /*source*/, std::string_view destination,
                        const FileDigest& digest, const FileStamp& source_stamp,
                        const FileStamp& copy_stamp) {
  std::string path = Relative(destination);
  // Stamps that cannot prove anything later, or sizes the digest does not have, are not kept.
  if (path.empty() || source_stamp.changed_ns == 0 || copy_stamp.changed_ns == 0 ||
      source_stamp.size != digest.size || copy_stamp.size != digest.size) {
    return;
  }
  Entry entry{digest, source_stamp, copy_stamp};
  auto [it, added] = entries_.try_emplace(path, entry);
  if (!added) {
    if (it->second == entry) return;  // told again by the check after the copy
    it->second = entry;
  }
  changed_ = true;
  pending_ += Line(path, entry);
  if (std::chrono::steady_clock::now() - last_flush_ >= kFlushEvery) static_cast<void>(Flush());
}

std::string CopyRecord::Line(const std::string& path, const Entry& entry) {
  std::string line = Hex(path);
  line.append("\t").append(std::to_string(entry.digest.size));
  line.append("\t").append(HashToHex(entry.digest.hash));
  AppendStamp(&line, entry.source);
  AppendStamp(&line, entry.copy);
  line.push_back('\n');
  return line;
}

bool CopyRecord::Flush() {
  last_flush_ = std::chrono::steady_clock::now();
  if (pending_.empty()) return true;
  std::optional<std::string> head;
  if (!files_.Exists(path_)) head = std::string(kHeader);
  if (!files_.AppendToFile(path_, (head ? *head : std::string()) + pending_)) return false;
  pending_.clear();
  return true;
}

bool CopyRecord::Rewrite() {
  if (!changed_) return true;
  std::string text(kHeader);
  for (const auto& [path, entry] : entries_) text += Line(path, entry);
  pending_.clear();
  if (!files_.WriteFileAtomically(path_, text)) return false;
  changed_ = false;
  return true;
}

}  // namespace kdr
