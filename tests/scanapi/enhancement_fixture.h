// The resolution enhancement tests' scanner: a private temporary folder for the
// spool file, and the reference computation of the delivered lines from the
// device lines.
#pragma once
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ferrox_fixture.h"
#include "fixture_platform.h"

namespace scantest {

using Line = std::vector<uint8_t>;

// --- The reference: device lines -> requested lines. ------------------------

inline Line DeviceLine(const ScanGeometry& hardware, uint32_t index) {
  Line line(hardware.bytesPerLine);
  for (uint32_t i = 0; i < line.size(); ++i) line[i] = fake::PatternByte(index, i);
  return line;
}

// Vertical: device line j is repeated r_j times (r from the resolution
// accumulator); the first r_j - 1 repeats step from the previous line towards
// line j by halving, the last is line j itself.
inline std::vector<Line> VerticalReference(const std::vector<Line>& device, uint32_t outLines, bool vertical,
                                    uint32_t outRes, uint32_t hwRes, bool sixteen) {
  std::vector<Line> out;
  Line previous = device[0];
  uint64_t accumulated = 0;
  for (uint32_t j = 0; out.size() < outLines; ++j) {
    const Line& line = device[std::min<size_t>(j, device.size() - 1)];
    uint32_t repeats = 1;
    if (vertical) {
      accumulated += outRes;
      repeats = static_cast<uint32_t>(accumulated / hwRes);
      accumulated %= hwRes;
    }
    Line current = previous;
    for (uint32_t t = 0; t < repeats && out.size() < outLines; ++t) {
      if (t + 1 == repeats) {
        out.push_back(line);
        break;
      }
      for (size_t i = 0; i < current.size(); i += sixteen ? 2 : 1) {
        if (sixteen) {
          const uint32_t a = current[i] | current[i + 1] << 8;
          const uint32_t b = line[i] | line[i + 1] << 8;
          const uint32_t mean = (a + b) >> 1;
          current[i] = static_cast<uint8_t>(mean);
          current[i + 1] = static_cast<uint8_t>(mean >> 8);
        } else {
          current[i] = static_cast<uint8_t>((current[i] + line[i]) / 2);
        }
      }
      out.push_back(current);
    }
    previous = line;
  }
  return out;
}

// Horizontal: output x (0 < x < N - 1) mixes device pixels s and s + 1 where
// x (M - 1) = s N + a.
inline Line HorizontalReference(const Line& source, uint32_t m, uint32_t n, uint32_t channels, uint32_t bytes,
                         size_t outBytes) {
  Line out(outBytes, 0);
  auto get = [&](uint64_t p, uint32_t c) -> uint64_t {
    const size_t at = (p * channels + c) * bytes;
    return bytes == 1 ? source[at] : (source[at] | source[at + 1] << 8);
  };
  auto put = [&](uint64_t p, uint32_t c, uint64_t v) {
    const size_t at = (p * channels + c) * bytes;
    out[at] = static_cast<uint8_t>(v);
    if (bytes == 2) out[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  for (uint32_t c = 0; c < channels; ++c) {
    put(0, c, get(0, c));
    put(n - 1, c, get(m - 1, c));
    for (uint64_t x = 1; x + 1 < n; ++x) {
      const uint64_t position = x * (m - 1);
      const uint64_t s = position / n;
      const uint64_t a = position % n;
      put(x, c, get(s, c) * (n - a) / n + get(std::min<uint64_t>(s + 1, m - 1), c) * a / n);
    }
  }
  return out;
}

inline Line LineArtReference(const Line& source, uint32_t m, uint32_t n, uint32_t outRes, uint32_t hwRes,
                      uint8_t threshold, size_t outBytes) {
  Line out(outBytes, 0);
  for (uint64_t x = 0; x < n; ++x) {
    const uint64_t s = std::min<uint64_t>(x * hwRes / outRes, m - 1);
    if (source[s] >= threshold) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
  return out;
}

// --- The scanner. -------------------------------------------------------------

class Enhancement : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::UseTemporaryFolder(temp);
    ASSERT_TRUE(scanner.load());
    scanner.openAndLock();
  }
  void TearDown() override {
    platform::UseTemporaryFolder("");
    platform::RemoveFolder(temp);
  }

  std::string spoolPath() const { return temp + "NVKTEMP.TMP"; }
  bool spoolOpen() const { return platform::HeldOpen(spoolPath()); }
  bool spoolExists() const { return spoolOpen() || std::filesystem::exists(spoolPath()); }

  ScanParameters request(uint16_t type, uint16_t xres, uint16_t yres, uint16_t width = 150,
                         uint16_t height = 60, uint32_t flags = 0) {
    ScanParameters params{};
    params.frame = ScanFrame{flags, 0, 0, width, height, xres, yres, type, 0, 0};
    params.mapMode = MAP_MODE_BUILT_IN;
    return params;
  }
  void start(ScanParameters& params) {
    ASSERT_EQ(scanner.send(CMD_SET_PARAMETERS, &params).status, SCAN_OK);
    ASSERT_EQ(scanner.send(CMD_START_SCAN).status, SCAN_OK);
  }
  // Reads every line, `linesPerCall` output lines' worth of buffer at a time.
  std::vector<Line> readAll(uint32_t bytesPerLine, uint32_t linesPerCall, uint32_t extraBytes = 0) {
    std::vector<Line> lines;
    std::vector<uint8_t> buffer(size_t{bytesPerLine} * linesPerCall + extraBytes);
    for (int calls = 0; calls < 100000; ++calls) {
      ScannerCommand read = scanner.send(CMD_READ_LINES, buffer.data(), static_cast<uint32_t>(buffer.size()));
      if (read.status == SCAN_END_OF_DATA) break;
      EXPECT_EQ(read.status, SCAN_OK);
      if (read.status != SCAN_OK) break;
      for (uint32_t i = 0; i < read.result; ++i)
        lines.emplace_back(buffer.begin() + size_t{i} * bytesPerLine, buffer.begin() + size_t{i + 1} * bytesPerLine);
    }
    return lines;
  }
  std::vector<Line> deviceLines(const ScanGeometry& hardware, uint32_t count) {
    std::vector<Line> lines;
    for (uint32_t j = 0; j < count; ++j) lines.push_back(DeviceLine(hardware, j));
    return lines;
  }

  std::string temp = platform::MakeFolder();  // the temporary folder of the library
  Installation scanner;
};

}  // namespace scantest
