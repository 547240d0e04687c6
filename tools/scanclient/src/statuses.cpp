#include "scanclient/statuses.h"

#include "ferrox/scanner_command.h"

namespace scanclient {

std::string StatusText(int16_t status) {
  switch (status) {
    case SCAN_OK:
      return "success";
    case SCAN_END_OF_DATA:
      return "the scan has no more lines";
    case SCAN_ERR_LOCKED:
      return "the scanner is in use by another application";
    case SCAN_ERR_COMMAND:
      return "the scanner library does not support this command";
    case SCAN_ERR_PARAM:
      return "the scanner cannot do this (a setting out of range, or a scan the device cannot "
             "do)";
    case SCAN_ERR_RESOURCE:
      return "the scanner library ran out of memory or a file operation failed (its "
             "temporary file, the tone maps or the device initialisation)";
    case SCAN_ERR_OPEN:
      return "the scanner driver could not open the device";
    case SCAN_ERR_NO_DRIVER:
      return "no scanner driver is configured";
    case SCAN_ERR_STATE:
      return "the scanner is not in the state this step needs (not locked, not set up or "
             "not scanning)";
    case SCAN_ERR_NOT_OWNER:
      return "the scanner is not locked by this application (another application may have "
             "taken it over)";
    case 7:
      return "the scanner stopped the scan";
    case -20:
      return "the scanner is not ready";
    case kDriverFeederEmpty:
      return "the document feeder is empty";
    default:
      return "the scanner driver reported a failure";
  }
}

}  // namespace scanclient
