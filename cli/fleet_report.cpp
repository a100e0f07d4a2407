#include "cli/fleet_report.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <utility>

namespace kdr::cli {
namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "Client: 5000 file(s) kept: ...": an edition's count of the files a run left in place
// (LogKept).
std::optional<uint64_t> KeptCount(std::string_view text) {
  size_t colon = text.find(": ");
  size_t end = text.find(" file(s) kept: ");
  if (colon == std::string_view::npos || end == std::string_view::npos || end < colon + 2 ||
      text.substr(0, colon).find(' ') != std::string_view::npos) {
    return std::nullopt;
  }
  return ParseNumber<uint64_t>(text.substr(colon + 2, end - colon - 2));
}

// "collect, 2026-12-09T08:50:00+09:00": a run's first line, as every command that logs writes it.
bool ParseRunStart(std::string_view comment, LoggedRun* run) {
  size_t comma = comment.rfind(", ");
  if (comma == std::string_view::npos) return false;
  std::string_view command = comment.substr(0, comma);
  std::string_view time = comment.substr(comma + 2);
  bool iso_time = time.size() >= 11 && IsDigit(time[0]) && IsDigit(time[3]) && time[4] == '-' &&
                  time[10] == 'T';
  bool known = command == "collect" || command == "migrate" || command == "undo" ||
               command == "undo --force" || command.starts_with("verify --accept ");
  if (!iso_time || !known) return false;
  *run = LoggedRun{};
  run->command = command;
  run->time = time;
  return true;
}

// "kdr4tose 1.2.0 on PC01 as tanaka": a user name may hold spaces, a PC name does not.
void ParseIdentity(std::string_view comment, LoggedRun* run) {
  if (!comment.starts_with("kdr4tose ")) return;
  size_t on = comment.find(" on ");
  if (on == std::string_view::npos) return;
  size_t as = comment.find(" as ", on + 4);
  if (as == std::string_view::npos) return;
  run->machine = comment.substr(on + 4, as - (on + 4));
  run->user = comment.substr(as + 4);
}

// "outcome of Client: done" or "outcome of Client: failed, files_not_copied (text)".
void ParseOutcome(std::string_view comment, LoggedRun* run) {
  comment.remove_prefix(std::string_view("outcome of ").size());
  size_t colon = comment.find(": ");
  if (colon == std::string_view::npos) return;
  EditionResult result{std::string(comment.substr(0, colon)), "", ""};
  std::string_view outcome = comment.substr(colon + 2);
  if (outcome.starts_with("failed, ")) {
    result.outcome = "failed";
    std::string_view reason = outcome.substr(8);
    result.reason = reason.substr(0, reason.find(' '));
  } else {
    result.outcome = outcome;
  }
  run->editions.push_back(std::move(result));
}

void ParseComment(std::string_view comment, LoggedRun* run) {
  if (comment.starts_with("kdr4tose ")) {
    ParseIdentity(comment, run);
  } else if (comment.starts_with("outcome of ")) {
    ParseOutcome(comment, run);
  } else if (comment.starts_with("editions attempted ")) {
    run->ended = true;
  } else if (comment.starts_with("exit ")) {
    run->exit_code = ParseNumber<int>(comment.substr(5));
  } else if (comment.starts_with("interrupted: ")) {
    run->interrupted = true;
  }
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The string value after `"key":` from `from`; npos when there is none.
size_t FindKey(std::string_view json, std::string_view key, size_t from) {
  std::string needle = "\"" + std::string(key) + "\":\"";
  size_t at = json.find(needle, from);
  return at == std::string_view::npos ? at : at + needle.size();
}

ReportRow RowFromResults(const FolderTexts& texts, const ResultLine& line, bool last_verify) {
  ReportRow row;
  row.folder = texts.folder;
  row.machine = line.machine;
  row.user = texts.folder_name;
  row.command = line.command;
  row.time = line.time;
  row.exit_code = line.exit_code;
  row.notes = {std::string(kNoteFromResults), std::string(kNoteUserFromFolder)};
  if (line.command == "verify" && last_verify && texts.verify_json)
    row.editions = ParseVerifyJson(*texts.verify_json);
  if (line.exit_code != 0) {
    for (const auto& [command, first_line] : texts.error_lines) {
      if (command == line.command) row.detail = first_line;
    }
  }
  return row;
}

ReportRow RowFromLog(const FolderTexts& texts, const LoggedRun& run,
                     const std::optional<ResultLine>& result) {
  ReportRow row;
  row.folder = texts.folder;
  row.machine = run.machine;
  row.user = run.user;
  row.command = run.command;
  row.time = run.time;
  row.editions = run.editions;
  row.files = run.files;
  row.failures = run.failures;
  row.exit_code = run.exit_code;
  if (run.machine.empty()) row.notes.emplace_back(kNoteMachineUnknown);
  if (run.user.empty()) {
    row.user = texts.folder_name;
    row.notes.emplace_back(kNoteUserFromFolder);
  }
  if (run.interrupted) row.notes.emplace_back(kNoteInterrupted);
  if (!run.ended) row.notes.emplace_back(kNoteNotFinished);
  // A run ended by force wrote no exit code; the batch file that started it saw one.
  if (!row.exit_code && result && result->command == Words(run.command).front())
    row.exit_code = result->exit_code;
  return row;
}

}  // namespace

std::vector<LoggedRun> ParseWorkLog(std::string_view text) {
  std::vector<LoggedRun> runs;
  for (std::string_view line : Lines(text)) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    std::string_view kind = line.substr(0, tab);
    std::string_view rest = line.substr(tab + 1);
    LoggedRun start;
    if (kind == "#" && ParseRunStart(rest, &start)) {
      runs.push_back(std::move(start));
      continue;
    }
    if (runs.empty()) continue;
    LoggedRun& run = runs.back();
    bool undo = run.command.starts_with("undo");
    if (kind == "#") {
      ParseComment(rest, &run);
    } else if (kind == "COPY") {
      ++run.files;
    } else if (kind == "KEEP") {
      ++run.kept_lines;
    } else if (kind == "DONE" && KeptCount(rest)) {
      run.kept_counted += *KeptCount(rest);
    } else if (kind == "FAIL") {
      ++run.failures;
    } else if (kind == "SKIP" && undo) {
      ++run.failures;
      if (rest.starts_with("undo\t")) run.ended = true;
    } else if (kind == "DONE" && (undo && rest.starts_with("undo of backup "))) {
      run.ended = true;
    } else if (kind == "DONE" && rest.starts_with("store of ") &&
               run.command.starts_with("verify --accept ")) {
      run.ended = true;
      run.editions.push_back({run.command.substr(16), "accepted", ""});
    } else if (kind == "SKIP" && rest.starts_with("store of ") &&
               run.command.starts_with("verify --accept ")) {
      run.ended = true;
      ++run.failures;
      run.editions.push_back({run.command.substr(16), "not accepted", ""});
    }
  }
  // Older versions wrote a KEEP line a kept file beside the editions' counts.
  for (LoggedRun& run : runs) run.files += run.kept_lines != 0 ? run.kept_lines : run.kept_counted;
  return runs;
}

std::vector<ResultLine> ParseResults(std::string_view text) {
  std::vector<ResultLine> results;
  for (std::string_view line : Lines(text)) {
    std::vector<std::string_view> words = Words(line);
    if (words.size() < 4) continue;
    ResultLine result;
    size_t n = words.size();
    result.machine = words[n - 3];
    result.command = words[n - 2];
    result.exit_code = ParseNumber<int>(words[n - 1]);
    for (size_t i = 0; i + 3 < n; ++i) {
      if (i > 0) result.time += ' ';
      result.time += words[i];
    }
    results.push_back(std::move(result));
  }
  return results;
}

std::vector<EditionResult> ParseVerifyJson(std::string_view json) {
  std::vector<EditionResult> editions;
  size_t at = FindKey(json, "edition", 0);
  while (at != std::string_view::npos) {
    size_t end = json.find('"', at);
    if (end == std::string_view::npos) break;
    EditionResult result{std::string(json.substr(at, end - at)), "", ""};
    size_t next = FindKey(json, "edition", end);
    size_t state = FindKey(json, "state", end);
    if (state != std::string_view::npos && state < next) {
      size_t state_end = json.find('"', state);
      if (state_end != std::string_view::npos)
        result.outcome = "store " + std::string(json.substr(state, state_end - state));
    }
    editions.push_back(std::move(result));
    at = next;
  }
  return editions;
}

std::vector<ReportRow> RowsOfFolder(const FolderTexts& texts) {
  std::vector<LoggedRun> runs = texts.log ? ParseWorkLog(*texts.log) : std::vector<LoggedRun>{};
  std::vector<ResultLine> results =
      texts.results ? ParseResults(*texts.results) : std::vector<ResultLine>{};
  // Each PC in the order it first ran here; its last logged run and its last batch line.
  std::vector<std::string> machines;
  std::map<std::string, size_t> last_run;
  std::map<std::string, size_t> last_result;
  auto note = [&](const std::string& machine) {
    std::string key = Lower(machine);
    if (std::find(machines.begin(), machines.end(), key) == machines.end()) machines.push_back(key);
    return key;
  };
  for (size_t i = 0; i < runs.size(); ++i) last_run[note(runs[i].machine)] = i;
  size_t last_verify = results.size();
  for (size_t i = 0; i < results.size(); ++i) {
    last_result[note(results[i].machine)] = i;
    if (results[i].command == "verify") last_verify = i;
  }
  std::vector<ReportRow> rows;
  for (const std::string& machine : machines) {
    auto run = last_run.find(machine);
    auto result = last_result.find(machine);
    std::optional<ResultLine> line;
    if (result != last_result.end()) line = results[result->second];
    // verify writes no log, nor does a run refused before it began (usage, busy).
    bool unlogged = line && (line->command == "verify" || line->exit_code == 64 ||
                             line->exit_code == 75 || run == last_run.end());
    if (unlogged) {
      rows.push_back(RowFromResults(texts, *line, result->second == last_verify));
    } else {
      rows.push_back(RowFromLog(texts, runs[run->second], line));
    }
  }
  if (rows.empty()) {
    ReportRow row;
    row.folder = texts.folder;
    row.user = texts.folder_name;
    row.notes = {std::string(kNoteNoRuns), std::string(kNoteUserFromFolder)};
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace kdr::cli
