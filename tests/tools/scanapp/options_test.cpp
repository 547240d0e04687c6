// The scan options that reach the scanner library as flags and settings:
// tone maps, brightness, film, music, the progress function and its wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "scanapp_fixture.h"
#include "virtscan/virtscan.h"

namespace scanapptest {
namespace {

using standin_test::Picture;

class ScanappOptions : public ScanappTest {
 protected:
  // Index of the first trace line starting with `prefix`; -1 when none.
  int traceLine(const std::string& prefix) const {
    const std::vector<std::string> lines = trace();
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
  }
};

TEST_F(ScanappOptions, BrightnessShapesTheMapsUnlessIdentityMapsAreAsked) {
  const Picture picture = standin_test::patternPicture(64, 48);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  const std::vector<std::string> scan = {
      "scan", "-o",     file("out.bmp"), "--mode",       "gray", "--resolution",
      "300",  "--area", "0,0,64,48",     "--brightness", "127"};
  ASSERT_EQ(scanapp(scan).exitCode, 0);
  // Brightness 127 lifts every entry of the (identity) built-in map to the top.
  const hosttest::Pixels bright = bmpPixels("out.bmp");
  EXPECT_TRUE(
      std::all_of(bright.rgb.begin(), bright.rgb.end(), [](uint8_t v) { return v == 255; }));
  std::vector<std::string> identity = scan;
  identity.push_back("--identity-maps");
  ASSERT_EQ(scanapp(identity).exitCode, 0);
  EXPECT_EQ(bmpPixels("out.bmp"), CutGrey(picture, 0, 0, 64, 48));
}

TEST_F(ScanappOptions, NegativeFilmComesBackPositive) {
  const Picture picture = standin_test::patternPicture(60, 40);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) +
          "\"\n\"Capabilities\"=dword:00000040\n");
  hosttest::ToolRun run = scanapp({"scan", "-o", file("film.bmp"), "--source", "negative", "--mode",
                                   "gray", "--resolution", "300", "--area", "0,0,20,10"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(bmpPixels("film.bmp"), CutGrey(picture, 0, 0, 20, 10));
  hosttest::ToolRun positive = scanapp({"scan", "-o", file("film.bmp"), "--source", "positive"});
  EXPECT_EQ(positive.exitCode, 0) << positive.err;
}

TEST_F(ScanappOptions, MusicPlaysUnlessNoMusicIsAsked) {
  install();
  ASSERT_EQ(scanapp({"scan", "-o", file("a.bmp"), "-x", "5", "-y", "5"}).exitCode, 0);
  EXPECT_GT(traceLine("music slot=3 play mode=0"), traceLine("op=15 "));
  std::remove(file("trace.txt").c_str());
  ASSERT_EQ(scanapp({"scan", "-o", file("a.bmp"), "-x", "5", "-y", "5", "--no-music"}).exitCode, 0);
  EXPECT_GE(traceLine("op=15 "), 0);
  EXPECT_EQ(traceLine("music slot=3 play"), -1);
}

TEST_F(ScanappOptions, ForcedProgressBarAndTheDevicesWait) {
  // A device that keeps the progress function at the scan start asks for a
  // wait: the function must end it when the time is up.
  install("\"Capabilities\"=dword:00000080\n\"Wait Milliseconds\"=dword:000000c8\n");
  hosttest::ToolRun run = scanapp({"scan", "-o", file("a.bmp"), "--resolution", "1200", "-x", "20",
                                   "-y", "20", "--mode", "gray", "--progress", "--quiet"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty());
  // Without a terminal and without --progress, no bar.
  run = scanapp({"scan", "-o", file("a.bmp"), "-x", "5", "-y", "5"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err.find('%'), std::string::npos) << run.err;
}

}  // namespace
}  // namespace scanapptest
