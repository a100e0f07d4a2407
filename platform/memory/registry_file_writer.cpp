#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/cp932.h"
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

// Key and value lines as the registry editor writes them, in one format and with one line end
// (used inside the hex data of a value that goes on over several lines).
class Renderer {
 public:
  Renderer(Format format, Chars eol) : format_(format), eol_(std::move(eol)) {}

  Format format() const { return format_; }
  const Chars& eol() const { return eol_; }

  const char* FormatName() const {
    return format_ == Format::kRegedit4 ? "a REGEDIT4 file" : "a version 5 file";
  }

  // A key name that can stand between backslashes.
  bool KeyName(std::string_view name, Chars* out) const {
    Chars chars;
    if (name.empty() || !StoreToChars(format_, name, &chars)) return false;
    for (uint32_t c : chars) {
      if (c == '\\' || c == '\r' || c == '\n' || c == 0) return false;
    }
    // Followed by "\" or "]", which a lone lead byte at its end would swallow.
    chars.push_back(']');
    if (!StableAsBytes(chars, 0)) return false;
    out->insert(out->end(), chars.begin(), chars.end() - 1);
    return true;
  }

  // The value's line (or lines, for long hex data), without a final line end. False when the
  // name cannot be written; *text_problem is set instead when only the data cannot.
  bool ValueLines(const Value& value, Chars* line, bool* text_problem) const {
    *text_problem = false;
    line->clear();
    if (value.name().empty()) {
      line->push_back('@');
    } else {
      Chars name;
      // A name cannot fall back to hex, so line breaks in it are written as Wine writes them.
      if (!StoreToChars(format_, value.name(), &name) || !Quote(name, true, line) ||
          !StableAsBytes(*line, 0)) {
        return false;
      }
    }
    line->push_back('=');

    std::string_view data = value.data();
    if (value.type() == kRegSz && !data.empty() && data.find('\0') == data.size() - 1) {
      Chars text, quoted;
      if (StoreToChars(format_, std::string_view(data).substr(0, data.size() - 1), &text) &&
          Quote(text, false, &quoted) && StableAsBytes(quoted, 0)) {
        line->insert(line->end(), quoted.begin(), quoted.end());
        return true;
      }
      // Otherwise as hex(1), which holds any bytes.
    }
    if (value.type() == kRegDword && data.size() == 4) {
      uint32_t number = static_cast<unsigned char>(data[0]) |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[1])) << 8 |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[2])) << 16 |
                        static_cast<uint32_t>(static_cast<unsigned char>(data[3])) << 24;
      line->insert(line->end(), {'d', 'w', 'o', 'r', 'd', ':'});
      AppendHexNumber(number, 8, line);
      return true;
    }

    std::string converted;
    std::string_view bytes = data;
    if (format_ == Format::kVersion5 &&
        (value.type() == kRegSz || value.type() == kRegExpandSz || value.type() == kRegMultiSz)) {
      Chars text;
      if (!StoreToChars(format_, data, &text)) {
        *text_problem = true;
        return false;
      }
      for (uint32_t c : text) AppendUtf16Bytes(c, &converted);
      bytes = converted;
    }
    if (value.type() == kRegBinary) {
      line->insert(line->end(), {'h', 'e', 'x', ':'});
    } else {
      line->insert(line->end(), {'h', 'e', 'x', '('});
      AppendHexNumber(value.type(), 0, line);
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
        line->push_back('\\');
        line->insert(line->end(), eol_.begin(), eol_.end());
        line->insert(line->end(), {' ', ' '});
        columns = 2;
      }
    }
    return true;
  }

 private:
  // The bytes of chars[from...] in a REGEDIT4 file read back as the same characters (a lone
  // lead byte would otherwise pair with a following "\", "]" or quote-escape).
  bool StableAsBytes(const Chars& chars, size_t from) const {
    if (format_ != Format::kRegedit4) return true;
    std::string bytes;
    AppendDbcsBytes(chars.data() + from, chars.data() + chars.size(), &bytes);
    Chars back;
    AppendDbcsChars(bytes, &back);
    return std::equal(back.begin(), back.end(), chars.begin() + static_cast<ptrdiff_t>(from),
                      chars.end());
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
  Chars eol_;
};

// Key lines along a walk: the "[root\a\b" of a key's parents is kept, so that each name is
// converted and checked once, not once for every key below it (a deep branch would otherwise
// cost its depth squared in conversions).
class KeyLines {
 public:
  explicit KeyLines(const Renderer& renderer) : renderer_(renderer) {}

  // Like Renderer::KeyLine; the names of `path` must stay where they are during the walk.
  bool Line(std::string_view root_name, const std::vector<std::string_view>& path, Chars* line) {
    if (root_name != root_) {
      root_ = root_name;
      prefix_.assign(1, '[');
      prefix_.insert(prefix_.end(), root_name.begin(), root_name.end());
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
      prefix_.push_back('\\');
      if (!renderer_.KeyName(path[i], &prefix_)) {
        prefix_.resize(ends_.back());
        return false;
      }
      names_.push_back(path[i]);
      ends_.push_back(prefix_.size());
    }
    line->assign(prefix_.begin(), prefix_.end());
    line->push_back(']');
    return true;
  }

 private:
  const Renderer& renderer_;
  std::string_view root_;
  Chars prefix_;
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

// A generous guess of a branch's size as REGEDIT4 bytes: paths, names, and data as hex with
// line continuations (the longest form).
size_t EstimatedBytes(const Node& top) {
  size_t total = 64;
  std::vector<std::pair<const Node*, size_t>> stack{{&top, 0}};
  while (!stack.empty()) {
    auto [node, path_size] = stack.back();
    stack.pop_back();
    // Only keys with values and those without subkeys get a line (see SaveRegistryFile).
    if (!node->values().empty() || node->children().empty()) total += path_size + 32;
    for (const Value& value : node->values()) {
      total +=
          value.name().size() * 2 + value.data().size() * 3 + value.data().size() / 25 * 5 + 32;
    }
    for (const auto& child : node->children()) {
      stack.emplace_back(child.second.get(), path_size + child.second->name().size() + 1);
    }
  }
  return total;
}

Chars CrLf() { return Chars{'\r', '\n'}; }

// The file's line end as characters.
Chars EolChars(const FileLines& lines) {
  std::string eol = lines.Eol();
  Chars chars;
  if (lines.format() == Format::kRegedit4) {
    AppendDbcsChars(eol, &chars);
  } else {
    AppendUtf16Chars(eol, &chars);
  }
  return chars;
}

// One change to the original bytes: [begin, end) replaced by `text` (empty for an insertion).
struct Edit {
  size_t begin;
  size_t end;
  std::string text;
  size_t order;  // insertions at one place stay in the order they were made
};

// `original` with `edits` made; insertions at a place come before a removal that starts there.
std::string Apply(std::string_view original, std::vector<Edit>* edits) {
  std::sort(edits->begin(), edits->end(), [](const Edit& a, const Edit& b) {
    if (a.begin != b.begin) return a.begin < b.begin;
    if (a.end != b.end) return a.end < b.end;
    return a.order < b.order;
  });
  size_t size = original.size();
  for (const Edit& edit : *edits) size += edit.text.size();
  std::string bytes;
  bytes.reserve(size);
  size_t at = 0;
  for (const Edit& edit : *edits) {
    bytes.append(original.substr(at, edit.begin - at));
    bytes.append(edit.text);
    at = edit.end;
  }
  bytes.append(original.substr(at));
  return bytes;
}

}  // namespace

RegistryFileSaveResult SaveRegistryFile(const MemoryRegistry& registry, RegistryFileFormat format) {
  RegistryFileSaveResult result;
  Renderer renderer(format, CrLf());
  KeyLines key_lines(renderer);
  std::string& bytes = result.bytes;
  // Room for the whole file at once: growing by doubling would hold up to twice its size.
  size_t estimate = EstimatedBytes(registry.Root(RootKey::kLocalMachine)) +
                    EstimatedBytes(registry.Root(RootKey::kCurrentUser));
  bytes.reserve(format == Format::kVersion5 ? 2 * estimate : estimate);
  Chars text;
  auto put = [&](std::initializer_list<uint32_t> chars) { text.insert(text.end(), chars); };
  if (format == Format::kVersion5) bytes.append("\xff\xfe", 2);
  std::string_view header = format == Format::kRegedit4 ? kHeader4 : kHeader5;
  text.assign(header.begin(), header.end());
  put({'\r', '\n'});
  Chars line;
  for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser}) {
    std::string_view root_name = RootName(root);
    bool ok = WalkBranch(
        registry.Root(root), {}, [&](const Node& node, const std::vector<std::string_view>& path) {
          // A key without values that has subkeys needs no line of its own: importing its
          // subkeys' lines creates it. Writing it anyway would repeat its path once per level
          // below it, so that a deep key alone would grow the file with the square of its depth.
          if (node.values().empty() && (path.empty() || !node.children().empty())) return true;
          if (!key_lines.Line(root_name, path, &line)) {
            result.error = RegistryFileError{0, KeyError(renderer, root_name, path)};
            return false;
          }
          put({'\r', '\n'});
          text.insert(text.end(), line.begin(), line.end());
          put({'\r', '\n'});
          for (const Value& value : node.values()) {
            bool text_problem = false;
            if (!renderer.ValueLines(value, &line, &text_problem)) {
              result.error =
                  RegistryFileError{0, ValueError(renderer, root_name, path, value, text_problem)};
              return false;
            }
            text.insert(text.end(), line.begin(), line.end());
            put({'\r', '\n'});
          }
          // Only one key's text is ever held as characters (four bytes each) at a time.
          AppendFileBytes(format, text, &bytes);
          text.clear();
          return true;
        });
    if (!ok) {
      result.bytes.clear();
      return result;
    }
  }
  put({'\r', '\n'});
  AppendFileBytes(format, text, &bytes);
  return result;
}

RegistryFileSaveResult WriteBackRegistryFile(std::string_view original,
                                             const MemoryRegistry& registry,
                                             const RegistryBranch& branch) {
  RegistryFileSaveResult result;
  FileLines lines(original);
  Format format = lines.format();
  Renderer renderer(format, EolChars(lines));
  KeyLines key_lines(renderer);
  const Chars& eol = renderer.eol();
  std::string_view root_name = RootName(branch.root);
  // The branch's path as the store spells it.
  std::vector<std::string_view> wanted, branch_path;
  if (!SplitCp932Path(branch.path, &wanted)) {
    result.error = RegistryFileError{0, "the branch to write is not a key path"};
    return result;
  }
  const Node* top = &registry.Root(branch.root);
  for (std::string_view name : wanted) {
    top = top->FindChild(name);
    if (!top) break;
    branch_path.push_back(top->name());
  }

  std::vector<Edit> edits;
  // The blocks of keys and the lines of values that the store no longer holds go. A value's
  // line goes with the line end before it (of a line of its own block), so that new values put
  // at the end of that line stay in the file.
  std::vector<RegistryFileItem> items;
  if (!ListRegistryFileItems(original, branch, &items)) {
    result.error = RegistryFileError{0, "the registry file can no longer be read"};
    return result;
  }
  const Node* block_node = nullptr;
  for (const RegistryFileItem& item : items) {
    if (item.is_value) {
      if (block_node && !block_node->FindValue(item.name)) {
        edits.push_back(
            Edit{lines.End(item.first_line - 1), lines.End(item.last_line), {}, edits.size()});
      }
      continue;
    }
    block_node = &registry.Root(branch.root);
    for (const std::string& name : item.path) {
      block_node = block_node->FindChild(name);
      if (!block_node) break;
    }
    if (block_node) continue;
    // A removed block takes the blank line that ends it, as a new block brings its own.
    size_t last = item.last_line;
    if (last + 2 < lines.size() && lines.Begin(last + 1) == lines.End(last + 1)) ++last;
    edits.push_back(Edit{lines.Begin(item.first_line), lines.Next(last), {}, edits.size()});
  }
  if (!top) {
    result.bytes = Apply(original, &edits);
    return result;
  }
  // New keys, at the end of the file: as bytes at once, since characters take four bytes each.
  std::string appended;
  Chars line, text, block;
  auto encode = [format](const Chars& chars) {
    std::string bytes;
    AppendFileBytes(format, chars, &bytes);
    return bytes;
  };
  bool ok = WalkBranch(
      *top, branch_path, [&](const Node& node, const std::vector<std::string_view>& path) {
        bool has_block = node.block_line() != MemoryRegistry::kNoLine;
        // New values of a key with a block go at its end; those of any other key, with a new block.
        Chars added;
        for (const Value& value : node.values()) {
          if (!value.changed()) continue;
          bool text_problem = false;
          if (!renderer.ValueLines(value, &line, &text_problem)) {
            result.error =
                RegistryFileError{0, ValueError(renderer, root_name, path, value, text_problem)};
            return false;
          }
          if (value.first_line() != MemoryRegistry::kNoLine) {
            edits.push_back(Edit{lines.Begin(value.first_line()), lines.End(value.last_line()),
                                 encode(line), edits.size()});
          } else {
            added.insert(added.end(), eol.begin(), eol.end());
            added.insert(added.end(), line.begin(), line.end());
          }
        }
        if (has_block) {
          if (!added.empty()) {
            size_t at = lines.End(node.block_line());
            edits.push_back(Edit{at, at, encode(added), edits.size()});
          }
        } else if (!node.from_file() || !added.empty()) {
          if (!key_lines.Line(root_name, path, &line)) {
            result.error = RegistryFileError{0, KeyError(renderer, root_name, path)};
            return false;
          }
          // The blank line that ends a block is its own, so no other key's block gains one.
          block.assign(line.begin(), line.end());
          block.insert(block.end(), added.begin(), added.end());
          block.insert(block.end(), eol.begin(), eol.end());
          block.insert(block.end(), eol.begin(), eol.end());
          AppendFileBytes(format, block, &appended);
        }
        return true;
      });
  if (!ok) return result;
  if (!appended.empty()) {
    // At the end of the file; a last line without a line end gets one first.
    size_t last = lines.size() - 1;
    bool ends_with_eol = lines.size() > 1 && lines.Begin(last) == lines.End(last);
    if (!ends_with_eol) appended.insert(0, encode(eol));
    size_t at = lines.End(last);
    edits.push_back(Edit{at, at, std::move(appended), edits.size()});
  }
  result.bytes = Apply(original, &edits);
  return result;
}

MemoryRegistry::Limits RegistryFileLimits(RegistryFileFormat format) {
  auto renderer = std::make_shared<Renderer>(format, CrLf());
  MemoryRegistry::Limits limits;
  limits.key_name = [renderer](std::string_view name) {
    Chars chars;
    return renderer->KeyName(name, &chars);
  };
  limits.value = [renderer](std::string_view name, uint32_t type, std::string_view data) {
    Value value(name, type, data);
    Chars line;
    bool text_problem = false;
    return renderer->ValueLines(value, &line, &text_problem);
  };
  return limits;
}

}  // namespace kdr
