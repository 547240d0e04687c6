// scanapp when things go wrong: usage errors, the scanner held by another
// application, no driver configured, a scan that fails or stops early, an
// empty feeder, and Ctrl-C — each with its message, its exit status, and no
// output file left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ferrox/scanner_command.h"
#include "scanapp_fixture.h"
#include "virtscan/virtscan.h"

namespace scanapptest {
namespace {

class ScanappFailure : public ScanappTest {
 protected:
  // The run failed with `message` and `exitCode`, and neither OUT nor OUT.part exists.
  void expectFailure(const hosttest::ToolRun& run, const std::string& message,
                     const std::string& out, int exitCode = 1) {
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_FALSE(hosttest::Exists(file(out)));
    EXPECT_FALSE(hosttest::Exists(file(out + ".part")));
  }
};

// The index of the last trace line starting with `prefix`; -1 when none.
int LastLine(const std::vector<std::string>& lines, const std::string& prefix) {
  for (size_t i = lines.size(); i-- > 0;)
    if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  return -1;
}

TEST_F(ScanappFailure, UsageErrorsExitWithTwoAndTouchNoScanner) {
  install();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"scan"}, "scan needs -o OUT"},
      {{"scan", "-o"}, "-o needs a value"},
      {{"scan", "-o", "x.bmp", "--bogus"}, "unknown option --bogus"},
      {{"scan", "-o", "x.bmp", "extra"}, "unexpected argument 'extra'"},
      {{"scan", "-o", "x.bmp", "--mode", "sepia"}, "--mode needs lineart"},
      {{"scan", "-o", "x.bmp", "--resolution", "0"}, "--resolution needs a whole number"},
      {{"scan", "-o", "x.bmp", "--xres=70000"}, "--xres needs a whole number"},
      {{"scan", "-o", "x.bmp", "--brightness", "128"}, "from -127 to 127"},
      {{"scan", "-o", "x.bmp", "--contrast", "-x"}, "--contrast needs a whole number"},
      {{"scan", "-o", "x.bmp", "-l", "-3"}, "-l needs a length in millimetres"},
      {{"scan", "-o", "x.bmp", "--area", "1,2,3"}, "--area needs four numbers"},
      {{"scan", "-o", "x.bmp", "--area", "1,2,3,4", "-x", "10"}, "exclude each other"},
      {{"scan", "-o", "x.bmp", "--halftone", "4"}, "--halftone needs a whole number from 0 to 3"},
      {{"scan", "-o", "x.bmp", "--halftone", "1", "--mode", "gray"}, "--mode halftone only"},
      {{"scan", "-o", "x.bmp", "--source", "tray"}, "--source needs flatbed"},
      {{"scan", "-o", "x%d.bmp", "--batch"}, "--batch needs --source adf"},
      {{"scan", "-o", "x%s.bmp", "--batch", "--source", "adf"}, "may hold only %d"},
      {{"scan", "-o", "x%d%d.bmp", "--batch", "--source", "adf"}, "more than one page number"},
      {{"scan", "-o", "x.bmp", "--batch", "--source", "adf"}, "--batch needs %d"},
      {{"info", "--mode", "gray"}, "info takes no scan options"},
      {{"--quiet=yes", "info"}, "--quiet takes no value"},
  };
  for (const auto& [args, message] : cases) {
    hosttest::ToolRun run = scanapp(args);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << message << "\n" << run.err;
    EXPECT_NE(run.err.find("usage: scanapp"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(trace().empty()) << "a usage error never reaches the scanner";
}

TEST_F(ScanappFailure, HelpAndVersion) {
  hosttest::ToolRun help = scanapp({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option :
       {"--resolution", "--xres", "--mode", "--area", "--brightness", "--source", "--halftone",
        "--identity-maps", "--bottom-up", "--no-music", "--batch", "--progress", "--quiet"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  hosttest::ToolRun version = scanapp({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("scanapp ", 0), 0u) << version.out;
}

TEST_F(ScanappFailure, ScannerHeldByAnotherApplication) {
  install();
  // This process takes the lock through the library, as another application would.
  testsupport::LoadedModule library("FERROX.DLL");
  ASSERT_TRUE(library);
  auto commander = library.get<ScannerCommanderFn>(kScannerCommanderName);
  ASSERT_NE(commander, nullptr);
  ScannerCommand command{};
  command.code = CMD_OPEN;
  commander(&command);
  ASSERT_EQ(command.status, SCAN_OK);
  command.code = CMD_LOCK;
  commander(&command);
  ASSERT_EQ(command.status, SCAN_OK);

  expectFailure(scanapp({"scan", "-o", file("out.bmp"), "-x", "10", "-y", "10"}),
                "the scanner is in use by another application (status -1)", "out.bmp", 3);
  hosttest::ToolRun info = scanapp({"info"});
  EXPECT_EQ(info.exitCode, 3);
  EXPECT_NE(info.err.find("in use by another application"), std::string::npos) << info.err;

  command.code = CMD_UNLOCK;
  commander(&command);
  EXPECT_EQ(command.status, SCAN_OK);
  command.code = CMD_CLOSE;
  commander(&command);
  EXPECT_EQ(scanapp({"info"}).exitCode, 0) << "the scanner is free again";
}

TEST_F(ScanappFailure, NoDriverConfiguredNamesTheRegistryFile) {
  installRegistryText("REGEDIT4\n");
  hosttest::ToolRun run = scanapp({"scan", "-o", file("out.bmp")});
  expectFailure(run, "no scanner driver is configured", "out.bmp");
  EXPECT_NE(run.err.find("registry file " + registryPath()), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("(status -7)"), std::string::npos) << run.err;
}

// A driver library that others could have changed is not loaded, and the
// message names it with the reason.
TEST_F(ScanappFailure, RefusedDriverLibraryIsNamedWithTheReason) {
  const std::string driver = file("virtscan.dll");
  std::filesystem::copy_file(testsupport::binPath("virtscan.dll"), driver);
  chmod(driver.c_str(), 0666);
  install("\"Driver Pathname\"=\"" + driver + "\"\n");
  hosttest::ToolRun run = scanapp({"info"});
  EXPECT_EQ(run.exitCode, 1);
  const std::string reason = driver + ": users other than its owner can write it";
  EXPECT_NE(run.err.find("winport: library " + driver + " refused"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the scanner driver is not usable: the library " + reason), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("(status -7)"), std::string::npos) << run.err;
  chmod(driver.c_str(), 0755);
  EXPECT_EQ(scanapp({"info"}).exitCode, 0) << "the same file, once only its owner may write it";
}

// A scan killed while it spools: its lock is free at once for the next
// program, although this process keeps the library loaded throughout, and
// its spool file is gone with it.
TEST_F(ScanappFailure, ScanKilledWhileSpoolingLeavesTheScannerFreeAndNoFile) {
  install();
  testsupport::LoadedModule bystander("FERROX.DLL");
  ASSERT_TRUE(bystander);
  const pid_t pid = startScanapp({"scan", "-o", file("big.bmp"), "--mode", "gray", "--resolution",
                                  "1200", "-x", "210", "-y", "297"});
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto spooling = [&] {
    for (const std::string& line : trace())
      if (line.rfind("op=16 ", 0) == 0) return true;
    return false;
  };
  while (!spooling() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(spooling());
  kill(pid, SIGKILL);
  EXPECT_EQ(waitFor(pid), 128 + SIGKILL);
  EXPECT_TRUE(std::filesystem::is_empty(tempFolder())) << "no spool file is left";
  hosttest::ToolRun info = scanapp({"info"});
  EXPECT_EQ(info.exitCode, 0) << info.err;
}

TEST_F(ScanappFailure, FailedOrShortScansLeaveNoOutput) {
  install();
  const std::vector<std::string> scan = {"scan", "-o",     file("out.bmp"), "--resolution",
                                         "100",  "--area", "0,0,300,300"};
  setVariable(virtscan::kEnvFaults, "16:2:-33");  // the read fails on its second call
  expectFailure(scanapp(scan),
                "reading the scan: the scanner driver reported a failure (status -33)", "out.bmp",
                9);
  setVariable(virtscan::kEnvFaults, "");
  setVariable(virtscan::kEnvStopAfterLines, "40");
  expectFailure(scanapp(scan), "the scan ended after 40 of 100 lines", "out.bmp", 9);
  setVariable(virtscan::kEnvStopAfterLines, "");
  expectFailure(scanapp({"scan", "-o", file("out.bmp"), "--resolution", "5000"}),
                "its highest resolution is 2400 dpi (status -3)", "out.bmp");
  expectFailure(scanapp({"scan", "-o", file("out.bmp"), "-l", "200", "-x", "20"}),
                "does not fit the flatbed's 215.9 x 297.0 mm", "out.bmp");
  expectFailure(scanapp({"scan", "-o", file("out.bmp"), "--source", "adf"}),
                "the scanner has no document feeder", "out.bmp");
  expectFailure(scanapp({"scan", "-o", file("out.pcx7")}), "no writer plug-in", "out.pcx7");
  std::remove(file("trace.txt").c_str());
  expectFailure(scanapp({"scan", "-o", file("missing/out.bmp")}),
                "cannot write " + file("missing/out.bmp"), "missing/out.bmp");
  EXPECT_TRUE(trace().empty()) << "an output that cannot be written stops before the scanner";
}

TEST_F(ScanappFailure, EmptyFeederFailsTheFirstPageOnly) {
  install("\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000000\n");
  expectFailure(scanapp({"scan", "--batch", "--source", "adf", "-o", file("p%d.bmp")}),
                "starting the scan: the document feeder is empty (status -30)", "p1.bmp", 7);
  static_assert(virtscan::kStatusFeederEmpty == -30);
}

TEST_F(ScanappFailure, InterruptEndsTheScanInOrderAndRemovesThePartialFile) {
  install();
  // A large enhanced scan: it is still spooling or writing when the signal comes.
  const pid_t pid = startScanapp({"scan", "-o", file("big.bmp"), "--mode", "gray", "--resolution",
                                  "1200", "-x", "210", "-y", "297"});
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  // The output is prepared before the scanner is touched: wait for the scan's start too.
  while ((!hosttest::Exists(file("big.bmp.part")) || LastLine(trace(), "op=15 ") < 0) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(hosttest::Exists(file("big.bmp.part")));
  kill(pid, SIGINT);
  EXPECT_EQ(waitFor(pid), 130) << standin_test::readFile(file("started.err"));
  EXPECT_NE(standin_test::readFile(file("started.err")).find("interrupted"), std::string::npos);
  EXPECT_FALSE(hosttest::Exists(file("big.bmp")));
  EXPECT_FALSE(hosttest::Exists(file("big.bmp.part")));
  EXPECT_FALSE(hosttest::Exists(tempFolder() + "/NVKTEMP.TMP")) << "the spool file is removed";
  // The scan was ended, then the scanner unlocked, then closed.
  const std::vector<std::string> lines = trace();
  const int end = LastLine(lines, "op=17 ");
  const int unlock = LastLine(lines, "op=3 ");
  const int close = LastLine(lines, "op=1 ");
  EXPECT_GT(end, LastLine(lines, "op=15 "));
  EXPECT_GT(unlock, end);
  EXPECT_GT(close, unlock);
  EXPECT_EQ(scanapp({"info"}).exitCode, 0) << "the lock was released";
}

// CMD_START_SCAN waits inside the library until the device is ready, and no
// progress function runs meanwhile. One Ctrl-C then takes effect when the
// wait is over: the scan is ended in order. A second one ends scanapp at once,
// without waiting for the device: the scan is never ended nor unlocked (the
// library's lock is freed with the process that held it).
TEST_F(ScanappFailure, CtrlCWhileTheScannerIsNotReady) {
  install();
  struct Case {
    int signals;
    const char* notReadyMs;  // how long the device stays not ready after the start
    const char* message;
  };
  const Case cases[] = {
      {1, "1500", "scanapp: interrupted; the scan was ended and %OUT% was not written\n"},
      {2, "60000", "scanapp: interrupted again, stopped at once; %OUT% was not written\n"},
  };
  const std::string earlier = "earlier";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.signals) + " signal(s)");
    const std::string out = file("out.bmp");
    standin_test::writeFile(out, earlier);
    std::remove(file("trace.txt").c_str());
    setVariable(virtscan::kEnvNotReadyMs, c.notReadyMs);
    const pid_t pid =
        startScanapp({"scan", "-o", out, "--resolution", "100", "-x", "50", "-y", "50"});
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (standin_test::readFile(file("trace.txt")).find("op=22 ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(pid, SIGINT);
    if (c.signals == 2) {
      // The first is taken when the notice is out; a second sent earlier could merge with it.
      while (standin_test::readFile(file("started.err")).find("Ctrl-C again quits at once") ==
                 std::string::npos &&
             std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      kill(pid, SIGINT);
    }
    EXPECT_EQ(waitFor(pid), 130);
    const std::string errors = standin_test::readFile(file("started.err"));
    std::string message = c.message;
    message.replace(message.find("%OUT%"), 5, out);
    EXPECT_NE(errors.find(message), std::string::npos) << errors;
    EXPECT_EQ(standin_test::readFile(out), earlier) << "the earlier file is left as it was";
    EXPECT_FALSE(hosttest::Exists(out + ".part"));

    const std::vector<std::string> lines = trace();
    int ready = -1;  // the last readiness query that found the device ready
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].rfind("op=22 ", 0) == 0 && lines[i].find(" status=0 ") != std::string::npos)
        ready = static_cast<int>(i);
    if (c.signals == 1) {  // the wait ran to its end, then the scan was ended in order
      EXPECT_GE(ready, 0);
      EXPECT_GT(LastLine(lines, "op=17 "), ready);
      EXPECT_GT(LastLine(lines, "op=3 "), LastLine(lines, "op=17 "));
    } else {  // ended while the device was still not ready
      EXPECT_EQ(ready, -1);
      EXPECT_EQ(LastLine(lines, "op=3 "), -1);
    }
  }
  setVariable(virtscan::kEnvNotReadyMs, "");
}

}  // namespace
}  // namespace scanapptest
