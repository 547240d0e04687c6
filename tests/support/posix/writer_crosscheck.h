// The writers' cross-check through build/bin/imagehost: BMP files of every
// depth made by ImageMagick, converted by imagehost into the writer's format,
// each file made checked by the caller against the BMP's pixels, and read
// back by imagehost (the format's reader and the BMP writer) unchanged.
// Uses tests/host/tool_runner.h (the including test program links it).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "plugin_loader.h"
#include "tool_runner.h"

namespace testsupport {

// What `argv` writes into `out`, as netpbm pixels (the program must succeed).
inline hosttest::Pixels DecodeWith(const std::vector<std::string>& argv, const std::string& out) {
  EXPECT_EQ(hosttest::RunProgram(argv, out).exitCode, 0) << argv[0];
  return hosttest::DecodePnm(hosttest::ReadBytes(out));
}

struct Conversion {
  uint32_t bits;                // of the BMP
  std::string bmp, made;        // the paths of the BMP and of the file imagehost made from it
  hosttest::Pixels original;    // the BMP's pixels, as ImageMagick sees them
  const TempDir& dir;
};

// Noisy pictures of 2, 16 and 200 colours and of true colour, each in three
// shapes, made into BMP files of 1, 4, 8 and 24 bits and converted into
// "out.<extension>"; `check` looks at each file made, then `reader` (its
// name for messages) must read it back to the BMP's pixels.
inline void ConvertEveryDepth(const std::string& extension, uint32_t seed, const char* reader,
                              const std::function<void(const Conversion&)>& check) {
  TempDir dir;
  struct Case {
    const char* type;  // ImageMagick -type
    uint32_t colours;
    uint32_t bits;     // of the BMP ImageMagick makes
  };
  const Case cases[] = {{"bilevel", 2, 1}, {"palette", 16, 4}, {"palette", 200, 8}, {"truecolor", 0, 24}};
  for (const Case& c : cases) {
    for (auto [width, height] : {std::pair{37u, 19u}, std::pair{1u, 300u}, std::pair{130u, 3u}}) {
      SCOPED_TRACE(testing::Message() << c.type << " " << c.bits << " bits " << width << "x" << height);
      std::mt19937 rng(seed++);
      std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
      std::vector<uint8_t> ppm(head.begin(), head.end());
      for (uint32_t i = 0; i < width * height; ++i) {
        const uint32_t k = c.colours == 0 ? rng() : rng() % c.colours;
        for (int ch = 0; ch < 3; ++ch) {
          ppm.push_back(c.colours == 2 ? static_cast<uint8_t>(k * 255)
                                       : static_cast<uint8_t>(c.colours == 0 ? k >> (8 * ch) : k * (37 + 50 * ch)));
        }
      }
      hosttest::WriteBytes(dir.file("in.ppm"), ppm);
      const std::string bmp = dir.file("in.bmp");
      ASSERT_EQ(hosttest::RunProgram({"convert", dir.file("in.ppm"), "-type", c.type, "-compress", "none",
                                      "BMP3:" + bmp}).exitCode, 0);
      ASSERT_EQ(hosttest::ReadBytes(bmp)[28], c.bits) << "ImageMagick chose another depth";
      const std::string made = dir.file("out." + extension);
      hosttest::ToolRun run = hosttest::RunImagehost({"--quiet", "convert", bmp, made});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      const Conversion conversion{c.bits, bmp, made, DecodeWith({"convert", bmp, "-depth", "8", "ppm:-"}, dir.file("a.ppm")), dir};
      check(conversion);
      ASSERT_EQ(hosttest::RunImagehost({"--quiet", "convert", made, dir.file("back.bmp")}).exitCode, 0);
      EXPECT_TRUE(hosttest::DecodeBmp(hosttest::ReadBytes(dir.file("back.bmp"))) == conversion.original) << reader;
    }
  }
}

}  // namespace testsupport
