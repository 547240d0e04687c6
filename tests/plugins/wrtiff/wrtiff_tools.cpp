// The harness's use of libtiff's and ImageMagick's programs (Linux only: it
// runs the tools).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "wrtiff_harness.h"

namespace wrtifftest {

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null") == 0;
}

std::vector<uint8_t> DecodeWithLibtiff(const std::vector<uint8_t>& file, uint32_t page) {
  testsupport::TempDir dir;
  const std::string in = dir.file("in.tif");
  const std::string out = dir.file("out.rgb");
  WriteFile(in, file);
  std::string log;
  const int status = RunCommand("convert '" + in + "[" + std::to_string(page) +
                                    "]' -depth 8 rgb:'" + out + "'",
                                &log);
  if (status != 0) {
    ADD_FAILURE() << "convert failed: " << log;
    return {};
  }
  return ReadFile(out);
}

}  // namespace wrtifftest
