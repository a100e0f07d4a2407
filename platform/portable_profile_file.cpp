#include "platform/portable_profile_file.h"

#include <algorithm>
#include <cstring>

#include "platform/cp932.h"
#include "platform/profile_document.h"

namespace kdr {
namespace {

// The lookup form of a file name.
std::string Fold(std::string_view name) { return Cp932UpperCase(name); }

// What the lists show of a name or value: the bytes before its first NUL.
std::string_view UpToNul(std::string_view s) {
  size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

}  // namespace

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
    // Without pending writes, nothing points into the old document's text.
    if (!cached.document || cached.pending.empty()) {
      cached.document = std::make_unique<ProfileDocument>();
    }
    cached.document->Parse(bytes ? std::move(*bytes) : std::string());
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

std::string_view PortableProfileFile::Apply(ProfileDocument& document, const Operation& op) {
  if (op.is_section) {
    document.WriteSection(op.section, op.value);
    return {};
  }
  return document.WriteString(op.section, op.key, op.value, op.value_tail);
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

// A signed distance as a length: zigzag, so that a small one takes one byte either way.
void PutDistance(std::string& log, uintptr_t from, uintptr_t to) {
  auto d = static_cast<intptr_t>(to - from);
  PutLength(log,
            (static_cast<uintptr_t>(d) << 1) ^ static_cast<uintptr_t>(d >> (sizeof d * 8 - 1)));
}

uintptr_t TakeDistance(std::string_view& log, uintptr_t from) {
  uintptr_t z = TakeLength(log);
  return from + ((z >> 1) ^ (0 - (z & 1)));
}

}  // namespace

// Each write is recorded as a kind byte and its fields, each a length and its bytes. The
// section is left out when it is the one of the write before: an export writes a section's
// values one after another, and the section's path is often the longest field. A write that
// added a line (most of them) points to that line in the document instead of holding its key
// and value again: the document keeps the text it added as long as it lives, and lines added
// one after another lie one after another, so the pointer is a distance of 0 in one byte.
void PortableProfileFile::Record(CachedFile& cached, const Operation& op, std::string_view line) {
  std::string& log = cached.pending;
  bool same = !log.empty() &&
              std::string_view(log).substr(cached.section_at, cached.section_size) == op.section;
  size_t value_size = op.value.size() + op.value_tail.size();
  bool by_line = !op.is_section && line.size() >= value_size + 3;
  char kind = op.is_section ? 'S' : by_line ? 'L' : 'W';
  log.push_back(static_cast<char>(kind | (same ? kSameSection : 0)));
  if (!same) {
    PutLength(log, op.section.size());
    cached.section_at = log.size();
    cached.section_size = op.section.size();
    log.append(op.section);
  }
  if (by_line) {
    auto at = reinterpret_cast<uintptr_t>(line.data());
    PutDistance(log, cached.line_end, at);
    PutLength(log, line.size());
    PutLength(log, value_size);
    cached.line_end = at + line.size();
    return;
  }
  PutLength(log, op.key.size());
  log.append(op.key);
  PutLength(log, value_size);
  log.append(op.value).append(op.value_tail);
}

void PortableProfileFile::Replay(ProfileDocument& document, std::string_view log) {
  std::string_view section;
  uintptr_t line_end = 0;
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
    if ((kind & ~kSameSection) == 'L') {
      // "key=value" and CR LF, as the document added it.
      uintptr_t at = TakeDistance(log, line_end);
      size_t size = TakeLength(log);
      size_t value_size = TakeLength(log);
      std::string_view line(reinterpret_cast<const char*>(at), size);
      line_end = at + size;
      op.key = line.substr(0, size - value_size - 3);
      op.value = line.substr(op.key.size() + 1, value_size);
    } else {
      for (std::string_view* field : {&op.key, &op.value}) {
        size_t size = TakeLength(log);
        *field = log.substr(0, size);
        log.remove_prefix(field->size());
      }
    }
    Apply(document, op);
  }
}

bool PortableProfileFile::Write(const Operation& op, std::string_view file) {
  CachedFile& cached = Open(file, true);
  Record(cached, op, Apply(*cached.document, op));
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

bool PortableProfileFile::WriteJoinedString(std::string_view section, std::string_view key,
                                            std::string_view value_head,
                                            std::string_view value_tail, std::string_view file) {
  return Write(Operation{false, section, key, value_head, value_tail}, file);
}

uint32_t PortableProfileFile::GetSectionNames(std::span<char> buffer, std::string_view file) {
  size_t size = buffer.size();
  if (size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  ProfileDocument& doc = *Open(file, false).document;
  char* out = buffer.data();
  size_t room = size - 1;  // what a name and its NUL may take, keeping one for the list's end
  size_t pos = 0;
  bool cut = false;
  doc.ForEachSectionName([&](std::string_view whole) {
    std::string_view name = UpToNul(whole);
    if (name.empty()) return true;
    size_t need = name.size() + 1;
    if (need >= room) {
      // Cut: as much of this name as fits, its NUL and the list's NUL.
      if (room > 0) {
        std::memcpy(out + pos, name.data(), room - 1);
        pos += room - 1;
        out[pos++] = '\0';
      }
      cut = true;
      return false;
    }
    std::memcpy(out + pos, name.data(), name.size());
    pos += name.size();
    out[pos++] = '\0';
    room -= need;
    return true;
  });
  out[pos] = '\0';
  if (cut) return static_cast<uint32_t>(size - 2);
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
  ProfileDocument& doc = *Open(file, false).document;
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
  bool found =
      doc.ForEachEntry(section, [&](std::string_view key, bool has_equals, std::string_view value) {
        if (left <= 2) return false;
        copy(UpToNul(key));
        if (left < 2) return false;
        if (has_equals) {
          out[pos - 1] = '=';  // the key's NUL becomes the '=' before its value
          copy(UpToNul(value));
        }
        return true;
      });
  if (!found) {
    out[0] = out[1] = '\0';
    return 0;
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
    // Handed on in pieces: a file with a large value is not held a second time, joined.
    const ProfileDocument& document = *cached.document;
    FileResult written = fs_.WriteFileInPieces(
        cached.path, [&document](const PutBytes& put) { return document.WriteTo(put); });
    if (!written) {
      if (first) first = std::move(written);
      cached.dirty = false;
      cached.pending = std::string();
      cached.line_end = 0;
      if (cached.holds == 0) {
        it = Forget(it);
        continue;
      }
      Load(cached);  // a held file is not looked at again: read what the disk holds now
      ++it;
      continue;
    }
    if (cached.holds == 0) {
      it = Forget(it);
      continue;
    }
    cached.dirty = false;
    cached.pending = std::string();  // its memory too
    cached.line_end = 0;
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
