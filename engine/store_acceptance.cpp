#include "engine/store_acceptance.h"

#include "core/log_lines.h"
#include "engine/work_log_file.h"
#include "store/manifest.h"
#include "store/store_time.h"

namespace kdr {

std::string StoreStateText(const EditionCheck& check) {
  std::string text(StoreStateName(check.state()));
  switch (check.state()) {
    case StoreState::kChanged:
      text += " (" + std::to_string(check.missing()) + " missing, " +
              std::to_string(check.changed()) + " changed, " + std::to_string(check.added()) +
              " added)";
      break;
    case StoreState::kIncomplete:
      text += " (" + std::to_string(check.missed.size()) + " not collected)";
      break;
    case StoreState::kUnfinished:
      text += " (Collect did not finish)";
      break;
    default:
      break;
  }
  return text;
}

StoreAcceptance AcceptStore(const Services& services, const WorkPaths& paths, Edition edition) {
  const std::string name(EditionName(edition));
  StoreAcceptance result;
  result.was = CheckEdition(services.files, paths, edition, nullptr);
  StoreTime now = services.clock();
  result.sealed = WriteEditionManifest(services.files, paths, edition, ToolVersion(), now.local,
                                       nullptr, {}, &result.error);
  LogLines log;
  log.Comment("verify --accept " + name + ", " + now.local);
  log.Comment(RunIdentity(services));
  if (result.sealed) {
    log.Done("store of " + name + " accepted as it is, it was " + StoreStateText(result.was));
    for (const StoreProblem& p : result.was.problems) {
      log.Skipped("accepted: " + Cp932Text(p.path), ProblemText(p.kind));
    }
    for (const ManifestMiss& miss : result.was.missed) {
      log.Skipped("accepted as not collected: " + miss.what, miss.why);
    }
  } else {
    log.Skipped("store of " + name + " not accepted", ManifestWriteErrorText(result.error));
  }
  // The log is the helpdesk's record of what was accepted; a store it cannot be written to has
  // just been sealed all the same, and the caller says so.
  (void)AppendToCommandLog(services, paths, log.Take());
  return result;
}

}  // namespace kdr
