#include "store/unfinished_migrate.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "platform/cp932.h"
#include "store/backup.h"
#include "store/backup_journal.h"
#include "store/undo.h"

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

bool FindUnfinishedMigrates(FileSystem& files, const BackupPlaces& places,
                            std::vector<UnfinishedMigrate>* found, std::string* error,
                            std::optional<Edition> only) {
  found->clear();
  std::vector<BackupInfo> backups;
  // Each journal is read below, newest first, only as far back as the editions' state is told.
  if (PlaceError unlisted; !ListBackups(files, places, &backups, &unlisted, false)) {
    *error = PlaceErrorText(unlisted);
    return false;
  }
  // Newest first: an edition's newest Migrate not undone tells its state.
  std::array<bool, kEditionCount> decided{};
  // Each backup read is one more journal: with many Migrates behind, they add up.
  auto all_decided = [&] {
    return only ? decided[EditionIndex(*only)]
                : std::all_of(decided.begin(), decided.end(), [](bool d) { return d; });
  };
  for (auto it = backups.rbegin(); it != backups.rend() && !all_decided(); ++it) {
    const BackupInfo& backup = *it;
    if (backup.undone) continue;
    if (backup.unreadable) {
      *error = backup.error + ": " + backup.folder;
      return false;
    }
    const std::string path = backup.folder + "\\" + std::string(kJournalName);
    JournalError why;
    std::optional<JournalOutline> journal = CheckJournalFile(files, path, &why);
    if (!journal && !why.damaged()) {
      *error = JournalErrorText(why) + ": " + path;
      return false;
    }
    if (!journal) continue;
    for (size_t block = journal->editions.size(); block-- > 0;) {
      Edition edition = journal->editions[block];
      if (decided[EditionIndex(edition)] || (only && edition != *only)) continue;
      decided[EditionIndex(edition)] = true;
      if (!journal->written[block]) {
        found->push_back(UnfinishedMigrate{backup.name, backup.folder, edition, *journal});
      }
    }
  }
  std::reverse(found->begin(), found->end());
  return true;
}

std::vector<UnfinishedMigrate> FindUnfinishedMigrates(FileSystem& files,
                                                      const BackupPlaces& places) {
  std::vector<UnfinishedMigrate> found;
  std::string error;
  if (!FindUnfinishedMigrates(files, places, &found, &error)) found.clear();
  return found;
}

bool TakeOldContentOfUnfinished(FileSystem& files, const BackupPlaces& places, EditionPlan* plan,
                                std::string* error) {
  std::vector<UnfinishedMigrate> found;
  if (!FindUnfinishedMigrates(files, places, &found, error, plan->edition)) return false;
  for (const UnfinishedMigrate& unfinished : found) {
    if (unfinished.edition != plan->edition) continue;
    const std::string& folder = unfinished.folder;
    std::string path = folder + "\\" + std::string(kJournalName);
    const JournalOutline& outline = unfinished.journal;
    for (size_t block = outline.editions.size(); block-- > 0;) {
      if (outline.editions[block] != plan->edition || outline.written[block]) continue;
      JournalFiles written;
      JournalError why;
      if (!ReadJournalBlock(files, path, outline, block, &written, &why)) {
        *error = JournalErrorText(why);
        return false;
      }
      for (PlannedFile& file : plan->files) {
        auto it = written.files.find(Cp932UpperCase(file.destination));
        if (it == written.files.end()) continue;
        const JournalFile& before = it->second;
        file.replaces = before.planned.replaces;
        file.old_size = before.old_digest.size;
        file.old_content_from =
            file.replaces ? folder + "\\files\\" + before.saved_copy : std::string();
        file.old_metadata = before.planned.old_metadata;
      }
      break;
    }
  }
  return true;
}

}  // namespace kdr
