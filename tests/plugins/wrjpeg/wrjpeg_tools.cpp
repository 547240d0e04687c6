// The harness's use of libjpeg-turbo's djpeg (Linux only: it runs the tools).
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "wrjpeg_harness.h"

namespace wrjpegtest {

std::vector<uint8_t> Decode(const std::vector<uint8_t>& jpeg) {
  testsupport::TempDir dir;
  const std::string in = dir.file("in.jpg"), out = dir.file("out.ppm");
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), long(jpeg.size()));
  std::string log;
  // djpeg prints every warning (corrupt data, extraneous bytes) on stderr.
  if (RunCommand("djpeg -ppm -outfile '" + out + "' '" + in + "'", &log) != 0 || !log.empty()) {
    ADD_FAILURE() << "djpeg: " << log;
    return {};
  }
  std::ifstream file(out, std::ios::binary);
  std::vector<uint8_t> ppm((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t at = 0;
  for (int fields = 0; fields < 4 && at < ppm.size(); ++at) {  // "P6", width, height, 255
    if (ppm[at] == ' ' || ppm[at] == '\n') ++fields;
  }
  return std::vector<uint8_t>(ppm.begin() + long(at), ppm.end());
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

}  // namespace wrjpegtest
