#include "device_query.h"

#include <cstdio>
#include <cstring>

#include "exit_codes.h"
#include "scan_job.h"

namespace scanapp {

int OpenForQuery(const std::string& programFolder, DeviceQuery& query) {
  if (std::string error; !Scanner::load(programFolder, query.scanner, error)) return Fail(error);
  ScanFailure failure;
  if (!query.scanner->openAndLock(failure)) {
    Fail(FailureText(failure, programFolder));
    return ExitCodeFor(failure.status);
  }
  alignas(8) uint8_t room[kRecordRoom] = {};
  query.scanner->send(CMD_GET_PRODUCT_INFO, &query.product);
  query.scanner->send(CMD_GET_DEVICE_INFO, room);
  std::memcpy(&query.device, room, sizeof query.device);
  query.product.productName[sizeof query.product.productName - 1] = '\0';
  return kExitOk;
}

int FinishQuery(DeviceQuery& query) {
  query.scanner->finish();
  return std::fflush(stdout) == 0 ? kExitOk : Fail("cannot write the information");
}

}  // namespace scanapp
