#include "cli/file_error_text.h"

#include "cli/cli_messages.h"
#include "platform/text_encoding.h"

namespace kdr::cli {

std::string FileErrorShown(const FileResult& failure) {
  // English says it as the log does.
  if (CurrentLanguage() != Language::kJapanese) return Describe(failure);
  const std::string call = failure.call.empty() ? Text(Msg::kFileCallUnnamed) : failure.call;
  const std::string path = failure.path.empty() ? "" : " " + PathForDisplay(failure.path);
  const std::string host = failure.host_error.empty() ? "" : " (" + failure.host_error + ")";
  return Text(Msg::kFileCallFailed, {call, path, std::to_string(failure.code), host});
}

}  // namespace kdr::cli
