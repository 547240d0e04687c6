// The run coder measures runs a word at a time and stores codes without
// branching; its files must stay exactly those of the plain byte-by-byte
// rule: a run of 1 to 63 equal bytes is one code, a single byte below 0xC0
// stands for itself. Lines of every shape near the word size and the 63-byte
// limit are coded through the exports and compared with that rule.
#include <random>

#include "wrpcx_fixture.h"

namespace wrpcxtest {
namespace {

// The plain rule, one plane line at a time.
Bytes CodeLinePlainly(const Bytes& line) {
  Bytes out;
  for (size_t i = 0; i < line.size();) {
    const uint8_t value = line[i];
    size_t run = 1;
    while (i + run < line.size() && line[i + run] == value && run < 63) ++run;
    if (run == 1 && value < 0xC0) {
      out.push_back(value);
    } else {
      out.push_back(static_cast<uint8_t>(0xC0 | run));
      out.push_back(value);
    }
    i += run;
  }
  return out;
}

// An 8-bit DIB whose rows (top first) are `lines`, all `width` bytes.
Dib GreyDib(int32_t width, const std::vector<Bytes>& lines) {
  Dib dib = MakeDib(width, static_cast<int32_t>(lines.size()), 8);
  for (size_t y = 0; y < lines.size(); ++y) {
    std::fill(dib.rows[y].begin(), dib.rows[y].end(), uint8_t{0});  // the row's padding
    std::copy(lines[y].begin(), lines[y].end(), dib.rows[y].begin());
  }
  return dib;
}

// Runs of lengths drawn from `lengths`, values from `values`, cut to `width`.
Bytes RunsLine(std::mt19937& rng, size_t width, std::vector<size_t> lengths,
               std::vector<uint8_t> values) {
  Bytes line;
  while (line.size() < width) {
    const size_t run = lengths[rng() % lengths.size()];
    const uint8_t value = values[rng() % values.size()];
    line.insert(line.end(), std::min(run, width - line.size()), value);
  }
  return line;
}

TEST_F(WrpcxTest, RunCodingMatchesThePlainRuleForEveryLineShape) {
  struct Shape {
    const char* name;
    std::vector<size_t> lengths;
    std::vector<uint8_t> values;
  };
  const std::vector<uint8_t> anyValue = [] {
    std::vector<uint8_t> all(256);
    for (int v = 0; v < 256; ++v) all[v] = static_cast<uint8_t>(v);
    return all;
  }();
  const Shape shapes[] = {
      {"single bytes", {1}, anyValue},
      {"short runs", {1, 2, 3, 4}, anyValue},
      {"runs about a word", {7, 8, 9, 10, 15, 16, 17}, {0, 0x41, 0xBF, 0xC0, 0xFF}},
      {"runs about the limit", {62, 63, 64, 65, 126, 127, 200}, {0, 0x7F, 0xC1}},
      {"two values", {1, 2, 5, 40}, {0x10, 0x11}},
      {"high values", {1, 2}, {0xC0, 0xD5, 0xFF}},
  };
  std::mt19937 rng(14);
  for (const Shape& shape : shapes) {
    for (int32_t width : {1, 2, 7, 8, 9, 10, 16, 17, 63, 64, 65, 130, 997}) {
      SCOPED_TRACE(std::string(shape.name) + ", width " + std::to_string(width));
      std::vector<Bytes> lines;
      for (int y = 0; y < 6; ++y)
        lines.push_back(RunsLine(rng, static_cast<size_t>(width), shape.lengths, shape.values));
      ExportRun r = writer.run(GreyDib(width, lines), 4);
      ASSERT_EQ(r.endResult, 1);
      const size_t bytesPerLine = static_cast<size_t>(width + 1) / 2 * 2;
      Bytes expected;
      for (Bytes line : lines) {
        line.resize(bytesPerLine, 0);  // the line's even length is made up with 0
        const Bytes coded = CodeLinePlainly(line);
        expected.insert(expected.end(), coded.begin(), coded.end());
      }
      ASSERT_GE(r.file.size(), 128 + expected.size() + 769);
      const Bytes got(r.file.begin() + 128, r.file.end() - 769);
      EXPECT_EQ(got, expected);
    }
  }
}

}  // namespace
}  // namespace wrpcxtest
