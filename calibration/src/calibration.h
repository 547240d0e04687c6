// The calibration program's state and its pieces: the scanner binding, the
// prompt and progress dialogs, and the main sequence.
#pragma once

#include <string>

#include "ferrox/scanner_command.h"
#include "winport/windows.h"

namespace calibration {

enum class Mode { ForcedCalibration = 0, Calibration = 1, Cleaning = 2 };

// Resource ids of quorel.dll.
inline constexpr UINT kProgressLineCalibrating = 1;
inline constexpr UINT kProgressLineCleaning = 2;
inline constexpr UINT kProgressSecondLine = 3;
inline constexpr UINT kCaptionCalibrating = 4;
inline constexpr UINT kCaptionCleaning = 5;
inline constexpr UINT kCannotReinitialise = 6;
inline constexpr UINT kInstructionCalibrating = 7;
inline constexpr UINT kCannotOpen = 8;
inline constexpr UINT kInstructionCleaning = 9;
inline constexpr WORD kProgressDialog = 133;
inline constexpr WORD kPicture = 135;
inline constexpr WORD kPromptDialog = 136;

struct Program {
  Mode mode = Mode::Calibration;
  std::string moduleDirectory;  // ends with its separator
  char caption[81] = {};
  char instruction[261] = {};
  bool promptCancelled = false;
  HMODULE resources = 0;  // quorel.dll
  HMODULE scanner = 0;    // FERROX.DLL
  ScannerCommanderFn commander = nullptr;
  ScannerCommand command{};  // one record for every command; only `code` is set
  HBITMAP picture = 0;
  BITMAP pictureSize{};
};

// The one program state (the dialog procedures reach it from here).
Program& program();

Mode modeOf(const std::string& commandLine);

// Sends `code`; true when the status is 0 afterwards.
bool send(uint16_t code);
// Binds FERROX.DLL and opens and locks the scanner; false (everything
// released, nothing shown) when any step fails.
bool bindScanner();
// CMD_UNLOCK, CMD_CLOSE, unload.
void unbindScanner();

// How a dialog run went: it ran (and ended), the library has no such
// template, or the system could not make its window (no desktop to show it on).
enum class DialogRun { Ran, NoTemplate, NoWindow };

// Runs dialog 136 / 133 of quorel.dll.
DialogRun runPromptDialog();
DialogRun runProgressDialog();
// The maintenance pass of the mode, as the progress dialog runs it: the
// calibration or cleaning command, then CMD_UNLOCK; the statuses are not looked at.
void runPass();
// Runs dialog `id` of `library` modally with `procedure` (one file per platform).
DialogRun runDialogTemplate(HMODULE library, WORD id, DLGPROC procedure);

}  // namespace calibration
