// Data sections shared by every process that loads a module.
//
// A section is a named POSIX shared-memory object, mapped when the module
// attaches. It starts zero-filled with `initial` copied to its start, written
// exactly once by whichever process finds itself alone: each attached process
// holds a shared lock on the object, and one that can take it exclusively is
// the only user, so a section left behind by a crashed process starts afresh
// instead of keeping stale state. Two processes attaching at once never both
// initialise it, and neither sees it half-written.
//
// The object's name is "/winport-<namespace>-<name>", namespace = the value of
// WINPORT_SHM_NAMESPACE, else the user id, so tests can run isolated.
#pragma once

#include "winport/types.h"

// Maps the section; nullptr on failure (message on stderr).
WINPORT_API void* winport_shared_section_map(const char* name, size_t size, const void* initial,
                                             size_t initialSize);
// Unmaps the section and drops this process's share.
WINPORT_API void winport_shared_section_unmap(void* section);
