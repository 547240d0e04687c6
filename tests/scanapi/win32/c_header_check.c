/* The C header of the scanner API as a Windows application's C compiler sees
 * it: its static assertions pin the 32-bit layout of the records. */
#include "ferrox/ferrox.h"

int32_t ferrox_c_header_check(ScannerCommanderFn commander, ScannerCommand* command) {
  return commander(command);
}
