// Calibration [Force Calibration | Clean | anything else]
// One forced calibration, cleaning or calibration pass; always exits with 0.
#include <strings.h>

#include <string>

#include "calibration.h"

namespace calibration {

namespace {

constexpr char kMissingComponent[] = "No Other Component,Please re-install!";
constexpr char kErrorCaption[] = "Error";

std::string commandLineOf(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

std::string moduleDirectory() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(0, path, sizeof path);
  std::string full(path, length < sizeof path ? length : 0);
  // Cut after the last separator (a backslash on Windows, '/' here).
  size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
}

bool loadResources() {
  Program& state = program();
  std::string path = state.moduleDirectory + "quorel.dll";
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  state.resources = LoadLibraryA(path.c_str());
  return state.resources != 0;
}

void loadTexts() {
  Program& state = program();
  bool cleaning = state.mode == Mode::Cleaning;
  state.caption[0] = '\0';
  LoadStringA(state.resources, cleaning ? kCaptionCleaning : kCaptionCalibrating, state.caption,
              sizeof state.caption);
  LoadStringA(state.resources, cleaning ? kInstructionCleaning : kInstructionCalibrating,
              state.instruction, sizeof state.instruction);
}

// False when the box could not be shown (no desktop to show it on).
bool showError(UINT id) {
  char text[261];
  LoadStringA(program().resources, id, text, sizeof text);
  // The system answers 0 when it cannot make the box (Wine: -1).
  return MessageBoxA(0, text, program().caption, MB_OK | MB_ICONERROR) > 0;
}

void unloadResources() {
  Program& state = program();
  if (state.resources != 0) FreeLibrary(state.resources);
  state.resources = 0;
}

// Until the scanner reports ready; false when the user cancelled the prompt
// (everything is released then) or there is no prompt to show.
bool waitUntilReady() {
  while (!send(CMD_FORWARD_13)) {
    const DialogRun prompt = runPromptDialog();
    if (prompt != DialogRun::Ran) {
      // Without the prompt nothing would change between two tries: give up
      // rather than retry unattended (where no window can be made, a box
      // could not be shown either).
      unbindScanner();
      if (prompt == DialogRun::NoTemplate)
        MessageBoxA(0, kMissingComponent, kErrorCaption, MB_OK | MB_ICONERROR);
      unloadResources();
      return false;
    }
    if (program().promptCancelled) return false;
  }
  return true;
}

int run(int argc, char** argv) {
  Program& state = program();
  state.moduleDirectory = moduleDirectory();
  if (!loadResources()) {
    MessageBoxA(0, kMissingComponent, kErrorCaption, MB_OK | MB_ICONERROR);
    return 0;
  }
  state.mode = modeOf(commandLineOf(argc, argv));
  loadTexts();
  if (!bindScanner()) {
    showError(kCannotOpen);
    unloadResources();
    return 0;
  }
  while (!send(CMD_REINITIALIZE)) {
    // Each retry waits for the user's OK; without the box there would be no
    // pause between tries and no end to them.
    if (!showError(kCannotReinitialise)) {
      unbindScanner();
      unloadResources();
      return 0;
    }
  }
  send(CMD_FORWARD_11);
  if (!waitUntilReady()) return 0;
  // The scanner is ready and the user asked for the pass: where the progress
  // window cannot be made, the pass runs without it. A library without the
  // template has no pass at all.
  if (runProgressDialog() == DialogRun::NoWindow) runPass();
  unbindScanner();
  unloadResources();
  return 0;
}

}  // namespace

Mode modeOf(const std::string& commandLine) {
  if (strcasecmp(commandLine.c_str(), "Force Calibration") == 0) return Mode::ForcedCalibration;
  if (strcasecmp(commandLine.c_str(), "Clean") == 0) return Mode::Cleaning;
  return Mode::Calibration;
}

}  // namespace calibration

int main(int argc, char** argv) {
  try {
    return calibration::run(argc, argv);
  } catch (...) {
    return 0;  // the exit code is always 0
  }
}
