// build/bin/Calibration against the virtual scanner: the driver operations in
// its trace, the boxes and dialogs in the dialog log, answered by a script.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "text_files.h"
#include "winport/dialog.h"

extern char** environ;

namespace {

using testsupport::LinesOf;
using testsupport::ReadText;

// Driver operations: open 0, close 1, lock 2, unlock 3, the forwarded
// commands 11 and 13 as 10 and 12, reinitialise 29, calibrate 43, clean 45.
const std::set<int> kWatchedOps{0, 1, 2, 3, 10, 12, 29, 43, 45};


struct CalibrationRun {
  int exitCode = -1;
  std::string err;
  std::vector<int> ops;             // the watched driver operations, in order
  std::vector<std::string> shown;   // the dialog log
};

class Calibration : public testing::Test {
 protected:
  inline static int runs_ = 0;
  static std::string sectionNamespace(int run) {
    return "calibration-" + std::to_string(getpid()) + "-" + std::to_string(run);
  }
  // `program`: the Calibration to run (default: the one in build/bin).
  CalibrationRun run(const std::vector<std::string>& arguments, const std::string& script,
                     const std::string& faults = "", std::string program = "") {
    if (program.empty()) program = testsupport::binPath("Calibration");
    std::vector<std::string> environment{
        "VIRTSCAN_TRACE=" + dir.file("trace"), "WINPORT_DIALOG_LOG=" + dir.file("log"),
        "WINPORT_REGISTRY=" + testsupport::binPath("registry.reg"),
        // The scanner library's shared state (its lock) of its own, so that tests
        // running at the same time never hold one another's scanner.
        "WINPORT_SHM_NAMESPACE=" + sectionNamespace(++runs_),
        "TMPDIR=" + dir.path()};
    if (!script.empty()) environment.push_back("WINPORT_DIALOG_SCRIPT=" + script);
    if (!faults.empty()) environment.push_back("VIRTSCAN_FAULTS=" + faults);
    for (char** entry = environ; *entry != nullptr; ++entry) {
      std::string inherited = *entry;
      if (inherited.rfind("WINPORT_", 0) != 0 && inherited.rfind("VIRTSCAN_", 0) != 0)
        environment.push_back(inherited);
    }
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argvText) argv.push_back(text.data());
    argv.push_back(nullptr);
    unlink(dir.file("trace").c_str());
    unlink(dir.file("log").c_str());
    pid_t child = fork();
    if (child == 0) {
      int in = open("/dev/null", O_RDONLY);
      int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, STDIN_FILENO);
      dup2(err, STDERR_FILENO);
      dup2(err, STDOUT_FILENO);
      execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    testsupport::RemoveSharedSections(sectionNamespace(runs_));
    CalibrationRun result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadText(dir.file("err"));
    result.shown = LinesOf(ReadText(dir.file("log")));
    for (const std::string& line : LinesOf(ReadText(dir.file("trace")))) {
      if (line.rfind("op=", 0) != 0) continue;
      int op = std::stoi(line.substr(3));
      if (kWatchedOps.count(op) != 0) result.ops.push_back(op);
    }
    return result;
  }

  // A copy of Calibration with only `files` of build/bin beside it.
  std::string programWith(const std::vector<std::string>& files) {
    std::filesystem::create_directory(dir.file("alone"));
    for (const std::string& name : files)
      std::filesystem::copy_file(testsupport::binPath(name), dir.file("alone/" + name));
    std::filesystem::copy_file(testsupport::binPath("Calibration"), dir.file("alone/Calibration"));
    return dir.file("alone/Calibration");
  }

  testsupport::TempDir dir;
};

const std::string kProgressCalibrating =
    "dialog caption=\"Scanner Calibration\" text=\"[picture 32 x 32]\\nCalibrating the scanner. "
    "Please wait...\\nDo not open the scanner lid or switch the scanner off.\" icon=none buttons= "
    "answer=self";

TEST_F(Calibration, EachModeRunsItsPass) {
  CalibrationRun clean = run({"cLEAN"}, "");
  EXPECT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_EQ(clean.ops, (std::vector<int>{0, 2, 29, 10, 12, 45, 3, 1}));
  ASSERT_EQ(clean.shown.size(), 1u);
  EXPECT_NE(clean.shown[0].find("caption=\"Scanner Cleaning\""), std::string::npos);
  EXPECT_NE(clean.shown[0].find("Cleaning the scanner. Please wait..."), std::string::npos);

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"FORCE", "calibration"}, std::vector<std::string>{},
        std::vector<std::string>{"Calibration"}}) {
    CalibrationRun calibrate = run(arguments, "");
    EXPECT_EQ(calibrate.exitCode, 0) << calibrate.err;
    EXPECT_EQ(calibrate.ops, (std::vector<int>{0, 2, 29, 10, 12, 43, 3, 1}));
    EXPECT_EQ(calibrate.shown, std::vector<std::string>{kProgressCalibrating});
  }
}

TEST_F(Calibration, ReinitialisingIsRetriedAfterEachMessage) {
  CalibrationRun result = run({"Clean"}, "OK,OK", "29:1:-5,29:2:-5");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.ops, (std::vector<int>{0, 2, 29, 29, 29, 10, 12, 45, 3, 1}));
  ASSERT_EQ(result.shown.size(), 3u);
  EXPECT_EQ(result.shown[0], result.shown[1]);
  EXPECT_EQ(result.shown[0],
            "messagebox caption=\"Scanner Cleaning\" text=\"The scanner does not respond. Check "
            "that it is switched on and connected, then press OK.\" icon=error buttons=OK "
            "answer=OK");
}

TEST_F(Calibration, ThePromptRepeatsUntilTheScannerIsReady) {
  CalibrationRun result = run({}, "1085,1085", "12:1:-5,12:2:-5");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.ops, (std::vector<int>{0, 2, 29, 10, 12, 10, 12, 10, 12, 43, 3, 1}));
  ASSERT_EQ(result.shown.size(), 3u);
  EXPECT_EQ(result.shown[0],
            "dialog caption=\"Scanner Calibration\" text=\"[picture 32 x 32]\\nRemove any "
            "document from the scanner glass and close the lid, then press Continue.\" "
            "icon=none buttons=1085,CANCEL answer=1085");
}

TEST_F(Calibration, CancelReleasesEverythingAndExits) {
  for (const char* mode : {"Clean", "Calibrate"}) {
    CalibrationRun result = run({mode}, "CANCEL", "12:*:-5");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.ops, (std::vector<int>{0, 2, 29, 10, 12, 3, 1})) << mode;
    EXPECT_EQ(result.shown.size(), 1u);
  }
}

TEST_F(Calibration, ForcedCalibrationOffersNoCancel) {
  // Cancel is not among the buttons: the script's answer cannot be given.
  CalibrationRun result = run({"Force Calibration"}, "CANCEL", "12:1:-5");
  EXPECT_EQ(result.exitCode, WINPORT_UNANSWERED_EXIT_STATUS);
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_NE(result.shown[0].find("buttons=1085 answer=none"), std::string::npos);
  // Continue, once the scanner is ready, completes the pass.
  CalibrationRun completed = run({"Force Calibration"}, "1085", "12:1:-5");
  EXPECT_EQ(completed.exitCode, 0);
  EXPECT_EQ(completed.ops, (std::vector<int>{0, 2, 29, 10, 12, 10, 12, 43, 3, 1}));
}

TEST_F(Calibration, ARefusedLockClosesAndShowsStringEight) {
  CalibrationRun result = run({"Clean"}, "OK", "2:1:-5");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.ops, (std::vector<int>{0, 2, 1}));
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_NE(result.shown[0].find("caption=\"Scanner Cleaning\" text=\"The scanner cannot be "
                                 "opened."),
            std::string::npos)
      << result.shown[0];
  EXPECT_NE(result.shown[0].find("icon=error buttons=OK"), std::string::npos);
}

TEST_F(Calibration, TheOutcomeOfThePassIsNotShown) {
  CalibrationRun result = run({}, "", "43:*:-5");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.ops, (std::vector<int>{0, 2, 29, 10, 12, 43, 3, 1}));
  EXPECT_EQ(result.shown, std::vector<std::string>{kProgressCalibrating});
}

TEST_F(Calibration, MissingLibrariesAreReported) {
  CalibrationRun noResources = run({}, "OK", "", programWith({"libwinport.so"}));
  EXPECT_EQ(noResources.exitCode, 0) << noResources.err;
  EXPECT_EQ(noResources.shown,
            std::vector<std::string>{"messagebox caption=\"Error\" text=\"No Other Component,"
                                     "Please re-install!\" icon=error buttons=OK answer=OK"});
  EXPECT_TRUE(noResources.ops.empty());
}

TEST_F(Calibration, AMissingScannerLibraryShowsStringEight) {
  CalibrationRun noScanner = run({}, "OK", "", programWith({"libwinport.so", "quorel.dll"}));
  EXPECT_EQ(noScanner.exitCode, 0) << noScanner.err;
  ASSERT_EQ(noScanner.shown.size(), 1u);
  EXPECT_NE(noScanner.shown[0].find("caption=\"Scanner Calibration\" text=\"The scanner cannot"),
            std::string::npos);
  EXPECT_TRUE(noScanner.ops.empty());
}

}  // namespace
