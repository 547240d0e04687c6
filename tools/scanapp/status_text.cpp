#include "status_text.h"

namespace scanapp {

std::string FailureText(const ScanFailure& failure, const std::string& libraryFolder,
                        const std::string& detail) {
  std::string text = failure.doing + ": " + StatusText(failure.status);
  if (!detail.empty()) text += ": " + detail;
  if (failure.status == SCAN_ERR_NO_DRIVER) return NoDriverText(failure, libraryFolder, text);
  return text + " (status " + std::to_string(failure.status) + ")";
}

}  // namespace scanapp
