// The calling thread's last error, and the mapping from POSIX errors.
#include <cerrno>
#include <cstring>

#include "internal.h"
#include "winport/types.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

namespace winport {

DWORD errorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
    case EOVERFLOW:
      return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ENOEXEC:
      return ERROR_BAD_FORMAT;
    case EPIPE:
      return ERROR_NO_DATA;
    default:  // EACCES, EPERM, EROFS, EISDIR, ELOOP, ETXTBSY, ...
      return ERROR_ACCESS_DENIED;
  }
}

DWORD copyPathResult(const std::string& text, char* buffer, DWORD size) {
  if (buffer == nullptr) size = 0;
  if (text.size() + 1 > size) {
    // Larger than a DWORD can say cannot happen for real paths; saturate anyway.
    return text.size() + 1 > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(text.size() + 1);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

}  // namespace winport
