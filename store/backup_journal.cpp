#include "store/backup_journal.h"

#include <algorithm>
#include <charconv>

#include "store/text_fields.h"

namespace kdr {
namespace {

constexpr std::string_view kMagic = "kdr4tose-backup";
constexpr int kFormat = 1;

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
    static constexpr char kDigits[] = "0123456789abcdef";
    static constexpr size_t kPiece = 1024;
    if (bytes.empty()) return Text("-");
    out_->push_back('\t');
    for (size_t from = 0; from < bytes.size(); from += kPiece) {
      std::string_view piece = bytes.substr(from, kPiece);
      size_t at = out_->size();
      out_->resize(at + piece.size() * 2);
      for (unsigned char c : piece) {
        (*out_)[at++] = kDigits[c >> 4];
        (*out_)[at++] = kDigits[c & 15];
      }
      if (grown_ && *grown_) (*grown_)();
    }
    return *this;
  }
  Line& Digest(const FileDigest& d) { return Number(d.size).Text(HashToHex(d.hash)); }

 private:
  std::string* out_;
  const std::function<void()>* grown_;
};

std::optional<std::string> Unhex(std::string_view text) {
  if (text == "-") return std::string();
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexDigitValue(text[i]);
    int low = HexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
  }
  return out;
}

// The length of the journal up to and including its last whole end line: what follows is a
// block that was still being appended.
size_t CountedPart(std::string_view text) {
  for (size_t before = text.size(); before > 0;) {
    size_t found = text.rfind("\nend\t", before - 1);
    if (found == std::string_view::npos) return 0;
    size_t line_end = text.find('\n', found + 1);
    if (line_end != std::string_view::npos) return line_end + 1;
    before = found;
  }
  return 0;
}

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
        .Digest(f.planned.new_digest);
    if (!maybe_spill()) return false;
  }
  *lines += 1 + plan.keys_created.size() + plan.values.size() + plan.folders_created.size() +
            files.size();
  Line(out, "end").Number(*lines);
  ++*lines;
  return true;
}

std::optional<Journal> ParseJournal(std::string_view text, std::string* error) {
  Journal journal;
  size_t counted = CountedPart(text);
  journal.cut_short = counted < text.size();
  if (counted == 0) {
    // Stopped before its first block was whole: a journal of nothing.
    std::string start = std::string(kMagic) + "\t";
    if (text.starts_with(start) || std::string_view(start).starts_with(text)) return journal;
    *error = "line 1: not a backup journal";
    return std::nullopt;
  }
  text = text.substr(0, counted);
  size_t number = 0;
  bool ended = false;  // the last line was an end line
  auto fail = [&](std::string_view why) {
    *error = "line " + std::to_string(number) + ": " + std::string(why);
    return std::nullopt;
  };
  std::string_view line;
  while (TakeLine(&text, &line)) {
    ++number;
    std::vector<std::string_view> f = SplitTabs(line);
    if (number == 1) {
      if (f.size() != 2 || f[0] != kMagic || f[1] != std::to_string(kFormat)) {
        return fail("not a backup journal of this version");
      }
      continue;
    }
    if (number == 2) {
      if (f.size() != 2 || f[0] != "time") return fail("no time line");
      journal.time = f[1];
      continue;
    }
    if (f[0] == "end") {
      std::optional<uint64_t> count = f.size() == 2 ? ParseDecimal(f[1]) : std::nullopt;
      if (ended || journal.editions.empty()) return fail("an end line with no edition before it");
      if (!count || *count != number - 1) return fail("the end line does not count the lines");
      ended = true;
      continue;
    }
    if (f[0] == "edition") {
      std::optional<uint64_t> e = f.size() == 2 ? ParseDecimal(f[1]) : std::nullopt;
      if (!e || *e < 1 || *e > 3) return fail("unknown edition");
      journal.editions.push_back(JournalEdition{static_cast<Edition>(*e), {}, {}, {}, {}});
      ended = false;
      continue;
    }
    if (journal.editions.empty()) return fail("an item before any edition");
    if (ended) return fail("an item after the end line");
    JournalEdition& e = journal.editions.back();
    if (f[0] == "key" || f[0] == "folder") {
      std::optional<std::string> path = f.size() == 2 ? Unhex(f[1]) : std::nullopt;
      if (!path || path->empty()) return fail("bad path");
      (f[0] == "key" ? e.keys_created : e.folders_created).push_back(*path);
    } else if (f[0] == "value") {
      if (f.size() != 8) return fail("a value line has 8 fields");
      std::optional<std::string> key = Unhex(f[1]), name = Unhex(f[2]), old_data = Unhex(f[5]),
                                 new_data = Unhex(f[7]);
      std::optional<uint64_t> old_type = ParseDecimal(f[4]), new_type = ParseDecimal(f[6]);
      if (!key || !name || !old_data || !new_data || !old_type || !new_type ||
          (f[3] != "0" && f[3] != "1") || *old_type > 0xffffffff || *new_type > 0xffffffff) {
        return fail("bad value line");
      }
      e.values.push_back(PlannedValue{*key, *name, f[3] == "1", static_cast<uint32_t>(*old_type),
                                      *old_data, static_cast<uint32_t>(*new_type), *new_data});
    } else if (f[0] == "file") {
      if (f.size() != 9) return fail("a file line has 9 fields");
      std::optional<std::string> destination = Unhex(f[1]), source = Unhex(f[2]),
                                 saved = Unhex(f[4]);
      std::optional<uint64_t> old_size = ParseDecimal(f[5]), new_size = ParseDecimal(f[7]);
      std::optional<ContentHash> old_hash = HashFromHex(f[6]), new_hash = HashFromHex(f[8]);
      if (!destination || destination->empty() || !source || !saved || !old_size || !new_size ||
          !old_hash || !new_hash || (f[3] != "0" && f[3] != "1")) {
        return fail("bad file line");
      }
      // A saved copy is a plain name inside the backup's own folder.
      if (saved->find_first_of("\\/:") != std::string::npos || *saved == "." || *saved == "..") {
        return fail("bad saved copy name");
      }
      JournalFile file;
      file.planned = PlannedFile{*source, *destination, f[3] == "1", *old_size,
                                 FileDigest{*new_size, *new_hash}};
      file.saved_copy = *saved;
      file.old_digest = FileDigest{*old_size, *old_hash};
      e.files.push_back(std::move(file));
    } else {
      return fail("unknown line");
    }
  }
  return journal;
}

}  // namespace kdr
