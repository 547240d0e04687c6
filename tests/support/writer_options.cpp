// The host's option getter: the test program stands in for the host library.
#include <cstdio>

#include "program_export.h"
#include "writer_harness.h"

SUITE_PROGRAM_EXPORT int32_t CALLBACK OvgXOptBlkGet(HGLOBAL /*options*/, const char* key, char* value) {
  const auto& options = testsupport::Options();
  const auto found = options.find(key);
  if (found == options.end()) return 1;
  std::snprintf(value, kOptionValueSize, "%s", found->second.c_str());
  return 0;
}

namespace testsupport {

std::map<std::string, std::string>& Options() {
  static std::map<std::string, std::string> options;
  return options;
}

}  // namespace testsupport
