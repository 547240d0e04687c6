// Files, the temporary folder, file attributes.
//
// Handles come from a process-wide table (32-bit, never a raw descriptor).
// Creating or truncating a file never follows a symbolic link planted in its
// place: with CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS and TRUNCATE_EXISTING a
// link at the target name makes the call fail with ERROR_ACCESS_DENIED.
// Folders cannot be opened as files (ERROR_ACCESS_DENIED); share modes,
// security and template arguments are ignored.
//
// FILE_FLAG_DELETE_ON_CLOSE removes the file's name as soon as it is open:
// the handle keeps reading and writing it, and its storage is freed when the
// handle is closed or the process ends, however it ends (killed or crashed
// included). The name is free again at once.
#pragma once

#include "winport/types.h"

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 1;
inline constexpr DWORD FILE_SHARE_WRITE = 2;
inline constexpr DWORD FILE_SHARE_DELETE = 4;

// Creation dispositions.
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 1;

// OpenFile styles.
inline constexpr UINT OF_READ = 0x0000;
inline constexpr UINT OF_WRITE = 0x0001;
inline constexpr UINT OF_READWRITE = 0x0002;
inline constexpr UINT OF_CREATE = 0x1000;
inline constexpr UINT OF_EXIST = 0x4000;

struct OFSTRUCT {
  BYTE cBytes;
  BYTE fFixedDisk;
  WORD nErrCode;
  WORD reserved1;
  WORD reserved2;
  char szPathName[128];
};

WINPORT_API HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
WINPORT_API BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, void* overlapped);
WINPORT_API BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done,
                           void* overlapped);
// Moves by a signed 32-bit distance (or 64 bits with `high`); returns the low
// 32 bits of the new position, INVALID_SET_FILE_POINTER on failure (last error
// set; ERROR_SUCCESS when that is a real position). Without `high` a position
// beyond 32 bits fails and the pointer stays where it was.
WINPORT_API DWORD SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method);
WINPORT_API DWORD GetFileSize(HANDLE file, DWORD* high);
WINPORT_API BOOL DeleteFileA(const char* name);
// Closes a file handle or a process handle (winport/process.h).
WINPORT_API BOOL CloseHandle(HANDLE handle);
// OF_CREATE creates or truncates, OF_READWRITE opens for both, OF_EXIST only
// tests that the file exists (and closes it again). Returns a file handle (the
// HANDLE value) or HFILE_ERROR; `info` may be null.
WINPORT_API HFILE OpenFile(const char* name, OFSTRUCT* info, UINT style);
// The folder TMPDIR names (with a trailing '/'), else a private per-user folder
// (made with mode 0700, owned by the caller, never a link). Returns the length
// without NUL when it fits, else the size needed including NUL; 0 on failure.
WINPORT_API DWORD GetTempPathA(DWORD size, char* buffer);
// FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_READONLY (the caller may not write
// it, or its mode has no write bit at all) or FILE_ATTRIBUTE_NORMAL;
// INVALID_FILE_ATTRIBUTES when it does not exist. A symbolic link is not
// followed, as a reparse point is not: it answers FILE_ATTRIBUTE_REPARSE_POINT,
// with FILE_ATTRIBUTE_DIRECTORY when it leads to a folder (a dangling link
// exists too).
WINPORT_API DWORD GetFileAttributesA(const char* name);
// Renames `from` to `to` in one step. Without MOVEFILE_REPLACE_EXISTING an
// existing `to` makes it fail (ERROR_ALREADY_EXISTS); with it a file at `to`
// is replaced, a folder never (ERROR_ACCESS_DENIED). Both names must lie on
// one file system (ERROR_NOT_SAME_DEVICE): files are never copied.
WINPORT_API BOOL MoveFileExA(const char* from, const char* to, DWORD flags);
