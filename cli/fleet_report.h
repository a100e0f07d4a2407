#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The fleet report's reading of what runs left in a work folder: the work folder's log, the
// fleet batch files' results.txt and a verify --json result. Text in, rows out: nothing here
// touches a file.
namespace kdr::cli {

struct EditionResult {
  std::string edition;
  std::string outcome;  // done, failed, or a store state
  std::string reason;   // the failure's code, when there is one
};

// One run as the work folder's log tells it.
struct LoggedRun {
  std::string command;  // collect, migrate, undo, undo --force, verify --accept Client
  std::string time;     // local time with its offset, as logged
  std::string machine;  // empty: not recorded (undo and accept runs of older versions)
  std::string user;
  std::vector<EditionResult> editions;
  uint64_t files = 0;         // COPY lines and kept files: files copied or proven in place
  uint64_t kept_lines = 0;    // KEEP lines (older versions wrote one a kept file)
  uint64_t kept_counted = 0;  // the editions' "N file(s) kept" lines
  uint64_t failures = 0;      // FAIL lines (undo: SKIP lines, items not restored as they were)
  std::optional<int> exit_code;
  bool interrupted = false;
  bool ended = false;  // the log has the run's last lines (the editions, or undo's result)
};

// The runs of a work folder's log, in order. Lines before the first run, and lines that are
// not the log's, are passed over.
std::vector<LoggedRun> ParseWorkLog(std::string_view text);

// One line of the fleet batch files' results.txt: "<date> <time> <PC> <command> <exit code>".
struct ResultLine {
  std::string time;  // %DATE% %TIME% as the PC's locale writes them
  std::string machine;
  std::string command;
  std::optional<int> exit_code;
};
std::vector<ResultLine> ParseResults(std::string_view text);

// The editions of a verify --json result with their states (outcome "store <state>").
std::vector<EditionResult> ParseVerifyJson(std::string_view json);

// One line of the report: the last run of one PC in one work folder.
struct ReportRow {
  std::string folder;
  std::string machine;
  std::string user;
  std::string command;
  std::string time;
  std::vector<EditionResult> editions;
  std::optional<uint64_t> files;
  std::optional<uint64_t> failures;
  std::optional<int> exit_code;
  std::vector<std::string> notes;  // codes: see kNote... below
  std::string detail;              // the first line of a failed batch run's .err file
  std::string error;               // set: the folder could not be read, and why
};

inline constexpr std::string_view kNoteUserFromFolder = "user_from_folder";
inline constexpr std::string_view kNoteMachineUnknown = "machine_not_recorded";
inline constexpr std::string_view kNoteInterrupted = "interrupted";
inline constexpr std::string_view kNoteNotFinished = "not_finished";
inline constexpr std::string_view kNoteFromResults = "from_results_txt";
inline constexpr std::string_view kNoteNoRuns = "no_runs";

// What a work folder holds, as read (nullopt: the file is not there).
struct FolderTexts {
  std::string folder;       // as shown
  std::string folder_name;  // its last name: the user, in the fleet layout
  std::optional<std::string> log;
  std::optional<std::string> results;
  std::optional<std::string> verify_json;
  // The first line of <command>.err, by command, for the batch runs that left no log.
  std::vector<std::pair<std::string, std::string>> error_lines;
};

// One row per PC that ran in the folder: its last run. A run the log does not have (verify, a
// run refused before it began) is taken from results.txt when it is that PC's last line there.
std::vector<ReportRow> RowsOfFolder(const FolderTexts& texts);

}  // namespace kdr::cli
