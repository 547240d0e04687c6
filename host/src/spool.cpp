#include "spool.h"

#include <atomic>
#include <string>

#include "system_error.h"
#include "winport/windows.h"

namespace imagehost {

namespace {

constexpr int kNameAttempts = 100;

Status SpoolFailure(DWORD error) {
  return Status::failure("cannot use a temporary file to reverse the rows: " + ErrorText(error));
}

// A name in `folder` no other spool of this process has used; other
// processes' names differ by the process id and the tick count.
std::string SpoolName(const std::string& folder) {
  static std::atomic<uint32_t> counter{0};
  return folder + "imagehost-spool-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(GetTickCount()) + "-" + std::to_string(counter++) + ".tmp";
}

// Moves to `offset`; false with the system's error.
bool MoveTo(HANDLE file, uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  SetLastError(ERROR_SUCCESS);
  return SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) !=
             INVALID_SET_FILE_POINTER ||
         GetLastError() == ERROR_SUCCESS;
}

constexpr DWORD kMaxTransfer = 1u << 30;

}  // namespace

Spool::~Spool() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

Status Spool::create() {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return SpoolFailure(GetLastError());
  // A new name each time (CREATE_NEW never opens what is already there, nor
  // follows a link planted at the name), deleted when the handle closes.
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    file_ = CreateFileA(SpoolName(folder).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, 0);
    if (file_ != INVALID_HANDLE_VALUE) return {};
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return SpoolFailure(error);
  }
  return SpoolFailure(ERROR_FILE_EXISTS);
}

Status Spool::put(uint64_t offset, std::span<const uint8_t> bytes) {
  if (!MoveTo(file_, offset)) return SpoolFailure(GetLastError());
  for (size_t done = 0; done < bytes.size();) {
    const size_t left = bytes.size() - done;
    DWORD put = 0;
    if (!WriteFile(file_, bytes.data() + done, left > kMaxTransfer ? kMaxTransfer : DWORD(left),
                   &put, nullptr))
      return SpoolFailure(GetLastError());
    if (put == 0) return SpoolFailure(ERROR_DISK_FULL);
    done += put;
  }
  return {};
}

Status Spool::get(uint64_t offset, std::span<uint8_t> bytes) const {
  if (!MoveTo(file_, offset)) return SpoolFailure(GetLastError());
  for (size_t done = 0; done < bytes.size();) {
    const size_t left = bytes.size() - done;
    DWORD got = 0;
    if (!ReadFile(file_, bytes.data() + done, left > kMaxTransfer ? kMaxTransfer : DWORD(left),
                  &got, nullptr))
      return SpoolFailure(GetLastError());
    if (got == 0) return SpoolFailure(ERROR_HANDLE_EOF);
    done += got;
  }
  return {};
}

}  // namespace imagehost
