#include "engine/work_log_file.h"

#include "store/store_time.h"

namespace kdr {

bool AppendToWorkLog(const Services& services, const std::string& path, std::string_view lines) {
  if (!services.windows_text_files)
    return static_cast<bool>(services.files.AppendToFile(path, lines));
  std::string text;
  text.reserve(lines.size() + lines.size() / 32 + 3);
  if (!services.files.Exists(path)) text = "\xEF\xBB\xBF";
  for (char c : lines) {
    if (c == '\n') text.push_back('\r');
    text.push_back(c);
  }
  return static_cast<bool>(services.files.AppendToFile(path, text));
}

WorkLogPlace AppendToCommandLog(const Services& services, const WorkPaths& paths,
                                std::string_view lines) {
  WorkLogPlace place;
  Result<EntryKind> root = services.files.Lookup(paths.root);
  if (root == std::optional(EntryKind::kFolder)) {
    std::string in_work = paths.root + "\\" + std::string(kWorkLogName);
    if (AppendToWorkLog(services, in_work, lines)) {
      place.file = std::move(in_work);
      return place;
    }
  } else if (root == std::optional(EntryKind::kNone)) {
    place.no_work_folder = true;
    return place;
  }
  if (!services.user_state_folder.empty()) {
    std::string in_user = services.user_state_folder + "\\" + std::string(kWorkLogName);
    if (services.files.MakeSurePathExists(in_user) && AppendToWorkLog(services, in_user, lines))
      place.file = std::move(in_user);
  }
  return place;
}

std::string RunIdentity(const Services& services) {
  return std::string("kdr4tose ") + ToolVersion() + " on " + services.machine_name + " as " +
         services.user_name;
}

}  // namespace kdr
