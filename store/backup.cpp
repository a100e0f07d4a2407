#include "store/backup.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "store/text_fields.h"

namespace kdr {

std::string BackupRoot(const WorkPaths& paths) {
  return paths.root + "\\" + std::string(kBackupFolderName);
}

BackupPlaces BackupPlacesFor(const WorkPaths& paths, std::string_view user_state_folder) {
  BackupPlaces places{BackupRoot(paths), {}};
  if (!user_state_folder.empty()) {
    places.fallback = std::string(user_state_folder) + "\\" + std::string(kBackupFolderName);
  }
  return places;
}

std::optional<uint64_t> ReadBackupSequence(FileSystem& files, const std::string& folder) {
  const std::string path = folder + "\\" + std::string(kSequenceName);
  Result<std::string> text = files.ReadFile(path);
  if (!text) return text.not_found() ? std::optional<uint64_t>(0) : std::nullopt;
  if (!text->ends_with("\n")) return 0;
  return ParseDecimal(std::string_view(*text).substr(0, text->size() - 1)).value_or(0);
}

namespace {

// The highest sequence number of the backups in `root`; nullopt when one cannot be read.
std::optional<uint64_t> HighestSequenceIn(FileSystem& files, const std::string& root) {
  std::vector<std::string> names;
  if (root.empty()) return 0;
  Result<EntryKind> there = files.Lookup(root + "\\");
  if (!there) return std::nullopt;
  if (*there != EntryKind::kFolder) return 0;
  if (!files.ListFolders(root + "\\", &names)) return std::nullopt;
  uint64_t highest = 0;
  for (const std::string& name : names) {
    if (name.find('\\') != std::string::npos) continue;
    // One that cannot be read may be the highest: a number below it could be taken again.
    std::optional<uint64_t> sequence = ReadBackupSequence(files, root + "\\" + name);
    if (!sequence) return std::nullopt;
    highest = std::max(highest, *sequence);
  }
  return highest;
}

}  // namespace

BackupWriter::BackupWriter(FileSystem& files, BackupPlaces places, std::string name,
                           std::string time)
    : files_(files), places_(std::move(places)), name_(std::move(name)), time_(std::move(time)) {}

bool BackupWriter::OpenIn(const std::string& root, uint64_t sequence) {
  if (root.empty() || !files_.MakeSurePathExists(root + "\\")) return false;
  // CreateFolder succeeds only for a folder it made, so two runs never share one. The suffix
  // has three digits so that names of one second sort by age.
  for (int n = 1; n < 1000; ++n) {
    std::string suffix = std::to_string(1000 + n).substr(1);
    std::string name = n == 1 ? name_ : name_ + "-" + suffix;
    if (!files_.CreateFolder(root + "\\" + name)) continue;
    std::string folder = root + "\\" + name;
    // Written before the journal: a backup without its number would sort before every other.
    if (!files_.WriteFileAtomically(folder + "\\" + std::string(kSequenceName),
                                    std::to_string(sequence) + "\n")) {
      static_cast<void>(files_.RemoveFolder(folder));
      return false;
    }
    name_ = name;
    folder_ = folder;
    return true;
  }
  return false;
}

bool BackupWriter::Open(std::string* error) {
  if (!folder_.empty()) return true;
  std::optional<uint64_t> in_work = HighestSequenceIn(files_, places_.work);
  std::optional<uint64_t> in_user = HighestSequenceIn(files_, places_.fallback);
  if (!in_work || !in_user) {
    *error = "the backups in " + places_.work + " cannot be numbered: one cannot be read";
    return false;
  }
  uint64_t sequence = std::max(*in_work, *in_user) + 1;
  if (OpenIn(places_.work, sequence)) return true;
  // Migrate only reads the store: a work folder that cannot be written keeps no backup, but the
  // user's own folder can.
  if (OpenIn(places_.fallback, sequence)) {
    in_fallback_ = true;
    return true;
  }
  *error = "cannot create a backup folder in " + places_.work +
           (places_.fallback.empty() ? "" : " or in " + places_.fallback);
  return false;
}

bool BackupWriter::Add(const EditionPlan& plan, std::string* error) {
  if (journal_broken_) {
    *error = "the journal in " + folder_ + " could not be written for an earlier edition";
    return false;
  }
  if (!Open(error)) return false;
  std::vector<JournalFile> saved_files;
  saved_files.reserve(plan.files.size());
  const std::string saved_folder = folder_ + "\\files";
  bool saved_any = false;
  for (const PlannedFile& file : plan.files) {
    JournalFile entry{file, {}, {}};
    if (file.replaces) {
      // What undo gives back besides the bytes. A file an unfinished Migrate was writing has
      // that one's metadata now; its own comes from that Migrate's journal, or is not known.
      FileMetadata metadata;
      if (!entry.planned.old_metadata && file.old_content_from.empty() &&
          files_.GetMetadata(file.destination, &metadata)) {
        entry.planned.old_metadata = metadata;
      }
      entry.saved_copy = std::to_string(++saved_);
      std::string copy = saved_folder + "\\" + entry.saved_copy;
      // The copies go to the disk together, before the journal names them: a stop before that
      // leaves copies that no finished block of the journal names. A copy may be a second name
      // of the file it saves (no copy, and the rename that replaces it frees nothing), so the
      // journal takes its digest from the saved copy itself, read once it is made.
      const std::string& from =
          file.old_content_from.empty() ? file.destination : file.old_content_from;
      if ((!saved_any && !files_.MakeSurePathExists(copy)) || !files_.WriteNewCopy(copy, from)) {
        *error = "cannot save " + file.destination + " to " + copy;
        return false;
      }
      std::optional<FileDigest> saved = DigestFile(files_, copy);
      if (!saved) {
        *error = "cannot read back " + copy + ", the saved copy of " + file.destination;
        return false;
      }
      entry.old_digest = *saved;
      saved_any = true;
    }
    saved_files.push_back(std::move(entry));
  }
  if (saved_any && !files_.WriteOutNewFiles(saved_folder)) {
    *error = "cannot write the saved files in " + saved_folder + " out to the disk";
    return false;
  }
  size_t lines = journal_lines_;
  std::string text = lines == 0 ? FormatJournalStart(time_, &lines) : std::string();
  const std::string journal = folder_ + "\\" + std::string(kJournalName);
  auto write = [&](std::string* part) {
    if (!files_.AppendToFile(journal, *part)) return false;
    part->clear();
    return true;
  };
  if (!AppendJournalEdition(plan, saved_files, &lines, &text, write) || !write(&text)) {
    journal_broken_ = true;
    *error = "cannot write the journal in " + folder_;
    return false;
  }
  journal_lines_ = lines;
  return true;
}

bool BackupWriter::MarkWritten(Edition edition) {
  if (folder_.empty() || journal_broken_ || journal_lines_ == 0) return false;
  const std::string journal = folder_ + "\\" + std::string(kJournalName);
  if (!files_.AppendToFile(journal, FormatJournalWritten(edition))) {
    journal_broken_ = true;
    return false;
  }
  ++journal_lines_;
  return true;
}

}  // namespace kdr
