#include "platform/profile_document.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/cp932.h"

namespace kdr {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

std::string_view TrimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string_view TrimSpaces(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return s.substr(b, e - b);
}

// The lookup form of a name, and its hash.
void FoldInto(std::string_view name, std::string* out) { Cp932UpperCase(name, out); }
size_t Hash(std::string_view folded) { return std::hash<std::string_view>{}(folded); }

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// The end of the line that starts at `at`, after its line end: CR LF, LF or a lone CR.
size_t LineEnd(std::string_view bytes, size_t at) {
  size_t end = bytes.find_first_of("\r\n", at);
  if (end == std::string_view::npos) return bytes.size();
  if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') return end + 2;
  return end + 1;
}

// A line without its line end.
std::string_view TextOf(std::string_view line) {
  if (line.ends_with("\r\n")) return line.substr(0, line.size() - 2);
  if (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

// Hands each line of `run` (with its line end) and its offset to `sink`, until it returns false.
template <typename Sink>
bool ForEachLine(std::string_view run, Sink sink) {
  for (size_t at = 0; at < run.size();) {
    size_t end = LineEnd(run, at);
    if (!sink(run.substr(at, end - at), at)) return false;
    at = end;
  }
  return true;
}

enum class Kind { kBlank, kComment, kHeader, kEntry };

// How one line reads.
struct Parsed {
  Kind kind = Kind::kBlank;
  std::string_view name;  // section name of a header; key of an entry
  std::string_view value;
  bool has_equals = false;
};

Parsed ParseLine(std::string_view text) {
  Parsed p;
  std::string_view t = TrimBlanks(text);
  if (t.empty()) return p;
  if (t[0] == ';') {
    p.kind = Kind::kComment;
    return p;
  }
  if (t[0] == '[') {
    p.kind = Kind::kHeader;
    size_t i = 1;
    while (i < t.size() && t[i] != ']') i += Cp932CharSize(t, i);
    p.name = TrimBlanks(t.substr(1, std::min(i, t.size()) - 1));
    return p;
  }
  p.kind = Kind::kEntry;
  size_t eq = t.find('=');  // '=' is never the second byte of a two-byte character
  if (eq == std::string_view::npos) {
    p.name = t;
    return p;
  }
  p.has_equals = true;
  p.name = TrimBlanks(t.substr(0, eq));
  p.value = TrimBlanks(t.substr(eq + 1));
  return p;
}

// Whether view `b` follows view `a` in memory, so that one view can hold both.
bool Adjacent(std::string_view a, std::string_view b) { return a.data() + a.size() == b.data(); }

}  // namespace

// Text added by writes: blocks that never move, so that views into them stay valid as long as
// the document lives.
class ProfileDocument::TextBlocks {
 public:
  std::string_view Add(std::initializer_list<std::string_view> pieces) {
    size_t size = 0;
    for (std::string_view piece : pieces) size += piece.size();
    char* at;
    if (size > kBlock / 4) {  // a long line gets a block of its own
      blocks_.emplace_back(new char[size]);
      held_ += size;
      at = blocks_.back().get();
    } else {
      if (size > left_) {
        blocks_.emplace_back(new char[kBlock]);
        held_ += kBlock;
        next_ = blocks_.back().get();
        left_ = kBlock;
      }
      at = next_;
      next_ += size;
      left_ -= size;
    }
    char* out = at;
    for (std::string_view piece : pieces) {
      if (piece.empty()) continue;
      std::memcpy(out, piece.data(), piece.size());
      out += piece.size();
    }
    return {at, size};
  }

  size_t Held() const { return held_; }

 private:
  static constexpr size_t kBlock = 64 << 10;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
  size_t held_ = 0;
};

bool ProfileDocument::NewLine::HasLineBreak() const {
  return kdr::HasLineBreak(head) || kdr::HasLineBreak(value) || kdr::HasLineBreak(tail);
}

ProfileDocument::ProfileDocument() : added_(std::make_unique<TextBlocks>()) {}
ProfileDocument::~ProfileDocument() = default;

void ProfileDocument::Parse(std::string bytes) {
  bytes_ = std::move(bytes);
  dropped_ = 0;
  preamble_.clear();
  sections_.clear();
  by_name_.clear();
  std::string_view all = bytes_;
  // Of the section being read: where its lines start, where its last entry ends, its line count
  // and the count up to that entry.
  size_t body_start = 0, body_end = 0, lines = 0, body_lines = 0;
  auto finish = [&](size_t end) {
    if (sections_.empty()) {
      if (end > 0) preamble_.push_back(all.substr(0, end));
      return;
    }
    Section& s = sections_.back();
    if (body_end > body_start) s.runs.push_back(all.substr(body_start, body_end - body_start));
    s.trailer_at = static_cast<uint32_t>(s.runs.size());
    s.body_lines = static_cast<uint32_t>(body_lines);
    if (end > body_end) s.runs.push_back(all.substr(body_end, end - body_end));
  };
  for (size_t at = 0; at < all.size();) {
    size_t end = LineEnd(all, at);
    std::string_view line = all.substr(at, end - at);
    Parsed p = ParseLine(TextOf(line));
    if (p.kind == Kind::kHeader) {
      finish(at);
      AddSection(line);
      body_start = body_end = end;
      lines = body_lines = 0;
    } else {
      ++lines;
      if (p.kind == Kind::kEntry) {
        body_end = end;
        body_lines = lines;
      }
    }
    at = end;
  }
  finish(all.size());
}

std::string ProfileDocument::Text() const { return TextWith(nullptr, {}); }

bool ProfileDocument::WriteTo(const std::function<bool(std::string_view)>& put) const {
  std::string gathered;
  auto hand = [&](std::string_view run) {
    if (gathered.size() + run.size() > kPiece && !gathered.empty()) {
      if (!put(gathered)) return false;
      gathered.clear();
    }
    if (run.size() >= kPiece) return put(run);
    if (gathered.capacity() < kPiece) gathered.reserve(kPiece);
    gathered += run;
    return true;
  };
  for (std::string_view run : preamble_) {
    if (!hand(run)) return false;
  }
  for (const Section& s : sections_) {
    for (std::string_view run : s.runs) {
      if (!hand(run)) return false;
    }
  }
  return gathered.empty() || put(gathered);
}

size_t ProfileDocument::HeldBytes() const { return bytes_.capacity() + added_->Held(); }

bool ProfileDocument::InBytesRead(std::string_view view) const {
  return !bytes_.empty() && view.data() >= bytes_.data() &&
         view.data() + view.size() <= bytes_.data() + bytes_.size();
}

void ProfileDocument::Drop(std::string_view view) {
  if (InBytesRead(view)) dropped_ += view.size();
}

void ProfileDocument::CompactIfMostlyDropped() {
  if (dropped_ < kCompactFrom || dropped_ * 2 < bytes_.size()) return;
  // Each byte copied here is one of fewer than those dropped since the last copy: linear.
  std::vector<std::string_view*> shown;
  size_t size = 0;
  auto gather = [&](std::vector<std::string_view>& runs) {
    for (std::string_view& run : runs) {
      if (!InBytesRead(run)) continue;
      shown.push_back(&run);
      size += run.size();
    }
  };
  gather(preamble_);
  for (Section& s : sections_) gather(s.runs);
  std::string kept;
  kept.reserve(size);
  for (std::string_view* run : shown) kept += *run;
  bytes_ = std::move(kept);
  dropped_ = 0;
  size_t at = 0;
  for (std::string_view* run : shown) {
    *run = std::string_view(bytes_.data() + at, run->size());
    at += run->size();
  }
}

std::string ProfileDocument::TextWith(const Section* at, std::string_view text) const {
  size_t size = text.size();
  for (std::string_view run : preamble_) size += run.size();
  for (const Section& s : sections_) {
    for (std::string_view run : s.runs) size += run.size();
  }
  std::string out;
  out.reserve(size);
  for (std::string_view run : preamble_) out += run;
  for (const Section& s : sections_) {
    for (size_t i = 0; i < s.runs.size(); ++i) {
      if (i == s.trailer_at && &s == at) out += text;
      out += s.runs[i];
    }
    if (s.trailer_at == s.runs.size() && &s == at) out += text;
  }
  if (at == nullptr) out += text;
  return out;
}

std::string_view ProfileDocument::NameOf(const Section& s) const {
  return ParseLine(TextOf(s.runs.front())).name;
}

void ProfileDocument::AddSection(std::string_view header_line) {
  Section& s = sections_.emplace_back();
  s.runs.push_back(header_line);
  FoldInto(NameOf(s), &candidate_);
  by_name_.emplace(Hash(candidate_), static_cast<uint32_t>(sections_.size() - 1));
}

const ProfileDocument::Section* ProfileDocument::Find(std::string_view folded) const {
  const Section* first = nullptr;
  auto [from, to] = by_name_.equal_range(Hash(folded));
  for (auto it = from; it != to; ++it) {
    const Section& s = sections_[it->second];
    if (first != nullptr && first < &s) continue;
    FoldInto(NameOf(s), &candidate_);
    if (candidate_ == folded) first = &s;
  }
  return first;
}

ProfileDocument::Section* ProfileDocument::Find(std::string_view folded) {
  return const_cast<Section*>(std::as_const(*this).Find(folded));
}

void ProfileDocument::IndexKeys(Section& s) {
  s.keys = std::make_unique<std::unordered_set<size_t>>();
  for (size_t i = 1; i < s.trailer_at; ++i) {
    ForEachLine(s.runs[i], [&](std::string_view line, size_t) {
      Parsed p = ParseLine(TextOf(line));
      if (p.kind == Kind::kEntry && p.has_equals) {
        FoldInto(p.name, &candidate_);
        s.keys->insert(Hash(candidate_));
      }
      return true;
    });
  }
}

bool ProfileDocument::FindKey(Section& s, const std::string& folded, LinePlace* place) {
  if (!s.keys && s.body_lines >= kIndexFrom) IndexKeys(s);
  if (s.keys && !s.keys->contains(Hash(folded))) return false;
  for (size_t i = 1; i < s.trailer_at; ++i) {
    bool more = ForEachLine(s.runs[i], [&](std::string_view line, size_t offset) {
      Parsed p = ParseLine(TextOf(line));
      if (p.kind != Kind::kEntry || !p.has_equals) return true;
      FoldInto(p.name, &candidate_);
      if (candidate_ != folded) return true;
      *place = LinePlace{i, offset, line};
      return false;
    });
    if (!more) return true;
  }
  return false;
}

void ProfileDocument::EndLine(std::vector<std::string_view>& runs, size_t index) {
  std::string_view& run = runs[index];
  if (run.empty() || run.back() == '\n' || run.back() == '\r') return;
  // Only the file's last line can lack one; the view is copied once with it.
  Drop(run);
  run = added_->Add({run, "\r\n"});
}

std::string_view ProfileDocument::AppendSection(std::string_view name, const NewLine* entry) {
  std::vector<std::string_view>& last = sections_.empty() ? preamble_ : sections_.back().runs;
  if (!last.empty()) EndLine(last, last.size() - 1);
  std::string header = "[" + std::string(name) + "]";
  Kind kind = entry != nullptr ? ParseLine(entry->head).kind : Kind::kBlank;
  if (HasLineBreak(name) ||
      (entry != nullptr && (entry->HasLineBreak() || kind == Kind::kHeader))) {
    std::string text = header + "\r\n";
    if (entry != nullptr)
      text.append(entry->head).append(entry->value).append(entry->tail).append("\r\n");
    Parse(TextWith(nullptr, text));
    return {};
  }
  AddSection(added_->Add({header, "\r\n"}));
  if (entry == nullptr) return {};
  Section& s = sections_.back();
  std::string_view line = added_->Add({entry->head, entry->value, entry->tail, "\r\n"});
  s.runs.push_back(line);
  if (kind == Kind::kEntry) {
    s.trailer_at = 2;
    s.body_lines = 1;
  }
  return line;
}

std::string_view ProfileDocument::InsertEntry(size_t index, NewLine entry) {
  Section& s = sections_[index];
  EndLine(s.runs, s.trailer_at - 1);
  Parsed p = ParseLine(entry.head);
  if (entry.HasLineBreak() || p.kind == Kind::kHeader) {
    std::string text;
    text.append(entry.head).append(entry.value).append(entry.tail).append("\r\n");
    Parse(TextWith(&s, text));
    return {};
  }
  std::string_view line = added_->Add({entry.head, entry.value, entry.tail, "\r\n"});
  if (p.kind != Kind::kEntry) {  // a comment: before the others, after the last entry
    s.runs.insert(s.runs.begin() + s.trailer_at, line);
    return line;
  }
  if (s.keys && p.has_equals) {
    FoldInto(p.name, &candidate_);
    s.keys->insert(Hash(candidate_));
  }
  std::string_view& last = s.runs[s.trailer_at - 1];
  if (s.trailer_at > 1 && Adjacent(last, line)) {
    last = std::string_view(last.data(), last.size() + line.size());
  } else {
    s.runs.insert(s.runs.begin() + s.trailer_at, line);
    ++s.trailer_at;
  }
  ++s.body_lines;
  return line;
}

std::string_view ProfileDocument::WriteString(std::string_view section_param,
                                              std::string_view key_param, std::string_view value,
                                              std::string_view value_tail) {
  std::string_view section_name = TrimSpaces(section_param);
  std::string_view key = TrimSpaces(key_param);
  // A value may be many megabytes: it is copied once, into the document's text.
  std::string head;
  head.reserve(key.size() + 1);
  head.append(key).append("=");
  NewLine line{head, value, value_tail};
  FoldInto(section_name, &scratch_);
  Section* s = Find(scratch_);
  if (s == nullptr) return AppendSection(section_name, &line);
  Parsed wanted = ParseLine(head);
  if (wanted.kind == Kind::kEntry && wanted.has_equals && wanted.name == key) {
    FoldInto(key, &scratch_);
    LinePlace place;
    if (FindKey(*s, scratch_, &place)) {
      std::string_view text = TextOf(place.line);
      // The key keeps the spelling it has in the file, the line its line end.
      std::string_view replaced = added_->Add(
          {ParseLine(text).name, "=", value, value_tail, place.line.substr(text.size())});
      std::string_view run = s->runs[place.run];
      std::string_view before = run.substr(0, place.offset);
      std::string_view after = run.substr(place.offset + place.line.size());
      std::vector<std::string_view> pieces;
      if (!before.empty()) pieces.push_back(before);
      pieces.push_back(replaced);
      if (!after.empty()) pieces.push_back(after);
      s->runs[place.run] = pieces.front();
      s->runs.insert(s->runs.begin() + static_cast<ptrdiff_t>(place.run) + 1, pieces.begin() + 1,
                     pieces.end());
      s->trailer_at += static_cast<uint32_t>(pieces.size() - 1);
      Drop(place.line);
      // A value holding a line break makes more lines than one: the file reads them so.
      if (HasLineBreak(value) || HasLineBreak(value_tail)) {
        Parse(Text());
      } else {
        CompactIfMostlyDropped();
      }
      return {};
    }
  }
  return InsertEntry(static_cast<size_t>(s - sections_.data()), line);
}

void ProfileDocument::EmptySection(std::string_view name) {
  FoldInto(name, &scratch_);
  bool found = false;
  auto [from, to] = by_name_.equal_range(Hash(scratch_));
  for (auto it = from; it != to; ++it) {
    Section& s = sections_[it->second];
    FoldInto(NameOf(s), &candidate_);
    if (candidate_ != scratch_) continue;
    found = true;
    std::vector<std::string_view> kept = {s.runs.front()};
    for (size_t i = 1; i < s.trailer_at; ++i) {
      ForEachLine(s.runs[i], [&](std::string_view line, size_t) {
        if (ParseLine(TextOf(line)).kind == Kind::kEntry) {
          Drop(line);
          return true;
        }
        if (kept.size() > 1 && Adjacent(kept.back(), line)) {
          kept.back() = std::string_view(kept.back().data(), kept.back().size() + line.size());
        } else {
          kept.push_back(line);
        }
        return true;
      });
    }
    kept.insert(kept.end(), s.runs.begin() + s.trailer_at, s.runs.end());
    s.runs = std::move(kept);
    s.trailer_at = 1;
    s.body_lines = 0;
    s.keys.reset();
    // A last line without its line end that followed an entry still needs none.
  }
  if (!found) AppendSection(name, nullptr);
  CompactIfMostlyDropped();
}

void ProfileDocument::WriteSection(std::string_view section, std::string_view entries) {
  std::string_view name = TrimSpaces(section);
  EmptySection(name);
  // Entries of a non-empty list are added as lines, each after the last entry.
  std::string folded;
  FoldInto(name, &folded);
  std::string_view list = entries;
  Section* s = Find(folded);
  while (s != nullptr && !list.empty() && list.front() != '\0') {
    size_t nul = list.find('\0');
    InsertEntry(static_cast<size_t>(s - sections_.data()), NewLine{list.substr(0, nul), {}, {}});
    s = Find(folded);  // the document may have been read anew
    list = nul == std::string_view::npos ? std::string_view() : list.substr(nul + 1);
  }
}

void ProfileDocument::ForEachSectionName(const std::function<bool(std::string_view)>& sink) const {
  for (const Section& s : sections_) {
    if (!sink(NameOf(s))) return;
  }
}

bool ProfileDocument::ForEachEntry(
    std::string_view section,
    const std::function<bool(std::string_view, bool, std::string_view)>& sink) const {
  std::string folded;
  FoldInto(TrimSpaces(section), &folded);
  const Section* s = Find(folded);
  if (s == nullptr) return false;
  for (size_t i = 1; i < s->trailer_at; ++i) {
    bool more = ForEachLine(s->runs[i], [&](std::string_view line, size_t) {
      Parsed p = ParseLine(TextOf(line));
      return p.kind != Kind::kEntry || sink(p.name, p.has_equals, p.value);
    });
    if (!more) break;
  }
  return true;
}

}  // namespace kdr
