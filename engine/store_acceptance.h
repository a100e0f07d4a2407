#pragma once

#include <string>

#include "core/edition.h"
#include "core/work_paths.h"
#include "engine/services.h"
#include "store/store_check.h"

namespace kdr {

// A store sealed as it now is, on purpose: what it was before, and whether the seal held.
struct StoreAcceptance {
  EditionCheck was;
  bool sealed = false;
  ManifestWriteError error;  // why not
};

// Seals the edition's store as it now is (a hand-edited settings file, files the user removed
// or added, a Collect that did not finish) and records in the work folder's log what was
// accepted.
StoreAcceptance AcceptStore(const Services& services, const WorkPaths& paths, Edition edition);

// The state and its counts, as a person reads them: "changed (1 missing, 0 changed, 2 added)".
std::string StoreStateText(const EditionCheck& check);

}  // namespace kdr
