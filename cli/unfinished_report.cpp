#include "cli/unfinished_report.h"

#include "cli/cli_messages.h"
#include "cli/json_text.h"
#include "platform/text_encoding.h"

namespace kdr::cli {

std::string UnfinishedMigrateText(const std::vector<UnfinishedMigrate>& unfinished) {
  std::string text;
  for (const UnfinishedMigrate& u : unfinished) {
    text +=
        Text(Msg::kUnfinishedMigrate, {EditionName(u.edition), Cp932ForDisplay(u.backup)}) + "\n";
  }
  return text;
}

std::string UnfinishedMigrateJson(const std::vector<UnfinishedMigrate>& unfinished) {
  std::string json = "[";
  for (size_t i = 0; i < unfinished.size(); ++i) {
    json += (i ? "," : "") + std::string("{\"edition\":") +
            JsonString(EditionName(unfinished[i].edition)) +
            ",\"backup\":" + JsonString(Cp932ForDisplay(unfinished[i].backup)) + "}";
  }
  return json + "]";
}

}  // namespace kdr::cli
