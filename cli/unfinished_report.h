#pragma once

#include <string>
#include <vector>

#include "store/unfinished_migrate.h"

// What status and verify say of a Migrate that stopped while it wrote.
namespace kdr::cli {

// One line each: "unfinished migrate: Client (backup 20261209-190000): ...".
std::string UnfinishedMigrateText(const std::vector<UnfinishedMigrate>& unfinished);

// A JSON array of {"edition":..., "backup":...}.
std::string UnfinishedMigrateJson(const std::vector<UnfinishedMigrate>& unfinished);

}  // namespace kdr::cli
