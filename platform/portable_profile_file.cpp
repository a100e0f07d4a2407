#include "platform/portable_profile_file.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <list>

#include "platform/cp932.h"

namespace kdr {
namespace {

enum Eol : uint8_t { kNoEol, kLf, kCr, kCrLf };

constexpr std::string_view kEolText[] = {"", "\n", "\r", "\r\n"};

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

// The lookup form of a name.
std::string Fold(std::string_view name) { return Cp932UpperCase(name); }
void FoldInto(std::string_view name, std::string* out) { Cp932UpperCase(name, out); }

// What the lists show of a name or value: the bytes before its first NUL.
std::string_view UpToNul(std::string_view s) {
  size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

struct Line {
  std::string text;  // without its line end
  Eol eol = kCrLf;
};

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

// Hands each line of `bytes` to `sink`, one after another (no list of them all is made): CR LF,
// LF and a lone CR each end one.
template <typename Sink>
void ForEachLine(std::string_view bytes, Sink sink) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = start;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    Line line;
    line.text.assign(bytes.substr(start, end - start));
    if (end == bytes.size()) {
      line.eol = kNoEol;
      start = end;
    } else if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') {
      line.eol = kCrLf;
      start = end + 2;
    } else {
      line.eol = bytes[end] == '\r' ? kCr : kLf;
      start = end + 1;
    }
    sink(std::move(line));
  }
}

}  // namespace

struct PortableProfileFile::Document {
  struct Section {
    Line header;
    std::string name;    // as the header spells it
    std::string folded;  // Fold(name)
    // The lines up to the last entry, where a new key goes, and the comments and blank lines
    // after it: apart, so that adding keys in front of many such lines costs nothing per line.
    // A list, not a deque: an empty deque already holds a block of lines, and most sections
    // have no such lines.
    std::vector<Line> body;
    std::list<Line> trailer;
    // Folded key -> body index of its first entry; built on the first write to a section of
    // kIndexFrom lines or more. Smaller ones are searched line by line: an index of their keys
    // would cost more memory than the search costs time.
    static constexpr size_t kIndexFrom = 32;
    std::unordered_map<std::string, size_t> keys;
    bool indexed = false;

    // The body index of the first entry whose folded key is `folded`, or npos. `buffer` is
    // scratch space.
    size_t FindKey(const std::string& folded, std::string* buffer) {
      if (indexed || body.size() >= kIndexFrom) {
        if (!indexed) Index();
        auto it = keys.find(folded);
        return it == keys.end() ? std::string::npos : it->second;
      }
      for (size_t i = 0; i < body.size(); ++i) {
        Parsed p = ParseLine(body[i].text);
        if (p.kind != Kind::kEntry || !p.has_equals) continue;
        FoldInto(p.name, buffer);
        if (*buffer == folded) return i;
      }
      return std::string::npos;
    }

    void Index() {
      keys.clear();
      for (size_t i = 0; i < body.size(); ++i) {
        Parsed p = ParseLine(body[i].text);
        if (p.kind == Kind::kEntry && p.has_equals) keys.try_emplace(Fold(p.name), i);
      }
      indexed = true;
    }
  };

  std::vector<Line> preamble;  // lines before the first section
  std::vector<std::unique_ptr<Section>> sections;
  std::unordered_map<std::string, std::vector<Section*>> by_name;  // file order
  std::string scratch;                                             // a folded name being looked up
  std::string candidate;  // a folded name it is compared with

  void Parse(std::string_view bytes) {
    preamble.clear();
    sections.clear();
    by_name.clear();
    ForEachLine(bytes, [this](Line line) { AppendLine(std::move(line)); });
  }

  // Adds a line read from a file at the end of the document.
  void AppendLine(Line line) {
    Parsed p = ParseLine(line.text);
    if (p.kind == Kind::kHeader) {
      auto section = std::make_unique<Section>();
      section->name.assign(p.name);
      section->folded = Fold(section->name);
      section->header = std::move(line);
      by_name[section->folded].push_back(section.get());
      sections.push_back(std::move(section));
      return;
    }
    if (sections.empty()) {
      preamble.push_back(std::move(line));
      return;
    }
    Section& s = *sections.back();
    if (p.kind != Kind::kEntry) {
      s.trailer.push_back(std::move(line));
      return;
    }
    s.body.insert(s.body.end(), std::make_move_iterator(s.trailer.begin()),
                  std::make_move_iterator(s.trailer.end()));
    s.trailer.clear();
    s.body.push_back(std::move(line));
  }

  Section* Find(const std::string& folded) {
    auto it = by_name.find(folded);
    return it == by_name.end() ? nullptr : it->second.front();
  }

  // The line that is last in the file, or null for an empty file.
  Line* LastLine() {
    if (!sections.empty()) {
      Section& s = *sections.back();
      if (!s.trailer.empty()) return &s.trailer.back();
      return s.body.empty() ? &s.header : &s.body.back();
    }
    return preamble.empty() ? nullptr : &preamble.back();
  }

  std::string Serialize() const {
    size_t size = 0;
    auto measure = [&](const Line& l) { size += l.text.size() + 2; };
    for (const Line& l : preamble) measure(l);
    for (const auto& s : sections) {
      measure(s->header);
      for (const Line& l : s->body) measure(l);
      for (const Line& l : s->trailer) measure(l);
    }
    std::string out;
    out.reserve(size);
    auto put = [&](const Line& l) {
      out += l.text;
      out += kEolText[l.eol];
    };
    for (const Line& l : preamble) put(l);
    for (const auto& s : sections) {
      put(s->header);
      for (const Line& l : s->body) put(l);
      for (const Line& l : s->trailer) put(l);
    }
    return out;
  }

  // Lines that need more than one line of the file (a name or value holding a line break)
  // or that read as a section header are added by writing the document out with them and
  // reading it back, so the document is always what reading the file would give.
  void SpliceAndReparse(const Section* section, size_t index, std::string_view text) {
    std::string out;
    auto put = [&](const Line& l) {
      out += l.text;
      out += kEolText[l.eol];
    };
    for (const Line& l : preamble) put(l);
    for (const auto& s : sections) {
      put(s->header);
      size_t i = 0;
      auto splice_here = [&] {
        if (s.get() == section && i == index) out += text;
        ++i;
      };
      for (const Line& l : s->body) {
        splice_here();
        put(l);
      }
      for (const Line& l : s->trailer) {
        splice_here();
        put(l);
      }
      splice_here();
    }
    if (section == nullptr) out += text;
    Parse(out);
  }

  static bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
  }

  // Makes sure the line before an insertion ends, as the platform does before adding text.
  static void EndLine(Line* line) {
    if (line != nullptr && line->eol == kNoEol) line->eol = kCrLf;
  }

  // Appends "[name]" and, when `entry` is given, that line after it.
  void AppendSection(std::string_view name, const std::string* entry) {
    EndLine(LastLine());
    std::string header = "[" + std::string(name) + "]";
    if (HasLineBreak(name) ||
        (entry != nullptr && (HasLineBreak(*entry) || ParseLine(*entry).kind == Kind::kHeader))) {
      std::string text = header + "\r\n";
      if (entry != nullptr) text += *entry + "\r\n";
      SpliceAndReparse(nullptr, 0, text);
      return;
    }
    AppendLine(Line{std::move(header), kCrLf});
    if (entry != nullptr) AppendLine(Line{*entry, kCrLf});
  }

  // Inserts the line `entry` after the last entry of `s`.
  void InsertEntry(Section& s, std::string entry) {
    EndLine(s.body.empty() ? &s.header : &s.body.back());
    Parsed p = ParseLine(entry);
    if (HasLineBreak(entry) || p.kind == Kind::kHeader) {
      SpliceAndReparse(&s, s.body.size(), entry + "\r\n");
      return;
    }
    if (p.kind != Kind::kEntry) {  // a comment: before the others, after the last entry
      s.trailer.push_front(Line{std::move(entry), kCrLf});
      return;
    }
    if (s.indexed && p.has_equals) s.keys.try_emplace(Fold(p.name), s.body.size());
    s.body.push_back(Line{std::move(entry), kCrLf});
  }

  void WriteString(std::string_view section_param, std::string_view key_param,
                   std::string_view value) {
    std::string_view section_name = TrimSpaces(section_param);
    std::string_view key = TrimSpaces(key_param);
    std::string line = std::string(key) + "=" + std::string(value);
    FoldInto(section_name, &scratch);
    Section* s = Find(scratch);
    if (s == nullptr) {
      AppendSection(section_name, &line);
      return;
    }
    Parsed wanted = ParseLine(line);
    if (wanted.kind == Kind::kEntry && wanted.has_equals && wanted.name == key) {
      FoldInto(key, &scratch);
      size_t at = s->FindKey(scratch, &candidate);
      if (at != std::string::npos) {
        Line& existing = s->body[at];
        // The key keeps the spelling it has in the file.
        std::string_view old_key = ParseLine(existing.text).name;
        existing.text = std::string(old_key) + "=" + std::string(value);
        if (HasLineBreak(value)) Parse(Serialize());
        return;
      }
    }
    InsertEntry(*s, std::move(line));
  }

  void EmptySection(std::string_view section_param) {
    std::string_view section_name = TrimSpaces(section_param);
    FoldInto(section_name, &scratch);
    auto it = by_name.find(scratch);
    if (it == by_name.end()) {
      AppendSection(section_name, nullptr);
      return;
    }
    for (Section* s : it->second) {
      std::list<Line> kept;
      for (Line& l : s->body) {
        if (ParseLine(l.text).kind != Kind::kEntry) kept.push_back(std::move(l));
      }
      std::move(s->trailer.begin(), s->trailer.end(), std::back_inserter(kept));
      s->body.clear();
      s->trailer = std::move(kept);
      s->keys.clear();
      s->indexed = false;
      // A last line without its line end that followed an entry still needs none.
    }
  }
};

PortableProfileFile::PortableProfileFile(FileSystem& fs) : fs_(fs) {}

// Writes that nobody flushed get one more try. A caller that must know whether its files were
// written flushes before this (the export does), so a failure here has no one left to tell.
PortableProfileFile::~PortableProfileFile() { (void)Flush(); }

void PortableProfileFile::Load(CachedFile& cached) {
  // Stamp before and after reading: a file that changed meanwhile is read again.
  for (int attempt = 0;; ++attempt) {
    std::optional<FileStamp> before = fs_.Stamp(cached.path);
    std::optional<std::string> bytes =
        before ? fs_.ReadFile(cached.path) : std::optional<std::string>();
    std::optional<FileStamp> after = fs_.Stamp(cached.path);
    if (before != after && attempt < 3) continue;
    if (!cached.document) cached.document = std::make_unique<Document>();
    cached.document->Parse(bytes ? std::string_view(*bytes) : std::string_view());
    cached.stamp = after;
    break;
  }
  Replay(*cached.document, cached.pending);
}

PortableProfileFile::CachedFile* PortableProfileFile::Find(std::string_view file) {
  if (last_ != nullptr && file == last_->path) return last_;  // call after call on one file
  auto it = files_.find(Fold(file));
  return it == files_.end() ? nullptr : &it->second;
}

PortableProfileFile::CachedFile& PortableProfileFile::Open(std::string_view file, bool writing) {
  CachedFile* found = Find(file);
  if (found == nullptr) {
    CachedFile& cached = files_[Fold(file)];
    cached.path.assign(file);
    Load(cached);
    last_ = &cached;
    return cached;
  }
  last_ = found;
  CachedFile& cached = *found;
  // A write to a file that has writes pending need not look at the disk: all of them are
  // applied anew to whatever the next read or Flush finds there, with the same outcome.
  if (writing && cached.dirty) return cached;
  // A held file was looked at when the hold began.
  if (cached.holds > 0) return cached;
  if (fs_.Stamp(cached.path) != cached.stamp) Load(cached);
  return cached;
}

void PortableProfileFile::Hold(std::string_view file) {
  // A read looks at the disk unless the file is held already.
  ++Open(file, false).holds;
}

void PortableProfileFile::Release(std::string_view file) {
  CachedFile* cached = Find(file);
  if (cached == nullptr || cached->holds == 0) return;
  if (--cached->holds == 0 && !cached->dirty) Forget(files_.find(Fold(cached->path)));
}

void PortableProfileFile::Apply(Document& document, const Operation& op) {
  if (op.is_section) {
    document.EmptySection(op.section);
    // Entries of a non-empty list are added as lines, each after the last entry.
    std::string_view list = op.value;
    Document::Section* s = document.Find(Fold(TrimSpaces(op.section)));
    while (s != nullptr && !list.empty() && list.front() != '\0') {
      size_t nul = list.find('\0');
      std::string_view entry = list.substr(0, nul);
      document.InsertEntry(*s, std::string(entry));
      s = document.Find(Fold(TrimSpaces(op.section)));
      list = nul == std::string_view::npos ? std::string_view() : list.substr(nul + 1);
    }
  } else {
    document.WriteString(op.section, op.key, op.value);
  }
}

namespace {

// A length in 7-bit groups, low first; the high bit says another group follows.
void PutLength(std::string& log, size_t size) {
  for (; size >= 0x80; size >>= 7) log.push_back(static_cast<char>((size & 0x7f) | 0x80));
  log.push_back(static_cast<char>(size));
}

size_t TakeLength(std::string_view& log) {
  size_t size = 0;
  for (int shift = 0; !log.empty(); shift += 7) {
    unsigned char byte = static_cast<unsigned char>(log.front());
    log.remove_prefix(1);
    size |= static_cast<size_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) break;
  }
  return size;
}

constexpr char kSameSection = '\x80';  // added to the kind byte

}  // namespace

// Each write is recorded as a kind byte and its fields, each a length and its bytes. The
// section is left out when it is the one of the write before: an export writes a section's
// values one after another, and the section's path is often the longest field.
void PortableProfileFile::Record(CachedFile& cached, const Operation& op) {
  std::string& log = cached.pending;
  bool same = !log.empty() &&
              std::string_view(log).substr(cached.section_at, cached.section_size) == op.section;
  log.push_back(static_cast<char>((op.is_section ? 'S' : 'W') | (same ? kSameSection : 0)));
  if (!same) {
    PutLength(log, op.section.size());
    cached.section_at = log.size();
    cached.section_size = op.section.size();
    log.append(op.section);
  }
  for (std::string_view field : {op.key, op.value}) {
    PutLength(log, field.size());
    log.append(field);
  }
}

void PortableProfileFile::Replay(Document& document, std::string_view log) {
  std::string_view section;
  while (!log.empty()) {
    Operation op;
    char kind = log.front();
    log.remove_prefix(1);
    op.is_section = (kind & ~kSameSection) == 'S';
    if ((kind & kSameSection) == 0) {
      size_t size = TakeLength(log);
      section = log.substr(0, size);
      log.remove_prefix(section.size());
    }
    op.section = section;
    for (std::string_view* field : {&op.key, &op.value}) {
      size_t size = TakeLength(log);
      *field = log.substr(0, size);
      log.remove_prefix(field->size());
    }
    Apply(document, op);
  }
}

bool PortableProfileFile::Write(const Operation& op, std::string_view file) {
  CachedFile& cached = Open(file, true);
  Apply(*cached.document, op);
  Record(cached, op);
  cached.dirty = true;
  return true;
}

bool PortableProfileFile::WriteSection(std::string_view section, std::string_view entries,
                                       std::string_view file) {
  return Write(Operation{true, section, {}, entries}, file);
}

bool PortableProfileFile::WriteString(std::string_view section, std::string_view key,
                                      std::string_view value, std::string_view file) {
  return Write(Operation{false, section, key, value}, file);
}

uint32_t PortableProfileFile::GetSectionNames(std::span<char> buffer, std::string_view file) {
  size_t size = buffer.size();
  if (size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  Document& doc = *Open(file, false).document;
  char* out = buffer.data();
  size_t room = size - 1;  // what a name and its NUL may take, keeping one for the list's end
  size_t pos = 0;
  for (const auto& s : doc.sections) {
    std::string_view name = UpToNul(s->name);
    if (name.empty()) continue;
    size_t need = name.size() + 1;
    if (need >= room) {
      // Cut: as much of this name as fits, its NUL and the list's NUL.
      if (room > 0) {
        std::memcpy(out + pos, name.data(), room - 1);
        pos += room - 1;
        out[pos++] = '\0';
      }
      out[pos] = '\0';
      return static_cast<uint32_t>(size - 2);
    }
    std::memcpy(out + pos, name.data(), name.size());
    pos += name.size();
    out[pos++] = '\0';
    room -= need;
  }
  out[pos] = '\0';
  return static_cast<uint32_t>(pos);
}

uint32_t PortableProfileFile::GetSection(std::string_view section, std::span<char> buffer,
                                         std::string_view file) {
  size_t size = buffer.size();
  if (size == 0) return 0;
  char* out = buffer.data();
  if (size == 1) {
    out[0] = '\0';
    return 0;
  }
  Document& doc = *Open(file, false).document;
  Document::Section* s = doc.Find(Fold(TrimSpaces(section)));
  if (s == nullptr) {
    out[0] = out[1] = '\0';
    return 0;
  }
  size_t left = size;  // room left, as the platform counts it
  size_t pos = 0;
  // Copies at most left - 2 bytes of `text` and a NUL.
  auto copy = [&](std::string_view text) {
    size_t n = std::min(text.size(), left - 2);
    std::memcpy(out + pos, text.data(), n);
    out[pos + n] = '\0';
    pos += n + 1;
    left -= n + 1;
  };
  for (const Line& line : s->body) {
    if (left <= 2) break;
    Parsed p = ParseLine(line.text);
    if (p.kind != Kind::kEntry) continue;
    copy(UpToNul(p.name));
    if (left < 2) break;
    if (p.has_equals) {
      out[pos - 1] = '=';  // the key's NUL becomes the '=' before its value
      copy(UpToNul(p.value));
    }
  }
  out[pos] = '\0';
  if (left <= 1) {
    out[pos - 1] = '\0';
    return static_cast<uint32_t>(size - 2);
  }
  uint32_t written = static_cast<uint32_t>(size - left);
  if (written == size - 2) out[size - 1] = '\0';
  return written;
}

FileResult PortableProfileFile::Flush() {
  FileResult first;
  for (auto it = files_.begin(); it != files_.end();) {
    CachedFile& cached = it->second;
    if (!cached.dirty) {
      ++it;
      continue;
    }
    // A file changed by someone else since we read it gets our writes on top of its content.
    if (fs_.Stamp(cached.path) != cached.stamp) Load(cached);
    FileResult written = fs_.WriteFileAtomically(cached.path, cached.document->Serialize());
    if (!written) {
      if (first) first = std::move(written);
      ++it;
      continue;
    }
    if (cached.holds == 0) {
      it = Forget(it);
      continue;
    }
    cached.dirty = false;
    cached.pending = std::string();  // its memory too
    cached.stamp = fs_.Stamp(cached.path);
    ++it;
  }
  return first;
}

PortableProfileFile::FileMap::iterator PortableProfileFile::Forget(FileMap::iterator it) {
  if (last_ == &it->second) last_ = nullptr;
  return files_.erase(it);
}

size_t PortableProfileFile::PendingFiles() const {
  size_t n = 0;
  for (const auto& [key, cached] : files_) n += cached.dirty ? 1 : 0;
  return n;
}

}  // namespace kdr
