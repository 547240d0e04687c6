// OpenFile, the temporary folder, file attributes and renaming.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file_internal.h"
#include "internal.h"
#include "paths.h"
#include "winport/file.h"

namespace {

void describeOpen(OFSTRUCT* info, const char* name, DWORD error) {
  if (info == nullptr) return;
  std::memset(info, 0, sizeof *info);
  info->cBytes = static_cast<BYTE>(sizeof *info);
  info->fFixedDisk = 1;
  info->nErrCode = static_cast<WORD>(error);
  if (name == nullptr || *name == '\0') return;
  std::string path = winport::canonicalPath(name);
  if (path.empty()) path = winport::absolutePath(name);
  size_t length = std::min(path.size(), sizeof info->szPathName - 1);
  std::memcpy(info->szPathName, path.data(), length);
  info->szPathName[length] = '\0';
}

// Access for an OpenFile style; a file being created is opened for both.
DWORD accessForStyle(UINT style) {
  if ((style & (OF_CREATE | OF_READWRITE)) != 0) return GENERIC_READ | GENERIC_WRITE;
  return (style & OF_WRITE) != 0 ? GENERIC_WRITE : GENERIC_READ;
}

bool isExistingDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The per-user folder when TMPDIR names none: created 0700 on first use and
// trusted only if it is a real directory of ours that nobody else can enter.
std::string privateTempFolder() {
  std::string folder = "/tmp/winport-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) == 0) {
    chmod(folder.c_str(), 0700);  // the umask may have taken bits away
  } else if (errno != EEXIST) {
    SetLastError(winport::errorFromErrno(errno));
    return {};
  }
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    SetLastError(winport::errorFromErrno(errno));
    return {};
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 077) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return {};
  }
  return folder + "/";
}

}  // namespace

HFILE OpenFile(const char* name, OFSTRUCT* info, UINT style) {
  return winport::guarded<HFILE>(HFILE_ERROR, [&]() -> HFILE {
    DWORD disposition = (style & OF_CREATE) != 0 ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE handle = winport::createFile(name, accessForStyle(style), disposition, 0);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    describeOpen(info, name, error);
    if (handle == INVALID_HANDLE_VALUE) {
      SetLastError(error);
      return HFILE_ERROR;
    }
    if ((style & OF_EXIST) != 0) CloseHandle(handle);  // the value still tells success
    return static_cast<HFILE>(handle);                 // file handles never have bit 31 set
  });
}

DWORD GetTempPathA(DWORD size, char* buffer) {
  return winport::guarded<DWORD>(0, [&]() -> DWORD {
    std::string folder;
    const char* named = std::getenv("TMPDIR");
    if (named != nullptr && *named != '\0' && isExistingDirectory(named)) {
      folder = winport::absolutePath(named);
      if (folder.back() != '/') folder += '/';
    } else {
      folder = privateTempFolder();
      if (folder.empty()) return 0;
    }
    return winport::copyPathResult(folder, buffer, size);
  });
}

DWORD GetFileAttributesA(const char* name) {
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat info {};
  if (lstat(name, &info) != 0) {
    SetLastError(winport::errorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISLNK(info.st_mode)) {  // the link itself; only the kind of its target shows
    struct stat target {};
    const bool folder = stat(name, &target) == 0 && S_ISDIR(target.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
  }
  DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
  // Read-only: the caller cannot write it, or nobody may (also true for root).
  bool writable = (info.st_mode & 0222) != 0 && faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) == 0;
  if (!writable) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

BOOL MoveFileExA(const char* from, const char* to, DWORD flags) {
  if (from == nullptr || *from == '\0' || to == nullptr || *to == '\0' ||
      (flags & ~MOVEFILE_REPLACE_EXISTING) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  if (replace && isExistingDirectory(to)) {  // rename() would replace an empty folder
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, replace ? 0 : RENAME_NOREPLACE) == 0) return TRUE;
  SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : winport::errorFromErrno(errno));
  return FALSE;
}
