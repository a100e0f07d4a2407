#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "platform/profile_file.h"

// The Windows private-profile functions, our own implementation, the same on every platform.
//
// A file is read once and kept in memory, as its bytes with an index of its sections
// (profile_document.h), so that a write costs about as much as the line it writes and an
// export of n values O(n) in all. A file is forgotten once it is written out (Flush) or its last
// hold ends with nothing pending, and read again when next used: only the files being worked
// on take memory. Writes change only the copy in memory; Flush() writes every
// changed file whole, atomically, through FileSystem::WriteFileInPieces. Before each call the
// file's FileSystem::Stamp is compared with the one it had when it was read or written: a file
// changed by someone else is read again, and writes not yet flushed are applied to it anew, as
// the platform, which reads the file on every call, would have applied them. While a file is
// held (Hold), that comparison is made once, when the hold begins.
//
// What is written and what is read back follow Windows:
// - Lines end with CR LF, LF or a lone CR; a new line is written with CR LF, and a last line
//   without one gets CR LF before anything is added after it.
// - A line whose first character other than space, tab and vertical tab is '[' starts a
//   section; its name runs to the first ']' or to the end of the line, without the spaces, tabs
//   and vertical tabs around it. Lines before the first section belong to none and are never
//   read. A line whose first such character is ';' is a comment: never a key, never listed.
//   Other lines are entries: the key is what stands before the first '=', the value what
//   follows it, both without spaces, tabs and vertical tabs around them; a line without '='
//   is listed by GetSection as it is, but it is no key that a write could replace.
// - Names passed in lose the spaces (only spaces) around them. Section and key names match
//   without regard to the case of ASCII letters; the bytes of a two-byte character of code
//   page 932 are compared as they are (the second byte may look like an ASCII letter or ']').
// - A write replaces the value of the first entry of that key in the first section of that
//   name, keeping the name as the file spells it; a new key is inserted after the last entry
//   of the section (before comments and blank lines that follow it), a new section appended
//   at the end of the file. Every other line, comments, blank lines, odd bytes and NULs
//   included, is kept as it is.
// - WriteSection with an empty list removes the entries of every section of that name and
//   keeps the sections (and their comments), or appends the section when there is none.
// - The two list functions fill the caller's buffer as Windows does, cutting the list to fit
//   and ending it with two NULs, and return what Windows returns (the buffer size - 2 when
//   the list was cut). A NUL inside a name or value ends that name or value in the lists.
namespace kdr {

class ProfileDocument;

class PortableProfileFile : public ProfileFile {
 public:
  // Uses only fs.ReadFile, fs.WriteFileInPieces and fs.Stamp. `fs` must outlive this object.
  explicit PortableProfileFile(FileSystem& fs);
  // Writes what is not written yet (as Flush does) and forgets the files.
  ~PortableProfileFile() override;
  PortableProfileFile(const PortableProfileFile&) = delete;
  PortableProfileFile& operator=(const PortableProfileFile&) = delete;

  [[nodiscard]] bool WriteSection(std::string_view section, std::string_view entries,
                                  std::string_view file) override;
  [[nodiscard]] bool WriteString(std::string_view section, std::string_view key,
                                 std::string_view value, std::string_view file) override;
  // The value is copied once, into the file's text.
  [[nodiscard]] bool WriteJoinedString(std::string_view section, std::string_view key,
                                       std::string_view value_head, std::string_view value_tail,
                                       std::string_view file) override;
  uint32_t GetSectionNames(std::span<char> buffer, std::string_view file) override;
  uint32_t GetSection(std::string_view section, std::span<char> buffer,
                      std::string_view file) override;
  // Writes every file changed since it was read or last written. False when a write failed;
  // that file's writes are then dropped, as a platform write that fails is lost: its failure is
  // told once, here, and never again as the failure of a later Flush that wrote its own files.
  [[nodiscard]] FileResult Flush() override;
  // Looks at the file on disk now (reading it again when it changed) and then not until the
  // last Release.
  void Hold(std::string_view file) override;
  void Release(std::string_view file) override;

  // Number of changed files not written yet.
  size_t PendingFiles() const;

 private:
  // One write. The writes since a file was last written are kept, one after another in one
  // string (see Record), so they can be applied again to a file that changed under them.
  struct Operation {
    bool is_section = false;
    std::string_view section, key, value;
    std::string_view value_tail = {};  // what follows `value` in a write's value
  };
  struct CachedFile {
    std::string path;  // as the caller first gave it
    std::unique_ptr<ProfileDocument> document;
    std::optional<FileStamp> stamp;  // of the bytes the document was read from or written to
    bool dirty = false;
    std::string pending;                      // recorded writes not yet in the file
    size_t section_at = 0, section_size = 0;  // where the last recorded section is in pending
    uintptr_t line_end = 0;  // where the line of the last write recorded by its line ends
    int holds = 0;           // Hold calls not yet released
  };

  // The current document of `file`: read when new, read again (and the pending writes
  // applied anew) when the file's stamp changed. A write to a file with writes pending, and any
  // call on a held file, skips that check: the next read or Flush (or Hold) makes it.
  CachedFile& Open(std::string_view file, bool writing);
  CachedFile* Find(std::string_view file);
  void Load(CachedFile& cached);
  // Returns the line the write added, as ProfileDocument::WriteString does.
  static std::string_view Apply(ProfileDocument& document, const Operation& op);
  static void Record(CachedFile& cached, const Operation& op, std::string_view line);
  static void Replay(ProfileDocument& document, std::string_view log);
  [[nodiscard]] bool Write(const Operation& op, std::string_view file);

  using FileMap = std::unordered_map<std::string, CachedFile>;  // by path without regard to case
  // Drops a file from memory; returns the next one.
  FileMap::iterator Forget(FileMap::iterator it);

  FileSystem& fs_;
  FileMap files_;
  CachedFile* last_ = nullptr;  // the file of the last call
};

}  // namespace kdr
