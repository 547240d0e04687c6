// Files over POSIX descriptors, named by 32-bit handles from one table.
//
// An open file is shared between the table and any call using it, so a read
// in one thread never meets a descriptor number that another thread's
// CloseHandle has already released and the system has reused.
#include "winport/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "file_internal.h"
#include "handle_table.h"
#include "internal.h"
#include "paths.h"
#include "process_internal.h"

namespace {

constexpr size_t kMaxTransfer = size_t{1} << 30;  // bytes per read()/write() call

struct OpenDescriptor {
  int descriptor;
  bool owned;  // false for the standard streams, which stay open whatever is closed

  explicit OpenDescriptor(int fd, bool owns = true) : descriptor(fd), owned(owns) {}
  ~OpenDescriptor() {
    if (owned) close(descriptor);
  }
  OpenDescriptor(const OpenDescriptor&) = delete;
  OpenDescriptor& operator=(const OpenDescriptor&) = delete;
};

using FileRef = std::shared_ptr<OpenDescriptor>;

struct FileState {
  std::mutex mutex;
  winport::HandleTable<FileRef> table{winport::HandleKind::kFile};
  HANDLE standard[3] = {};  // standard input, output and error, once asked for
};

FileState& state() {
  static FileState* files = new FileState;
  return *files;
}

FileRef fileOf(HANDLE handle) {
  FileState& files = state();
  std::lock_guard<std::mutex> lock(files.mutex);
  const FileRef* file = files.table.find(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return *file;
}

bool failWithErrno() {
  SetLastError(winport::errorFromErrno(errno));
  return false;
}

// A read or write the handle was not opened for fails with EBADF.
bool failTransfer() {
  SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : winport::errorFromErrno(errno));
  return false;
}

// open() flags for a disposition. Every disposition that may create or
// truncate refuses to follow a link at the name.
bool dispositionFlags(DWORD disposition, int* flags) {
  switch (disposition) {
    case CREATE_NEW:
      *flags = O_CREAT | O_EXCL | O_NOFOLLOW;
      return true;
    case CREATE_ALWAYS:
      *flags = O_CREAT | O_TRUNC | O_NOFOLLOW;
      return true;
    case OPEN_EXISTING:
      *flags = 0;
      return true;
    case OPEN_ALWAYS:
      *flags = O_CREAT | O_NOFOLLOW;
      return true;
    case TRUNCATE_EXISTING:
      *flags = O_TRUNC | O_NOFOLLOW;
      return true;
    default:
      return false;
  }
}

int accessFlags(DWORD access) {
  bool read = (access & GENERIC_READ) != 0;
  bool write = (access & GENERIC_WRITE) != 0;
  if (read && write) return O_RDWR;
  return write ? O_WRONLY : O_RDONLY;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isLink(const char* name) {
  struct stat info {};
  return lstat(name, &info) == 0 && S_ISLNK(info.st_mode);
}

// Opens `name`; the descriptor, or -1 with the last error set.
int openDescriptor(const char* name, DWORD access, DWORD disposition, DWORD attributes) {
  int flags = 0;
  if (!dispositionFlags(disposition, &flags) ||
      (disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // O_NONBLOCK keeps open() from hanging on a FIFO; it is cleared again below.
  flags |= accessFlags(access) | O_CLOEXEC | O_NONBLOCK;
  // A temporary file (a scan spool, say) is for its creator only.
  mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  if ((attributes & FILE_ATTRIBUTE_TEMPORARY) != 0) mode &= 0600;
  int fd = open(name, flags, mode);
  if (fd < 0) {
    // O_NOFOLLOW reports ELOOP for a link; O_EXCL reports EEXIST for one.
    int error = errno;
    bool plantedLink = error == ELOOP || (error == EEXIST && isLink(name));
    if (plantedLink) {
      SetLastError(ERROR_ACCESS_DENIED);
    } else if (error == ENOENT && !isDirectory(winport::directoryOf(name))) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    } else {
      SetLastError(winport::errorFromErrno(error));
    }
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return fd;
}

// The new position for SetFilePointer, or false (last error set).
bool targetPosition(int fd, int64_t distance, DWORD method, int64_t* target) {
  int64_t base = 0;
  if (method == FILE_CURRENT) {
    off_t current = lseek(fd, 0, SEEK_CUR);
    if (current < 0) return failWithErrno();
    base = current;
  } else if (method == FILE_END) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return failWithErrno();
    base = info.st_size;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (__builtin_add_overflow(base, distance, target) || *target < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);  // before the start, or beyond any file
    return false;
  }
  return true;
}

}  // namespace

namespace winport {

HANDLE createFile(const char* name, DWORD access, DWORD disposition, DWORD flags) {
  return guarded<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    if (name == nullptr || *name == '\0') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    int fd = openDescriptor(name, access, disposition, flags);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    FileRef file;
    try {
      file = std::make_shared<OpenDescriptor>(fd);
    } catch (...) {
      close(fd);
      throw;
    }
    // `file` owns the descriptor from here on, whatever fails next. Deleting
    // on close: the name goes now, the storage with the last descriptor, so
    // even a process that is killed leaves nothing behind.
    if ((flags & FILE_FLAG_DELETE_ON_CLOSE) != 0 && unlink(name) != 0) {
      SetLastError(winport::errorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    FileState& files = state();
    std::lock_guard<std::mutex> lock(files.mutex);
    HANDLE handle = files.table.insert(file);
    if (handle == 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
  });
}

HANDLE standardHandle(int fd) {
  return guarded<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    if (fd < 0 || fd > 2) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    FileState& files = state();
    std::lock_guard<std::mutex> lock(files.mutex);
    HANDLE& handle = files.standard[fd];
    if (handle == 0 || files.table.find(handle) == nullptr) {
      handle = files.table.insert(std::make_shared<OpenDescriptor>(fd, false));
      if (handle == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
      }
    }
    return handle;
  });
}

bool isTerminal(HANDLE handle) {
  FileRef file = fileOf(handle);
  return file && isatty(file->descriptor) == 1;
}

}  // namespace winport

HANDLE CreateFileA(const char* name, DWORD access, DWORD /*share*/, void* /*security*/,
                   DWORD disposition, DWORD flags, HANDLE /*templateFile*/) {
  return winport::createFile(name, access, disposition, flags);
}

namespace {

// Moves `count` bytes in chunks through `step` (read or write on the file's
// descriptor), retrying interrupted calls. A step that moves nothing ends a
// read (the end of the file: success with fewer bytes) and fails a write (a
// full disk shows as an error or as no progress).
template <typename Byte, typename Step>
BOOL transfer(HANDLE handle, Byte* buffer, DWORD count, DWORD* done, void* overlapped,
              bool reading, Step step) {
  if (done != nullptr) *done = 0;
  if (overlapped != nullptr || (buffer == nullptr && count > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  FileRef file = fileOf(handle);
  if (!file) return FALSE;
  size_t total = 0;
  while (total < count) {
    size_t chunk = count - total < kMaxTransfer ? count - total : kMaxTransfer;
    ssize_t moved = step(file->descriptor, buffer + total, chunk);
    if (moved < 0 && errno == EINTR) continue;
    if (moved == 0 && reading) break;
    if (moved <= 0) {
      if (moved == 0) errno = ENOSPC;
      if (done != nullptr) *done = static_cast<DWORD>(total);
      return failTransfer();
    }
    total += static_cast<size_t>(moved);
  }
  if (done != nullptr) *done = static_cast<DWORD>(total);
  return TRUE;
}

}  // namespace

BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* done, void* overlapped) {
  return transfer(handle, static_cast<char*>(buffer), count, done, overlapped, true,
                  [](int fd, char* at, size_t chunk) { return read(fd, at, chunk); });
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* done, void* overlapped) {
  return transfer(handle, static_cast<const char*>(buffer), count, done, overlapped, false,
                  [](int fd, const char* at, size_t chunk) { return write(fd, at, chunk); });
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* high, DWORD method) {
  FileRef file = fileOf(handle);
  if (!file) return INVALID_SET_FILE_POINTER;
  int64_t move = distance;
  if (high != nullptr) {
    move = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*high)) << 32) |
                                static_cast<uint32_t>(distance));
  }
  int64_t target = 0;
  if (!targetPosition(file->descriptor, move, method, &target)) return INVALID_SET_FILE_POINTER;
  if (high == nullptr && target > 0xFFFFFFFFll) {  // the caller could not be told the position
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->descriptor, static_cast<off_t>(target), SEEK_SET) < 0) {
    failWithErrno();
    return INVALID_SET_FILE_POINTER;
  }
  if (high != nullptr) *high = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  SetLastError(ERROR_SUCCESS);  // tells a position whose low part is 0xFFFFFFFF from a failure
  return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE handle, DWORD* high) {
  FileRef file = fileOf(handle);
  if (!file) return INVALID_FILE_SIZE;
  struct stat info {};
  if (fstat(file->descriptor, &info) != 0) {
    failWithErrno();
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(info.st_size);
  if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL DeleteFileA(const char* name) {
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return unlink(name) == 0 ? TRUE : failWithErrno();
}

BOOL CloseHandle(HANDLE handle) {
  FileRef file;  // released after the mutex
  FileState& files = state();
  std::lock_guard<std::mutex> lock(files.mutex);
  FileRef* entry = files.table.find(handle);
  if (entry == nullptr) {
    if (winport::closeProcessHandle(handle)) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  file = std::move(*entry);
  files.table.erase(handle);
  return TRUE;
}

