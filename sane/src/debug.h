// The backend's debug output: SANE_DEBUG_FERROX=<level> prints messages of
// that level and below to stderr, prefixed "[ferrox]". Level 1 tells why a
// call failed, 3 each scanner command of a scan, 5 the option traffic.
#pragma once

namespace ferroxsane {

inline constexpr int kDebugError = 1;
inline constexpr int kDebugInfo = 3;
inline constexpr int kDebugTrace = 5;

// Reads SANE_DEBUG_FERROX; called by sane_init.
void DebugInit();
void Debug(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace ferroxsane
