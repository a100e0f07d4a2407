#include <cstring>
#include <string>

#include "cli/hive_file.h"

namespace kdr::cli {

std::string HiveErrorText(const HiveError& error) {
  // "call: text (errno N)" for the errno a failed call left.
  const std::string call = error.call + ": " + std::strerror(error.error_number) + " (errno " +
                           std::to_string(error.error_number) + ")";
  const std::string value = error.key + " value \"" + error.value + "\"";
  switch (error.problem) {
    case HiveProblem::kUnreadableHere:
      return "hive files cannot be read by this build";
    case HiveProblem::kUnwritableHere:
      return "hive files cannot be written by this build";
    case HiveProblem::kCall:
      return call;
    case HiveProblem::kNotAHive:
      return "it is not a registry hive file: " + call;
    case HiveProblem::kNotWhole:
      return "it is not a whole registry hive file: " + call;
    case HiveProblem::kDamaged:
      if (error.key.empty()) return "the hive is damaged: " + call;
      return "the hive is damaged: " + call + (error.below ? " below " : " at ") +
             (error.value.empty() ? error.key : value);
    case HiveProblem::kKeyTwice:
      return "the hive is damaged: the key " + error.key + " is listed twice";
    case HiveProblem::kKeyNameNotCp932:
      return "the key " + error.key + " has a name with no code page 932 form";
    case HiveProblem::kValueNameNotCp932:
      return "the key " + value + " has a name with no code page 932 form";
    case HiveProblem::kTextNotCp932:
      return "the key " + value + " holds text with no exact code page 932 form";
    case HiveProblem::kTextNotForHive:
      return "the value \"" + error.value + "\" holds text a hive cannot hold unchanged";
    case HiveProblem::kCutShort:
      return "it is cut short: its header says " + std::to_string(error.header_bytes) +
             " bytes, the file has " + std::to_string(error.file_bytes);
    case HiveProblem::kNotTaken:
      return "the hive could not be written";
    case HiveProblem::kBranchNotInHive:
      return "the key " + error.key + " is not in this hive";
    case HiveProblem::kNone:
      break;
  }
  return {};
}

}  // namespace kdr::cli
