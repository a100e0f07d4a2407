#include "cli/fleet_report_command.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "cli/cli_app.h"
#include "cli/cli_messages.h"
#include "cli/cli_platform.h"
#include "cli/fleet_report.h"
#include "cli/json_text.h"
#include "core/edition.h"
#include "platform/text_encoding.h"
#include "platform/utf8.h"

namespace kdr::cli {
namespace {

namespace fs = std::filesystem;

// Why a folder could not be read, as the CSV and JSON carry it too: in English, as the
// system's own error texts beside it are. Field names are not translated either.
constexpr std::string_view kTextNotAFolder = "not a folder";
constexpr std::string_view kTextNotAFile = "not a regular file";
constexpr std::string_view kTextCannotReadFile = "cannot read ";

constexpr std::string_view kWorkRoot = "kdr4env";
constexpr std::string_view kResults = "results.txt";

// Text that is not UTF-8 as code page 932 (cmd's echo writes the console's code page, Windows'
// error texts the ANSI one: 932 on a Japanese PC); left as it is when it is not that either.
std::string ValidUtf8(std::string text) {
  for (size_t i = 0; i < text.size();) {
    size_t size = Utf8SequenceLength(std::string_view(text).substr(i));
    if (size == 0) {
      std::optional<std::string> converted = Cp932ToUtf8(text);
      return converted ? *converted : text;
    }
    i += size;
  }
  return text;
}

// The system's text of an error: on Windows in the ANSI code page (932 on a Japanese PC).
std::string ErrorText(const std::error_code& ec) { return ValidUtf8(ec.message()); }

// Whether `name` is there; nullopt with *error when the folder cannot be looked into.
std::optional<bool> Holds(const fs::path& folder, std::string_view name, std::string* error) {
  std::error_code ec;
  fs::file_status status = fs::status(folder / HostPathFromUtf8(name), ec);
  if (ec && status.type() != fs::file_type::not_found) {
    *error = ErrorText(ec);
    return std::nullopt;
  }
  return status.type() != fs::file_type::not_found;
}

std::optional<bool> IsWorkFolder(const fs::path& folder, std::string* error) {
  for (std::string_view name : {kWorkRoot, kResults}) {
    std::optional<bool> holds = Holds(folder, name, error);
    if (!holds || *holds) return holds;
  }
  return false;
}

// A file of the folder: nullopt when it is not there; false when it is and cannot be read.
bool ReadOptional(const fs::path& path, std::optional<std::string>* text, std::string* error) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return true;
  std::string why = ec ? ErrorText(ec) : std::string(kTextNotAFile);
  FileStamp stamp;
  // Only a regular file is opened: a FIFO in its place would hold the report for ever.
  std::optional<std::string> bytes;
  if (!ec && status.type() == fs::file_type::regular) bytes = ReadHostFile(path, &why, &stamp);
  if (!bytes) {
    *error = std::string(kTextCannotReadFile) + HostPathToUtf8(path) + ": " + why;
    return false;
  }
  *text = ValidUtf8(std::move(*bytes));
  return true;
}

std::string FirstLine(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.remove_prefix(1);
  std::string_view line = text.substr(0, text.find_first_of("\r\n"));
  return std::string(line);
}

ReportRow UnreadableRow(const fs::path& folder, std::string why) {
  ReportRow row;
  row.folder = HostPathToUtf8(folder);
  row.error = std::move(why);
  return row;
}

std::vector<ReportRow> ReadWorkFolder(const fs::path& folder) {
  FolderTexts texts;
  texts.folder = HostPathToUtf8(folder);
  texts.folder_name = HostPathToUtf8(folder.filename());
  std::string error;
  fs::path work_root = folder / HostPathFromUtf8(kWorkRoot);
  if (!ReadOptional(work_root / HostPathFromUtf8("kdr4tose.log"), &texts.log, &error) ||
      !ReadOptional(folder / HostPathFromUtf8(kResults), &texts.results, &error) ||
      !ReadOptional(folder / HostPathFromUtf8("verify.json"), &texts.verify_json, &error)) {
    return {UnreadableRow(folder, error)};
  }
  for (std::string_view command : {"collect", "verify", "migrate"}) {
    std::optional<std::string> err;
    std::string ignored;
    // The .err files only explain; one that cannot be read explains nothing.
    if (ReadOptional(folder / HostPathFromUtf8(std::string(command) + ".err"), &err, &ignored) &&
        err) {
      texts.error_lines.emplace_back(command, FirstLine(*err));
    }
  }
  return RowsOfFolder(texts);
}

// The subfolders of `folder`, by name.
std::optional<std::vector<fs::path>> Subfolders(const fs::path& folder, std::string* error) {
  std::error_code ec;
  std::vector<fs::path> found;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_directory(type_ec)) found.push_back(it->path());
  }
  if (ec) {
    *error = ErrorText(ec);
    return std::nullopt;
  }
  std::sort(found.begin(), found.end());
  return found;
}

// A work folder, or a share of them: one folder per user, or per PC and in it per user.
void ReadFolder(const fs::path& folder, int depth, std::vector<ReportRow>* rows) {
  std::string error;
  std::optional<bool> work = IsWorkFolder(folder, &error);
  if (!work) {
    rows->push_back(UnreadableRow(folder, error));
    return;
  }
  if (*work) {
    std::vector<ReportRow> read = ReadWorkFolder(folder);
    rows->insert(rows->end(), read.begin(), read.end());
    return;
  }
  if (depth == 2) return;
  std::optional<std::vector<fs::path>> subfolders = Subfolders(folder, &error);
  if (!subfolders) {
    rows->push_back(UnreadableRow(folder, error));
    return;
  }
  for (const fs::path& sub : *subfolders) ReadFolder(sub, depth + 1, rows);
}

std::string EditionOutcome(const ReportRow& row, std::string_view edition) {
  for (const EditionResult& result : row.editions) {
    if (result.edition != edition) continue;
    return result.reason.empty() ? result.outcome : result.outcome + " (" + result.reason + ")";
  }
  return "";
}

std::string Number(const std::optional<uint64_t>& value) {
  return value ? std::to_string(*value) : "";
}
std::string ExitText(const std::optional<int>& value) {
  return value ? std::to_string(*value) : "";
}
std::string Joined(const std::vector<std::string>& notes, std::string_view separator) {
  std::string out;
  for (const std::string& note : notes) out += (out.empty() ? "" : std::string(separator)) + note;
  return out;
}

// The fields of a row as the text table and the CSV show them.
std::vector<std::string> Fields(const ReportRow& row) {
  std::vector<std::string> notes = row.notes;
  if (!row.detail.empty()) notes.push_back(row.detail);
  return {row.folder,
          row.machine,
          row.user,
          row.command,
          row.time,
          EditionOutcome(row, EditionName(Edition::kPersonal)),
          EditionOutcome(row, EditionName(Edition::kClient)),
          EditionOutcome(row, EditionName(Edition::kServer)),
          Number(row.files),
          Number(row.failures),
          ExitText(row.exit_code),
          Joined(notes, "; ")};
}
const std::vector<std::string> kHeader = {"folder", "machine",  "user",   "command",
                                          "time",   "Personal", "Client", "Server",
                                          "files",  "failures", "exit",   "notes"};

// Columns on a console: CJK characters take two cells.
size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    size_t size = Utf8SequenceLength(text.substr(i));
    if (size == 0) size = 1;
    uint32_t cp = static_cast<unsigned char>(text[i]);
    if (size > 1) {
      cp &= 0xFFu >> (size + 1);
      for (size_t k = 1; k < size; ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
    }
    bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
    width += wide ? 2 : 1;
    i += size;
  }
  return width;
}

// A name may hold a line break or a tab (a folder made on Linux): one row stays one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return text;
}

std::string TextReport(const std::vector<ReportRow>& rows) {
  std::vector<std::vector<std::string>> table{kHeader};
  for (const ReportRow& row : rows) {
    if (!row.error.empty()) continue;
    std::vector<std::string> fields = Fields(row);
    for (std::string& field : fields) field = OneLine(std::move(field));
    table.push_back(std::move(fields));
  }
  std::vector<size_t> widths(kHeader.size(), 0);
  for (const auto& fields : table) {
    for (size_t i = 0; i < fields.size(); ++i)
      widths[i] = std::max(widths[i], DisplayWidth(fields[i]));
  }
  std::string out;
  for (const auto& fields : table) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
      line += fields[i];
      if (i + 1 < fields.size()) line += std::string(widths[i] - DisplayWidth(fields[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  for (const ReportRow& row : rows) {
    if (!row.error.empty())
      out += Text(Msg::kReportCannotRead, {OneLine(row.folder), OneLine(row.error)}) + "\n";
  }
  return out;
}

std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

// With a byte order mark and CR LF, as Excel reads UTF-8.
std::string CsvReport(const std::vector<ReportRow>& rows) {
  std::vector<std::string> header = kHeader;
  header.push_back("error");
  std::string out = "\xEF\xBB\xBF";
  auto line = [&](const std::vector<std::string>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + CsvField(fields[i]);
    out += "\r\n";
  };
  line(header);
  for (const ReportRow& row : rows) {
    std::vector<std::string> fields = Fields(row);
    fields.push_back(row.error);
    line(fields);
  }
  return out;
}

std::string JsonReport(const std::vector<ReportRow>& rows, size_t unreadable) {
  std::string out =
      JsonObjectFor("report") + ",\"unreadable\":" + std::to_string(unreadable) + ",\"rows\":[";
  for (size_t r = 0; r < rows.size(); ++r) {
    const ReportRow& row = rows[r];
    out += std::string(r ? "," : "") + "{\"folder\":" + JsonString(row.folder);
    if (!row.error.empty()) {
      out += ",\"error\":" + JsonString(row.error) + "}";
      continue;
    }
    out += ",\"machine\":" + JsonString(row.machine) + ",\"user\":" + JsonString(row.user) +
           ",\"command\":" + JsonString(row.command) + ",\"time\":" + JsonString(row.time) +
           ",\"editions\":[";
    for (size_t e = 0; e < row.editions.size(); ++e) {
      const EditionResult& result = row.editions[e];
      out += std::string(e ? "," : "") + "{\"edition\":" + JsonString(result.edition) +
             ",\"outcome\":" + JsonString(result.outcome) +
             (result.reason.empty() ? "" : ",\"reason\":" + JsonString(result.reason)) + "}";
    }
    out += "]";
    if (row.files) out += ",\"files\":" + std::to_string(*row.files);
    if (row.failures) out += ",\"failures\":" + std::to_string(*row.failures);
    out += ",\"exit_code\":" + (row.exit_code ? std::to_string(*row.exit_code) : "null");
    out += ",\"notes\":[";
    for (size_t n = 0; n < row.notes.size(); ++n)
      out += std::string(n ? "," : "") + JsonString(row.notes[n]);
    out += "]";
    if (!row.detail.empty()) out += ",\"detail\":" + JsonString(row.detail);
    out += "}";
  }
  return out + "]}\n";
}

}  // namespace

int RunReport(const std::vector<std::string>& folders, ReportFormat format) {
  std::vector<ReportRow> rows;
  int exit_code = kExitOk;
  for (const std::string& folder : folders) {
    size_t before = rows.size();
    std::string error;
    std::optional<fs::path> absolute = AbsoluteHostPath(HostPathFromUtf8(folder), &error);
    // "tanaka\" names the folder tanaka, whose name is the user's.
    if (absolute && !absolute->has_filename() && absolute->has_relative_path())
      *absolute = absolute->parent_path();
    std::error_code ec;
    if (!absolute) {
      rows.push_back(UnreadableRow(HostPathFromUtf8(folder), error));
    } else if (fs::file_status status = fs::status(*absolute, ec);
               status.type() != fs::file_type::directory) {
      rows.push_back(UnreadableRow(*absolute, ec ? ErrorText(ec) : std::string(kTextNotAFolder)));
    } else {
      ReadFolder(*absolute, 0, &rows);
      if (rows.size() == before) {
        WriteStderr("kdr4tose-cli: " + Text(Msg::kReportNoWorkFolder, {HostPathToUtf8(*absolute)}) +
                    "\n");
      }
    }
  }
  size_t unreadable = static_cast<size_t>(
      std::count_if(rows.begin(), rows.end(), [](const ReportRow& r) { return !r.error.empty(); }));
  if (unreadable > 0) {
    exit_code = kExitEditionFailed;
  } else if (rows.empty()) {
    exit_code = kExitNothingToDo;
  }
  switch (format) {
    case ReportFormat::kText:
      if (!rows.empty()) WriteStdout(TextReport(rows));
      break;
    case ReportFormat::kCsv:
      WriteStdout(CsvReport(rows));
      break;
    case ReportFormat::kJson:
      WriteStdout(JsonReport(rows, unreadable));
      break;
  }
  return exit_code;
}

}  // namespace kdr::cli
