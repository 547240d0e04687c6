// The system-wide lock, the gates that test it, and the lock commands.
#pragma once

#include <cstdint>

#include "ferrox/scanner_command.h"

namespace ferrox {

enum class Gate {
  None,
  Owner,          // L: locked and lockHandle is the current handle
  OwnerIfLocked,  // O: when locked, lockHandle must be the current handle
  Prepared,       // P: gate L, then prepared
  Scanning,       // S: gate L, then scanning
};

// SCAN_OK when the command may run, else the failure status.
int16_t CheckGate(Gate gate, const ScannerCommand& command);
bool IsLocked();
// Locked and `lockHandle` is the current handle.
bool PresentsCurrentHandle(const ScannerCommand& command);

void Lock(ScannerCommand& command);                // CMD_LOCK
void Unlock(ScannerCommand& command);              // CMD_UNLOCK (gate passed)
void SetProgressCallback(ScannerCommand& command); // CMD_SET_PROGRESS_CALLBACK
// At detach: a lock this process holds is released as CMD_UNLOCK would (a
// forked child that never locked holds nothing of its parent's).
void ReleaseOwnLock();

}  // namespace ferrox
