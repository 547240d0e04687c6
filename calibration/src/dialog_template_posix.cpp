// Running a dialog of quorel.dll on the platform layer, where a dialog
// resource is a DialogTemplate record of the library's table.
#include "calibration.h"

namespace calibration {

bool runDialogTemplate(HMODULE library, WORD id, DLGPROC procedure) {
  const WinportResource* resource = winport_find_resource(library, RT_DIALOG, id);
  if (resource == nullptr || resource->size != sizeof(DialogTemplate)) return false;
  DialogBoxIndirectParamA(0, static_cast<const DialogTemplate*>(resource->data), 0, procedure, 0);
  return true;
}

}  // namespace calibration
