// build/bin/Calibration against the virtual scanner: the driver operations in
// its trace, the boxes and dialogs in the dialog log, answered by a script.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ferrox/scanner_command.h"
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
    // Never a window, even under a display: a box nobody expected stops the run.
    environment.push_back("WINPORT_DIALOG_BACKEND=script");
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

  // A process of its own that opens the scanner and holds its lock, in the
  // shared state the next run() uses, until release() tells it to let go.
  class LockHolder {
   public:
    LockHolder(const std::string& sectionNamespace, const std::string& trace) {
      int ready[2], go[2];
      if (pipe(ready) != 0 || pipe(go) != 0) return;
      child_ = fork();
      if (child_ == 0) {
        close(ready[0]);
        close(go[1]);
        setenv("WINPORT_SHM_NAMESPACE", sectionNamespace.c_str(), 1);
        setenv("WINPORT_REGISTRY", testsupport::binPath("registry.reg").c_str(), 1);
        setenv("VIRTSCAN_TRACE", trace.c_str(), 1);
        unsetenv("VIRTSCAN_FAULTS");
        _exit(hold(ready[1], go[0]));
      }
      close(ready[1]);
      close(go[0]);
      release_ = go[1];
      char byte = 0;
      pollfd wait{ready[0], POLLIN, 0};
      locked_ = poll(&wait, 1, 20000) == 1 && read(ready[0], &byte, 1) == 1 && byte == 'L';
      close(ready[0]);
    }
    ~LockHolder() { release(); }
    bool locked() const { return locked_; }
    // Lets go of the lock; the child's exit status: 0 when its lock was still
    // its own at the end.
    int release() {
      if (child_ <= 0) return -1;
      close(release_);
      int status = 0;
      waitpid(child_, &status, 0);
      child_ = 0;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    }

   private:
    static int hold(int ready, int go) {
      HMODULE ferrox = LoadLibraryA(testsupport::binPath("FERROX.DLL").c_str());
      auto commander = reinterpret_cast<ScannerCommanderFn>(
          GetProcAddress(ferrox, kScannerCommanderName));
      if (commander == nullptr) return 20;
      ScannerCommand command{};
      auto send = [&](uint16_t code) {
        command.code = code;
        commander(&command);
        return command.status;
      };
      if (send(CMD_OPEN) != SCAN_OK || send(CMD_LOCK) != SCAN_OK) return 21;
      if (write(ready, "L", 1) != 1) return 22;
      char byte;
      while (read(go, &byte, 1) > 0) {
      }
      // A gated command still passes with the handle: the lock stayed ours.
      int result = send(CMD_FORWARD_12) == SCAN_OK ? 0 : 23;
      send(CMD_UNLOCK);
      send(CMD_CLOSE);
      FreeLibrary(ferrox);
      return result;
    }

    pid_t child_ = 0;
    int release_ = -1;
    bool locked_ = false;
  };

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

TEST_F(Calibration, AScannerLockedByAnotherProcessIsClosedAndReported) {
  LockHolder holder(sectionNamespace(runs_ + 1), dir.file("holder-trace"));
  ASSERT_TRUE(holder.locked());
  CalibrationRun refused = run({"Clean"}, "OK");
  EXPECT_EQ(refused.exitCode, 0) << refused.err;
  // The lock is refused by the library itself: the driver sees no lock.
  EXPECT_EQ(refused.ops, (std::vector<int>{0, 1}));
  ASSERT_EQ(refused.shown.size(), 1u);
  EXPECT_NE(refused.shown[0].find("text=\"The scanner cannot be opened."), std::string::npos)
      << refused.shown[0];
  // Calibration's close left the other process's lock alone.
  EXPECT_EQ(holder.release(), 0);
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
