// The prompt dialog (136) and the progress dialog (133), run from quorel.dll's
// templates, with the picture painted into their picture areas.
#include "calibration.h"

namespace calibration {

namespace {

constexpr int kPromptPictureArea = 1083;
constexpr int kPromptText = 1084;
constexpr int kContinueButton = 1085;
constexpr int kProgressFirstLineText = 1079;
constexpr int kProgressSecondLineText = 1080;
constexpr int kProgressPictureArea = 1082;
constexpr int kRunCommand = 1077;
constexpr LONG kButtonMarginBottom = 6;

// The control id of a WM_COMMAND (its notification code is in the high word).
WORD commandOf(WPARAM wParam) { return static_cast<WORD>(wParam & 0xFFFF); }

LONG widthOf(const RECT& rect) { return rect.right - rect.left; }
LONG heightOf(const RECT& rect) { return rect.bottom - rect.top; }

// Centres the dialog on the desktop (only when it then fits at the top left)
// and loads the picture.
void initialiseCommon(HWND dialog) {
  RECT desktop, own;
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(dialog, &own);
  LONG left = desktop.left + (widthOf(desktop) - widthOf(own)) / 2;
  LONG top = desktop.top + (heightOf(desktop) - heightOf(own)) / 2;
  if (left >= 0 && top >= 0) MoveWindow(dialog, left, top, widthOf(own), heightOf(own), FALSE);
  Program& state = program();
  state.picture = LoadBitmapA(state.resources, MAKEINTRESOURCEA(kPicture));
  state.pictureSize = BITMAP{};
  if (state.picture != 0) GetObjectA(state.picture, sizeof state.pictureSize, &state.pictureSize);
}

// Copies the picture at its natural size to the top-left corner of `area`.
void paintPicture(HWND dialog, int area) {
  Program& state = program();
  PAINTSTRUCT paint;
  BeginPaint(dialog, &paint);
  HWND control = GetDlgItem(dialog, area);
  HDC target = GetDC(control);
  HDC memory = CreateCompatibleDC(target);
  HGDIOBJ previous = SelectObject(memory, state.picture);
  BitBlt(target, 0, 0, state.pictureSize.bmWidth, state.pictureSize.bmHeight, memory, 0, 0,
         SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(control, target);
  EndPaint(dialog, &paint);
}

void destroyCommon(HWND dialog) {
  Program& state = program();
  if (state.picture != 0) DeleteObject(state.picture);
  state.picture = 0;
  EndDialog(dialog, 0);
}

// Mode 0 offers no way out: Cancel is hidden and Continue moves to the
// centre, 6 pixels above the bottom of the client area.
void centreContinueButton(HWND dialog) {
  ShowWindow(GetDlgItem(dialog, IDCANCEL), SW_HIDE);
  HWND button = GetDlgItem(dialog, kContinueButton);
  RECT client, bounds;
  GetClientRect(dialog, &client);
  GetWindowRect(button, &bounds);
  LONG width = widthOf(bounds), height = heightOf(bounds);
  MoveWindow(button, (widthOf(client) - width) / 2, client.bottom - kButtonMarginBottom - height,
             width, height, TRUE);
}

INT_PTR CALLBACK promptProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  Program& state = program();
  switch (message) {
    case WM_INITDIALOG:
      initialiseCommon(dialog);
      SetWindowTextA(dialog, state.caption);
      SetDlgItemTextA(dialog, kPromptText, state.instruction);
      if (state.mode == Mode::ForcedCalibration) centreContinueButton(dialog);
      return TRUE;
    case WM_PAINT:
      paintPicture(dialog, kPromptPictureArea);
      return TRUE;
    case WM_COMMAND:
      if (commandOf(wParam) == kContinueButton) {
        send(CMD_FORWARD_11);
        state.promptCancelled = false;
        EndDialog(dialog, kContinueButton);
      } else if (commandOf(wParam) == IDCANCEL && state.mode != Mode::ForcedCalibration) {
        // In mode 0 the Cancel button is hidden, but the dialog manager still
        // sends its id for Escape and the close box: refused, as the button is.
        unbindScanner();
        FreeLibrary(state.resources);
        state.resources = 0;
        state.promptCancelled = true;
        EndDialog(dialog, IDCANCEL);
      }
      return TRUE;
    case WM_DESTROY:
      destroyCommon(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

void loadInto(HWND dialog, int control, UINT id) {
  char text[261];
  LoadStringA(program().resources, id, text, sizeof text);
  SetDlgItemTextA(dialog, control, text);
}

INT_PTR CALLBACK progressProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  Program& state = program();
  bool cleaning = state.mode == Mode::Cleaning;
  switch (message) {
    case WM_INITDIALOG:
      initialiseCommon(dialog);
      SetWindowTextA(dialog, state.caption);
      loadInto(dialog, kProgressFirstLineText,
               cleaning ? kProgressLineCleaning : kProgressLineCalibrating);
      loadInto(dialog, kProgressSecondLineText, kProgressSecondLine);
      PostMessageA(dialog, WM_COMMAND, kRunCommand, 0);
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    case WM_PAINT:
      paintPicture(dialog, kProgressPictureArea);
      return TRUE;
    case WM_COMMAND:
      if (commandOf(wParam) == kRunCommand) {
        // Posted commands come before painting: show the texts before the
        // pass, which may take a while.
        UpdateWindow(dialog);
        runPass();
      } else if (commandOf(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      }
      return TRUE;
    case WM_DESTROY:
      destroyCommon(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

DialogRun runPromptDialog() {
  return runDialogTemplate(program().resources, kPromptDialog, promptProcedure);
}
DialogRun runProgressDialog() {
  return runDialogTemplate(program().resources, kProgressDialog, progressProcedure);
}

void runPass() {
  // The outcome is not shown: the pass ends the same way either way.
  send(program().mode == Mode::Cleaning ? CMD_CLEAN : CMD_CALIBRATE);
  send(CMD_UNLOCK);
}

}  // namespace calibration
