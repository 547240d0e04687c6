// Running a dialog of quorel.dll on Windows: the DIALOG resource is found,
// loaded and run from memory, with the program's own instance.
#include "calibration.h"

namespace calibration {

bool runDialogTemplate(HMODULE library, WORD id, DLGPROC procedure) {
  HRSRC found = FindResourceA(library, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(RT_DIALOG));
  HGLOBAL loaded = found != nullptr ? LoadResource(library, found) : nullptr;
  const void* dialogTemplate = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (dialogTemplate == nullptr) return false;
  DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                          static_cast<LPCDLGTEMPLATEA>(dialogTemplate), nullptr, procedure, 0);
  return true;
}

}  // namespace calibration
