#include "cli/file_error_text.h"

#include "cli/cli_messages.h"
#include "platform/text_encoding.h"

namespace kdr::cli {

std::string FileErrorShown(const FileResult& failure) {
  const std::string call = failure.call.empty() ? Text(Msg::kFileCallUnnamed) : failure.call;
  const std::string path = failure.path.empty() ? "" : " " + Cp932ForDisplay(failure.path);
  const std::string code = CurrentLanguage() == Language::kJapanese ? std::to_string(failure.code)
                                                                    : DescribeCode(failure.code);
  const std::string host = failure.host_error.empty() ? "" : " (" + failure.host_error + ")";
  return Text(Msg::kFileCallFailed, {call, path, code, host});
}

}  // namespace kdr::cli
