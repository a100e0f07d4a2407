#include <string>
#include <string_view>

#include "cli/cli_platform.h"

namespace kdr::cli {
namespace {

std::string* stdout_capture = nullptr;

}  // namespace

void CaptureStdout(std::string* into) { stdout_capture = into; }

void WriteStdout(std::string_view text) {
  if (stdout_capture) {
    stdout_capture->append(text);
    return;
  }
  WriteHostStdout(text);
}

}  // namespace kdr::cli
