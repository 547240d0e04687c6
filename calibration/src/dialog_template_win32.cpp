// Running a dialog of quorel.dll on Windows: the DIALOG resource is found,
// loaded and run from memory, with the program's own instance.
#include "calibration.h"

namespace calibration {

DialogRun runDialogTemplate(HMODULE library, WORD id, DLGPROC procedure) {
  HRSRC found = FindResourceA(library, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(RT_DIALOG));
  HGLOBAL loaded = found != nullptr ? LoadResource(library, found) : nullptr;
  const void* dialogTemplate = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (dialogTemplate == nullptr) return DialogRun::NoTemplate;
  // -1: the window could not be made (say, a process without a desktop to draw on).
  return DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                 static_cast<LPCDLGTEMPLATEA>(dialogTemplate), nullptr,
                                 procedure, 0) == -1
             ? DialogRun::NoWindow
             : DialogRun::Ran;
}

}  // namespace calibration
