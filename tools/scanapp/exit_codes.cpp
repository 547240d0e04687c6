#include "exit_codes.h"

#include "ferrox/driver.h"
#include "ferrox/scanner_command.h"
#include "scanclient/statuses.h"

namespace scanapp {

int ExitCodeFor(int16_t status) {
  switch (status) {
    case SCAN_ERR_LOCKED:
    case SCAN_ERR_NOT_OWNER:  // another application took the scanner over
      return kExitBusy;
    case DRV_STATUS_READ_STOP:
      return kExitJammed;
    case scanclient::kDriverFeederEmpty:
      return kExitNoDocuments;
    // Faults of this program's request, its set-up or the library's binding.
    case SCAN_OK:
    case SCAN_ERR_COMMAND:
    case SCAN_ERR_PARAM:
    case SCAN_ERR_NO_DRIVER:
    case SCAN_ERR_STATE:
      return 1;
    default:  // the device could not be opened, read or made ready; a driver status
      return kExitIoError;
  }
}

}  // namespace scanapp
