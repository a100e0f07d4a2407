#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// One profile file in memory, as the Windows private-profile functions read and write it (the
// rules are in portable_profile_file.h).
//
// Compact: the bytes read from the file are kept as they are, in one string, and the text that
// writes add goes into blocks that never move. A section is a list of views into those bytes,
// each one or more whole lines with their line ends, so a section read from the file and left
// alone is three views however many lines it has, and entries added one after another
// extend one view. Writing the document out is putting its views one after another. Once more
// than half of the bytes read are no longer shown (entries removed or replaced), the rest is
// copied out and the bytes read are let go, so that a large value being replaced is not held
// twice.
namespace kdr {

class ProfileDocument {
 public:
  ProfileDocument();
  ~ProfileDocument();
  ProfileDocument(const ProfileDocument&) = delete;
  ProfileDocument& operator=(const ProfileDocument&) = delete;

  // Replaces the document with the file `bytes`. Text added by earlier writes stays in memory
  // (the lines WriteString returned) until the document is dropped.
  void Parse(std::string bytes);
  // The file's bytes as they now are.
  std::string Text() const;
  // Hands the file's bytes to `put` in pieces, in order, never joined whole: small views are
  // gathered into pieces of at most kPiece bytes, longer ones handed as they are. False when
  // `put` refused a piece.
  bool WriteTo(const std::function<bool(std::string_view)>& put) const;
  static constexpr size_t kPiece = 64 << 10;
  // Bytes of memory holding the file's text: the bytes read and the text added.
  size_t HeldBytes() const;

  // The writes, with the platform's outcome. `entries` is a list of lines, each ended by a NUL
  // and the list by an empty one; an empty list empties the sections of that name.
  // WriteString returns the line it added for a new key ("key=value" and CR LF, the key without
  // the spaces around it), which stays where it is as long as the document lives; empty when it
  // replaced a value or the document was read anew.
  // The value is `value` followed by `value_tail`.
  std::string_view WriteString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view value_tail = {});
  void WriteSection(std::string_view section, std::string_view entries);

  // Hands each section name to `sink` in file order, until it returns false.
  void ForEachSectionName(const std::function<bool(std::string_view)>& sink) const;
  // Hands each entry line of the first section named `section` to `sink` (its key, or the
  // whole line when it has no '='; whether it had one; its value), until it returns false.
  // False when there is no such section.
  bool ForEachEntry(
      std::string_view section,
      const std::function<bool(std::string_view, bool, std::string_view)>& sink) const;

 private:
  class TextBlocks;
  struct Section {
    // The header line, then the lines up to the last entry (where a new key goes), then the
    // comments and blank lines after it: apart, so that adding a key costs nothing per line.
    std::vector<std::string_view> runs;
    uint32_t trailer_at = 1;  // index in runs of the first view after the last entry
    uint32_t body_lines = 0;  // lines of runs[1, trailer_at)
    // Hashes of the folded keys of its entries; built on the first write to a section of
    // kIndexFrom lines or more, so that a new key is known new without a search. Smaller
    // sections are searched line by line.
    std::unique_ptr<std::unordered_set<size_t>> keys;
  };
  static constexpr size_t kIndexFrom = 32;

  // A line being added in parts, so that a long value is copied once, into the document's
  // text: how the line reads depends only on its part up to its first '=', in `head`.
  struct NewLine {
    std::string_view head, value, tail;
    bool HasLineBreak() const;
  };

  // Where one line is: its view's index in Section::runs and its offset in that view.
  struct LinePlace {
    size_t run = 0, offset = 0;
    std::string_view line;  // with its line end
  };

  Section* Find(std::string_view folded);
  const Section* Find(std::string_view folded) const;
  std::string_view NameOf(const Section& s) const;
  // The first entry of `s` whose folded key is `folded`; false when there is none.
  bool FindKey(Section& s, const std::string& folded, LinePlace* place);
  void IndexKeys(Section& s);
  void AddSection(std::string_view header_line);
  // Both return the entry's line as added, or empty when the document was read anew.
  std::string_view AppendSection(std::string_view name, const NewLine* entry);
  std::string_view InsertEntry(size_t section, NewLine entry);
  void EmptySection(std::string_view name);
  // Gives the line that ends `runs[index]` a line end when it has none (the file's last line).
  void EndLine(std::vector<std::string_view>& runs, size_t index);
  // The file's bytes with `text` inserted after the last entry of section `at`, or at the end
  // of the file when `at` is none.
  std::string TextWith(const Section* at, std::string_view text) const;
  // Counts `view` as no longer shown when it lies in the bytes read; Compact() when more than
  // half of them is.
  void Drop(std::string_view view);
  void CompactIfMostlyDropped();
  bool InBytesRead(std::string_view view) const;

  static constexpr size_t kCompactFrom = 64 << 10;  // bytes dropped before a copy is worth it

  std::string bytes_;   // as read
  size_t dropped_ = 0;  // bytes of bytes_ no view shows any more
  std::unique_ptr<TextBlocks> added_;
  std::vector<std::string_view> preamble_;  // lines before the first section
  std::vector<Section> sections_;
  std::unordered_multimap<size_t, uint32_t> by_name_;  // hash of the folded name -> index
  std::string scratch_;                                // a folded name being looked up
  mutable std::string candidate_;                      // a folded name it is compared with
};

}  // namespace kdr
