// Event log shared by the test modules: each appends a short mark to the
// variable WINPORT_TEST_EVENTS, which outlives the module once it is unloaded.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace {

void recordEvent(const char* mark) {
  const char* old = std::getenv("WINPORT_TEST_EVENTS");
  char events[512];
  std::snprintf(events, sizeof events, "%s%s", old != nullptr ? old : "", mark);
  setenv("WINPORT_TEST_EVENTS", events, 1);
}

}  // namespace
