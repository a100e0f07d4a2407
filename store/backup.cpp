#include "store/backup.h"

#include <optional>

namespace kdr {

std::string BackupRoot(const WorkPaths& paths) {
  return paths.root + "\\" + std::string(kBackupFolderName);
}

BackupWriter::BackupWriter(FileSystem& files, const WorkPaths& paths, std::string name,
                           std::string time)
    : files_(files), paths_(paths), name_(std::move(name)), time_(std::move(time)) {}

bool BackupWriter::Open(std::string* error) {
  if (!folder_.empty()) return true;
  std::string root = BackupRoot(paths_);
  if (!files_.MakeSurePathExists(root + "\\")) {
    *error = "cannot create " + root;
    return false;
  }
  // CreateFolder succeeds only for a folder it made, so two runs never share one. The suffix
  // has three digits so that names sort by age.
  for (int n = 1; n < 1000; ++n) {
    std::string suffix = std::to_string(1000 + n).substr(1);
    std::string name = n == 1 ? name_ : name_ + "-" + suffix;
    if (files_.CreateFolder(root + "\\" + name)) {
      name_ = name;
      folder_ = root + "\\" + name;
      return true;
    }
  }
  *error = "cannot create a backup folder in " + root;
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
      std::optional<std::string> old = files_.ReadFile(file.destination);
      if (!old) {
        *error = "cannot read " + file.destination + " to save it";
        return false;
      }
      entry.old_digest = FileDigest{old->size(), HashBytes(*old)};
      entry.saved_copy = std::to_string(++saved_);
      std::string copy = saved_folder + "\\" + entry.saved_copy;
      // The copies go to the disk together, before the journal names them: a stop before that
      // leaves copies that no finished block of the journal names.
      if ((!saved_any && !files_.MakeSurePathExists(copy)) || !files_.WriteNewFile(copy, *old) ||
          DigestFile(files_, copy) != entry.old_digest) {
        *error = "cannot save " + file.destination + " to " + copy;
        return false;
      }
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

}  // namespace kdr
