#include "cli/fleet_report.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kdr::cli {
namespace {

// A row as one line: machine|user|command|time|editions|files|failures|exit|notes|detail.
std::string Summary(const ReportRow& row) {
  std::string editions;
  for (const EditionResult& e : row.editions) {
    editions += (editions.empty() ? "" : ",") + e.edition + " " + e.outcome +
                (e.reason.empty() ? "" : " " + e.reason);
  }
  std::string notes;
  for (const std::string& n : row.notes) notes += (notes.empty() ? "" : ",") + n;
  auto number = [](const auto& v) { return v ? std::to_string(*v) : std::string("-"); };
  return row.machine + "|" + row.user + "|" + row.command + "|" + row.time + "|" + editions + "|" +
         number(row.files) + "|" + number(row.failures) + "|" + number(row.exit_code) + "|" +
         notes + "|" + row.detail;
}

const std::string kStart =
    "#\tcollect, 2026-12-09T08:50:00+09:00\n#\tkdr4tose 1.0.0 on PC01 as tanaka\n";

struct Case {
  const char* name;
  std::optional<std::string> log;
  std::optional<std::string> results;
  std::optional<std::string> verify_json;
  std::vector<std::string> expected;
};

TEST(FleetReportTest, RowsOfFolder) {
  const std::vector<Case> cases = {
      {"collect done, as Windows writes the log (BOM, CR LF)",
       "\xEF\xBB\xBF#\tcollect, 2026-12-09T08:50:00+09:00\r\n#\tkdr4tose 1.0.0 on PC01 as "
       "tanaka\r\nCOPY\tC:\\a\t1\r\nKEEP\tC:\\b\t2\r\n#\toutcome of Client: done\r\n#\teditions "
       "attempted 10, failed 0\r\n#\texit 0\r\n",
       std::nullopt,
       std::nullopt,
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00|Client done|2|0|0||"}},
      {"kept files counted from each edition's line",
       kStart + "COPY\ta\t1\nDONE\tPersonal: 3 file(s) kept: the store held them already, proven "
                "the same\nDONE\tClient: 2 file(s) kept: the store held them already, proven the "
                "same\n#\toutcome of Client: done\n#\teditions attempted 10, failed 0\n#\texit 0\n",
       std::nullopt,
       std::nullopt,
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00|Client done|6|0|0||"}},
      {"kept files counted once where an older version wrote a KEEP line a file too",
       kStart + "KEEP\ta\t1\nKEEP\tb\t1\nDONE\tClient: 2 file(s) kept: the store held them "
                "already, proven the same\n#\toutcome of Client: done\n#\teditions attempted 10, "
                "failed 0\n#\texit 0\n",
       std::nullopt,
       std::nullopt,
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00|Client done|2|0|0||"}},
      {"files not copied",
       kStart + "COPY\ta\t1\nFAIL\tb\tCopyFile b: 5 access denied\nFAIL\tc\tx\n#\toutcome of "
                "Personal: done\n#\toutcome of Client: failed, files_not_copied (some data files "
                "were not copied)\n#\teditions attempted 110, failed 10\n#\texit 1\n",
       std::nullopt,
       std::nullopt,
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00|Personal done,Client failed "
        "files_not_copied|1|2|1||"}},
      {"stopped by Ctrl-C",
       kStart + "COPY\ta\t1\n#\tinterrupted: collect did not finish\n#\toutcome of Client: "
                "failed, interrupted (the run was stopped)\n#\teditions attempted 10, failed "
                "10\n#\texit 130\n",
       std::nullopt,
       std::nullopt,
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00|Client failed "
        "interrupted|1|0|130|interrupted|"}},
      {"killed: no end in the log, the batch file's exit code",
       kStart + "COPY\ta\t1\n",
       "2026/12/09  8:51:02.15 PC01 collect 1\n",
       std::nullopt,
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00||1|0|1|not_finished|"}},
      {"the window's run has no exit code; a run before it is not shown",
       kStart + "#\teditions attempted 10, failed 0\n#\texit 0\n#\tmigrate, "
                "2026-12-10T09:00:00+09:00\n#\tkdr4tose 1.0.0 on PC01 as "
                "tanaka\n#\toutcome of Client: done\n#\teditions attempted 10, failed 0\n",
       std::nullopt,
       std::nullopt,
       {"PC01|tanaka|migrate|2026-12-10T09:00:00+09:00|Client done|0|0|-||"}},
      {"two PCs, in the order they ran; a PC name in another case is the same PC",
       kStart + "#\teditions attempted 10, failed 0\n#\texit 0\n#\tmigrate, "
                "2026-12-10T09:00:00+09:00\n#\tkdr4tose 1.0.0 on NEWPC "
                "as Taro Yamada\n#\teditions attempted 10, failed 0\n#\texit 2\n",
       "2026/12/09 8:51:00.00 pc01 collect 0\n2026/12/10 9:00:00.00 NEWPC verify 0\n2026/12/10 "
       "9:01:00.00 NEWPC migrate 2\n",
       std::nullopt,
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00||0|0|0||",
        "NEWPC|Taro Yamada|migrate|2026-12-10T09:00:00+09:00||0|0|2||"}},
      {"a failed verify (not logged) from results.txt, with verify.json's states and its .err",
       kStart + "#\teditions attempted 10, failed 0\n#\texit 0\n",
       "Thu 12/10/2026  9:05:02.15 PC01 collect 0\nThu 12/10/2026 9:06:00.00 NEWPC verify 1\n",
       R"({"format":1,"command":"verify","whole":false,"editions":[{"edition":"Personal","state":"whole"},{"edition":"Client","state":"changed","problems":["a \"edition\":\"x\""]}],"unfinished_migrates":[]})",
       {"PC01|tanaka|collect|2026-12-09T08:50:00+09:00||0|0|0||",
        "NEWPC|folder-user|verify|Thu 12/10/2026 9:06:00.00|Personal store whole,Client store "
        "changed|-|-|1|from_results_txt,user_from_folder|kdr4tose-cli: changed: x"}},
      {"a run refused before it began (64) is after the PC's logged runs",
       kStart + "#\teditions attempted 10, failed 0\n#\texit 0\n",
       "d t PC01 collect 0\nd t PC01 collect 64\n",
       std::nullopt,
       {"PC01|folder-user|collect|d t||-|-|64|from_results_txt,user_from_folder|kdr4tose-cli: "
        "collect: no"}},
      {"undo: items not restored counted; an older log without the PC",
       "noise before any run\n#\tundo, 2026-12-11T10:00:00+09:00\nSKIP\trefused: value x\tchanged "
       "since\nDONE\tundo of backup 20261210-090000: 1 restored, 0 removed, 1 refused, 0 "
       "failed; not everything is as before the Migrate\n",
       std::nullopt,
       std::nullopt,
       {"|folder-user|undo|2026-12-11T10:00:00+09:00||0|1|-|machine_not_recorded,user_from_"
        "folder|"}},
      {"verify --accept",
       "#\tverify --accept Client, 2026-12-11T10:00:00+09:00\n#\tkdr4tose 1.0.0 on PC02 as "
       "sato\nDONE\tstore of Client accepted as it is, it was changed\n",
       std::nullopt,
       std::nullopt,
       {"PC02|sato|verify --accept Client|2026-12-11T10:00:00+09:00|Client accepted|0|0|-||"}},
      {"nothing ran",
       std::nullopt,
       "\n  \nshort line\n",
       std::nullopt,
       {"|folder-user||||-|-|-|no_runs,user_from_folder|"}},
  };
  for (const Case& c : cases) {
    FolderTexts texts;
    texts.folder = "/share/folder-user";
    texts.folder_name = "folder-user";
    texts.log = c.log;
    texts.results = c.results;
    texts.verify_json = c.verify_json;
    texts.error_lines = {{"verify", "kdr4tose-cli: changed: x"},
                         {"collect", "kdr4tose-cli: collect: no"}};
    std::vector<std::string> got;
    for (const ReportRow& row : RowsOfFolder(texts)) got.push_back(Summary(row));
    EXPECT_EQ(c.expected, got) << c.name;
  }
}

}  // namespace
}  // namespace kdr::cli
