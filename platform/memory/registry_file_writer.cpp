#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/cp932.h"
#include "platform/hex_text.h"
#include "platform/memory/registry_file.h"
#include "platform/memory/registry_file_items.h"
#include "platform/memory/registry_file_lines.h"
#include "platform/memory/registry_text.h"
#include "platform/text_encoding.h"

namespace kdr {
namespace {

using namespace registry_text;
using Node = MemoryRegistry::Node;
using Value = MemoryRegistry::Value;

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kMachineName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kUserName = "HKEY_CURRENT_USER";
// Hex data is wrapped once a line reaches this many columns, leaving room for ",\".
constexpr size_t kHexWrapColumn = 77;

std::string_view RootName(RootKey root) {
  return root == RootKey::kLocalMachine ? kMachineName : kUserName;
}

// The bytes of a file being written, handed to `put` in pieces of about kPiece bytes; with no
// `put` they are only counted (a check that writes nothing).
class Output {
 public:
  static constexpr size_t kPiece = 1 << 20;

  Output(Format format, const PutBytes* put) : format_(format), put_(put) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  Format format() const { return format_; }
  bool ok() const { return ok_; }

  // One character of the file's text, or ASCII text, in the file's encoding.
  void Char(uint32_t c) { AppendFileChar(format_, c, &text_); }
  void Ascii(std::string_view text) {
    for (char c : text) Char(static_cast<unsigned char>(c));
  }
  // Bytes already in the file's encoding.
  void Raw(std::string_view bytes) {
    if (bytes.size() < kPiece) {
      text_.append(bytes);
      Spill();
      return;
    }
    Flush();
    Hand(bytes);
  }
  // Hands the bytes on once there are enough of them.
  void Spill() {
    if (text_.size() >= kPiece) Flush();
  }
  bool Flush() {
    Hand(text_);
    text_.clear();
    return ok_;
  }

 private:
  void Hand(std::string_view bytes) {
    if (ok_ && put_ && !bytes.empty()) ok_ = (*put_)(bytes);
  }

  Format format_;
  const PutBytes* put_;
  std::string text_;
  bool ok_ = true;
};

// Key and value lines as the registry editor writes them, in one format and with one line end
// (used inside the hex data of a value that goes on over several lines).
class Renderer {
 public:
  Renderer(Format format, std::string eol) : format_(format), eol_(std::move(eol)) {}

  Format format() const { return format_; }
  const std::string& eol() const { return eol_; }

  const char* FormatName() const {
    return format_ == Format::kRegedit4 ? "a REGEDIT4 file" : "a version 5 file";
  }

  // Appends a key name that can stand between backslashes, in the file's encoding.
  bool KeyName(std::string_view name, std::string* out) const {
    if (name.empty()) return false;
    std::string bytes;
    bool ok = true;
    Stability stability;
    if (!StoreToChars(format_, name, [&](uint32_t c) {
          if (c == '\\' || c == '\r' || c == '\n' || c == 0) ok = false;
          ok = ok && stability.Next(format_, c);
          AppendFileChar(format_, c, &bytes);
        })) {
      return false;
    }
    // Followed by "\" or "]", which a lone lead byte at its end would swallow.
    if (!ok || !stability.Next(format_, ']')) return false;
    out->append(bytes);
    return true;
  }

  // Writes the value's line (or lines, for long hex data), without a final line end. False,
  // with nothing written, when the name cannot be written; *text_problem is set instead when
  // only the data cannot. Everything is checked before the first byte is written.
  bool ValueLines(const Value& value, Output* out, bool* text_problem) const {
    return ValueLines(value.name(), value.type(), value.data(), out, text_problem);
  }
  bool ValueLines(std::string_view value_name, uint32_t type, std::string_view data, Output* out,
                  bool* text_problem) const {
    *text_problem = false;
    std::string name;
    if (value_name.empty()) {
      AppendFileChar(format_, '@', &name);
    } else {
      // A name cannot fall back to hex, so line breaks in it are written as Wine writes them.
      Output quoted(format_, nullptr);
      if (!Quote(value_name, true, &quoted, &name)) return false;
    }
    std::string_view text = data.substr(0, data.empty() ? 0 : data.size() - 1);
    Output check(format_, nullptr);
    bool as_string = type == kRegSz && !data.empty() && data.find('\0') == data.size() - 1 &&
                     Quote(text, false, &check, nullptr);
    bool as_dword = type == kRegDword && data.size() == 4;
    // The file holds these as UTF-16LE; the store holds them in code page 932.
    bool utf16 = format_ == Format::kVersion5 &&
                 (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz);
    if (!as_string && !as_dword && utf16 && !StoreToChars(format_, data, nullptr)) {
      *text_problem = true;
      return false;
    }

    out->Raw(name);
    out->Char('=');
    if (as_string) {
      (void)Quote(text, false, out, nullptr);
      return true;
    }
    if (as_dword) {
      uint32_t number = static_cast<unsigned char>(data[0]) |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[1])) << 8 |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[2])) << 16 |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[3])) << 24;
      out->Ascii("dword:");
      AppendHexNumber(number, 8, out);
      return true;
    }
    size_t columns = name.size() / UnitSize(format_) + 1;
    if (type == kRegBinary) {
      out->Ascii("hex:");
      columns += 4;
    } else {
      out->Ascii("hex(");
      columns += 6 + AppendHexNumber(type, 0, out);
      out->Ascii("):");
    }
    HexLines hex{this, out, columns};
    if (!utf16) {
      hex.Bytes(data);
      return true;
    }
    std::string units;
    (void)StoreToChars(format_, data, [&](uint32_t c) {
      AppendFileChar(format_, c, &units);
      if (units.size() >= Output::kPiece) {
        hex.Bytes(units);
        units.clear();
      }
    });
    hex.Bytes(units);
    return true;
  }

 private:
  // Whether the bytes of REGEDIT4 characters read back as the same characters: a lone lead byte
  // would pair with a following "\", "]" or escape.
  struct Stability {
    bool lone_lead = false;
    bool Next(Format format, uint32_t c) {
      if (format != Format::kRegedit4) return true;
      unsigned char first = static_cast<unsigned char>((c & kDoubleByte) ? c >> 8 : c);
      bool ok = !(lone_lead && IsCp932TrailByte(first));
      lone_lead = !(c & kDoubleByte) && IsCp932LeadByte(first);
      return ok;
    }
  };

  // Hex data wrapped as the registry editor does: after the comma that takes a line to the
  // wrap column, a "\" and a new line indented by two spaces.
  struct HexLines {
    const Renderer* renderer;
    Output* out;
    size_t columns;
    bool first = true;
    void Bytes(std::string_view bytes) {
      for (char byte : bytes) {
        if (!first) {
          out->Char(',');
          columns += 3;
          if (columns >= kHexWrapColumn) {
            out->Char('\\');
            out->Raw(renderer->eol_);
            out->Ascii("  ");
            columns = 2;
          }
        }
        first = false;
        AppendHexNumber(static_cast<unsigned char>(byte), 2, out);
        out->Spill();
      }
    }
  };

  // Writes `text` quoted, with escapes, to *out (and, when given, appends its bytes to *kept).
  // False when it holds a NUL, a line break and !allow_breaks, or text the format cannot hold;
  // the part before is then written already.
  bool Quote(std::string_view text, bool allow_breaks, Output* out, std::string* kept) const {
    bool ok = true;
    Stability stability;
    size_t start = 0;
    auto put = [&](uint32_t c) {
      ok = ok && stability.Next(format_, c);
      if (kept) AppendFileChar(format_, c, kept);
      out->Char(c);
    };
    put('"');
    if (!StoreToChars(format_, text, [&](uint32_t c) {
          if (!ok) return;
          if (c == 0) {
            ok = false;
          } else if (c == '\\' || c == '"') {
            put('\\');
            put(c);
          } else if (c == '\n' || c == '\r') {
            ok = allow_breaks;
            put('\\');
            put(c == '\n' ? 'n' : 'r');
          } else {
            put(c);
          }
          if (++start % 4096 == 0) out->Spill();
        })) {
      return false;
    }
    put('"');
    return ok;
  }

  // Lower-case hex digits, at least `width` of them; returns how many.
  static size_t AppendHexNumber(uint32_t number, int width, Output* out) {
    char digits[8];
    int count = 0;
    do {
      digits[count++] = kHexDigits[number & 0xf];
      number >>= 4;
    } while (number != 0);
    while (count < width && count < 8) digits[count++] = '0';
    size_t written = static_cast<size_t>(count);
    while (count > 0) out->Char(static_cast<unsigned char>(digits[--count]));
    return written;
  }

  Format format_;
  std::string eol_;
};

// Key lines along a walk: the "[root\a\b" of a key's parents is kept, so that each name is
// converted and checked once, not once for every key below it (a deep branch would otherwise
// cost its depth squared in conversions).
class KeyLines {
 public:
  explicit KeyLines(const Renderer& renderer) : renderer_(renderer) {}

  // The key's line in the file's encoding, without a line end; the names of `path` must stay
  // where they are during the walk.
  bool Line(std::string_view root_name, const std::vector<std::string_view>& path,
            std::string* line) {
    Format format = renderer_.format();
    if (root_name != root_) {
      root_ = root_name;
      prefix_.clear();
      AppendFileChar(format, '[', &prefix_);
      for (char c : root_name) AppendFileChar(format, static_cast<unsigned char>(c), &prefix_);
      names_.clear();
      ends_.assign(1, prefix_.size());
    }
    size_t same = 0;
    while (same < names_.size() && same < path.size() && names_[same].data() == path[same].data() &&
           names_[same].size() == path[same].size()) {
      ++same;
    }
    names_.resize(same);
    ends_.resize(same + 1);
    prefix_.resize(ends_.back());
    for (size_t i = same; i < path.size(); ++i) {
      AppendFileChar(format, '\\', &prefix_);
      if (!renderer_.KeyName(path[i], &prefix_)) {
        prefix_.resize(ends_.back());
        return false;
      }
      names_.push_back(path[i]);
      ends_.push_back(prefix_.size());
    }
    *line = prefix_;
    AppendFileChar(format, ']', line);
    return true;
  }

 private:
  const Renderer& renderer_;
  std::string_view root_;
  std::string prefix_;
  std::vector<std::string_view> names_;  // the names in prefix_
  std::vector<size_t> ends_;             // prefix_'s size after 0, 1, ... of them
};

std::string DisplayPath(std::string_view root_name, const std::vector<std::string_view>& path) {
  std::string shown(root_name);
  for (std::string_view name : path) {
    shown += '\\';
    shown += Cp932ForDisplay(name);
  }
  return shown;
}

std::string KeyError(const Renderer& renderer, std::string_view root_name,
                     const std::vector<std::string_view>& path) {
  return "the name of key " + DisplayPath(root_name, path) + " cannot be written in " +
         renderer.FormatName();
}

std::string ValueError(const Renderer& renderer, std::string_view root_name,
                       const std::vector<std::string_view>& path, const Value& value,
                       bool text_problem) {
  if (text_problem) {
    return "value \"" + Cp932ForDisplay(value.name()) + "\" in key " +
           DisplayPath(root_name, path) + " holds text that " + renderer.FormatName() +
           " cannot hold unchanged";
  }
  return "the name of value \"" + Cp932ForDisplay(value.name()) + "\" in key " +
         DisplayPath(root_name, path) + " cannot be written in " + renderer.FormatName();
}

// Walks a branch depth first, parents before children, subkeys in the store's order; `visit`
// gets each key with its path below the root and returns false to stop.
template <typename Visit>
bool WalkBranch(const Node& top, std::vector<std::string_view> path, Visit visit) {
  struct Pending {
    const Node* node;
    size_t depth;
  };
  size_t base = path.size();
  std::vector<Pending> stack{{&top, base}};
  while (!stack.empty()) {
    Pending pending = stack.back();
    stack.pop_back();
    path.resize(pending.depth);
    if (pending.depth > base) path.back() = pending.node->name();
    if (!visit(*pending.node, path)) return false;
    const auto& children = pending.node->children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      stack.push_back(Pending{it->second.get(), pending.depth + 1});
    }
  }
  return true;
}

std::string CrLf(Format format) {
  std::string eol;
  AppendFileChar(format, '\r', &eol);
  AppendFileChar(format, '\n', &eol);
  return eol;
}

// A value a write-back writes anew: changed since it was read, and not a gap.
bool Rewritten(const Value& value) { return value.changed() && !value.removed(); }

// A value a write-back adds (it has no lines in the file yet).
bool Added(const Value& value) {
  return Rewritten(value) && !registry_file_origin::IsLine(value.origin());
}

// One change to the original bytes: [begin, end) replaced by what `kind` writes (nothing for a
// removal). What is written is only rendered when the file is written, so that no long value
// is held a second time.
struct Edit {
  enum class Kind { kRemove, kValue, kAddedValues, kNewBlocks };
  size_t begin;
  size_t end;
  Kind kind;
  const Node* node = nullptr;    // kAddedValues: the key whose block gets them
  const Value* value = nullptr;  // kValue
  size_t order = 0;              // insertions at one place stay in the order they were made
  size_t line = 0;               // kRemove of a block: its key line, which `begin` starts
};

// Key paths as one text to look up without regard to case: each name upper-cased and ended
// with a NUL (which no name holds; a "\\" can be a name's second byte).
std::string PathKey(const std::vector<std::string>& path, size_t count) {
  std::string key;
  for (size_t i = 0; i < count; ++i) {
    key += Cp932UpperCase(path[i]);
    key += '\0';
  }
  return key;
}

// The write-back of one branch: what to change is found and checked first, and only then is
// anything written.
class WriteBack {
 public:
  WriteBack(std::string_view original, const MemoryRegistry& registry, const RegistryBranch& branch)
      : original_(original),
        lines_(original),
        registry_(registry),
        branch_(branch),
        renderer_(lines_.format(), lines_.Eol()),
        root_name_(RootName(branch.root)) {}

  // The edits, every one checked; false with *error when one cannot be written.
  bool Plan(RegistryFileError* error) {
    // The branch's path as the store spells it.
    std::vector<std::string_view> wanted;
    if (!SplitCp932Path(branch_.path, &wanted)) {
      *error = SaveError("the branch to write is not a key path");
      return false;
    }
    top_ = &registry_.Root(branch_.root);
    for (std::string_view name : wanted) {
      top_ = top_->FindChild(name);
      if (!top_) break;
      branch_path_.push_back(top_->name());
    }
    if (!PlanRemovals(error)) return false;
    if (!top_) return true;
    KeyLines key_lines(renderer_);
    Output check(renderer_.format(), nullptr);
    std::string line;
    bool new_blocks = false;
    bool ok = WalkBranch(
        *top_, branch_path_, [&](const Node& node, const std::vector<std::string_view>& path) {
          bool any_added = false;
          for (const Value& value : node.values()) {
            if (!Rewritten(value)) continue;
            bool text_problem = false;
            if (!renderer_.ValueLines(value, &check, &text_problem)) {
              *error = SaveError(ValueError(renderer_, root_name_, path, value, text_problem));
              return false;
            }
            if (!registry_file_origin::IsLine(value.origin())) {
              any_added = true;
            } else {
              Add(lines_.Begin(value.origin()), lines_.End(origins_.LastLine(value.origin())),
                  Edit::Kind::kValue, &node, &value);
            }
          }
          if (HasBlock(node)) {
            if (any_added) {
              size_t at = lines_.End(origins_.LastLine(node.origin()));
              Add(at, at, Edit::Kind::kAddedValues, &node, nullptr);
            }
          } else if (GetsBlock(node, any_added)) {
            if (!key_lines.Line(root_name_, path, &line)) {
              *error = SaveError(KeyError(renderer_, root_name_, path));
              return false;
            }
            new_blocks = true;
          }
          return true;
        });
    if (!ok) return false;
    if (new_blocks) {
      size_t at = lines_.End(lines_.size() - 1);
      Add(at, at, Edit::Kind::kNewBlocks, nullptr, nullptr);
    }
    return true;
  }

  // A file that ends without a line end gets its new blocks without a final one (NewBlocks),
  // so the blocks that end such a file, when removed, take the line end before them: what a
  // Migrate added and an undo took back leaves the file's end as it was.
  void KeepOpenEnd() {
    // The edits are in file order; the removals that end the file follow one another.
    if (!OpenEnd() || edits_.empty()) return;
    const Edit& last = edits_.back();
    if (last.kind != Edit::Kind::kRemove || last.end != original_.size()) return;
    size_t first = edits_.size() - 1;
    while (first > 0 && edits_[first - 1].kind == Edit::Kind::kRemove &&
           edits_[first - 1].end >= edits_[first].begin) {
      --first;
    }
    Edit& edit = edits_[first];
    if (edit.line > 0 && edit.begin == lines_.Begin(edit.line)) {
      edit.begin = lines_.End(edit.line - 1);
    }
  }

  // The file with the edits made, handed to `put` in pieces; false when `put` refused one.
  bool Write(const PutBytes& put) {
    // Insertions at a place come before a removal that starts there.
    std::sort(edits_.begin(), edits_.end(), [](const Edit& a, const Edit& b) {
      if (a.begin != b.begin) return a.begin < b.begin;
      if (a.end != b.end) return a.end < b.end;
      return a.order < b.order;
    });
    KeepOpenEnd();
    Output out(renderer_.format(), &put);
    size_t at = 0;
    bool text_problem = false;
    for (const Edit& edit : edits_) {
      out.Raw(original_.substr(at, edit.begin - at));
      at = edit.end;
      switch (edit.kind) {
        case Edit::Kind::kRemove:
          break;
        case Edit::Kind::kValue:
          (void)renderer_.ValueLines(*edit.value, &out, &text_problem);
          break;
        case Edit::Kind::kAddedValues:
          AddedValues(*edit.node, &out);
          break;
        case Edit::Kind::kNewBlocks:
          NewBlocks(&out);
          break;
      }
      if (!out.ok()) return false;
    }
    out.Raw(original_.substr(at));
    return out.Flush();
  }

 private:
  static bool HasBlock(const Node& node) { return registry_file_origin::IsLine(node.origin()); }
  // A key without a block gets one when it is new or has new values.
  static bool GetsBlock(const Node& node, bool any_added) {
    return node.origin() == MemoryRegistry::kNoOrigin || any_added;
  }

  void Add(size_t begin, size_t end, Edit::Kind kind, const Node* node, const Value* value) {
    edits_.push_back(Edit{begin, end, kind, node, value, edits_.size()});
  }

  // The last line has text and no line end after it.
  bool OpenEnd() const {
    size_t last = lines_.size() - 1;
    return lines_.Begin(last) != lines_.End(last);
  }

  // A removal found, kept back until the whole file is read: a "[-key]" line of its key (or one
  // above it), or a "name"=- line of its value, later in the file means the store's lack of it
  // comes from that line, and the user's line stays as it is.
  struct Removal {
    size_t begin, end;
    size_t block;      // its block, in file order
    size_t line;       // its first line
    bool whole_block;  // else a value
    std::string name;  // of the value
  };

  // The blocks of keys and the lines of values that the store no longer holds go. A value's
  // line goes with the line end before it (of a line of its own block), so that new values put
  // at the end of that line stay in the file.
  bool PlanRemovals(RegistryFileError* error) {
    const Node* block_node = nullptr;
    bool block_goes = false;
    size_t block_first = 0;
    // The key of each block that has a removal (a large file's every key is not held twice).
    std::vector<std::vector<std::string>> blocks;
    std::vector<std::string> block_path;
    size_t block_index = 0;  // of block_path in blocks, when it is there
    auto this_block = [&]() {
      if (block_index == blocks.size()) blocks.push_back(block_path);
      return block_index;
    };
    std::vector<Removal> removals;
    std::map<std::string, size_t> key_deleted;  // PathKey: the last line deleting it
    std::map<std::pair<std::string, std::string>, size_t> value_deleted;
    if (!EachRegistryFileItem(original_, lines_, branch_, [&](RegistryFileItem& item) {
          origins_.Add(item);
          switch (item.kind) {
            case RegistryFileItem::Kind::kValue:
              if (block_node && !block_node->FindValue(item.name)) {
                removals.push_back(Removal{lines_.End(item.first_line - 1),
                                           lines_.End(item.last_line), this_block(),
                                           item.first_line, false, std::move(item.name)});
              }
              break;
            case RegistryFileItem::Kind::kKey:
              block_node = &registry_.Root(branch_.root);
              for (const std::string& name : item.path) {
                block_node = block_node->FindChild(name);
                if (!block_node) break;
              }
              block_goes = !block_node;
              block_first = item.first_line;
              block_path = std::move(item.path);
              block_index = blocks.size();
              break;
            case RegistryFileItem::Kind::kBlockEnd: {
              if (!block_goes) break;
              block_goes = false;
              // A removed block takes the blank line that ends it, as a new block brings its own.
              size_t last = item.last_line;
              if (last + 2 < lines_.size() && lines_.Begin(last + 1) == lines_.End(last + 1)) {
                ++last;
              }
              removals.push_back(Removal{lines_.Begin(block_first),
                                         lines_.Next(last),
                                         this_block(),
                                         block_first,
                                         true,
                                         {}});
              break;
            }
            case RegistryFileItem::Kind::kKeyDeletion:
              key_deleted[PathKey(item.path, item.path.size())] = item.first_line;
              break;
            case RegistryFileItem::Kind::kValueDeletion:
              value_deleted[{PathKey(block_path, block_path.size()), Cp932UpperCase(item.name)}] =
                  item.first_line;
              break;
          }
        })) {
      *error = SaveError("the registry file can no longer be read");
      return false;
    }
    // The last line deleting each block's key or a key above it.
    std::vector<size_t> block_deleted(blocks.size(), 0);
    for (size_t b = 0; !key_deleted.empty() && b < blocks.size(); ++b) {
      for (size_t depth = 1; depth <= blocks[b].size(); ++depth) {
        auto found = key_deleted.find(PathKey(blocks[b], depth));
        if (found != key_deleted.end())
          block_deleted[b] = std::max(block_deleted[b], found->second);
      }
    }
    for (Removal& removal : removals) {
      if (block_deleted[removal.block] > removal.line) continue;
      if (!removal.whole_block && !value_deleted.empty()) {
        const std::vector<std::string>& path = blocks[removal.block];
        auto found = value_deleted.find({PathKey(path, path.size()), Cp932UpperCase(removal.name)});
        if (found != value_deleted.end() && found->second > removal.line) continue;
      }
      Add(removal.begin, removal.end, Edit::Kind::kRemove, nullptr, nullptr);
      if (removal.whole_block) edits_.back().line = removal.line;
    }
    return true;
  }

  // New values at the end of a key's block, each on a line of its own.
  void AddedValues(const Node& node, Output* out) const {
    bool text_problem = false;
    for (const Value& value : node.values()) {
      if (!Added(value)) continue;
      out->Raw(renderer_.eol());
      (void)renderer_.ValueLines(value, out, &text_problem);
    }
  }

  // The keys without a block, at the end of the file. The blank line that ends a block is its
  // own, so no other key's block gains one. A file whose last line has no line end gets one
  // before the first block and keeps its end open: its last block ends without one (KeepOpenEnd).
  void NewBlocks(Output* out) const {
    bool open_end = OpenEnd();
    bool first = true;
    KeyLines key_lines(renderer_);
    std::string line;
    (void)WalkBranch(*top_, branch_path_,
                     [&](const Node& node, const std::vector<std::string_view>& path) {
                       bool any_added = std::any_of(node.values().begin(), node.values().end(),
                                                    [](const Value& v) { return Added(v); });
                       if (HasBlock(node) || !GetsBlock(node, any_added)) return true;
                       if (!key_lines.Line(root_name_, path, &line)) return true;
                       if (!first || open_end) out->Raw(renderer_.eol());
                       if (!first) out->Raw(renderer_.eol());
                       first = false;
                       out->Raw(line);
                       AddedValues(node, out);
                       return out->ok();
                     });
    if (!first && !open_end) {
      out->Raw(renderer_.eol());
      out->Raw(renderer_.eol());
    }
  }

  std::string_view original_;
  FileLines lines_;
  const MemoryRegistry& registry_;
  const RegistryBranch& branch_;
  Renderer renderer_;
  std::string_view root_name_;
  const Node* top_ = nullptr;
  std::vector<std::string_view> branch_path_;
  RegistryFileOrigins origins_;  // the lines of the branch's keys and values
  std::vector<Edit> edits_;
};

}  // namespace

RegistryFileSaveResult SaveRegistryFile(const MemoryRegistry& registry, RegistryFileFormat format) {
  RegistryFileSaveResult result;
  std::string& bytes = result.bytes;
  PutBytes put = [&bytes](std::string_view piece) {
    bytes.append(piece);
    return true;
  };
  Renderer renderer(format, CrLf(format));
  KeyLines key_lines(renderer);
  Output out(format, &put);
  if (format == Format::kVersion5) out.Raw("\xff\xfe");
  out.Ascii(format == Format::kRegedit4 ? kHeader4 : kHeader5);
  out.Raw(renderer.eol());
  std::string line;
  for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser}) {
    std::string_view root_name = RootName(root);
    bool ok = WalkBranch(
        registry.Root(root), {}, [&](const Node& node, const std::vector<std::string_view>& path) {
          // A key without values that has subkeys needs no line of its own: importing its
          // subkeys' lines creates it. Writing it anyway would repeat its path once per level
          // below it, so that a deep key alone would grow the file with the square of its depth.
          bool any = std::any_of(node.values().begin(), node.values().end(),
                                 [](const Value& v) { return !v.removed(); });
          if (!any && (path.empty() || !node.children().empty())) return true;
          if (!key_lines.Line(root_name, path, &line)) {
            result.error = SaveError(KeyError(renderer, root_name, path));
            return false;
          }
          out.Raw(renderer.eol());
          out.Raw(line);
          out.Raw(renderer.eol());
          for (const Value& value : node.values()) {
            if (value.removed()) continue;
            bool text_problem = false;
            if (!renderer.ValueLines(value, &out, &text_problem)) {
              result.error = SaveError(ValueError(renderer, root_name, path, value, text_problem));
              return false;
            }
            out.Raw(renderer.eol());
          }
          return true;
        });
    if (!ok) {
      result.bytes.clear();
      return result;
    }
  }
  out.Raw(renderer.eol());
  (void)out.Flush();
  return result;
}

RegistryFileSaveResult WriteBackRegistryFile(std::string_view original,
                                             const MemoryRegistry& registry,
                                             const RegistryBranch& branch, const PutBytes& put) {
  RegistryFileSaveResult result;
  WriteBack write_back(original, registry, branch);
  RegistryFileError error;
  if (!write_back.Plan(&error)) {
    result.error = error;
  } else if (!write_back.Write(put)) {
    result.error = SaveError("the file could not be written");
  }
  return result;
}

RegistryFileSaveResult WriteBackRegistryFile(std::string_view original,
                                             const MemoryRegistry& registry,
                                             const RegistryBranch& branch) {
  std::string bytes;
  bytes.reserve(original.size());
  RegistryFileSaveResult result =
      WriteBackRegistryFile(original, registry, branch, [&bytes](std::string_view piece) {
        bytes.append(piece);
        return true;
      });
  if (result.ok()) result.bytes = std::move(bytes);
  return result;
}

RegistryLimits RegistryFileLimits(RegistryFileFormat format) {
  auto renderer = std::make_shared<Renderer>(format, CrLf(format));
  RegistryLimits limits;
  limits.key_name = [renderer](std::string_view name) {
    std::string bytes;
    return renderer->KeyName(name, &bytes);
  };
  limits.value = [renderer](std::string_view name, uint32_t type, std::string_view data) {
    Output check(renderer->format(), nullptr);
    bool text_problem = false;
    return renderer->ValueLines(name, type, data, &check, &text_problem);
  };
  return limits;
}

}  // namespace kdr
