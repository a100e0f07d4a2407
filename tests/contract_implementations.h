#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// The implementations one interface's contract runs against. The contract test registers what
// every build has; each platform's folder registers its own, the way the flow-test worlds are.
namespace kdr::contract {

// `Made` is what a test gets to work with: the implementation under test and its harness.
template <typename Made>
struct Implementation {
  const char* name;
  Made (*make)();
};

template <typename Made>
std::vector<Implementation<Made>>& Implementations() {
  static std::vector<Implementation<Made>> list;
  return list;
}

template <typename Made>
bool RegisterImplementation(const char* name, Made (*make)()) {
  Implementations<Made>().push_back({name, make});
  return true;
}

template <typename Made>
void PrintTo(const Implementation<Made>& implementation, std::ostream* os) {
  *os << implementation.name;
}

// Names each instance of a contract test after its implementation.
template <typename Made>
std::string ImplementationName(const ::testing::TestParamInfo<Implementation<Made>>& info) {
  return info.param.name;
}

}  // namespace kdr::contract
