#include "platform/cp932.h"

#include <algorithm>
#include <cstdint>

namespace kdr {
namespace {

// Walks a text character by character and hands out its bytes with single-byte ASCII letters
// upper-cased.
class UpperBytes {
 public:
  explicit UpperBytes(std::string_view text) : text_(text) {}

  bool done() const { return pos_ == text_.size(); }

  unsigned char Next() {
    if (trail_ == 0) {
      size_t size = Cp932CharSize(text_, pos_);
      trail_ = size - 1;
      char c = text_[pos_++];
      return static_cast<unsigned char>(size == 1 ? AsciiUpper(c) : c);
    }
    --trail_;
    return static_cast<unsigned char>(text_[pos_++]);
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  size_t trail_ = 0;  // trail bytes still to hand out as they are
};

}  // namespace

std::vector<size_t> FindCp932Chars(std::string_view text, char ascii) {
  std::vector<size_t> found;
  for (size_t i = 0; i < text.size(); i += Cp932CharSize(text, i)) {
    if (text[i] == ascii) found.push_back(i);
  }
  return found;
}

size_t FindLastCp932Separator(std::string_view text, std::string_view separators) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < text.size(); i += Cp932CharSize(text, i)) {
    if (separators.find(text[i]) != std::string_view::npos) last = i;
  }
  return last;
}

bool SplitCp932Path(std::string_view path, std::vector<std::string_view>* names) {
  names->clear();
  if (path.empty()) return true;
  size_t start = 0;
  for (size_t separator : FindCp932Chars(path, '\\')) {
    if (separator == start) return false;
    names->push_back(path.substr(start, separator - start));
    start = separator + 1;
  }
  if (start == path.size()) return false;
  names->push_back(path.substr(start));
  return true;
}

bool Cp932PathAtOrBelow(std::string_view path, std::string_view base) {
  if (!Cp932StartsWithNoCase(path, base)) return false;
  std::string_view rest = path.substr(base.size());
  if (rest.empty()) return true;
  if (rest.front() != '\\') return false;
  std::vector<std::string_view> names;
  return rest.size() > 1 && SplitCp932Path(rest.substr(1), &names);
}

std::string Cp932UpperCase(std::string_view text) {
  std::string out;
  Cp932UpperCase(text, &out);
  return out;
}

void Cp932UpperCase(std::string_view text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  UpperBytes bytes(text);
  while (!bytes.done()) out->push_back(static_cast<char>(bytes.Next()));
}

namespace {

// How far `a` and `b` hold the same single-byte characters without regard to case: the end of
// the shorter, the first that differs, or the first byte that is not ASCII in either (whole
// characters end before it in both, since no ASCII byte starts a double-byte one).
size_t SameAsciiPrefix(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n) {
    const char p = a[i], q = b[i];
    if ((static_cast<unsigned char>(p) | static_cast<unsigned char>(q)) >= 0x80) break;
    if (p != q && AsciiUpper(p) != AsciiUpper(q)) break;
    ++i;
  }
  return i;
}

}  // namespace

bool Cp932EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const size_t same = SameAsciiPrefix(a, b);
  UpperBytes x(a.substr(same)), y(b.substr(same));
  while (!x.done()) {
    if (x.Next() != y.Next()) return false;
  }
  return true;
}

bool Cp932StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  size_t end = 0;
  while (end < prefix.size()) end += Cp932CharSize(text, end);
  return end == prefix.size() && Cp932EqualNoCase(text.substr(0, end), prefix);
}

bool Cp932NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  const size_t same = SameAsciiPrefix(a, b);
  UpperBytes x(a.substr(same)), y(b.substr(same));
  while (!x.done() && !y.done()) {
    unsigned char p = x.Next(), q = y.Next();
    if (p != q) return p < q;
  }
  return !x.done() ? false : !y.done();
}

size_t Cp932NoCaseHash::operator()(std::string_view text) const {
  // FNV-1a over the bytes UpperBytes hands out.
  uint64_t hash = 14695981039346656037ull;
  auto add = [&](unsigned char c) { hash = (hash ^ c) * 1099511628211ull; };
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      add(static_cast<unsigned char>(AsciiUpper(static_cast<char>(c))));
      ++i;
      continue;
    }
    const size_t size = Cp932CharSize(text, i);
    for (size_t k = 0; k < size; ++k) add(static_cast<unsigned char>(text[i + k]));
    i += size;
  }
  return static_cast<size_t>(hash);
}

}  // namespace kdr
