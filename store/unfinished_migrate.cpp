#include "store/unfinished_migrate.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "platform/cp932.h"
#include "store/backup.h"
#include "store/backup_journal.h"

namespace kdr {
namespace {

// The files of one journal block, by destination as Windows matches names.
class JournalFiles : public JournalItems {
 public:
  void KeyCreated(std::string) override {}
  void Value(PlannedValue) override {}
  void FolderCreated(std::string) override {}
  void File(JournalFile file) override {
    std::string key = Cp932UpperCase(file.planned.destination);
    files.insert_or_assign(std::move(key), std::move(file));
  }
  std::map<std::string, JournalFile> files;
};

}  // namespace

bool FindUnfinishedMigrates(FileSystem& files, const WorkPaths& paths,
                            std::vector<UnfinishedMigrate>* found, std::string* error) {
  found->clear();
  const std::string root = BackupRoot(paths) + "\\";
  if (!files.IsFolder(root)) return true;
  std::vector<std::string> names;
  if (!files.ListFiles(root, &names)) {
    *error = "cannot list " + root;
    return false;
  }
  const std::string suffix = "\\" + std::string(kJournalName);
  std::vector<std::string> backups;
  for (const std::string& name : names) {
    if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
    std::string backup = name.substr(0, name.size() - suffix.size());
    if (backup.find('\\') == std::string::npos) backups.push_back(std::move(backup));
  }
  // Names are times: newest first, an edition's newest Migrate not undone tells its state.
  std::sort(backups.rbegin(), backups.rend());
  std::array<bool, kEditionCount> decided{};
  for (const std::string& backup : backups) {
    if (files.Exists(root + backup + "\\" + std::string(kUndoneMarkerName))) continue;
    bool unreadable = false;
    std::string why;
    std::optional<JournalOutline> journal =
        CheckJournalFile(files, root + backup + suffix, &why, &unreadable);
    if (unreadable) {
      *error = why + ": " + root + backup + suffix;
      return false;
    }
    if (!journal) continue;
    for (size_t block = journal->editions.size(); block-- > 0;) {
      Edition edition = journal->editions[block];
      if (decided[EditionIndex(edition)]) continue;
      decided[EditionIndex(edition)] = true;
      if (!journal->written[block]) found->push_back(UnfinishedMigrate{backup, edition});
    }
  }
  std::reverse(found->begin(), found->end());
  return true;
}

std::vector<UnfinishedMigrate> FindUnfinishedMigrates(FileSystem& files, const WorkPaths& paths) {
  std::vector<UnfinishedMigrate> found;
  std::string error;
  if (!FindUnfinishedMigrates(files, paths, &found, &error)) found.clear();
  return found;
}

bool TakeOldContentOfUnfinished(FileSystem& files, const WorkPaths& paths, EditionPlan* plan,
                                std::string* error) {
  std::vector<UnfinishedMigrate> found;
  if (!FindUnfinishedMigrates(files, paths, &found, error)) return false;
  for (const UnfinishedMigrate& unfinished : found) {
    if (unfinished.edition != plan->edition) continue;
    std::string folder = BackupRoot(paths) + "\\" + unfinished.backup;
    std::string path = folder + "\\" + std::string(kJournalName);
    bool unreadable = false;
    std::optional<JournalOutline> outline = CheckJournalFile(files, path, error, &unreadable);
    if (!outline) return false;
    for (size_t block = outline->editions.size(); block-- > 0;) {
      if (outline->editions[block] != plan->edition || outline->written[block]) continue;
      JournalFiles written;
      if (!ReadJournalBlock(files, path, *outline, block, &written, error)) return false;
      for (PlannedFile& file : plan->files) {
        auto it = written.files.find(Cp932UpperCase(file.destination));
        if (it == written.files.end()) continue;
        const JournalFile& before = it->second;
        file.replaces = before.planned.replaces;
        file.old_size = before.old_digest.size;
        file.old_content_from =
            file.replaces ? folder + "\\files\\" + before.saved_copy : std::string();
      }
      break;
    }
  }
  return true;
}

}  // namespace kdr
