// The HostFileTable the host hands plug-ins: all six slots over the system's
// files (CreateFileA and its kin). Every file is opened sharing reading,
// writing and deleting, as files on Linux always are, so that a writer may open
// its output twice and the work file can be removed while a plug-in holds it.
//
// The file designation / FileReference is a path (NUL-terminated text).
// Handles are 32-bit numbers from a process-wide table of the host's own
// (whatever the size of a system handle), never 0 and not
// reused while the table has unused numbers, so a handle a plug-in has
// already closed stays invalid. Positions beyond 2 GiB cannot be expressed
// by the table's signed 32-bit seek and fail.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "plugin/contract.h"

namespace imagehost::files {

const HostFileTable* Table();

// Opens `path` for reading as the host does before OVDLinit_image; 0 on
// failure with the reason in `error`.
uint32_t OpenForReading(const std::string& path, std::string& error);
// Closes the handle if it is still open (a plug-in may have closed it already).
void CloseIfOpen(uint32_t handle);
bool IsOpen(uint32_t handle);
// Size of the open file in bytes; −1 on failure.
int64_t FileSize(uint32_t handle);
// Reads up to `count` bytes at `offset` without moving the handle's position.
int64_t ReadAt(uint32_t handle, void* buffer, uint64_t count, uint64_t offset);

// Lends `memory` to a writer for one call: until EndLending, the table's
// writes of bytes inside it (from the calling thread) are gathered instead of
// made at once. Pieces that continue one another in memory and in the file
// become one system write, made when anything else is asked of that file
// (read, seek, a write from elsewhere, close) or at EndLending. A writer
// handing over the host's rows in small pieces thus costs one system call per
// block instead of one per piece. The memory must stay unchanged until then.
void LendForWrites(std::span<const uint8_t> memory);
// Makes every gathered write; false when any gathered bytes failed to land
// since the lending began (the reason in LastError). The writer was told
// those bytes were written, so the file must not be trusted.
bool EndLending();

// The text of the last failed open, write or seek made through the table on
// this thread (empty when none since the last ClearLastError).
std::string LastError();
void ClearLastError();

}  // namespace imagehost::files
