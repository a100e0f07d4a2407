#include "platform/memory/registry_file.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/cp932.h"
#include "platform/text_encoding.h"

namespace kdr {
namespace {

using Format = RegistryFileFormat;

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kMachineName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kUserName = "HKEY_CURRENT_USER";
// Windows refuses keys nested deeper than this; it also keeps our tree walks shallow.
constexpr size_t kMaxKeyDepth = 512;
// Hex data is wrapped once a line reaches this many columns, leaving room for ",\".
constexpr size_t kHexWrapColumn = 77;

// The file's text as characters. In a REGEDIT4 file a character is one byte, or a code page 932
// lead byte with its trail byte, held as kDoubleByte | lead << 8 | trail so that it never
// matches the ASCII syntax (a trail byte may be '\', '[', ']' or '@'). In a version 5 file a
// character is a Unicode code point; a lone surrogate stays as its code unit and is refused
// where it would reach the store.
using Chars = std::vector<uint32_t>;
constexpr uint32_t kDoubleByte = 0x1000000;

bool IsSurrogate(uint32_t c) { return c >= 0xd800 && c <= 0xdfff; }
bool IsBlank(uint32_t c) { return c == ' ' || c == '\t'; }

int HexDigitValue(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

// --- Code page 932 bytes as characters (REGEDIT4) ---

void AppendDbcsChars(std::string_view bytes, Chars* out) {
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (Cp932CharSize(bytes, i) == 2) {
      out->push_back(kDoubleByte | uint32_t{c} << 8 | static_cast<unsigned char>(bytes[i + 1]));
      i += 2;
    } else {
      out->push_back(c);
      ++i;
    }
  }
}

void AppendDbcsBytes(const uint32_t* begin, const uint32_t* end, std::string* out) {
  for (const uint32_t* c = begin; c != end; ++c) {
    if (*c & kDoubleByte) {
      out->push_back(static_cast<char>((*c >> 8) & 0xff));
      out->push_back(static_cast<char>(*c & 0xff));
    } else {
      out->push_back(static_cast<char>(*c & 0xff));
    }
  }
}

// --- Unicode (version 5) ---

// UTF-16LE code units to code points, pairing surrogates. `bytes` has an even size.
void AppendUtf16Chars(std::string_view bytes, Chars* out) {
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xd800 && c <= 0xdbff && i + 3 < bytes.size()) {
      uint32_t low = unit(i + 2);
      if (low >= 0xdc00 && low <= 0xdfff) {
        out->push_back(0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00));
        i += 2;
        continue;
      }
    }
    out->push_back(c);
  }
}

void AppendUtf16Bytes(uint32_t c, std::string* out) {
  auto put = [out](uint32_t unit) {
    out->push_back(static_cast<char>(unit & 0xff));
    out->push_back(static_cast<char>(unit >> 8));
  };
  if (c >= 0x10000) {
    c -= 0x10000;
    put(0xd800 + (c >> 10));
    put(0xdc00 + (c & 0x3ff));
  } else {
    put(c);
  }
}

// False when a character is a lone surrogate or out of range.
bool AppendUtf8(const uint32_t* begin, const uint32_t* end, std::string* out) {
  for (const uint32_t* p = begin; p != end; ++p) {
    uint32_t c = *p;
    if (IsSurrogate(c) || c > 0x10ffff) return false;
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xc0 | c >> 6));
      out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xe0 | c >> 12));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
      out->push_back(static_cast<char>(0xf0 | c >> 18));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
  }
  return true;
}

// False on malformed UTF-8.
bool AppendUtf8Chars(std::string_view utf8, Chars* out) {
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      extra = 0;
      cp = c;
    } else if ((c & 0xe0) == 0xc0) {
      extra = 1;
      cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      extra = 2;
      cp = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (utf8.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      cp = cp << 6 | (next & 0x3f);
    }
    if (IsSurrogate(cp) || cp > 0x10ffff) return false;
    out->push_back(cp);
    i += extra + 1;
  }
  return true;
}

// --- Store text (code page 932) and file characters ---

// File characters to store bytes. False when a character has no code page 932 form.
bool CharsToStore(Format format, const uint32_t* begin, const uint32_t* end, std::string* out) {
  if (format == Format::kRegedit4) {
    AppendDbcsBytes(begin, end, out);
    return true;
  }
  std::string utf8;
  if (!AppendUtf8(begin, end, &utf8)) return false;
  std::optional<std::string> converted = Utf8ToCp932(utf8);
  if (!converted) return false;
  out->append(*converted);
  return true;
}

// Store bytes to file characters, only when reading them back gives the same bytes (version 5
// cannot hold bytes that are not code page 932, nor the second code of a doubly coded one).
bool StoreToChars(Format format, std::string_view bytes, Chars* out) {
  if (format == Format::kRegedit4) {
    AppendDbcsChars(bytes, out);
    return true;
  }
  std::optional<std::string> utf8 = Cp932ToUtf8(bytes);
  Chars chars;
  if (!utf8 || !AppendUtf8Chars(*utf8, &chars)) return false;
  std::string back;
  if (!CharsToStore(format, chars.data(), chars.data() + chars.size(), &back) || back != bytes) {
    return false;
  }
  out->insert(out->end(), chars.begin(), chars.end());
  return true;
}

// Text as the user should see it in a message.
std::string DisplayChars(Format format, const uint32_t* begin, const uint32_t* end) {
  if (format == Format::kRegedit4) {
    std::string bytes;
    AppendDbcsBytes(begin, end, &bytes);
    return Cp932ForDisplay(bytes);
  }
  std::string utf8;
  for (const uint32_t* p = begin; p != end; ++p) {
    if (!AppendUtf8(p, p + 1, &utf8)) utf8 += "\xef\xbf\xbd";  // U+FFFD
  }
  return utf8;
}

// --- Reading ---

struct Line {
  size_t begin;
  size_t end;
  int number;
};

// One change a file makes, applied in order once the whole file has been checked.
struct Operation {
  enum class Kind { kOpenKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kOpenKey;
  RootKey root = RootKey::kCurrentUser;
  std::vector<std::string> path;  // key operations
  std::string name;               // value operations
  uint32_t type = 0;
  std::string data;
};

enum class QuoteResult { kOk, kUnterminated, kBadEscape };

// Reads a quoted text whose opening quote is before *pos, up to the closing quote on the same
// line; *pos ends after it. The escapes are \\ and \" (as the registry editor writes them) and
// \n and \r (as Wine's registry editor writes line breaks).
QuoteResult ReadQuoted(const Chars& text, size_t* pos, size_t end, Chars* out) {
  while (*pos < end) {
    uint32_t c = text[(*pos)++];
    if (c == '"') return QuoteResult::kOk;
    if (c == '\\') {
      if (*pos >= end) return QuoteResult::kUnterminated;
      uint32_t escaped = text[(*pos)++];
      if (escaped == '\\' || escaped == '"') {
        out->push_back(escaped);
      } else if (escaped == 'n') {
        out->push_back('\n');
      } else if (escaped == 'r') {
        out->push_back('\r');
      } else {
        return QuoteResult::kBadEscape;
      }
      continue;
    }
    out->push_back(c);
  }
  return QuoteResult::kUnterminated;
}

// Parses a key path (the text between "[" or "[-" and "]"). On failure *reason says why.
bool ParseKeyPath(Format format, const uint32_t* begin, const uint32_t* end, RootKey* root,
                  std::vector<std::string>* names, std::string* reason) {
  std::vector<std::pair<const uint32_t*, const uint32_t*>> parts;
  const uint32_t* start = begin;
  for (const uint32_t* p = begin;; ++p) {
    if (p == end || *p == '\\') {
      parts.emplace_back(start, p);
      if (p == end) break;
      start = p + 1;
    }
  }
  std::string root_name;
  bool ascii = true;
  for (const uint32_t* p = parts[0].first; p != parts[0].second; ++p) {
    if (*p >= 0x80) ascii = false;
    root_name.push_back(static_cast<char>(*p & 0x7f));
  }
  if (ascii && (Cp932EqualNoCase(root_name, kMachineName) || Cp932EqualNoCase(root_name, "HKLM"))) {
    *root = RootKey::kLocalMachine;
  } else if (ascii &&
             (Cp932EqualNoCase(root_name, kUserName) || Cp932EqualNoCase(root_name, "HKCU"))) {
    *root = RootKey::kCurrentUser;
  } else {
    *reason = "unsupported root key \"" + DisplayChars(format, parts[0].first, parts[0].second) +
              "\" (only HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER)";
    return false;
  }
  if (parts.size() - 1 > kMaxKeyDepth) {
    *reason = "the key path is nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
    return false;
  }
  names->clear();
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].first == parts[i].second) {
      *reason = "empty key name in the path";
      return false;
    }
    std::string name;
    if (!CharsToStore(format, parts[i].first, parts[i].second, &name)) {
      *reason = "a key name has a character with no code page 932 form";
      return false;
    }
    names->push_back(std::move(name));
  }
  return true;
}

class Parser {
 public:
  Parser(Format format, const Chars& text, const std::vector<Line>& lines)
      : format_(format), text_(text), lines_(lines) {}

  // Checks every line after the header; the operations in file order, or false with *error.
  bool Run(std::vector<Operation>* operations, RegistryFileError* error) {
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      const Line& line = lines_[index_];
      size_t pos = SkipBlanks(line.begin, line.end);
      if (pos == line.end || text_[pos] == ';') continue;
      bool ok;
      if (text_[pos] == '[') {
        ok = KeyLine(pos + 1, operations);
      } else if (text_[pos] == '@' || text_[pos] == '"') {
        ok = ValueLine(pos, operations);
      } else {
        ok = Fail("the line is not a key, a value or a comment");
      }
      if (!ok) {
        *error = error_;
        return false;
      }
    }
    return true;
  }

 private:
  const Line& Current() const { return lines_[index_]; }

  bool Fail(std::string reason) { return FailAt(Current().number, std::move(reason)); }
  bool FailAt(int line, std::string reason) {
    error_.line = line;
    error_.reason = std::move(reason);
    return false;
  }

  size_t SkipBlanks(size_t pos, size_t end) const {
    while (pos < end && IsBlank(text_[pos])) ++pos;
    return pos;
  }

  // Only blanks and perhaps a comment from `pos` to the end of the line.
  bool RestIsEmpty(size_t pos) const {
    pos = SkipBlanks(pos, Current().end);
    return pos == Current().end || text_[pos] == ';';
  }

  bool MatchesNoCase(size_t pos, std::string_view word) const {
    if (Current().end - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      uint32_t c = text_[pos + i];
      if (c >= 0x80 || AsciiUpper(static_cast<char>(c)) != AsciiUpper(word[i])) return false;
    }
    return true;
  }

  // `pos` is just after "[".
  bool KeyLine(size_t pos, std::vector<Operation>* operations) {
    size_t end = Current().end;
    while (end > pos && IsBlank(text_[end - 1])) --end;
    if (end == pos || text_[end - 1] != ']') return Fail("the key line does not end with \"]\"");
    --end;
    Operation op;
    op.kind = Operation::Kind::kOpenKey;
    if (pos < end && text_[pos] == '-') {
      op.kind = Operation::Kind::kDeleteKey;
      ++pos;
    }
    std::string reason;
    if (!ParseKeyPath(format_, text_.data() + pos, text_.data() + end, &op.root, &op.path,
                      &reason)) {
      return Fail(std::move(reason));
    }
    if (op.kind == Operation::Kind::kDeleteKey && op.path.empty()) {
      return Fail("a root key cannot be deleted");
    }
    in_key_ = op.kind == Operation::Kind::kOpenKey;
    operations->push_back(std::move(op));
    return true;
  }

  // `pos` is at "@" or at the opening quote of the name.
  bool ValueLine(size_t pos, std::vector<Operation>* operations) {
    if (!in_key_)
      return Fail("a value line outside a key (before any key, or after a deleted one)");
    size_t end = Current().end;
    Operation op;
    if (text_[pos] == '@') {
      ++pos;
    } else {
      ++pos;
      Chars name;
      QuoteResult quoted = ReadQuoted(text_, &pos, end, &name);
      if (quoted == QuoteResult::kUnterminated) return Fail("unterminated value name");
      if (quoted == QuoteResult::kBadEscape)
        return Fail("unknown escape sequence in the value name");
      if (!CharsToStore(format_, name.data(), name.data() + name.size(), &op.name)) {
        return Fail("the value name has a character with no code page 932 form");
      }
    }
    pos = SkipBlanks(pos, end);
    if (pos == end || text_[pos] != '=') return Fail("missing \"=\" after the value name");
    pos = SkipBlanks(pos + 1, end);
    if (pos == end) return Fail("missing value data after \"=\"");

    if (text_[pos] == '-') {
      if (!RestIsEmpty(pos + 1)) return Fail("text after \"-\"");
      op.kind = Operation::Kind::kDeleteValue;
    } else if (text_[pos] == '"') {
      ++pos;
      Chars value;
      QuoteResult quoted = ReadQuoted(text_, &pos, end, &value);
      if (quoted == QuoteResult::kUnterminated) return Fail("unterminated string");
      if (quoted == QuoteResult::kBadEscape) return Fail("unknown escape sequence in the string");
      if (!RestIsEmpty(pos)) return Fail("text after the closing quote of the string");
      if (!CharsToStore(format_, value.data(), value.data() + value.size(), &op.data)) {
        return Fail("the string has a character with no code page 932 form");
      }
      op.data.push_back('\0');
      op.kind = Operation::Kind::kSetValue;
      op.type = kRegSz;
    } else if (MatchesNoCase(pos, "dword:")) {
      pos += 6;
      uint32_t value = 0;
      size_t digits = 0;
      for (; pos < end && HexDigitValue(text_[pos]) >= 0; ++pos, ++digits) {
        value = value << 4 | static_cast<uint32_t>(HexDigitValue(text_[pos]));
      }
      if (digits == 0 || digits > 8 || !RestIsEmpty(pos)) {
        return Fail("bad dword value (one to eight hex digits)");
      }
      op.kind = Operation::Kind::kSetValue;
      op.type = kRegDword;
      op.data = DwordData(value);
    } else if (MatchesNoCase(pos, "hex")) {
      pos += 3;
      op.type = kRegBinary;
      if (pos < end && text_[pos] == '(') {
        ++pos;
        uint32_t type = 0;
        size_t digits = 0;
        for (; pos < end && HexDigitValue(text_[pos]) >= 0; ++pos, ++digits) {
          type = type << 4 | static_cast<uint32_t>(HexDigitValue(text_[pos]));
        }
        if (digits == 0 || digits > 8 || pos == end || text_[pos] != ')') {
          return Fail("bad value type in hex(...) (one to eight hex digits)");
        }
        ++pos;
        op.type = type;
      }
      if (pos == end || text_[pos] != ':') return Fail("missing \":\" after hex");
      int first_line = Current().number;
      if (!ReadHexBytes(pos + 1, &op.data)) return false;
      if (format_ == Format::kVersion5 &&
          (op.type == kRegSz || op.type == kRegExpandSz || op.type == kRegMultiSz)) {
        // The file holds these as UTF-16LE; the store holds them in code page 932.
        if (op.data.size() % 2 != 0) {
          return FailAt(first_line, "text data of an odd number of bytes");
        }
        Chars chars;
        AppendUtf16Chars(op.data, &chars);
        std::string converted;
        if (!CharsToStore(format_, chars.data(), chars.data() + chars.size(), &converted)) {
          return FailAt(first_line, "text data with a character with no code page 932 form");
        }
        op.data = std::move(converted);
      }
      op.kind = Operation::Kind::kSetValue;
    } else {
      return Fail("unknown kind of value data");
    }
    operations->push_back(std::move(op));
    return true;
  }

  // Reads comma-separated hex bytes from `pos`, going on to the next line after a "\" at the
  // end of one. Leaves index_ at the last line read.
  bool ReadHexBytes(size_t pos, std::string* data) {
    bool expect_byte = true;  // at the start or after a comma
    for (;;) {
      size_t end = Current().end;
      pos = SkipBlanks(pos, end);
      if (pos == end || text_[pos] == ';') return true;
      if (expect_byte && text_[pos] == '\\' && SkipBlanks(pos + 1, end) == end) {
        if (index_ + 1 >= lines_.size()) return Fail("the file ends inside continued hex data");
        ++index_;
        pos = Current().begin;
        continue;
      }
      if (!expect_byte) {
        if (text_[pos] != ',') return Fail("bad hex data (bytes must be separated by commas)");
        ++pos;
        expect_byte = true;
        continue;
      }
      int high = HexDigitValue(text_[pos]);
      if (high < 0) return Fail("bad hex byte");
      ++pos;
      int value = high;
      if (pos < end && HexDigitValue(text_[pos]) >= 0) {
        value = value << 4 | HexDigitValue(text_[pos]);
        ++pos;
        if (pos < end && HexDigitValue(text_[pos]) >= 0)
          return Fail("bad hex byte (too many digits)");
      }
      data->push_back(static_cast<char>(value));
      expect_byte = false;
    }
  }

  Format format_;
  const Chars& text_;
  const std::vector<Line>& lines_;
  size_t index_ = 0;
  bool in_key_ = false;
  RegistryFileError error_;
};

// Splits at CR LF, LF or CR. False with *error when a line holds a NUL character.
bool SplitLines(const Chars& text, std::vector<Line>* lines, RegistryFileError* error) {
  size_t begin = 0;
  int number = 1;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
      lines->push_back(Line{begin, i, number});
      if (i == text.size()) break;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      begin = i + 1;
      ++number;
    } else if (text[i] == 0) {
      error->line = number;
      error->reason = "NUL character in the text";
      return false;
    }
  }
  return true;
}

std::string_view Trimmed(const Chars& text, const Line& line, std::string* holder) {
  size_t begin = line.begin, end = line.end;
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  holder->clear();
  for (size_t i = begin; i < end; ++i) {
    holder->push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '\x7f');
  }
  return *holder;
}

void Apply(const std::vector<Operation>& operations, MemoryRegistry* registry) {
  MemoryRegistry::Node* current = nullptr;
  for (const Operation& op : operations) {
    switch (op.kind) {
      case Operation::Kind::kOpenKey: {
        MemoryRegistry::Node* node = &registry->Root(op.root);
        for (const std::string& name : op.path) {
          MemoryRegistry::Node* child = node->FindChild(name);
          if (!child) {
            auto created = std::make_unique<MemoryRegistry::Node>();
            created->name = name;
            child = created.get();
            node->children.emplace(name, std::move(created));
          }
          node = child;
        }
        current = node;
        break;
      }
      case Operation::Kind::kDeleteKey: {
        current = nullptr;
        MemoryRegistry::Node* parent = &registry->Root(op.root);
        for (size_t i = 0; parent && i + 1 < op.path.size(); ++i) {
          parent = parent->FindChild(op.path[i]);
        }
        if (parent) {
          auto it = parent->children.find(op.path.back());
          if (it != parent->children.end()) parent->children.erase(it);
        }
        break;
      }
      case Operation::Kind::kSetValue:
        if (current) current->PutValue(op.name, op.type, op.data);
        break;
      case Operation::Kind::kDeleteValue:
        if (current) current->RemoveValue(op.name);
        break;
    }
  }
}

// --- Writing ---

class Writer {
 public:
  explicit Writer(Format format) : format_(format) {}

  bool Run(const MemoryRegistry& registry, std::string* bytes, RegistryFileError* error) {
    bytes_ = bytes;
    bytes_->clear();
    // Room for the whole file at once: growing by doubling would hold up to twice its size.
    size_t estimate = EstimatedBytes(registry.Root(RootKey::kLocalMachine)) +
                      EstimatedBytes(registry.Root(RootKey::kCurrentUser));
    bytes_->reserve(format_ == Format::kVersion5 ? 2 * estimate : estimate);
    if (format_ == Format::kVersion5) bytes_->append("\xff\xfe", 2);
    AppendAscii(format_ == Format::kRegedit4 ? kHeader4 : kHeader5);
    AppendAscii("\r\n");
    if (!WriteBranch(kMachineName, registry.Root(RootKey::kLocalMachine)) ||
        !WriteBranch(kUserName, registry.Root(RootKey::kCurrentUser))) {
      *error = error_;
      return false;
    }
    AppendAscii("\r\n");
    Drain();
    return true;
  }

 private:
  bool Fail(std::string reason) {
    error_.line = 0;
    error_.reason = std::move(reason);
    return false;
  }

  const char* FormatName() const {
    return format_ == Format::kRegedit4 ? "a REGEDIT4 file" : "a version 5 file";
  }

  void AppendAscii(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }

  // A generous guess of a branch's size as REGEDIT4 bytes: paths, names, and data as hex with
  // line continuations (the longest form).
  static size_t EstimatedBytes(const MemoryRegistry::Node& top) {
    size_t total = 64;
    std::vector<std::pair<const MemoryRegistry::Node*, size_t>> stack{{&top, 0}};
    while (!stack.empty()) {
      auto [node, path_size] = stack.back();
      stack.pop_back();
      total += path_size + 32;
      for (const MemoryRegistry::Value& value : node->values) {
        total += value.name.size() * 2 + value.data.size() * 3 + value.data.size() / 25 * 5 + 32;
      }
      for (const auto& child : node->children) {
        stack.emplace_back(child.second.get(), path_size + child.second->name.size() + 1);
      }
    }
    return total;
  }

  // Moves the characters written so far into the output bytes, so that only one key's text is
  // ever held as characters (four bytes each) at a time.
  void Drain() {
    if (format_ == Format::kRegedit4) {
      AppendDbcsBytes(out_.data(), out_.data() + out_.size(), bytes_);
    } else {
      for (uint32_t c : out_) AppendUtf16Bytes(c, bytes_);
    }
    out_.clear();
  }

  // The bytes of `chars` in a REGEDIT4 file read back as the same characters (a lone lead
  // byte would otherwise pair with a following "\", "]" or quote-escape).
  bool StableAsBytes(const Chars& chars) const {
    if (format_ != Format::kRegedit4) return true;
    std::string bytes;
    AppendDbcsBytes(chars.data(), chars.data() + chars.size(), &bytes);
    Chars back;
    AppendDbcsChars(bytes, &back);
    return back == chars;
  }

  // Walks the branch depth first, parents before children, subkeys in the store's order.
  bool WriteBranch(std::string_view root_name, const MemoryRegistry::Node& top) {
    struct Pending {
      const MemoryRegistry::Node* node;
      size_t depth;
    };
    std::vector<Pending> stack{{&top, 0}};
    std::vector<std::string_view> path;  // names below the root, for the node being written
    Chars line;
    while (!stack.empty()) {
      Pending pending = stack.back();
      stack.pop_back();
      path.resize(pending.depth > 0 ? pending.depth - 1 : 0);
      if (pending.depth > 0) path.push_back(pending.node->name);
      if (pending.depth > 0 || !pending.node->values.empty()) {
        if (!WriteKey(root_name, path, *pending.node, &line)) return false;
        Drain();
      }
      const auto& children = pending.node->children;
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        stack.push_back(Pending{it->second.get(), pending.depth + 1});
      }
    }
    return true;
  }

  std::string DisplayPath(std::string_view root_name,
                          const std::vector<std::string_view>& path) const {
    std::string shown(root_name);
    for (std::string_view name : path) {
      shown += '\\';
      shown += Cp932ForDisplay(name);
    }
    return shown;
  }

  bool WriteKey(std::string_view root_name, const std::vector<std::string_view>& path,
                const MemoryRegistry::Node& node, Chars* line) {
    line->clear();
    line->push_back('[');
    line->insert(line->end(), root_name.begin(), root_name.end());
    for (std::string_view name : path) {
      line->push_back('\\');
      Chars chars;
      bool ok = !name.empty() && StoreToChars(format_, name, &chars);
      for (uint32_t c : chars) {
        if (c == '\\' || c == '\r' || c == '\n' || c == 0) ok = false;
      }
      if (!ok) {
        return Fail("the name of key " + DisplayPath(root_name, path) + " cannot be written in " +
                    FormatName());
      }
      line->insert(line->end(), chars.begin(), chars.end());
    }
    line->push_back(']');
    if (!StableAsBytes(*line)) {
      return Fail("the name of key " + DisplayPath(root_name, path) + " cannot be written in " +
                  FormatName());
    }
    AppendAscii("\r\n");
    out_.insert(out_.end(), line->begin(), line->end());
    AppendAscii("\r\n");
    for (const MemoryRegistry::Value& value : node.values) {
      if (!WriteValue(root_name, path, value, line)) return false;
    }
    return true;
  }

  // `text` quoted, with escapes. False when it holds a NUL, or a line break and !allow_breaks.
  static bool Quote(const Chars& text, bool allow_breaks, Chars* out) {
    out->push_back('"');
    for (uint32_t c : text) {
      if (c == 0) return false;
      if (c == '\\' || c == '"') {
        out->push_back('\\');
        out->push_back(c);
      } else if (c == '\n' || c == '\r') {
        if (!allow_breaks) return false;
        out->push_back('\\');
        out->push_back(c == '\n' ? 'n' : 'r');
      } else {
        out->push_back(c);
      }
    }
    out->push_back('"');
    return true;
  }

  size_t Columns(const Chars& chars) const {
    size_t columns = 0;
    for (uint32_t c : chars) {
      if (format_ == Format::kRegedit4) {
        columns += (c & kDoubleByte) ? 2 : 1;
      } else {
        columns += c >= 0x10000 ? 2 : 1;  // UTF-16 code units
      }
    }
    return columns;
  }

  bool WriteValue(std::string_view root_name, const std::vector<std::string_view>& path,
                  const MemoryRegistry::Value& value, Chars* line) {
    line->clear();
    if (value.name.empty()) {
      line->push_back('@');
    } else {
      Chars name;
      // A name cannot fall back to hex, so line breaks in it are written as Wine writes them.
      if (!StoreToChars(format_, value.name, &name) || !Quote(name, true, line) ||
          !StableAsBytes(*line)) {
        return Fail("the name of value \"" + Cp932ForDisplay(value.name) + "\" in key " +
                    DisplayPath(root_name, path) + " cannot be written in " + FormatName());
      }
    }
    line->push_back('=');

    const std::string& data = value.data;
    if (value.type == kRegSz && !data.empty() && data.find('\0') == data.size() - 1) {
      Chars text, quoted;
      if (StoreToChars(format_, std::string_view(data).substr(0, data.size() - 1), &text) &&
          Quote(text, false, &quoted) && StableAsBytes(quoted)) {
        line->insert(line->end(), quoted.begin(), quoted.end());
        line->insert(line->end(), {'\r', '\n'});
        out_.insert(out_.end(), line->begin(), line->end());
        return true;
      }
      // Otherwise as hex(1), which holds any bytes.
    }
    if (value.type == kRegDword && data.size() == 4) {
      uint32_t number = static_cast<unsigned char>(data[0]) |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[1])) << 8 |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[2])) << 16 |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[3])) << 24;
      line->insert(line->end(), {'d', 'w', 'o', 'r', 'd', ':'});
      AppendHexNumber(number, 8, line);
      line->insert(line->end(), {'\r', '\n'});
      out_.insert(out_.end(), line->begin(), line->end());
      return true;
    }

    std::string converted;
    std::string_view bytes = data;
    if (format_ == Format::kVersion5 &&
        (value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz)) {
      Chars text;
      if (!StoreToChars(format_, data, &text)) {
        return Fail("value \"" + Cp932ForDisplay(value.name) + "\" in key " +
                    DisplayPath(root_name, path) + " holds text that " + FormatName() +
                    " cannot hold unchanged");
      }
      for (uint32_t c : text) AppendUtf16Bytes(c, &converted);
      bytes = converted;
    }
    if (value.type == kRegBinary) {
      line->insert(line->end(), {'h', 'e', 'x', ':'});
    } else {
      line->insert(line->end(), {'h', 'e', 'x', '('});
      AppendHexNumber(value.type, 0, line);
      line->insert(line->end(), {')', ':'});
    }
    // Wrapped as the registry editor does: after the comma that takes a line to the wrap
    // column, a "\" and a new line indented by two spaces.
    size_t columns = Columns(*line);
    for (size_t i = 0; i < bytes.size(); ++i) {
      AppendHexNumber(static_cast<unsigned char>(bytes[i]), 2, line);
      if (i + 1 == bytes.size()) break;
      line->push_back(',');
      columns += 3;
      if (columns >= kHexWrapColumn) {
        line->insert(line->end(), {'\\', '\r', '\n', ' ', ' '});
        columns = 2;
      }
    }
    line->insert(line->end(), {'\r', '\n'});
    out_.insert(out_.end(), line->begin(), line->end());
    return true;
  }

  // Lower-case hex digits, at least `width` of them.
  static void AppendHexNumber(uint32_t number, int width, Chars* out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char digits[8];
    int count = 0;
    do {
      digits[count++] = kDigits[number & 0xf];
      number >>= 4;
    } while (number != 0);
    while (count < width && count < 8) digits[count++] = '0';
    while (count > 0) out->push_back(static_cast<unsigned char>(digits[--count]));
  }

  Format format_;
  Chars out_;
  std::string* bytes_ = nullptr;
  RegistryFileError error_;
};

}  // namespace

RegistryFileLoadResult LoadRegistryFile(std::string_view bytes, MemoryRegistry* registry) {
  RegistryFileLoadResult result;
  Chars text;
  bool cut_off = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xfe) {
    result.format = Format::kVersion5;
    std::string_view body = bytes.substr(2);
    cut_off = body.size() % 2 != 0;
    text.reserve(body.size() / 2);
    AppendUtf16Chars(body.substr(0, body.size() - (cut_off ? 1 : 0)), &text);
  } else {
    result.format = Format::kRegedit4;
    text.reserve(bytes.size());
    AppendDbcsChars(bytes, &text);
  }

  std::vector<Line> lines;
  RegistryFileError error;
  if (!SplitLines(text, &lines, &error)) {
    result.error = error;
    return result;
  }
  if (cut_off) {
    result.error =
        RegistryFileError{lines.back().number, "the UTF-16 text ends in the middle of a character"};
    return result;
  }

  std::string holder;
  std::string_view first = Trimmed(text, lines[0], &holder);
  std::string_view expected = result.format == Format::kRegedit4 ? kHeader4 : kHeader5;
  if (first != expected) {
    std::string reason;
    if (result.format == Format::kRegedit4 && first == kHeader5) {
      reason = "a version 5 file must be UTF-16 text with a byte order mark";
    } else if (result.format == Format::kVersion5 && first == kHeader4) {
      reason = "a REGEDIT4 file must be 8-bit text, not UTF-16";
    } else {
      reason = "not a registry editor file (the first line is not \"REGEDIT4\" or \"" +
               std::string(kHeader5) + "\")";
    }
    result.error = RegistryFileError{1, std::move(reason)};
    return result;
  }

  std::vector<Operation> operations;
  Parser parser(result.format, text, lines);
  if (!parser.Run(&operations, &error)) {
    result.error = error;
    return result;
  }
  // The operations own their texts: the decoded file is not needed while they are applied.
  Chars().swap(text);
  std::vector<Line>().swap(lines);
  Apply(operations, registry);
  return result;
}

RegistryFileSaveResult SaveRegistryFile(const MemoryRegistry& registry, RegistryFileFormat format) {
  RegistryFileSaveResult result;
  RegistryFileError error;
  Writer writer(format);
  if (!writer.Run(registry, &result.bytes, &error)) {
    result.bytes.clear();
    result.error = error;
  }
  return result;
}

}  // namespace kdr
