// imagehost convert interrupted by a signal: it stops, removes OUT.part,
// leaves an earlier OUT as it was, says so and exits with 130. The signal
// lands mid-conversion for certain: the fake reader waits at its middle row
// once it has marked the file, or the process is stopped while OUT.part
// exists and only then signalled.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "plugin_loader.h"
#include "samples/sample_images.h"
#include "tool_runner.h"

namespace hosttest {
namespace {

using testsupport::TempDir;

const std::vector<uint8_t> kEarlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

// Waits up to a minute for `done`; false when it never held.
template <typename Condition>
bool AwaitCondition(Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class ImagehostInterrupt : public ::testing::Test {
 protected:
  pid_t start(std::vector<std::string> args) {
    args.insert(args.begin(), testsupport::binPath("imagehost"));
    return StartProgram(args, dir.file("run.out"), dir.file("run.err"));
  }
  std::string errors() const {
    std::vector<uint8_t> bytes = ReadBytes(dir.file("run.err"));
    return std::string(bytes.begin(), bytes.end());
  }
  // The run ended with 130 and `message`, no work file, and OUT as it was before.
  void expectInterrupted(pid_t pid, const std::string& out, bool existed,
                         const std::string& message) {
    EXPECT_EQ(WaitProgram(pid), 130) << errors();
    EXPECT_NE(errors().find(message), std::string::npos) << errors();
    EXPECT_FALSE(Exists(out + ".part"));
    if (existed)
      EXPECT_EQ(ReadBytes(out), kEarlier);
    else
      EXPECT_FALSE(Exists(out));
  }

  TempDir dir;
};

// The fake reader waits at its middle row: "stall" keeps reporting progress
// (the host cancels it at the first signal), "stall-deaf" reports nothing, so
// only a second signal ends the program, at once.
TEST_F(ImagehostInterrupt, ASignalMidConversionRemovesTheWorkFile) {
  struct Case {
    const char* scenario;
    bool existed;
    int signals;
    const char* message;
  };
  const Case cases[] = {
      {"stall", true, 1, "imagehost: interrupted; %OUT% was left as it was\n"},
      {"stall", false, 1, "imagehost: interrupted; %OUT% was not written\n"},
      {"stall-deaf", true, 2, "imagehost: interrupted again, stopped at once; %OUT% was left"},
      {"stall-deaf", false, 2, "imagehost: interrupted again, stopped at once; %OUT% was not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scenario) + (c.existed ? " over an earlier file" : ""));
    const std::string in = dir.file("in.fak");
    const std::string out = dir.file("out.bmp");
    const std::string text = std::string("FAKEIMG ") + c.scenario + " 40 64 8 1\n";
    WriteBytes(in, std::vector<uint8_t>(text.begin(), text.end()));
    std::remove((in + ".stalled").c_str());
    std::remove((in + ".gave-up").c_str());
    std::remove(out.c_str());
    if (c.existed) WriteBytes(out, kEarlier);
    const pid_t pid = start({"convert", in, out, "--rows", "4", "--plugins", FAKE_PLUGINS_DIR,
                             "--writer", testsupport::binPath("wrbmp.DEL")});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(AwaitCondition([&] { return Exists(in + ".stalled"); }));
    ASSERT_TRUE(Exists(out + ".part")) << "the writer has begun";
    for (int sent = 0; sent < c.signals; ++sent) {
      // A signal sent while the previous one is pending would merge with it.
      ASSERT_TRUE(AwaitCondition([&] { return SignalTaken(pid, SIGINT); }));
      kill(pid, SIGINT);
    }
    std::string message = c.message;
    message.replace(message.find("%OUT%"), 5, out);
    expectInterrupted(pid, out, c.existed, message);
    EXPECT_FALSE(Exists(in + ".gave-up")) << "the signal ended the wait, not the reader";
  }
}

// The real plug-ins on a 36 MB image: the process is stopped while OUT.part
// exists (so it has not been renamed), signalled, and continued.
TEST_F(ImagehostInterrupt, ASignalStopsTheRealPluginsBeforeTheRename) {
  samples::BmpFormat format;
  format.width = 4000;
  format.height = 3000;
  format.bits = 24;
  ASSERT_TRUE(
      samples::WriteBmp(dir.file("big.bmp"), format, [](uint32_t y, std::span<uint8_t> row) {
        std::fill(row.begin(), row.end(), static_cast<uint8_t>(y));
      }));
  const std::string out = dir.file("big.tif");
  WriteBytes(out, kEarlier);

  const pid_t pid = start({"convert", dir.file("big.bmp"), out, "--quiet"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(AwaitCondition([&] { return Exists(out + ".part"); }));
  kill(pid, SIGSTOP);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(status)) << "the conversion ended before it could be stopped";
  ASSERT_TRUE(Exists(out + ".part")) << "the conversion ended before it could be stopped";
  kill(pid, SIGINT);
  kill(pid, SIGCONT);
  expectInterrupted(pid, out, true, "imagehost: interrupted; " + out + " was left as it was\n");
}

}  // namespace
}  // namespace hosttest
