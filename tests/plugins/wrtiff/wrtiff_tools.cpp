// The harness's use of libtiff's and ImageMagick's programs (Linux only: it
// runs the tools).
#include "wrtiff_harness.h"

namespace wrtifftest {

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
