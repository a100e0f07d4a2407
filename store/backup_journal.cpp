#include "store/backup_journal.h"

#include <algorithm>
#include <charconv>
#include <climits>

#include "store/text_fields.h"

namespace kdr {
namespace {

constexpr std::string_view kMagic = "kdr4tose-backup";
// 2 added the line that tells an edition's writes ended; in a journal of 1 every edition whose
// block is whole counts as written. 3 added a replaced file's metadata to its line.
constexpr int kFormat = 3;
constexpr std::string_view kWrittenTag = "written";

// Appends the pieces as one line's fields: tabs between them, a line end after the last.
class Line {
 public:
  // `grown`, when given, is called as a long hex field grows, so that the caller can write out
  // what the line holds so far: a value of many megabytes is not held whole as text.
  Line(std::string* out, std::string_view tag, const std::function<void()>* grown = nullptr)
      : out_(out), grown_(grown) {
    out_->append(tag);
  }
  ~Line() { out_->push_back('\n'); }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  Line& Text(std::string_view text) {
    out_->push_back('\t');
    out_->append(text);
    return *this;
  }
  Line& Number(uint64_t value) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    return Text(std::string_view(digits, static_cast<size_t>(end - digits)));
  }
  Line& Flag(bool value) { return Text(value ? "1" : "0"); }
  // An empty field would look like a missing one, so no bytes are written as "-".
  Line& Hex(std::string_view bytes) {
    static constexpr size_t kPiece = 1024;
    if (bytes.empty()) return Text("-");
    out_->push_back('\t');
    for (size_t from = 0; from < bytes.size(); from += kPiece) {
      AppendHex(bytes.substr(from, kPiece), out_);
      if (grown_ && *grown_) (*grown_)();
    }
    return *this;
  }
  Line& Digest(const FileDigest& d) { return Number(d.size).Text(HashToHex(d.hash)); }
  // "windows,<attributes>,<time>" or "posix,<mode>,<owner>,<group>,<time>", in decimal; "-"
  // for none.
  Line& Metadata(const std::optional<FileMetadata>& m) {
    if (!m) return Text("-");
    std::string text = m->kind == FileMetadata::Kind::kWindows
                           ? "windows," + std::to_string(m->attributes)
                           : "posix," + std::to_string(m->mode) + "," + std::to_string(m->owner) +
                                 "," + std::to_string(m->group);
    return Text(text + "," + std::to_string(m->modified_ns));
  }

 private:
  std::string* out_;
  const std::function<void()>* grown_;
};

// No bytes are written as "-", so an empty field is a malformed one.
std::optional<std::string> Unhex(std::string_view text) {
  if (text == "-") return std::string();
  return text.empty() ? std::nullopt : BytesFromHex(text);
}

// The metadata field as Line::Metadata writes it; nullopt when malformed, *none for "-".
std::optional<std::optional<FileMetadata>> ParseMetadata(std::string_view text) {
  if (text == "-") return std::optional<FileMetadata>();
  std::vector<std::string_view> parts;
  for (size_t from = 0;;) {
    size_t comma = text.find(',', from);
    parts.push_back(text.substr(from, comma == std::string_view::npos ? comma : comma - from));
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  FileMetadata m;
  auto number = [](std::string_view digits, uint32_t* out) {
    std::optional<uint64_t> n = ParseDecimal(digits);
    if (!n || *n > 0xffffffff) return false;
    *out = static_cast<uint32_t>(*n);
    return true;
  };
  std::string_view time = parts.back();
  bool negative = time.starts_with('-');
  std::optional<uint64_t> magnitude = ParseDecimal(negative ? time.substr(1) : time);
  if (!magnitude || *magnitude > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  m.modified_ns = negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude);
  if (parts.size() == 3 && parts[0] == "windows" && number(parts[1], &m.attributes) &&
      (m.attributes & ~kKeptAttributes) == 0) {
    m.kind = FileMetadata::Kind::kWindows;
    return std::optional<FileMetadata>(m);
  }
  if (parts.size() == 5 && parts[0] == "posix" && number(parts[1], &m.mode) && m.mode <= 07777 &&
      number(parts[2], &m.owner) && number(parts[3], &m.group)) {
    m.kind = FileMetadata::Kind::kPosix;
    return std::optional<FileMetadata>(m);
  }
  return std::nullopt;
}

// Reads a journal one line at a time as pieces of it arrive. Every line is checked; the items
// of block `wanted` (all blocks with kAllBlocks) are handed to `items`, and no line ending past
// `limit` is looked at. A block is whole once its end line is: what follows the last whole end
// line is a block that was still being appended, and a fault in it does not count.
class JournalReader {
 public:
  static constexpr size_t kAllBlocks = static_cast<size_t>(-1);

  JournalReader(JournalItems* items, size_t wanted, uint64_t limit)
      : items_(items), wanted_(wanted), limit_(limit) {}

  void Feed(std::string_view piece) {
    if (head_.size() < kHeadBytes) head_.append(piece.substr(0, kHeadBytes - head_.size()));
    while (!piece.empty()) {
      size_t end = piece.find('\n');
      if (end == std::string_view::npos) {
        partial_.append(piece);
        offset_ += piece.size();
        return;
      }
      offset_ += end + 1;
      if (partial_.empty()) {
        Line(piece.substr(0, end));
      } else {
        partial_.append(piece.substr(0, end));
        Line(partial_);
        partial_.clear();
      }
      piece.remove_prefix(end + 1);
    }
  }

  // The edition of a block begun after the last whole one.
  std::optional<Edition> Unfinished() const {
    if (editions_.size() <= counted_editions_) return std::nullopt;
    return editions_.back();
  }

  // After the last piece: the outline, or nullopt with *error naming the first malformed line.
  std::optional<JournalOutline> Finish(JournalError* error) const {
    JournalOutline outline;
    outline.cut_short = counted_ < offset_;
    if (counted_ == 0) {
      // Stopped before its first block was whole: a journal of nothing.
      std::string start = std::string(kMagic) + "\t";
      if (std::string_view(head_).starts_with(start) ||
          std::string_view(start).starts_with(head_)) {
        return outline;
      }
      *error = {JournalTrouble::kNotAJournal, 1, 0};
      return std::nullopt;
    }
    if (error_.trouble != JournalTrouble::kNone && error_end_ <= counted_) {
      *error = error_;
      return std::nullopt;
    }
    outline.time = time_;
    outline.editions.assign(editions_.begin(), editions_.begin() + counted_editions_);
    outline.written.assign(written_.begin(), written_.begin() + counted_editions_);
    outline.counted_bytes = counted_;
    return outline;
  }

 private:
  static constexpr size_t kHeadBytes = kMagic.size() + 1;

  void Line(std::string_view line) {
    if (offset_ > limit_) return;
    ++number_;
    if (error_.trouble == JournalTrouble::kNone) Check(line);
    if (number_ > 1 && (line.starts_with("end\t") || line.starts_with(kWrittenTag))) {
      counted_ = offset_;
      counted_editions_ = editions_.size();
    }
  }

  void Fail(JournalTrouble trouble, size_t fields = 0) {
    error_ = {trouble, number_, fields};
    error_end_ = offset_;
  }

  bool Wanted() const {
    return items_ && (wanted_ == kAllBlocks || wanted_ + 1 == editions_.size());
  }

  void Check(std::string_view line) {
    std::vector<std::string_view> f = SplitTabs(line);
    if (number_ == 1) {
      if (f.size() != 2 || f[0] != kMagic || (f[1] != "1" && f[1] != "2" && f[1] != "3")) {
        return Fail(JournalTrouble::kOtherVersion);
      }
      tells_written_ = f[1] != "1";
      keeps_metadata_ = f[1] == "3";
      return;
    }
    if (number_ == 2) {
      if (f.size() != 2 || f[0] != "time" || !IsPlainField(f[1]))
        return Fail(JournalTrouble::kNoTime);
      time_ = f[1];
      return;
    }
    if (f[0] == "end") {
      std::optional<uint64_t> count = f.size() == 2 ? ParseDecimal(f[1]) : std::nullopt;
      if (ended_ || editions_.empty()) return Fail(JournalTrouble::kEndWithoutEdition);
      if (!count || *count != number_ - 1) return Fail(JournalTrouble::kEndMiscounted);
      ended_ = true;
      return;
    }
    if (f[0] == kWrittenTag) {
      std::optional<uint64_t> e = f.size() == 2 ? ParseDecimal(f[1]) : std::nullopt;
      if (!tells_written_ || !ended_ || editions_.empty() || written_.back() || !e ||
          *e != static_cast<uint64_t>(editions_.back())) {
        return Fail(JournalTrouble::kWrittenOutsideBlock);
      }
      written_.back() = true;
      return;
    }
    if (f[0] == "edition") {
      std::optional<uint64_t> e = f.size() == 2 ? ParseDecimal(f[1]) : std::nullopt;
      if (!e || *e < 1 || *e > 3) return Fail(JournalTrouble::kUnknownEdition);
      editions_.push_back(static_cast<Edition>(*e));
      written_.push_back(!tells_written_);
      ended_ = false;
      return;
    }
    if (editions_.empty()) return Fail(JournalTrouble::kItemBeforeEdition);
    if (ended_) return Fail(JournalTrouble::kItemAfterEnd);
    if (f[0] == "key" || f[0] == "folder") {
      std::optional<std::string> path = f.size() == 2 ? Unhex(f[1]) : std::nullopt;
      if (!path || path->empty()) return Fail(JournalTrouble::kBadPath);
      if (!Wanted()) return;
      if (f[0] == "key") {
        items_->KeyCreated(std::move(*path));
      } else {
        items_->FolderCreated(std::move(*path));
      }
    } else if (f[0] == "value") {
      if (f.size() != 8) return Fail(JournalTrouble::kValueFields);
      std::optional<std::string> key = Unhex(f[1]), name = Unhex(f[2]), old_data = Unhex(f[5]),
                                 new_data = Unhex(f[7]);
      std::optional<uint64_t> old_type = ParseDecimal(f[4]), new_type = ParseDecimal(f[6]);
      if (!key || !name || !old_data || !new_data || !old_type || !new_type ||
          (f[3] != "0" && f[3] != "1") || *old_type > 0xffffffff || *new_type > 0xffffffff) {
        return Fail(JournalTrouble::kBadValue);
      }
      if (!Wanted()) return;
      items_->Value(PlannedValue{std::move(*key), std::move(*name), f[3] == "1",
                                 static_cast<uint32_t>(*old_type), std::move(*old_data),
                                 static_cast<uint32_t>(*new_type), std::move(*new_data)});
    } else if (f[0] == "file") {
      if (f.size() != (keeps_metadata_ ? 10u : 9u)) {
        return Fail(JournalTrouble::kFileFields, keeps_metadata_ ? 10 : 9);
      }
      std::optional<std::optional<FileMetadata>> metadata =
          keeps_metadata_ ? ParseMetadata(f[9]) : std::optional<std::optional<FileMetadata>>();
      if (keeps_metadata_ && !metadata) return Fail(JournalTrouble::kBadMetadata);
      std::optional<std::string> destination = Unhex(f[1]), source = Unhex(f[2]),
                                 saved = Unhex(f[4]);
      std::optional<uint64_t> old_size = ParseDecimal(f[5]), new_size = ParseDecimal(f[7]);
      std::optional<ContentHash> old_hash = HashFromHex(f[6]), new_hash = HashFromHex(f[8]);
      if (!destination || destination->empty() || !source || !saved || !old_size || !new_size ||
          !old_hash || !new_hash || (f[3] != "0" && f[3] != "1")) {
        return Fail(JournalTrouble::kBadFile);
      }
      // A saved copy is a plain name inside the backup's own folder.
      if (saved->find_first_of("\\/:") != std::string::npos || *saved == "." || *saved == "..") {
        return Fail(JournalTrouble::kBadSavedCopy);
      }
      if (!Wanted()) return;
      JournalFile file;
      file.planned = PlannedFile{std::move(*source), std::move(*destination),          f[3] == "1",
                                 *old_size,          FileDigest{*new_size, *new_hash}, {}};
      file.saved_copy = std::move(*saved);
      file.old_digest = FileDigest{*old_size, *old_hash};
      if (metadata) file.planned.old_metadata = *metadata;
      items_->File(std::move(file));
    } else {
      Fail(JournalTrouble::kUnknownLine);
    }
  }

  JournalItems* items_;
  size_t wanted_;
  uint64_t limit_;
  std::string head_;     // the first bytes, to tell a journal stopped in its first line
  std::string partial_;  // a line whose end has not arrived yet
  uint64_t offset_ = 0;  // bytes fed
  size_t number_ = 0;    // lines looked at
  bool ended_ = false;   // the last line was an end line
  std::string time_;
  std::vector<Edition> editions_;
  bool tells_written_ = false;   // the journal's version has written lines
  bool keeps_metadata_ = false;  // ... and a metadata field in its file lines
  std::vector<bool> written_;    // by edition: its writes ended
  uint64_t counted_ = 0;         // bytes up to the last whole end line
  size_t counted_editions_ = 0;
  JournalError error_;  // the first malformed line
  uint64_t error_end_ = 0;
};

// Builds a whole Journal from its items.
class JournalCollector : public JournalItems {
 public:
  explicit JournalCollector(JournalEdition* edition) : e_(edition) {}
  void KeyCreated(std::string path) override { e_->keys_created.push_back(std::move(path)); }
  void Value(PlannedValue value) override { e_->values.push_back(std::move(value)); }
  void FolderCreated(std::string path) override { e_->folders_created.push_back(std::move(path)); }
  void File(JournalFile file) override { e_->files.push_back(std::move(file)); }

 private:
  JournalEdition* e_;
};

}  // namespace

std::string FormatJournalStart(std::string_view time, size_t* lines) {
  std::string out;
  Line(&out, kMagic).Number(kFormat);
  Line(&out, "time").Text(time);
  *lines = 2;
  return out;
}

bool AppendJournalEdition(const EditionPlan& plan, const std::vector<JournalFile>& files,
                          size_t* lines, std::string* out,
                          const std::function<bool(std::string*)>& spill) {
  bool spilled_ok = true;
  // Called after each whole line, and as a long value line grows.
  auto maybe_spill = [&] {
    if (spill && spilled_ok && out->size() >= kJournalSpillBytes) spilled_ok = spill(out);
    return spilled_ok;
  };
  size_t bytes = 64;
  for (const PlannedValueRef& v : plan.values) {
    bytes += 2 * (v.key.size() + v.name.size() + v.old_data.size() + v.new_data.size()) + 40;
  }
  out->reserve(out->size() + (spill ? std::min(bytes, kJournalSpillBytes * 2) : bytes));
  Line(out, "edition").Number(static_cast<uint64_t>(plan.edition));
  for (const std::string& key : plan.keys_created) {
    Line(out, "key").Hex(key);
    if (!maybe_spill()) return false;
  }
  const std::function<void()> grown = [&] { maybe_spill(); };
  for (const PlannedValueRef& v : plan.values) {
    Line(out, "value", &grown)
        .Hex(v.key)
        .Hex(v.name)
        .Flag(v.existed)
        .Number(v.old_type)
        .Hex(v.old_data)
        .Number(v.new_type)
        .Hex(v.new_data);
    if (!maybe_spill()) return false;
  }
  for (const std::string& folder : plan.folders_created) {
    Line(out, "folder").Hex(folder);
    if (!maybe_spill()) return false;
  }
  for (const JournalFile& f : files) {
    Line(out, "file")
        .Hex(f.planned.destination)
        .Hex(f.planned.source)
        .Flag(f.planned.replaces)
        .Hex(f.saved_copy)
        .Digest(f.old_digest)
        .Digest(f.planned.new_digest)
        .Metadata(f.planned.old_metadata);
    if (!maybe_spill()) return false;
  }
  *lines += 1 + plan.keys_created.size() + plan.values.size() + plan.folders_created.size() +
            files.size();
  Line(out, "end").Number(*lines);
  ++*lines;
  return true;
}

std::string JournalErrorText(const JournalError& error) {
  static constexpr struct {
    JournalTrouble trouble;
    std::string_view text;
  } kTexts[] = {
      {JournalTrouble::kNotAJournal, "not a backup journal"},
      {JournalTrouble::kOtherVersion, "not a backup journal of this version"},
      {JournalTrouble::kNoTime, "no time line"},
      {JournalTrouble::kEndWithoutEdition, "an end line with no edition before it"},
      {JournalTrouble::kEndMiscounted, "the end line does not count the lines"},
      {JournalTrouble::kWrittenOutsideBlock, "a written line that ends no edition's block"},
      {JournalTrouble::kUnknownEdition, "unknown edition"},
      {JournalTrouble::kItemBeforeEdition, "an item before any edition"},
      {JournalTrouble::kItemAfterEnd, "an item after the end line"},
      {JournalTrouble::kBadPath, "bad path"},
      {JournalTrouble::kValueFields, "a value line has 8 fields"},
      {JournalTrouble::kBadValue, "bad value line"},
      {JournalTrouble::kBadMetadata, "bad file metadata"},
      {JournalTrouble::kBadFile, "bad file line"},
      {JournalTrouble::kBadSavedCopy, "bad saved copy name"},
      {JournalTrouble::kUnknownLine, "unknown line"},
  };
  if (error.trouble == JournalTrouble::kUnreadable) return "the journal cannot be read";
  if (error.trouble == JournalTrouble::kChangedWhileRead) {
    return "the journal changed while it was read";
  }
  const std::string at = "line " + std::to_string(error.line) + ": ";
  if (error.trouble == JournalTrouble::kFileFields) {
    return at + "a file line has " + std::to_string(error.fields) + " fields";
  }
  for (const auto& t : kTexts) {
    if (t.trouble == error.trouble) return at + std::string(t.text);
  }
  return {};
}

std::string FormatJournalWritten(Edition edition) {
  std::string out;
  Line(&out, kWrittenTag).Number(static_cast<uint64_t>(edition));
  return out;
}

std::optional<Journal> ParseJournal(std::string_view text, JournalError* error) {
  JournalReader check(nullptr, JournalReader::kAllBlocks, UINT64_MAX);
  check.Feed(text);
  std::optional<JournalOutline> outline = check.Finish(error);
  if (!outline) return std::nullopt;
  Journal journal;
  journal.time = outline->time;
  journal.cut_short = outline->cut_short;
  for (size_t block = 0; block < outline->editions.size(); ++block) {
    journal.editions.push_back(
        JournalEdition{outline->editions[block], {}, {}, {}, {}, outline->written[block]});
    JournalCollector collector(&journal.editions.back());
    JournalReader read(&collector, block, outline->counted_bytes);
    read.Feed(text);
  }
  return journal;
}

std::optional<JournalOutline> CheckJournalFile(FileSystem& files, std::string_view path,
                                               JournalError* error) {
  JournalReader check(nullptr, JournalReader::kAllBlocks, UINT64_MAX);
  if (!files.ReadFileInPieces(path, [&](std::string_view piece) { check.Feed(piece); })) {
    *error = {JournalTrouble::kUnreadable, 0, 0};
    return std::nullopt;
  }
  return check.Finish(error);
}

bool ReadJournalBlock(FileSystem& files, std::string_view path, const JournalOutline& outline,
                      size_t block, JournalItems* items, JournalError* error) {
  JournalReader read(items, block, outline.counted_bytes);
  if (!files.ReadFileInPieces(path, [&](std::string_view piece) { read.Feed(piece); })) {
    *error = {JournalTrouble::kUnreadable, 0, 0};
    return false;
  }
  std::optional<JournalOutline> again = read.Finish(error);
  if (!again || again->editions != outline.editions || again->time != outline.time) {
    *error = {JournalTrouble::kChangedWhileRead, 0, 0};
    return false;
  }
  return true;
}

bool ReadUnfinishedBlock(FileSystem& files, std::string_view path, const JournalOutline& outline,
                         JournalItems* items, std::optional<Edition>* edition,
                         JournalError* error) {
  JournalReader read(items, outline.editions.size(), UINT64_MAX);
  if (!files.ReadFileInPieces(path, [&](std::string_view piece) { read.Feed(piece); })) {
    *error = {JournalTrouble::kUnreadable, 0, 0};
    return false;
  }
  *edition = read.Unfinished();
  return true;
}

}  // namespace kdr
