#include "store/backup_journal.h"

#include <charconv>

namespace kdr {
namespace {

constexpr std::string_view kMagic = "kdr4tose-backup";
constexpr int kFormat = 1;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2 + 1);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  // An empty field would look like a missing one.
  return out.empty() ? "-" : out;
}

std::optional<std::string> Unhex(std::string_view text) {
  if (text == "-") return std::string();
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (ec != std::errc() || end != text.data() + i + 2) return std::nullopt;
    out.push_back(static_cast<char>(value));
  }
  return out;
}

std::optional<uint64_t> Number(std::string_view text) {
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::string Digest(const FileDigest& d) {
  return std::to_string(d.size) + "\t" + HashToHex(d.hash);
}

}  // namespace

std::string FormatJournal(const Journal& journal) {
  std::string out = std::string(kMagic) + "\t" + std::to_string(kFormat) + "\n";
  out += "time\t" + journal.time + "\n";
  size_t lines = 2;
  for (const JournalEdition& e : journal.editions) {
    out += "edition\t" + std::to_string(static_cast<int>(e.edition)) + "\n";
    for (const std::string& key : e.keys_created) out += "key\t" + Hex(key) + "\n";
    for (const PlannedValue& v : e.values) {
      out += "value\t" + Hex(v.key) + "\t" + Hex(v.name) + "\t" + (v.existed ? "1" : "0") + "\t" +
             std::to_string(v.old_type) + "\t" + Hex(v.old_data) + "\t" +
             std::to_string(v.new_type) + "\t" + Hex(v.new_data) + "\n";
    }
    for (const std::string& folder : e.folders_created) out += "folder\t" + Hex(folder) + "\n";
    for (const JournalFile& f : e.files) {
      out += "file\t" + Hex(f.planned.destination) + "\t" + Hex(f.planned.source) + "\t" +
             (f.planned.replaces ? "1" : "0") + "\t" + Hex(f.saved_copy) + "\t" +
             Digest(f.old_digest) + "\t" + Digest(f.planned.new_digest) + "\n";
    }
    lines +=
        1 + e.keys_created.size() + e.values.size() + e.folders_created.size() + e.files.size();
  }
  out += "end\t" + std::to_string(lines) + "\n";
  return out;
}

std::optional<Journal> ParseJournal(std::string_view text, std::string* error) {
  Journal journal;
  size_t number = 0;
  bool ended = false;
  auto fail = [&](std::string_view why) {
    *error = "line " + std::to_string(number) + ": " + std::string(why);
    return std::nullopt;
  };
  while (!text.empty()) {
    ++number;
    size_t end = text.find('\n');
    if (end == std::string_view::npos) return fail("no line end");
    std::vector<std::string_view> f = Fields(text.substr(0, end));
    text.remove_prefix(end + 1);
    if (ended) return fail("text after the end line");
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
      std::optional<uint64_t> count = f.size() == 2 ? Number(f[1]) : std::nullopt;
      if (!count || *count != number - 1) return fail("the end line does not count the lines");
      ended = true;
      continue;
    }
    if (f[0] == "edition") {
      std::optional<uint64_t> e = f.size() == 2 ? Number(f[1]) : std::nullopt;
      if (!e || *e < 1 || *e > 3) return fail("unknown edition");
      journal.editions.push_back(JournalEdition{static_cast<Edition>(*e), {}, {}, {}, {}});
      continue;
    }
    if (journal.editions.empty()) return fail("an item before any edition");
    JournalEdition& e = journal.editions.back();
    if (f[0] == "key" || f[0] == "folder") {
      std::optional<std::string> path = f.size() == 2 ? Unhex(f[1]) : std::nullopt;
      if (!path || path->empty()) return fail("bad path");
      (f[0] == "key" ? e.keys_created : e.folders_created).push_back(*path);
    } else if (f[0] == "value") {
      if (f.size() != 8) return fail("a value line has 8 fields");
      std::optional<std::string> key = Unhex(f[1]), name = Unhex(f[2]), old_data = Unhex(f[5]),
                                 new_data = Unhex(f[7]);
      std::optional<uint64_t> old_type = Number(f[4]), new_type = Number(f[6]);
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
      std::optional<uint64_t> old_size = Number(f[5]), new_size = Number(f[7]);
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
  if (!ended) {
    ++number;
    return fail("the end line is missing (the journal is cut short)");
  }
  return journal;
}

}  // namespace kdr
