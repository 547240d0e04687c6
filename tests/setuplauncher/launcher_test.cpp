// mendle.dll's fnRun run through build/bin/rundll, as the platform runs it:
// the registry from a file of the test's own, the boxes answered by the
// dialog script and read back from the dialog log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plugin_loader.h"
#include "text_files.h"
#include "winport/dialog.h"

extern char** environ;

namespace {

using testsupport::LinesOf;
using testsupport::ReadText;

constexpr char kParameterBox[] =
    "messagebox caption=\"Error\" text=\"Please Check the Parameters!!!\" icon=none buttons=OK "
    "answer=OK";


struct LauncherRun {
  int exitCode = -1;
  std::string err;
  std::vector<std::string> boxes;  // the dialog log, one box a line
};

class Launcher : public testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(setupProgram) << "#!/bin/sh\necho started >> '" << dir.file("started") << "'\n";
    chmod(setupProgram.c_str(), 0700);
  }

  // The registry: the Inf_Info key of "ScanSuite" with `infValues` (lines of
  // "name"="value"), and the "ScanDriver" key with `driverValues` when given.
  void writeRegistry(const std::string& infValues, const std::string& driverValues = "",
                     const std::string& file = "registry.reg") {
    std::ofstream out(dir.file(file));
    out << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\ScanSuite\\Inf_Info]\n" << infValues;
    if (!driverValues.empty())
      out << "\n[HKEY_LOCAL_MACHINE\\Software\\ScanDriver]\n" << driverValues;
  }
  std::string value(const std::string& name, const std::string& text) {
    return "\"" + name + "\"=\"" + text + "\"\n";
  }
  std::string fullInfo() {
    return value("SetupProgram", setupProgram) + value("SetupExist", medium) +
           value("SetupCaption", "Scanner software") + value("SetupErrorExist", "Insert the CD");
  }

  // rundll mendle.dll,fnRun `commandLine`; `script` answers the boxes (empty:
  // the terminal backend, reading `input`).
  // `rundll`: another copy of the program, which then reads the registry file
  // of its own finding (none is named).
  LauncherRun run(const std::string& commandLine, const std::string& script,
                  const std::string& input = "", std::string rundll = "") {
    unlink(dir.file("log").c_str());
    std::ofstream(dir.file("input")) << input;
    std::vector<std::string> environment{"WINPORT_DIALOG_LOG=" + dir.file("log")};
    if (rundll.empty()) {
      rundll = testsupport::binPath("rundll");
      environment.push_back("WINPORT_REGISTRY=" + dir.file("registry.reg"));
    }
    if (!script.empty()) environment.push_back("WINPORT_DIALOG_SCRIPT=" + script);
    // Never a window, even when the tests run under a display.
    environment.push_back(std::string("WINPORT_DIALOG_BACKEND=") +
                          (script.empty() ? "terminal" : "script"));
    for (char** entry = environ; *entry != nullptr; ++entry) {
      std::string inherited = *entry;
      if (inherited.rfind("WINPORT_", 0) != 0) environment.push_back(inherited);
    }
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::string target = "mendle.dll,fnRun";
    std::vector<char*> argv{rundll.data(), target.data(), const_cast<char*>(commandLine.c_str()),
                            nullptr};
    pid_t child = fork();
    if (child == 0) {
      int in = open(dir.file("input").c_str(), O_RDONLY);
      int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, STDIN_FILENO);
      dup2(err, STDERR_FILENO);
      dup2(err, STDOUT_FILENO);
      execve(rundll.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    LauncherRun result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadText(dir.file("err"));
    result.boxes = LinesOf(ReadText(dir.file("log")));
    return result;
  }

  // How often the setup program ran. It runs detached, so when it was started
  // (`expectStart`) its trace is waited for, and a late second start is given time.
  size_t starts(bool expectStart) {
    std::string started = dir.file("started");
    for (int i = 0; expectStart && i < 1000 && access(started.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return LinesOf(ReadText(started)).size();
  }

  testsupport::TempDir dir;
  std::string setupProgram = dir.file("setup.sh");
  std::string medium = dir.file("medium-present");
};

TEST_F(Launcher, BadCommandLinesShowTheParameterMessage) {
  writeRegistry(fullInfo());
  std::ofstream(medium) << "";
  const std::string tooLong(300, 'K');
  for (const std::string& line :
       {std::string("ScanSuite"), std::string(""), std::string(",,,ScanSuite,,"),
        tooLong + ",ScanDriver", "ScanSuite," + tooLong}) {
    LauncherRun result = run(line, "OK");
    EXPECT_EQ(result.exitCode, 0) << line << "\n" << result.err;
    ASSERT_EQ(result.boxes.size(), 1u) << line;
    EXPECT_EQ(result.boxes[0], kParameterBox) << line;
  }
  EXPECT_EQ(starts(false), 0u);
}

// Runs of commas separate the tokens; the quotes of the documented form
// `fnRun "Product,Driver"`, which the runner passes on, are not part of them.
TEST_F(Launcher, CommandLinesThatNameTheProductAndDriver) {
  writeRegistry(fullInfo());
  std::ofstream(medium) << "";
  size_t expected = 0;
  for (const char* line : {",,ScanSuite,,,ScanDriver,extra", "\"ScanSuite,ScanDriver\"",
                           " \"ScanSuite,ScanDriver\" ", "\"ScanSuite,ScanDriver"}) {
    LauncherRun result = run(line, "");
    EXPECT_EQ(result.exitCode, 0) << line << "\n" << result.err;
    EXPECT_TRUE(result.boxes.empty()) << line;
    EXPECT_EQ(starts(true), ++expected) << line;
  }
}

TEST_F(Launcher, AnInstalledDriverMeansNothingIsDone) {
  std::ofstream(dir.file("driver.so")) << "driver";
  // Everything else is ready: reading the Inf_Info key would start the setup.
  std::ofstream(medium) << "";
  writeRegistry(fullInfo(), value("DRIVER PATHNAME", dir.file("driver.so")));
  LauncherRun installed = run("ScanSuite,ScanDriver", "");
  EXPECT_EQ(installed.exitCode, 0) << installed.err;
  EXPECT_TRUE(installed.boxes.empty());
  EXPECT_EQ(starts(false), 0u);

  // A driver path naming no file counts as not installed.
  writeRegistry(fullInfo(), value("DRIVER PATHNAME", dir.file("gone.so")));
  run("ScanSuite,ScanDriver", "");
  EXPECT_EQ(starts(true), 1u);
}

TEST_F(Launcher, AsksUntilTheMediumIsPresentThenStartsTheSetupOnce) {
  writeRegistry(fullInfo());
  // The medium appears with the second OK; the third answer is never needed.
  LauncherRun result = run("ScanSuite,ScanDriver", "OK,OK touch " + medium + ",CANCEL");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::string prompt =
      "messagebox caption=\"Scanner software\" text=\"Insert the CD\" icon=none "
      "buttons=OK,CANCEL answer=OK";
  EXPECT_EQ(result.boxes, (std::vector<std::string>{prompt, prompt}));
  EXPECT_EQ(starts(true), 1u);
}

TEST_F(Launcher, CancelLeavesWithoutStarting) {
  writeRegistry(fullInfo());
  LauncherRun result = run("ScanSuite,ScanDriver", "OK,CANCEL");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.boxes.size(), 2u);
  EXPECT_EQ(starts(false), 0u);
}

TEST_F(Launcher, MissingTextsFallBackToTheStringTable) {
  writeRegistry(value("SetupProgram", setupProgram) + value("SetupExist", medium));
  LauncherRun result = run("ScanSuite,ScanDriver", "CANCEL");
  ASSERT_EQ(result.boxes.size(), 1u) << result.err;
  EXPECT_EQ(result.boxes[0],
            "messagebox caption=\"USB Scanner Setup\" text=\"Please insert the Norvik USB Scanner "
            "Setup / Application CD-ROM into your CD-ROM drive.\" icon=none buttons=OK,CANCEL "
            "answer=CANCEL");
}

TEST_F(Launcher, WithoutAMediumFileOnlyCancelLeaves) {
  std::ofstream(medium) << "";
  writeRegistry(value("SetupProgram", setupProgram));
  LauncherRun result = run("ScanSuite,ScanDriver", "OK,OK,CANCEL");
  EXPECT_EQ(result.boxes.size(), 3u) << result.err;
  EXPECT_EQ(starts(false), 0u);
}

TEST_F(Launcher, WithoutSetupInformationNothingIsShown) {
  writeRegistry(value("SetupExist", medium));  // no SetupProgram
  EXPECT_TRUE(run("ScanSuite,ScanDriver", "").boxes.empty());
  writeRegistry(fullInfo());
  EXPECT_TRUE(run("OtherSuite,ScanDriver", "").boxes.empty());  // no Inf_Info key
  EXPECT_EQ(starts(false), 0u);
}

TEST_F(Launcher, NobodyAtTheTerminalStopsThePromptLoop) {
  writeRegistry(fullInfo());
  LauncherRun result = run("ScanSuite,ScanDriver", "", "\n");
  EXPECT_EQ(result.exitCode, WINPORT_UNANSWERED_EXIT_STATUS) << result.err;
  EXPECT_EQ(result.boxes.size(), 2u);
  EXPECT_NE(result.err.find("Insert the CD"), std::string::npos) << result.err;
  EXPECT_EQ(starts(false), 0u);
}

// With no registry file named, a program reads the one beside itself.
TEST_F(Launcher, TheRegistryBesideTheProgramIsReadWhenNoneIsNamed) {
  std::filesystem::create_directory(dir.file("alone"));
  for (const char* name : {"rundll", "libwinport.so", "mendle.dll"})
    std::filesystem::copy_file(testsupport::binPath(name), dir.file(std::string("alone/") + name));
  std::ofstream(medium) << "";
  writeRegistry(fullInfo(), "", "alone/registry.reg");
  LauncherRun result = run("ScanSuite,ScanDriver", "", "", dir.file("alone/rundll"));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(result.boxes.empty());
  EXPECT_EQ(starts(true), 1u);
}

}  // namespace
