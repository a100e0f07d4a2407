#pragma once

#include <deque>
#include <utility>

namespace kdr::cli {

// `value` kept at an address that stays valid for the life of the process: a signal or console
// handler may read it at any moment, and a run over several users sets one per user. The store
// is never destroyed and stays reachable, so what it holds is neither freed under a handler nor
// lost.
template <typename Value>
const Value* KeepForProcess(Value value) {
  static auto* kept = new std::deque<Value>;
  return &kept->emplace_back(std::move(value));
}

}  // namespace kdr::cli
