// Runs one test of this binary again in a fresh process, with extra
// environment variables: for settings the platform layer reads at start-up.
#pragma once

#include <string>
#include <vector>

namespace winporttest {

struct ChildRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
  // True when the test ran in the child (not skipped, not filtered away) and passed.
  bool passed(const std::string& testName) const;
};

// `variables` as "NAME=value"; they replace any inherited value.
ChildRun runTestInChild(const std::string& testName, const std::vector<std::string>& variables);

// True inside such a child (the variable WINPORT_TEST_CHILD is set).
bool inChild();

}  // namespace winporttest
