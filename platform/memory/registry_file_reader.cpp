#include <algorithm>
#include <functional>
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
constexpr size_t kNoLine = static_cast<size_t>(-1);  // not read from a line (yet)

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
// Windows refuses keys nested deeper than this; it also keeps our tree walks shallow.
constexpr size_t kMaxKeyDepth = 512;

// One change a file makes, handed on in file order as it is read.
struct Operation {
  // kEndBlock: the block of the key opened last ends at last_line (its last value line).
  enum class Kind { kOpenKey, kDeleteKey, kSetValue, kDeleteValue, kEndBlock };
  Kind kind = Kind::kOpenKey;
  RootKey root = RootKey::kCurrentUser;
  std::vector<std::string> path;  // key operations
  std::string name;               // value operations
  uint32_t type = 0;
  std::string data;
  size_t first_line = kNoLine;  // the lines it was read from
  size_t last_line = kNoLine;
};

enum class QuoteResult { kOk, kUnterminated, kBadEscape };

// How a key line's path stands to the branches that are read.
enum class Relation { kOutside, kAncestor, kInside };

// Reads the file one line at a time and one character at a time, where the line stands in the
// file: a long line is never copied, let alone held as 4-byte characters.
class Parser {
 public:
  Parser(std::string_view bytes, const FileLines& lines,
         const std::vector<RegistryBranch>& branches)
      : format_(lines.format()),
        bytes_(bytes),
        lines_(lines),
        branches_(branches),
        decode_(branches.empty()) {
    for (const RegistryBranch& branch : branches_) {
      std::vector<std::string_view> names;
      // A path with an empty name would read a wider branch than the one asked for.
      if (!SplitCp932Path(branch.path, &names)) branches_valid_ = false;
      branch_names_.emplace_back(names.begin(), names.end());
    }
  }

  using Emit = std::function<void(Operation&)>;

  // Checks every line after the header, handing each operation to `emit` in file order; false
  // with *error at the first line that is refused.
  bool Run(const Emit& emit, RegistryFileError* error) {
    if (!branches_valid_) {
      *error = SaveError("a branch to read is not a key path");
      return false;
    }
    emit_ = &emit;
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      // The lines of a key that is not read are passed over undecoded, however long.
      if (!decode_ && lines_.FirstChar(index_) != '[') continue;
      SetLine(index_);
      size_t pos = SkipBlanks(line_begin_);
      uint32_t first = pos < line_end_ ? At(pos) : 0;
      bool ok = true;
      if (pos < line_end_ && first == '[') {
        ok = CheckNul() && KeyLine(After(pos));
      } else if (!decode_ || pos == line_end_ || first == ';') {
        continue;  // a line of a key that is not read, a blank line or a comment
      } else if (first == '@' || first == '"') {
        ok = CheckNul() && ValueLine(pos);
      } else {
        ok = Fail(RegistryFileProblem::kNotALine);
      }
      if (!ok) {
        *error = error_;
        return false;
      }
    }
    EndBlock();
    if (!CheckFileEnd()) {
      *error = error_;
      return false;
    }
    return true;
  }

 private:
  void SetLine(size_t index) {
    index_ = index;
    line_begin_ = lines_.Begin(index);
    line_end_ = lines_.End(index);
    line_ = bytes_.substr(0, line_end_);
  }

  // The character at `pos` (< line_end_), and where the next one starts.
  uint32_t At(size_t pos, size_t* next) const { return CharAt(format_, line_, pos, next); }
  uint32_t At(size_t pos) const {
    size_t next;
    return At(pos, &next);
  }
  size_t After(size_t pos) const {
    size_t next;
    At(pos, &next);
    return next;
  }

  bool Fail(RegistryFileProblem problem, std::string detail = {}) {
    return FailAt(index_, problem, std::move(detail));
  }
  bool FailAt(size_t index, RegistryFileProblem problem, std::string detail = {}) {
    error_.line = static_cast<int>(index + 1);
    error_.reason = RegistryFileProblemText(problem, detail);
    error_.problem = problem;
    error_.detail = std::move(detail);
    return false;
  }

  // NUL is never the trail byte of a character nor a part of a surrogate pair, so the code
  // units tell.
  bool CheckNul() {
    size_t unit = UnitSize(format_);
    for (size_t at = line_begin_; at < line_end_; at += unit) {
      if (bytes_[at] == '\0' && (unit == 1 || bytes_[at + 1] == '\0')) {
        return Fail(RegistryFileProblem::kNul);
      }
    }
    return true;
  }

  size_t SkipBlanks(size_t pos) const {
    while (pos < line_end_) {
      size_t next;
      if (!IsBlank(At(pos, &next))) break;
      pos = next;
    }
    return pos;
  }

  // Only blanks and perhaps a comment from `pos` to the end of the line.
  bool RestIsEmpty(size_t pos) const {
    pos = SkipBlanks(pos);
    return pos == line_end_ || At(pos) == ';';
  }

  // The word (ASCII) at `pos` without regard to case; *end is after it.
  bool MatchesNoCase(size_t pos, std::string_view word, size_t* end) const {
    for (char expected : word) {
      if (pos == line_end_) return false;
      size_t next;
      uint32_t c = At(pos, &next);
      if (c >= 0x80 || AsciiUpper(static_cast<char>(c)) != AsciiUpper(expected)) return false;
      pos = next;
    }
    *end = pos;
    return true;
  }

  // Up to `max` hex digits from *pos (more than that fail); their value, and how many.
  size_t HexNumber(size_t* pos, size_t max, uint32_t* value) const {
    size_t digits = 0;
    *value = 0;
    while (*pos < line_end_ && digits <= max) {
      size_t next;
      int digit = HexDigitValue(At(*pos, &next));
      if (digit < 0) break;
      *value = *value << 4 | static_cast<uint32_t>(digit);
      ++digits;
      *pos = next;
    }
    return digits;
  }

  // Reads a quoted text whose opening quote is before *pos, up to the closing quote on the same
  // line; *pos ends after it. The escapes are \\ and \" (as the registry editor writes them) and
  // \n and \r (as Wine's registry editor writes line breaks).
  QuoteResult ReadQuoted(size_t* pos, StoreText* out) const {
    while (*pos < line_end_) {
      uint32_t c = At(*pos, pos);
      if (c == '"') return QuoteResult::kOk;
      if (c == '\\') {
        if (*pos >= line_end_) return QuoteResult::kUnterminated;
        uint32_t escaped = At(*pos, pos);
        if (escaped == 'n') {
          c = '\n';
        } else if (escaped == 'r') {
          c = '\r';
        } else if (escaped == '\\' || escaped == '"') {
          c = escaped;
        } else {
          return QuoteResult::kBadEscape;
        }
      }
      out->Add(c);
    }
    return QuoteResult::kUnterminated;
  }

  // The root of a key path, from its first name; false when it is not one we hold.
  bool ParseRoot(std::string_view text, RootKey* root) const {
    std::string name;
    for (size_t at = 0; at < text.size();) {
      uint32_t c = CharAt(format_, text, at, &at);
      if (c >= 0x80) return false;
      name.push_back(static_cast<char>(c));
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

  // How the names below the root stand to the branches that are read (all of them are when
  // there are none). parts[0] is the root.
  Relation RelationOf(RootKey root, const std::vector<std::string_view>& parts) const {
    if (branches_.empty()) return Relation::kInside;
    Relation best = Relation::kOutside;
    for (size_t b = 0; b < branches_.size(); ++b) {
      if (branches_[b].root != root) continue;
      const std::vector<std::string>& names = branch_names_[b];
      size_t common = std::min(names.size(), parts.size() - 1);
      bool same = true;
      for (size_t i = 0; same && i < common; ++i) {
        std::string name;
        same = FileTextToStore(format_, parts[i + 1], &name) && Cp932EqualNoCase(name, names[i]);
      }
      if (!same) continue;
      if (parts.size() - 1 >= names.size()) return Relation::kInside;
      best = Relation::kAncestor;
    }
    return best;
  }

  // `pos` is just after "[".
  bool KeyLine(size_t pos) {
    EndBlock();
    bool deletion = pos < line_end_ && At(pos) == '-';
    if (deletion) pos = After(pos);
    decode_ = false;
    // The names, split at each "\", up to the last character that is not a blank.
    std::vector<std::string_view> parts;
    size_t start = pos, last = line_end_;
    for (size_t at = pos; at < line_end_;) {
      size_t next;
      uint32_t c = At(at, &next);
      if (c == '\\') {
        parts.push_back(bytes_.substr(start, at - start));
        start = next;
      }
      if (!IsBlank(c)) last = at;
      at = next;
    }
    if (last == line_end_ || At(last) != ']' || last < start) {
      // The last name as far as it goes: to a "]" with text after it, or to the line's end.
      size_t end = (last == line_end_ || last < start) ? start : After(last);
      for (size_t at = start; at < end;) {
        size_t next;
        if (At(at, &next) == ']') end = at;
        at = next;
      }
      parts.push_back(bytes_.substr(start, end - start));
      if (!branches_.empty() && !StartsLikeBranch(parts)) return true;
      return Fail(RegistryFileProblem::kKeyLineUnclosed);
    }
    parts.push_back(bytes_.substr(start, last - start));
    Operation op;
    op.kind = deletion ? Operation::Kind::kDeleteKey : Operation::Kind::kOpenKey;
    if (!ParseRoot(parts[0], &op.root)) {
      if (!branches_.empty()) return true;
      return Fail(RegistryFileProblem::kRootKey, DisplayFileText(format_, parts[0]));
    }
    if (parts.size() - 1 > kMaxKeyDepth) {
      if (RelationOf(op.root, parts) != Relation::kInside) return true;
      return Fail(RegistryFileProblem::kTooDeep, std::to_string(kMaxKeyDepth));
    }
    Relation relation = RelationOf(op.root, parts);
    if (relation == Relation::kOutside || (relation == Relation::kAncestor && !deletion)) {
      return true;  // kept as it is, never read
    }
    for (size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].empty()) return Fail(RegistryFileProblem::kEmptyKeyName);
      std::string name;
      if (!FileTextToStore(format_, parts[i], &name)) {
        return Fail(RegistryFileProblem::kKeyNameNotCp932);
      }
      op.path.push_back(std::move(name));
    }
    if (deletion && op.path.empty()) return Fail(RegistryFileProblem::kRootDeleted);
    op.first_line = op.last_line = index_;
    decode_ = true;
    in_key_ = !deletion;
    block_last_ = deletion ? kNoLine : index_;
    (*emit_)(op);
    return true;
  }

  // A line left going on with "\\" at the end of the file (or before its final line end) would
  // take whatever is added after it as its own: a key appended there would become hex data.
  // Every such line is refused, read or not, since text may be appended after any of them.
  bool CheckFileEnd() {
    size_t last = lines_.size() - 1;
    if (last > 0 && lines_.Begin(last) == lines_.End(last)) --last;
    uint32_t first = lines_.FirstChar(last);
    if (last == 0 || first == ';' || first == '[' || first == FileLines::kNoChar) return true;
    SetLine(last);
    uint32_t final_char = 0;
    for (size_t at = line_begin_; at < line_end_;) {
      uint32_t c = At(at, &at);
      if (!IsBlank(c)) final_char = c;
    }
    if (final_char == '\\') return Fail(RegistryFileProblem::kEndsInHex);
    return true;
  }

  // Whether a key line that is not well formed (`parts` split at each "\\", the last name
  // perhaps cut short) starts like a key of the branches that are read, or one below them: the
  // key it was meant to be is then one of those, and it cannot be passed over as another's.
  bool StartsLikeBranch(const std::vector<std::string_view>& parts) const {
    RootKey root;
    if (parts.size() == 1) {
      std::string name;
      if (parts[0].empty() || !FileTextToStore(format_, parts[0], &name)) return false;
      for (const RegistryBranch& branch : branches_) {
        for (std::string_view full : RootNames(branch.root)) {
          if (Cp932StartsWithNoCase(full, name)) return true;
        }
      }
      return false;
    }
    if (!ParseRoot(parts[0], &root)) return false;
    std::vector<std::string> names;
    for (size_t i = 1; i < parts.size(); ++i) {
      if (!FileTextToStore(format_, parts[i], &names.emplace_back())) return false;
    }
    for (size_t b = 0; b < branches_.size(); ++b) {
      if (branches_[b].root != root) continue;
      const std::vector<std::string>& wanted = branch_names_[b];
      bool like = true;
      for (size_t i = 0; like && i < names.size() && i < wanted.size(); ++i) {
        bool cut_short = i + 1 == names.size() && names.size() <= wanted.size();
        like = cut_short ? Cp932StartsWithNoCase(wanted[i], names[i])
                         : Cp932EqualNoCase(wanted[i], names[i]);
      }
      if (like) return true;
    }
    return false;
  }

  static std::vector<std::string_view> RootNames(RootKey root) {
    if (root == RootKey::kLocalMachine) return {"HKEY_LOCAL_MACHINE", "HKLM"};
    return {"HKEY_CURRENT_USER", "HKCU"};
  }

  // The block of the key that is open ends at least at the current line.
  void ExtendBlock() {
    if (block_last_ != kNoLine) block_last_ = index_;
  }

  // The block of the key that is open (if any) ends.
  void EndBlock() {
    if (block_last_ == kNoLine) return;
    Operation op;
    op.kind = Operation::Kind::kEndBlock;
    op.last_line = block_last_;
    block_last_ = kNoLine;
    (*emit_)(op);
  }

  // `pos` is at "@" or at the opening quote of the name.
  bool ValueLine(size_t pos) {
    if (!in_key_) {
      return Fail(RegistryFileProblem::kValueOutsideKey);
    }
    Operation op;
    op.first_line = index_;
    if (At(pos, &pos) == '"') {
      StoreText name(format_, &op.name);
      QuoteResult quoted = ReadQuoted(&pos, &name);
      if (quoted == QuoteResult::kUnterminated) return Fail(RegistryFileProblem::kNameUnterminated);
      if (quoted == QuoteResult::kBadEscape) {
        return Fail(RegistryFileProblem::kNameBadEscape);
      }
      if (!name.Finish()) {
        return Fail(RegistryFileProblem::kNameNotCp932);
      }
    }
    pos = SkipBlanks(pos);
    if (pos == line_end_ || At(pos) != '=') return Fail(RegistryFileProblem::kNoEquals);
    pos = SkipBlanks(After(pos));
    if (pos == line_end_) return Fail(RegistryFileProblem::kNoData);

    uint32_t first = At(pos);
    size_t after = pos;
    if (first == '-') {
      if (!RestIsEmpty(After(pos))) return Fail(RegistryFileProblem::kTextAfterDash);
      op.kind = Operation::Kind::kDeleteValue;
    } else if (first == '"') {
      pos = After(pos);
      // Room for the text at once: growing by doubling would hold a long one twice over.
      op.data.reserve((line_end_ - pos) / UnitSize(format_) + 1);
      StoreText text(format_, &op.data);
      QuoteResult quoted = ReadQuoted(&pos, &text);
      if (quoted == QuoteResult::kUnterminated)
        return Fail(RegistryFileProblem::kStringUnterminated);
      if (quoted == QuoteResult::kBadEscape) return Fail(RegistryFileProblem::kStringBadEscape);
      if (!RestIsEmpty(pos)) return Fail(RegistryFileProblem::kTextAfterString);
      if (!text.Finish()) return Fail(RegistryFileProblem::kStringNotCp932);
      op.data.push_back('\0');
      op.kind = Operation::Kind::kSetValue;
      op.type = kRegSz;
    } else if (MatchesNoCase(pos, "dword:", &after)) {
      pos = after;
      uint32_t value = 0;
      size_t digits = HexNumber(&pos, 8, &value);
      if (digits == 0 || digits > 8 || !RestIsEmpty(pos)) {
        return Fail(RegistryFileProblem::kBadDword);
      }
      op.kind = Operation::Kind::kSetValue;
      op.type = kRegDword;
      op.data = DwordData(value);
    } else if (MatchesNoCase(pos, "hex", &after)) {
      pos = after;
      op.type = kRegBinary;
      if (pos < line_end_ && At(pos) == '(') {
        pos = After(pos);
        uint32_t type = 0;
        size_t digits = HexNumber(&pos, 8, &type);
        if (digits == 0 || digits > 8 || pos == line_end_ || At(pos) != ')') {
          return Fail(RegistryFileProblem::kBadHexType);
        }
        pos = After(pos);
        op.type = type;
      }
      if (pos == line_end_ || At(pos) != ':') return Fail(RegistryFileProblem::kNoHexColon);
      if (!ReadHexBytes(After(pos), &op.data)) return false;
      if (format_ == Format::kVersion5 &&
          (op.type == kRegSz || op.type == kRegExpandSz || op.type == kRegMultiSz)) {
        // The file holds these as UTF-16LE; the store holds them in code page 932.
        if (op.data.size() % 2 != 0) {
          return FailAt(op.first_line, RegistryFileProblem::kOddText);
        }
        std::string converted;
        converted.reserve(op.data.size() / 2);
        if (!Utf16ToStore(op.data, &converted)) {
          return FailAt(op.first_line, RegistryFileProblem::kTextNotCp932);
        }
        op.data = std::move(converted);
      }
      op.kind = Operation::Kind::kSetValue;
    } else {
      return Fail(RegistryFileProblem::kUnknownData);
    }
    op.last_line = index_;
    ExtendBlock();
    (*emit_)(op);
    return true;
  }

  // Reads comma-separated hex bytes from `pos`, going on to the next line after a "\" at the
  // end of one. Leaves index_ (and the line) at the last line read.
  bool ReadHexBytes(size_t pos, std::string* data) {
    bool expect_byte = true;  // at the start or after a comma
    for (;;) {
      pos = SkipBlanks(pos);
      if (pos == line_end_) return true;
      size_t next;
      uint32_t c = At(pos, &next);
      if (c == ';') return true;
      if (expect_byte && c == '\\' && SkipBlanks(next) == line_end_) {
        if (index_ + 1 >= lines_.size()) return Fail(RegistryFileProblem::kEndsInHex);
        SetLine(index_ + 1);
        if (!CheckNul()) return false;
        pos = line_begin_;
        continue;
      }
      if (!expect_byte) {
        if (c != ',') return Fail(RegistryFileProblem::kHexNotCommas);
        pos = next;
        expect_byte = true;
        continue;
      }
      uint32_t value = 0;
      size_t digits = HexNumber(&pos, 2, &value);
      if (digits == 0) return Fail(RegistryFileProblem::kBadHexByte);
      if (digits > 2) return Fail(RegistryFileProblem::kHexByteTooLong);
      data->push_back(static_cast<char>(value));
      expect_byte = false;
    }
  }

  Format format_;
  std::string_view bytes_;
  const FileLines& lines_;
  const std::vector<RegistryBranch>& branches_;
  std::vector<std::vector<std::string>> branch_names_;
  bool branches_valid_ = true;
  const Emit* emit_ = nullptr;
  size_t index_ = 0;
  size_t line_begin_ = 0, line_end_ = 0;
  std::string_view line_;        // the file up to the current line's end
  bool decode_;                  // the lines that follow belong to a key that is read
  bool in_key_ = false;          // ... and it is opened, not deleted
  size_t block_last_ = kNoLine;  // the last line so far of the block of the key that is open
  RegistryFileError error_;
};

// The first line, trimmed, with characters outside ASCII as 0x7F; enough of it to tell.
std::string Header(std::string_view bytes, const FileLines& lines) {
  std::string_view text = bytes.substr(0, lines.End(0));
  std::string header;
  size_t blanks = 0;  // blanks not yet known to be inside the text
  for (size_t at = lines.Begin(0); at < text.size() && header.size() < 256;) {
    uint32_t c = CharAt(lines.format(), text, at, &at);
    if (IsBlank(c)) {
      if (!header.empty()) ++blanks;
      continue;
    }
    header.append(blanks, ' ');
    blanks = 0;
    header.push_back(c < 0x80 ? static_cast<char>(c) : '\x7f');
  }
  return header;
}

void CompactAll(Node* node) {
  node->Compact();
  for (const auto& child : node->children()) CompactAll(child.second.get());
}

// Applies the operations of a file, in order, to a store.
class Applier {
 public:
  Applier(MemoryRegistry* registry, BranchesHeld held)
      : registry_(registry), held_(std::move(held)) {}

  void operator()(Operation& op) {
    switch (op.kind) {
      case Operation::Kind::kOpenKey: {
        Node* node = &registry_->Root(op.root);
        std::vector<std::string_view> names;
        for (const std::string& name : op.path) {
          names.push_back(name);
          // A key that is only checked is not held; the keys above a held branch are, so that
          // whether they exist is known.
          if (held_.Of(op.root, names) == Holding::kNone) {
            current_ = nullptr;
            return;
          }
          Node* child = node->FindChild(name);
          if (!child) {
            child = node->AddChild(name);
            child->SetOrigin(registry_file_origin::kKeyInFile);
          }
          node = child;
        }
        current_ = node;
        // A key above a held branch is held without its values.
        if (held_.Of(op.root, names) != Holding::kWhole) {
          current_ = nullptr;
          return;
        }
        node->SetOrigin(registry_file_origin::OfKey(op.first_line));
        break;
      }
      case Operation::Kind::kEndBlock:
        break;  // the write-back finds the block's end from its key line
      case Operation::Kind::kDeleteKey: {
        current_ = nullptr;
        Node* parent = &registry_->Root(op.root);
        for (size_t i = 0; parent && i + 1 < op.path.size(); ++i) {
          parent = parent->FindChild(op.path[i]);
        }
        if (parent) (void)parent->RemoveChild(op.path.back());
        break;
      }
      case Operation::Kind::kSetValue:
        if (current_) {
          current_->PutValueAsRead(op.name, op.type, op.data,
                                   registry_file_origin::OfValue(op.first_line));
        }
        break;
      case Operation::Kind::kDeleteValue:
        // Deleting a value that is not there is no error, as for the registry editor.
        if (current_) (void)current_->RemoveValue(op.name);
        break;
    }
  }

  void Finish() {
    for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser}) {
      Node& top = registry_->Root(root);
      if (top.origin() == MemoryRegistry::kNoOrigin)
        top.SetOrigin(registry_file_origin::kKeyInFile);
    }
    CompactAll(&registry_->Root(RootKey::kLocalMachine));
    CompactAll(&registry_->Root(RootKey::kCurrentUser));
  }

 private:
  MemoryRegistry* registry_;
  BranchesHeld held_;
  Node* current_ = nullptr;
};

}  // namespace

RegistryFileLoadResult LoadRegistryFile(std::string_view bytes, MemoryRegistry* registry,
                                        const std::vector<RegistryBranch>& branches,
                                        const std::vector<RegistryBranch>& checked_only) {
  RegistryFileLoadResult result;
  FileLines lines(bytes);
  result.format = lines.format();
  if (lines.cut_off()) {
    result.error = RegistryFileError{static_cast<int>(lines.size()),
                                     RegistryFileProblemText(RegistryFileProblem::kUtf16Cut, {}),
                                     RegistryFileProblem::kUtf16Cut,
                                     {}};
    return result;
  }
  std::string first = Header(bytes, lines);
  std::string_view expected = result.format == Format::kRegedit4 ? kHeader4 : kHeader5;
  if (first != expected) {
    RegistryFileProblem problem = RegistryFileProblem::kNotRegFile;
    if (result.format == Format::kRegedit4 && first == kHeader5) {
      problem = RegistryFileProblem::kVersion5Not16;
    } else if (result.format == Format::kVersion5 && first == kHeader4) {
      problem = RegistryFileProblem::kRegedit4Is16;
    }
    result.error = RegistryFileError{1, RegistryFileProblemText(problem, {}), problem, {}};
    return result;
  }

  // Read twice: once to check every line, and once to apply them, so that a refused file
  // leaves the store as it was without holding the whole file's operations meanwhile.
  // Both passes read the branches that are held and those only checked; the store takes only
  // what it holds (HoldOnly, before anything is applied).
  RegistryFileError error;
  std::vector<RegistryBranch> checked = branches;
  if (!branches.empty()) checked.insert(checked.end(), checked_only.begin(), checked_only.end());
  if (!Parser(bytes, lines, checked).Run([](Operation&) {}, &error)) {
    result.error = error;
    return result;
  }
  Applier applier(registry, BranchesHeld(branches));
  if (!Parser(bytes, lines, checked).Run(std::ref(applier), &error)) {
    result.error = error;  // cannot be: the same lines were accepted above
    return result;
  }
  applier.Finish();
  return result;
}

bool EachRegistryFileItem(std::string_view bytes, const FileLines& lines,
                          const RegistryBranch& branch,
                          const std::function<void(RegistryFileItem&)>& each) {
  if (lines.cut_off() || lines.size() == 0) return false;
  RegistryFileError error;
  std::vector<RegistryBranch> branches{branch};
  RegistryFileItem item;
  return Parser(bytes, lines, branches)
      .Run(
          [&](Operation& op) {
            switch (op.kind) {
              case Operation::Kind::kOpenKey:
                item.kind = RegistryFileItem::Kind::kKey;
                item.path = std::move(op.path);
                break;
              case Operation::Kind::kSetValue:
                item.kind = RegistryFileItem::Kind::kValue;
                item.name = std::move(op.name);
                break;
              case Operation::Kind::kEndBlock:
                item.kind = RegistryFileItem::Kind::kBlockEnd;
                break;
              case Operation::Kind::kDeleteKey:
                item.kind = RegistryFileItem::Kind::kKeyDeletion;
                item.path = std::move(op.path);
                break;
              case Operation::Kind::kDeleteValue:
                item.kind = RegistryFileItem::Kind::kValueDeletion;
                item.name = std::move(op.name);
                break;
            }
            item.first_line = op.first_line;
            item.last_line = op.last_line;
            each(item);
          },
          &error);
}

std::string RegistryFileProblemText(RegistryFileProblem problem, std::string_view detail) {
  static constexpr struct {
    RegistryFileProblem problem;
    std::string_view text;
  } kTexts[] = {
      {RegistryFileProblem::kNotALine, "the line is not a key, a value or a comment"},
      {RegistryFileProblem::kNul, "NUL character in the text"},
      {RegistryFileProblem::kKeyLineUnclosed, "the key line does not end with \"]\""},
      {RegistryFileProblem::kRootKey,
       "unsupported root key \"{0}\" (only HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER)"},
      {RegistryFileProblem::kTooDeep, "the key path is nested deeper than {0} levels"},
      {RegistryFileProblem::kEmptyKeyName, "empty key name in the path"},
      {RegistryFileProblem::kKeyNameNotCp932,
       "a key name has a character with no exact code page 932 form"},
      {RegistryFileProblem::kRootDeleted, "a root key cannot be deleted"},
      {RegistryFileProblem::kEndsInHex, "the file ends inside continued hex data"},
      {RegistryFileProblem::kValueOutsideKey,
       "a value line outside a key (before any key, or after a deleted one)"},
      {RegistryFileProblem::kNameUnterminated, "unterminated value name"},
      {RegistryFileProblem::kNameBadEscape, "unknown escape sequence in the value name"},
      {RegistryFileProblem::kNameNotCp932,
       "the value name has a character with no exact code page 932 form"},
      {RegistryFileProblem::kNoEquals, "missing \"=\" after the value name"},
      {RegistryFileProblem::kNoData, "missing value data after \"=\""},
      {RegistryFileProblem::kTextAfterDash, "text after \"-\""},
      {RegistryFileProblem::kStringUnterminated, "unterminated string"},
      {RegistryFileProblem::kStringBadEscape, "unknown escape sequence in the string"},
      {RegistryFileProblem::kTextAfterString, "text after the closing quote of the string"},
      {RegistryFileProblem::kStringNotCp932,
       "the string has a character with no exact code page 932 form"},
      {RegistryFileProblem::kBadDword, "bad dword value (one to eight hex digits)"},
      {RegistryFileProblem::kBadHexType, "bad value type in hex(...) (one to eight hex digits)"},
      {RegistryFileProblem::kNoHexColon, "missing \":\" after hex"},
      {RegistryFileProblem::kOddText, "text data of an odd number of bytes"},
      {RegistryFileProblem::kTextNotCp932,
       "text data with a character with no exact code page 932 form"},
      {RegistryFileProblem::kUnknownData, "unknown kind of value data"},
      {RegistryFileProblem::kHexNotCommas, "bad hex data (bytes must be separated by commas)"},
      {RegistryFileProblem::kBadHexByte, "bad hex byte"},
      {RegistryFileProblem::kHexByteTooLong, "bad hex byte (too many digits)"},
      {RegistryFileProblem::kUtf16Cut, "the UTF-16 text ends in the middle of a character"},
      {RegistryFileProblem::kVersion5Not16,
       "a version 5 file must be UTF-16 text with a byte order mark"},
      {RegistryFileProblem::kRegedit4Is16, "a REGEDIT4 file must be 8-bit text, not UTF-16"},
      {RegistryFileProblem::kNotRegFile,
       "not a registry editor file (the first line is not \"REGEDIT4\" or \"Windows Registry "
       "Editor Version 5.00\")"},
  };
  for (const auto& t : kTexts) {
    if (t.problem != problem) continue;
    std::string text(t.text);
    if (size_t at = text.find("{0}"); at != std::string::npos) text.replace(at, 3, detail);
    return text;
  }
  return std::string(detail);
}

}  // namespace kdr
