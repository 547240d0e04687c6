#include "system_error.h"

namespace imagehost {

std::string ErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "Cannot allocate memory";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "File exists";
    case ERROR_DISK_FULL:
      return "No space left on device";
    case ERROR_INVALID_PARAMETER:
      return "Invalid argument";
    case ERROR_INVALID_HANDLE:
      return "Bad file descriptor";
    case ERROR_NOT_SAME_DEVICE:
      return "Invalid cross-device link";
    case ERROR_HANDLE_EOF:
      return "Unexpected end of file";
    case kErrorIsFolder:
      return "Is a directory";
    case kErrorTooLarge:
      return "Value too large for defined data type";
    default:
      return "error " + std::to_string(code);
  }
}

}  // namespace imagehost
