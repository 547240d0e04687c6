// Running a dialog of quorel.dll on the platform layer, where a dialog
// resource is a DialogTemplate record of the library's table.
#include "calibration.h"

namespace calibration {

DialogRun runDialogTemplate(HMODULE library, WORD id, DLGPROC procedure) {
  const WinportResource* resource = winport_find_resource(library, RT_DIALOG, id);
  if (resource == nullptr || resource->size != sizeof(DialogTemplate)) return DialogRun::NoTemplate;
  return DialogBoxIndirectParamA(0, static_cast<const DialogTemplate*>(resource->data), 0,
                                 procedure, 0) == -1
             ? DialogRun::NoWindow
             : DialogRun::Ran;
}

}  // namespace calibration
