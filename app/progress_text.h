#pragma once

#include <cstdint>
#include <string>

#include "engine/run_progress.h"

// The progress window's texts (UTF-8), made from a run's progress state.
namespace kdr {

struct ProgressTexts {
  std::string step;    // the edition and what is being done to it
  std::string counts;  // files and bytes done of the totals, and the share done
  std::string left;    // the time left
};

ProgressTexts MakeProgressTexts(const ProgressState& state);

// A byte count in the largest unit that keeps it at 1 or more, with one decimal: "2.1 GB".
std::string ByteSize(uint64_t bytes);

}  // namespace kdr
