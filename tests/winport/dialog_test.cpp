// Message boxes through the scripted and the terminal backends, each shown in
// a forked child so that a box that stops the program can be observed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "text_files.h"
#include "winport/windows.h"

namespace {

struct BoxRun {
  int exitCode = -1;
  std::string err;
  std::string log;
};

using testsupport::ReadText;

// Runs `body` in a child with `variables` set (the dialog variables cleared
// first), stdin reading `input`, stderr and the dialog log collected; the
// child's exit code is what body returns.
BoxRun showInChild(const std::vector<std::pair<std::string, std::string>>& variables,
                   const std::string& input, const std::function<int()>& body) {
  testsupport::TempDir dir;
  std::ofstream(dir.file("input")) << input;
  BoxRun run;
  pid_t child = fork();
  if (child == 0) {
    for (const char* name : {"WINPORT_DIALOG_SCRIPT", "WINPORT_DIALOG_SCRIPT_FILE",
                             "WINPORT_DIALOG_BACKEND", "DISPLAY"})
      unsetenv(name);
    setenv("WINPORT_DIALOG_LOG", dir.file("log").c_str(), 1);
    for (const auto& [name, value] : variables) setenv(name.c_str(), value.c_str(), 1);
    int in = open(dir.file("input").c_str(), O_RDONLY);
    int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, STDIN_FILENO);
    dup2(err, STDERR_FILENO);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadText(dir.file("err"));
  run.log = ReadText(dir.file("log"));
  return run;
}

// Two boxes; the exit code is 10 × first answer + second answer.
int twoBoxes() {
  int first = MessageBoxA(0, "Insert the disk", "Setup", MB_OKCANCEL);
  int second = MessageBoxA(0, "Line one\nsays \"hi\"", "Calibration", MB_OK | MB_ICONERROR);
  return first * 10 + second;
}

int boxesForever() {
  for (;;) MessageBoxA(0, "Cannot reinitialise", "Scanner", MB_OK | MB_ICONERROR);
}

TEST(ScriptedMessageBox, AnswersInTurnAndLogsEveryBox) {
  BoxRun run = showInChild({{"WINPORT_DIALOG_SCRIPT", "cancel, OK"}}, "", twoBoxes);
  EXPECT_EQ(run.exitCode, IDCANCEL * 10 + IDOK) << run.err;
  EXPECT_EQ(run.log,
            "messagebox caption=\"Setup\" text=\"Insert the disk\" icon=none buttons=OK,CANCEL "
            "answer=CANCEL\n"
            "messagebox caption=\"Calibration\" text=\"Line one\\nsays \\\"hi\\\"\" icon=error "
            "buttons=OK answer=OK\n");
}

TEST(ScriptedMessageBox, StopsWhenTheScriptRunsOutOrNamesAnotherButton) {
  BoxRun exhausted = showInChild({{"WINPORT_DIALOG_SCRIPT", "OK,OK"}}, "OK\n", boxesForever);
  EXPECT_EQ(exhausted.exitCode, WINPORT_UNANSWERED_EXIT_STATUS);
  EXPECT_NE(exhausted.err.find("no answer left"), std::string::npos) << exhausted.err;
  EXPECT_NE(exhausted.err.find("Cannot reinitialise"), std::string::npos) << exhausted.err;
  EXPECT_NE(exhausted.log.find("answer=OK\n"), std::string::npos);
  EXPECT_NE(exhausted.log.rfind("answer=none\n"), std::string::npos) << exhausted.log;

  BoxRun wrong = showInChild({{"WINPORT_DIALOG_SCRIPT", "CANCEL"}}, "", boxesForever);
  EXPECT_EQ(wrong.exitCode, WINPORT_UNANSWERED_EXIT_STATUS);
  EXPECT_NE(wrong.err.find("answers \"CANCEL\""), std::string::npos) << wrong.err;
}

TEST(ScriptedMessageBox, ScriptFileWithCommentsAndATouchAction) {
  testsupport::TempDir dir;
  std::string medium = dir.file("medium present");
  std::ofstream(dir.file("script")) << "# first box\nOK touch " << medium << "\n\nOK\n";
  BoxRun run = showInChild({{"WINPORT_DIALOG_SCRIPT_FILE", dir.file("script")}}, "", [&] {
    bool before = access(medium.c_str(), F_OK) == 0;
    int first = MessageBoxA(0, "Insert", "Setup", MB_OKCANCEL);
    bool after = access(medium.c_str(), F_OK) == 0;
    int second = MessageBoxA(0, "Done", "Setup", MB_OK);
    return (before ? 100 : 0) + (after ? 50 : 0) + first * 10 + second;
  });
  EXPECT_EQ(run.exitCode, 50 + IDOK * 10 + IDOK) << run.err;
}

TEST(TerminalMessageBox, PrintsTheBoxAndReadsAnswers) {
  BoxRun run = showInChild({{"WINPORT_DIALOG_BACKEND", "terminal"}}, "maybe\nc\n\n", twoBoxes);
  EXPECT_EQ(run.exitCode, IDCANCEL * 10 + IDOK) << run.err;
  EXPECT_NE(run.err.find("Setup"), std::string::npos);
  EXPECT_NE(run.err.find("| Insert the disk"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("[OK] [Cancel]"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\"maybe\" is not one of the buttons"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("| says \"hi\""), std::string::npos) << run.err;
  EXPECT_NE(run.log.find("answer=CANCEL"), std::string::npos) << run.log;
}

TEST(TerminalMessageBox, ClosedInputStopsARetryLoop) {
  // Two answers, then the input ends: the third box stops the program.
  BoxRun run = showInChild({}, "\nok\n", boxesForever);
  EXPECT_EQ(run.exitCode, WINPORT_UNANSWERED_EXIT_STATUS);
  EXPECT_NE(run.err.find("the input is closed"), std::string::npos) << run.err;
  EXPECT_NE(run.log.rfind("answer=none\n"), std::string::npos) << run.log;
  size_t boxes = 0;
  for (size_t at = run.log.find("messagebox"); at != std::string::npos;
       at = run.log.find("messagebox", at + 1))
    ++boxes;
  EXPECT_EQ(boxes, 3u) << run.log;
}

// ---- Modal dialogs ----

constexpr WORD kContinue = 1085;
constexpr WORD kCommandWork = 1077;

const DialogItemTemplate kPromptItems[] = {
    {DIALOG_CONTROL_PICTURE, 1083, 10, 10, 64, 64, nullptr},
    {DIALOG_CONTROL_TEXT, 1084, 90, 10, 200, 60, "placeholder"},
    {DIALOG_CONTROL_BUTTON, kContinue, 20, 150, 80, 24, "Continue"},
    {DIALOG_CONTROL_BUTTON, IDCANCEL, 200, 150, 80, 24, "Cancel"},
};
const DialogTemplate kPrompt{"untitled", 5, 5, 300, 200, kPromptItems, 4};

struct DialogEvents {
  std::vector<std::string> seen;
  RECT dialogRect{};
  RECT continueRect{};
  HWND dialog = 0;
};
DialogEvents events;

void centreOnDesktop(HWND dialog) {
  RECT desktop, own;
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(dialog, &own);
  LONG width = own.right - own.left, height = own.bottom - own.top;
  MoveWindow(dialog, (desktop.right - width) / 2, (desktop.bottom - height) / 2, width, height,
             TRUE);
}

// Prompt: lParam 0 hides Cancel and centres Continue 6 pixels above the bottom.
INT_PTR promptProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  events.dialog = dialog;
  if (message == WM_INITDIALOG) {
    events.seen.push_back("init");
    centreOnDesktop(dialog);
    SetWindowTextA(dialog, "Scanner");
    SetDlgItemTextA(dialog, 1084, "Make the scanner ready");
    if (lParam == 0) {
      ShowWindow(GetDlgItem(dialog, IDCANCEL), SW_HIDE);
      RECT client, button;
      GetClientRect(dialog, &client);
      GetWindowRect(GetDlgItem(dialog, kContinue), &button);
      LONG width = button.right - button.left, height = button.bottom - button.top;
      MoveWindow(GetDlgItem(dialog, kContinue), (client.right - width) / 2,
                 client.bottom - 6 - height, width, height, TRUE);
    }
    GetWindowRect(dialog, &events.dialogRect);
    GetWindowRect(GetDlgItem(dialog, kContinue), &events.continueRect);
  } else if (message == WM_PAINT) {
    events.seen.push_back("paint");
  } else if (message == WM_COMMAND) {
    events.seen.push_back("command " + std::to_string(wParam));
    if (wParam == kContinue || wParam == IDCANCEL) EndDialog(dialog, static_cast<INT_PTR>(wParam));
  } else if (message == WM_DESTROY) {
    events.seen.push_back("destroy");
  }
  return 0;
}

// Progress: posts itself the work command and then Cancel.
INT_PTR progressProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  if (message == WM_INITDIALOG) {
    PostMessageA(dialog, WM_COMMAND, kCommandWork, 0);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
  return promptProcedure(dialog, message, wParam, 1);
}

class ScriptedDialog : public testing::Test {
 protected:
  void SetUp() override {
    events = DialogEvents{};
    setenv("WINPORT_DIALOG_LOG", dir.file("log").c_str(), 1);
    setenv("WINPORT_DIALOG_BACKEND", "script", 1);  // never a window, even under a display
  }
  void TearDown() override {
    unsetenv("WINPORT_DIALOG_BACKEND");
    unsetenv("WINPORT_DIALOG_LOG");
    unsetenv("WINPORT_DIALOG_SCRIPT");
  }
  testsupport::TempDir dir;
};

TEST_F(ScriptedDialog, PromptWithoutCancelIsCentredAndAnswered) {
  setenv("WINPORT_DIALOG_SCRIPT", "1085", 1);
  EXPECT_EQ(DialogBoxIndirectParamA(0, &kPrompt, 0, promptProcedure, 0), kContinue);
  EXPECT_EQ(events.seen,
            (std::vector<std::string>{"init", "paint", "command 1085", "destroy"}));
  EXPECT_EQ(events.dialogRect.left, (1024 - 300) / 2);
  EXPECT_EQ(events.dialogRect.top, (768 - 200) / 2);
  EXPECT_EQ(events.continueRect.left - events.dialogRect.left, (300 - 80) / 2);
  EXPECT_EQ(events.continueRect.bottom - events.dialogRect.top, 200 - 6);
  EXPECT_EQ(ReadText(dir.file("log")),
            "dialog caption=\"Scanner\" text=\"Make the scanner ready\" icon=none "
            "buttons=1085 answer=1085\n");
  // The dialog and its controls are gone.
  EXPECT_EQ(GetDlgItem(events.dialog, kContinue), 0u);
  EXPECT_FALSE(PostMessageA(events.dialog, WM_COMMAND, IDCANCEL, 0));
}

TEST_F(ScriptedDialog, PromptWithCancelAnswersByLabel) {
  setenv("WINPORT_DIALOG_SCRIPT", "cancel", 1);
  EXPECT_EQ(DialogBoxIndirectParamA(0, &kPrompt, 0, promptProcedure, 1), IDCANCEL);
  EXPECT_NE(ReadText(dir.file("log")).find("buttons=1085,CANCEL answer=CANCEL"),
            std::string::npos);
}

TEST_F(ScriptedDialog, PostedCommandsRunWithoutAskingAnybody) {
  EXPECT_EQ(DialogBoxIndirectParamA(0, &kPrompt, 0, progressProcedure, 0), IDCANCEL);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"init", "paint", "command 1077",
                                                   "command 2", "destroy"}));
  EXPECT_EQ(ReadText(dir.file("log")),
            "dialog caption=\"Scanner\" text=\"Make the scanner ready\" icon=none "
            "buttons=1085,CANCEL answer=self\n");
  EXPECT_EQ(DialogBoxIndirectParamA(0, nullptr, 0, progressProcedure, 0), -1);
}

// A dialog working by itself is printed as it starts, and again only when
// what it shows changes; nothing is asked.
TEST(TerminalDialog, AWorkingDialogIsPrintedWithoutAQuestion) {
  BoxRun run = showInChild({{"WINPORT_DIALOG_BACKEND", "terminal"}}, "", [] {
    return static_cast<int>(DialogBoxIndirectParamA(0, &kPrompt, 0, progressProcedure, 1));
  });
  EXPECT_EQ(run.exitCode, IDCANCEL) << run.err;
  EXPECT_EQ(run.err, "\n+-- Scanner --\n| Make the scanner ready\n+-- [Continue] [Cancel]\n");
}

TEST(TerminalDialog, ClosedInputStopsTheProgram) {
  BoxRun run = showInChild({{"WINPORT_DIALOG_BACKEND", "terminal"}}, "", [] {
    return static_cast<int>(DialogBoxIndirectParamA(0, &kPrompt, 0, promptProcedure, 1));
  });
  EXPECT_EQ(run.exitCode, WINPORT_UNANSWERED_EXIT_STATUS);
  EXPECT_NE(run.err.find("[Continue] [Cancel]"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("A dialog waits"), std::string::npos) << run.err;
}

// A display that cannot be reached, or a window asked for without one, is
// said once; the boxes are then answered in the terminal.
TEST(WindowedDialog, WithoutAReachableDisplayTheTerminalAnswers) {
  auto count = [](const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++found;
    return found;
  };
  BoxRun unreachable = showInChild({{"DISPLAY", ":9876"}}, "c\n\n", twoBoxes);
  EXPECT_EQ(unreachable.exitCode, IDCANCEL * 10 + IDOK) << unreachable.err;
  EXPECT_EQ(count(unreachable.err, "No window can be opened (the display \":9876\" cannot be "
                                   "opened); boxes are shown in the terminal."),
            1u)
      << unreachable.err;

  BoxRun forced = showInChild({{"WINPORT_DIALOG_BACKEND", "fltk"}}, "o\n\n", twoBoxes);
  EXPECT_EQ(forced.exitCode, IDOK * 10 + IDOK) << forced.err;
  EXPECT_EQ(count(forced.err, "No window can be opened (no display is set (DISPLAY))"), 1u)
      << forced.err;
}

}  // namespace
