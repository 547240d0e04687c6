// Binding FERROX.DLL and sending commands through the one command record.
#include "calibration.h"

namespace calibration {

Program& program() {
  static Program state;
  return state;
}

bool send(uint16_t code) {
  Program& state = program();
  if (state.commander == nullptr) return false;
  state.command.code = code;
  state.commander(&state.command);
  return state.command.status == 0;
}

bool bindScanner() {
  Program& state = program();
  std::string path = state.moduleDirectory + "FERROX.DLL";
  state.scanner = LoadLibraryA(path.c_str());
  if (state.scanner != 0)
    // Through a plain function pointer: Windows' FARPROC has a calling
    // convention of its own.
    state.commander = reinterpret_cast<ScannerCommanderFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(state.scanner, kScannerCommanderName)));
  bool ready = state.commander != nullptr && send(CMD_OPEN) && send(CMD_LOCK);
  if (!ready) {
    send(CMD_CLOSE);  // nothing is sent when the library or its entry is missing
    state.commander = nullptr;
    if (state.scanner != 0) FreeLibrary(state.scanner);
    state.scanner = 0;
  }
  return ready;
}

void unbindScanner() {
  Program& state = program();
  send(CMD_UNLOCK);
  send(CMD_CLOSE);
  state.commander = nullptr;
  if (state.scanner != 0) FreeLibrary(state.scanner);
  state.scanner = 0;
}

}  // namespace calibration
