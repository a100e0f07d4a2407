#include <utility>
#include <vector>

#include "platform/cp932.h"
#include "platform/memory/registry_file.h"
#include "platform/memory/registry_file_items.h"
#include "platform/memory/registry_file_lines.h"
#include "platform/memory/registry_text.h"

namespace kdr {
namespace {

using namespace registry_text;
using Node = MemoryRegistry::Node;
constexpr size_t kNoLine = MemoryRegistry::kNoLine;

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
// Windows refuses keys nested deeper than this; it also keeps our tree walks shallow.
constexpr size_t kMaxKeyDepth = 512;

// One change a file makes, applied in order once the whole file has been checked.
struct Operation {
  enum class Kind { kOpenKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kOpenKey;
  RootKey root = RootKey::kCurrentUser;
  std::vector<std::string> path;  // key operations
  std::string name;               // value operations
  uint32_t type = 0;
  std::string data;
  size_t first_line = kNoLine;  // the lines it was read from; for kOpenKey, the block's last
  size_t last_line = kNoLine;
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

// ReadQuoted with the text written over its own quoted form from where it starts, which
// unescaping never outgrows; *out_end is where the text ends.
QuoteResult ReadQuotedInPlace(Chars* text, size_t* pos, size_t end, size_t* out_end) {
  Chars& chars = *text;
  size_t out = *pos;
  while (*pos < end) {
    uint32_t c = chars[(*pos)++];
    if (c == '"') {
      *out_end = out;
      return QuoteResult::kOk;
    }
    if (c == '\\') {
      if (*pos >= end) return QuoteResult::kUnterminated;
      uint32_t escaped = chars[(*pos)++];
      if (escaped == '\\' || escaped == '"') {
        c = escaped;
      } else if (escaped == 'n') {
        c = '\n';
      } else if (escaped == 'r') {
        c = '\r';
      } else {
        return QuoteResult::kBadEscape;
      }
    }
    chars[out++] = c;
  }
  return QuoteResult::kUnterminated;
}

// How a key line's path stands to the branches that are read.
enum class Relation { kOutside, kAncestor, kInside };

class Parser {
 public:
  Parser(const FileLines& lines, const std::vector<RegistryBranch>& branches)
      : format_(lines.format()), lines_(lines), branches_(branches), decode_(branches.empty()) {
    for (const RegistryBranch& branch : branches_) {
      std::vector<std::string_view> names;
      // A path with an empty name would read a wider branch than the one asked for.
      if (!SplitCp932Path(branch.path, &names)) branches_valid_ = false;
      branch_names_.emplace_back(names.begin(), names.end());
    }
  }

  // Checks every line after the header; the operations in file order, or false with *error.
  bool Run(std::vector<Operation>* operations, RegistryFileError* error) {
    if (!branches_valid_) {
      *error = RegistryFileError{0, "a branch to read is not a key path"};
      return false;
    }
    operations_ = operations;
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      // The lines of a key that is not read are passed over undecoded, however long.
      if (!decode_ && lines_.FirstChar(index_) != '[') continue;
      // A very long line gives its room back rather than holding it for the rest of the file.
      if (line_.capacity() > kKeptLineChars) Chars().swap(line_);
      lines_.Decode(index_, &line_);
      size_t pos = SkipBlanks(0, line_.size());
      bool ok = true;
      if (pos < line_.size() && line_[pos] == '[') {
        ok = CheckNul() && KeyLine(pos + 1);
      } else if (!decode_ || pos == line_.size() || line_[pos] == ';') {
        continue;  // a line of a key that is not read, a blank line or a comment
      } else if (line_[pos] == '@' || line_[pos] == '"') {
        ok = CheckNul() && ValueLine(pos);
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
  bool Fail(std::string reason) { return FailAt(index_, std::move(reason)); }
  bool FailAt(size_t index, std::string reason) {
    error_.line = static_cast<int>(index + 1);
    error_.reason = std::move(reason);
    return false;
  }

  bool CheckNul() {
    for (uint32_t c : line_) {
      if (c == 0) return Fail("NUL character in the text");
    }
    return true;
  }

  size_t SkipBlanks(size_t pos, size_t end) const {
    while (pos < end && IsBlank(line_[pos])) ++pos;
    return pos;
  }

  // Only blanks and perhaps a comment from `pos` to the end of the line.
  bool RestIsEmpty(size_t pos) const {
    pos = SkipBlanks(pos, line_.size());
    return pos == line_.size() || line_[pos] == ';';
  }

  bool MatchesNoCase(size_t pos, std::string_view word) const {
    if (line_.size() - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      uint32_t c = line_[pos + i];
      if (c >= 0x80 || AsciiUpper(static_cast<char>(c)) != AsciiUpper(word[i])) return false;
    }
    return true;
  }

  // The root of a key path, from its first name; false when it is not one we hold.
  static bool ParseRoot(const uint32_t* begin, const uint32_t* end, RootKey* root) {
    std::string name;
    for (const uint32_t* p = begin; p != end; ++p) {
      if (*p >= 0x80) return false;
      name.push_back(static_cast<char>(*p));
    }
    if (Cp932EqualNoCase(name, "HKEY_LOCAL_MACHINE") || Cp932EqualNoCase(name, "HKLM")) {
      *root = RootKey::kLocalMachine;
    } else if (Cp932EqualNoCase(name, "HKEY_CURRENT_USER") || Cp932EqualNoCase(name, "HKCU")) {
      *root = RootKey::kCurrentUser;
    } else {
      return false;
    }
    return true;
  }

  using Part = std::pair<const uint32_t*, const uint32_t*>;

  // How the names below the root stand to the branches that are read (all of them are when
  // there are none).
  Relation RelationOf(RootKey root, const std::vector<Part>& parts) const {
    if (branches_.empty()) return Relation::kInside;
    Relation best = Relation::kOutside;
    for (size_t b = 0; b < branches_.size(); ++b) {
      if (branches_[b].root != root) continue;
      const std::vector<std::string>& names = branch_names_[b];
      size_t common = std::min(names.size(), parts.size() - 1);
      bool same = true;
      for (size_t i = 0; same && i < common; ++i) {
        std::string name;
        same = CharsToStore(format_, parts[i + 1].first, parts[i + 1].second, &name) &&
               Cp932EqualNoCase(name, names[i]);
      }
      if (!same) continue;
      if (parts.size() - 1 >= names.size()) return Relation::kInside;
      best = Relation::kAncestor;
    }
    return best;
  }

  // `pos` is just after "[".
  bool KeyLine(size_t pos) {
    size_t end = line_.size();
    while (end > pos && IsBlank(line_[end - 1])) --end;
    bool deletion = pos < end && line_[pos] == '-';
    if (deletion) ++pos;
    decode_ = false;
    if (end == pos || line_[end - 1] != ']') {
      return branches_.empty() ? Fail("the key line does not end with \"]\"") : true;
    }
    --end;
    std::vector<Part> parts;
    const uint32_t* start = line_.data() + pos;
    for (const uint32_t* p = start;; ++p) {
      if (p == line_.data() + end || *p == '\\') {
        parts.emplace_back(start, p);
        if (p == line_.data() + end) break;
        start = p + 1;
      }
    }
    Operation op;
    op.kind = deletion ? Operation::Kind::kDeleteKey : Operation::Kind::kOpenKey;
    if (!ParseRoot(parts[0].first, parts[0].second, &op.root)) {
      if (!branches_.empty()) return true;
      return Fail("unsupported root key \"" +
                  DisplayChars(format_, parts[0].first, parts[0].second) +
                  "\" (only HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER)");
    }
    if (parts.size() - 1 > kMaxKeyDepth) {
      if (RelationOf(op.root, parts) != Relation::kInside) return true;
      return Fail("the key path is nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
    }
    Relation relation = RelationOf(op.root, parts);
    if (relation == Relation::kOutside || (relation == Relation::kAncestor && !deletion)) {
      return true;  // kept as it is, never read
    }
    for (size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].first == parts[i].second) return Fail("empty key name in the path");
      std::string name;
      if (!CharsToStore(format_, parts[i].first, parts[i].second, &name)) {
        return Fail("a key name has a character with no exact code page 932 form");
      }
      op.path.push_back(std::move(name));
    }
    if (deletion && op.path.empty()) return Fail("a root key cannot be deleted");
    op.first_line = op.last_line = index_;
    decode_ = true;
    in_key_ = !deletion;
    open_op_ = deletion ? kNoLine : operations_->size();
    operations_->push_back(std::move(op));
    return true;
  }

  // The block of the key that is open ends at least at the current line.
  void ExtendBlock() {
    if (open_op_ != kNoLine) (*operations_)[open_op_].last_line = index_;
  }

  // `pos` is at "@" or at the opening quote of the name.
  bool ValueLine(size_t pos) {
    if (!in_key_) {
      return Fail("a value line outside a key (before any key, or after a deleted one)");
    }
    size_t end = line_.size();
    Operation op;
    op.first_line = index_;
    if (line_[pos] == '@') {
      ++pos;
    } else {
      ++pos;
      Chars name;
      QuoteResult quoted = ReadQuoted(line_, &pos, end, &name);
      if (quoted == QuoteResult::kUnterminated) return Fail("unterminated value name");
      if (quoted == QuoteResult::kBadEscape) {
        return Fail("unknown escape sequence in the value name");
      }
      if (!CharsToStore(format_, name.data(), name.data() + name.size(), &op.name)) {
        return Fail("the value name has a character with no exact code page 932 form");
      }
    }
    pos = SkipBlanks(pos, end);
    if (pos == end || line_[pos] != '=') return Fail("missing \"=\" after the value name");
    pos = SkipBlanks(pos + 1, end);
    if (pos == end) return Fail("missing value data after \"=\"");

    if (line_[pos] == '-') {
      if (!RestIsEmpty(pos + 1)) return Fail("text after \"-\"");
      op.kind = Operation::Kind::kDeleteValue;
    } else if (line_[pos] == '"') {
      ++pos;
      // Unescaped where it stands: a long string needs no second copy as characters.
      size_t text_begin = pos;
      size_t text_end = pos;
      QuoteResult quoted = ReadQuotedInPlace(&line_, &pos, end, &text_end);
      if (quoted == QuoteResult::kUnterminated) return Fail("unterminated string");
      if (quoted == QuoteResult::kBadEscape) return Fail("unknown escape sequence in the string");
      if (!RestIsEmpty(pos)) return Fail("text after the closing quote of the string");
      op.data.reserve(text_end - text_begin + 1);
      if (!CharsToStore(format_, line_.data() + text_begin, line_.data() + text_end, &op.data)) {
        return Fail("the string has a character with no exact code page 932 form");
      }
      op.data.push_back('\0');
      op.kind = Operation::Kind::kSetValue;
      op.type = kRegSz;
    } else if (MatchesNoCase(pos, "dword:")) {
      pos += 6;
      uint32_t value = 0;
      size_t digits = 0;
      for (; pos < end && HexDigitValue(line_[pos]) >= 0; ++pos, ++digits) {
        value = value << 4 | static_cast<uint32_t>(HexDigitValue(line_[pos]));
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
      if (pos < end && line_[pos] == '(') {
        ++pos;
        uint32_t type = 0;
        size_t digits = 0;
        for (; pos < end && HexDigitValue(line_[pos]) >= 0; ++pos, ++digits) {
          type = type << 4 | static_cast<uint32_t>(HexDigitValue(line_[pos]));
        }
        if (digits == 0 || digits > 8 || pos == end || line_[pos] != ')') {
          return Fail("bad value type in hex(...) (one to eight hex digits)");
        }
        ++pos;
        op.type = type;
      }
      if (pos == end || line_[pos] != ':') return Fail("missing \":\" after hex");
      if (!ReadHexBytes(pos + 1, &op.data)) return false;
      if (format_ == Format::kVersion5 &&
          (op.type == kRegSz || op.type == kRegExpandSz || op.type == kRegMultiSz)) {
        // The file holds these as UTF-16LE; the store holds them in code page 932.
        if (op.data.size() % 2 != 0) {
          return FailAt(op.first_line, "text data of an odd number of bytes");
        }
        Chars chars;
        AppendUtf16Chars(op.data, &chars);
        std::string converted;
        if (!CharsToStore(format_, chars.data(), chars.data() + chars.size(), &converted)) {
          return FailAt(op.first_line,
                        "text data with a character with no exact code page 932 form");
        }
        op.data = std::move(converted);
      }
      op.kind = Operation::Kind::kSetValue;
    } else {
      return Fail("unknown kind of value data");
    }
    op.last_line = index_;
    ExtendBlock();
    operations_->push_back(std::move(op));
    return true;
  }

  // Reads comma-separated hex bytes from `pos`, going on to the next line after a "\" at the
  // end of one. Leaves index_ (and line_) at the last line read.
  bool ReadHexBytes(size_t pos, std::string* data) {
    bool expect_byte = true;  // at the start or after a comma
    for (;;) {
      size_t end = line_.size();
      pos = SkipBlanks(pos, end);
      if (pos == end || line_[pos] == ';') return true;
      if (expect_byte && line_[pos] == '\\' && SkipBlanks(pos + 1, end) == end) {
        if (index_ + 1 >= lines_.size()) return Fail("the file ends inside continued hex data");
        ++index_;
        lines_.Decode(index_, &line_);
        if (!CheckNul()) return false;
        pos = 0;
        continue;
      }
      if (!expect_byte) {
        if (line_[pos] != ',') return Fail("bad hex data (bytes must be separated by commas)");
        ++pos;
        expect_byte = true;
        continue;
      }
      int high = HexDigitValue(line_[pos]);
      if (high < 0) return Fail("bad hex byte");
      ++pos;
      int value = high;
      if (pos < end && HexDigitValue(line_[pos]) >= 0) {
        value = value << 4 | HexDigitValue(line_[pos]);
        ++pos;
        if (pos < end && HexDigitValue(line_[pos]) >= 0) {
          return Fail("bad hex byte (too many digits)");
        }
      }
      data->push_back(static_cast<char>(value));
      expect_byte = false;
    }
  }

  Format format_;
  const FileLines& lines_;
  const std::vector<RegistryBranch>& branches_;
  std::vector<std::vector<std::string>> branch_names_;
  bool branches_valid_ = true;
  std::vector<Operation>* operations_ = nullptr;
  static constexpr size_t kKeptLineChars = 1 << 16;
  Chars line_;
  size_t index_ = 0;
  bool decode_;          // the lines that follow belong to a key that is read
  bool in_key_ = false;  // ... and it is opened, not deleted
  size_t open_op_ = kNoLine;
  RegistryFileError error_;
};

// The first line, trimmed, with characters outside ASCII as 0x7F.
std::string Header(const FileLines& lines) {
  Chars chars;
  lines.Decode(0, &chars);
  size_t begin = 0, end = chars.size();
  while (begin < end && IsBlank(chars[begin])) ++begin;
  while (end > begin && IsBlank(chars[end - 1])) --end;
  std::string header;
  for (size_t i = begin; i < end; ++i) {
    header.push_back(chars[i] < 0x80 ? static_cast<char>(chars[i]) : '\x7f');
  }
  return header;
}

void CompactAll(Node* node) {
  node->Compact();
  for (const auto& child : node->children()) CompactAll(child.second.get());
}

void Apply(std::vector<Operation>* operations, MemoryRegistry* registry) {
  Node* current = nullptr;
  for (Operation& op : *operations) {
    switch (op.kind) {
      case Operation::Kind::kOpenKey: {
        Node* node = &registry->Root(op.root);
        for (const std::string& name : op.path) node = node->AddChild(name, true);
        node->SetFromFile(op.last_line);
        current = node;
        break;
      }
      case Operation::Kind::kDeleteKey: {
        current = nullptr;
        Node* parent = &registry->Root(op.root);
        for (size_t i = 0; parent && i + 1 < op.path.size(); ++i) {
          parent = parent->FindChild(op.path[i]);
        }
        if (parent) (void)parent->RemoveChild(op.path.back());
        break;
      }
      case Operation::Kind::kSetValue:
        if (current) {
          current->PutValueFromFile(op.name, op.type, op.data, op.first_line, op.last_line);
        }
        break;
      case Operation::Kind::kDeleteValue:
        // Deleting a value that is not there is no error, as for the registry editor.
        if (current) (void)current->RemoveValue(op.name);
        break;
    }
    // Applied operations give their memory back at once.
    std::string().swap(op.data);
  }
  registry->Root(RootKey::kLocalMachine).SetFromFile();
  registry->Root(RootKey::kCurrentUser).SetFromFile();
  CompactAll(&registry->Root(RootKey::kLocalMachine));
  CompactAll(&registry->Root(RootKey::kCurrentUser));
}

}  // namespace

RegistryFileLoadResult LoadRegistryFile(std::string_view bytes, MemoryRegistry* registry,
                                        const std::vector<RegistryBranch>& branches) {
  RegistryFileLoadResult result;
  FileLines lines(bytes);
  result.format = lines.format();
  if (lines.cut_off()) {
    result.error = RegistryFileError{static_cast<int>(lines.size()),
                                     "the UTF-16 text ends in the middle of a character"};
    return result;
  }
  std::string first = Header(lines);
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
  RegistryFileError error;
  Parser parser(lines, branches);
  if (!parser.Run(&operations, &error)) {
    result.error = error;
    return result;
  }
  Apply(&operations, registry);
  return result;
}

bool ListRegistryFileItems(std::string_view bytes, const RegistryBranch& branch,
                           std::vector<RegistryFileItem>* items) {
  items->clear();
  FileLines lines(bytes);
  if (lines.cut_off() || lines.size() == 0) return false;
  std::vector<Operation> operations;
  RegistryFileError error;
  std::vector<RegistryBranch> branches{branch};
  Parser parser(lines, branches);
  if (!parser.Run(&operations, &error)) return false;
  for (Operation& op : operations) {
    if (op.kind == Operation::Kind::kOpenKey) {
      items->push_back(
          RegistryFileItem{false, std::move(op.path), {}, op.first_line, op.last_line});
    } else if (op.kind == Operation::Kind::kSetValue) {
      items->push_back(RegistryFileItem{true, {}, std::move(op.name), op.first_line, op.last_line});
    }
    std::string().swap(op.data);
  }
  return true;
}

}  // namespace kdr
