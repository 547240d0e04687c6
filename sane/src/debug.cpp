#include "debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace ferroxsane {

namespace {

int gLevel = 0;

}  // namespace

void DebugInit() {
  const char* text = std::getenv("SANE_DEBUG_FERROX");
  gLevel = text != nullptr ? std::atoi(text) : 0;
}

void Debug(int level, const char* format, ...) {
  if (level > gLevel) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "[ferrox] %s\n", line);
}

}  // namespace ferroxsane
