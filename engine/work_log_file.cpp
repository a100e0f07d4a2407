#include "engine/work_log_file.h"

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

}  // namespace kdr
