#include "lock.h"

#include "driver_call.h"
#include "enhancement.h"
#include "ferrox_state.h"

namespace ferrox {

namespace {

// Claims the lock word for this caller: of two racing claims exactly one
// wins. False when the scanner is locked or another claim is in progress.
bool ClaimLockWord() {
  uint32_t expected = LoadLockState();
  for (;;) {
    if (expected & (LOCK_LOCKED | LOCK_CLAIMED)) return false;
    if (CompareExchangeLockState(expected, expected | LOCK_CLAIMED)) return true;
  }
}

// Ends a scan in the driver when one runs, gives the lock back, clears every bit.
int16_t ReleaseLock() {
  if (LoadLockState() & LOCK_SCANNING) CallDriver(DRV_END_SCAN);
  const int16_t status = CallDriver(DRV_UNLOCK);
  Process().progressCallback = nullptr;
  StoreLockState(0);
  RemoveSpool();  // a scan ended by unlocking leaves no spool file behind
  return status;
}

}  // namespace

bool IsLocked() { return (LoadLockState() & LOCK_LOCKED) != 0; }

bool PresentsCurrentHandle(const ScannerCommand& command) {
  return IsLocked() && command.lockHandle == LoadLockHandle();
}

int16_t CheckGate(Gate gate, const ScannerCommand& command) {
  const uint32_t state = LoadLockState();
  const bool owner = (state & LOCK_LOCKED) != 0 && command.lockHandle == LoadLockHandle();
  switch (gate) {
    case Gate::None:
      return SCAN_OK;
    case Gate::Owner:
      return owner ? SCAN_OK : SCAN_ERR_NOT_OWNER;
    case Gate::OwnerIfLocked:
      return (state & LOCK_LOCKED) == 0 || owner ? SCAN_OK : SCAN_ERR_NOT_OWNER;
    case Gate::Prepared:
      if (!owner) return SCAN_ERR_NOT_OWNER;
      return (state & LOCK_PREPARED) ? SCAN_OK : SCAN_ERR_STATE;
    case Gate::Scanning:
      if (!owner) return SCAN_ERR_NOT_OWNER;
      return (state & LOCK_SCANNING) ? SCAN_OK : SCAN_ERR_STATE;
  }
  return SCAN_ERR_STATE;
}

void Lock(ScannerCommand& command) {
  if (!DriverBound()) {
    command.status = SCAN_ERR_NO_DRIVER;
    return;
  }
  if (!ClaimLockWord()) {
    command.status = SCAN_ERR_LOCKED;
    return;
  }
  command.status = CallDriver(DRV_LOCK);
  if (command.status != SCAN_OK) {
    ClearLockBits(LOCK_CLAIMED);  // the driver refused: the claim is given back
    return;
  }
  const auto handle = static_cast<uint16_t>(DriverReply() & 0xFFFFu);
  StoreLockHandle(handle);
  StoreLockState(LOCK_LOCKED);  // a fresh lock: claimed -> locked, nothing prepared
  command.lockHandle = handle;
}

void Unlock(ScannerCommand& command) {
  if (!DriverBound()) {
    command.status = SCAN_ERR_NO_DRIVER;
    return;
  }
  command.status = ReleaseLock();
}

void SetProgressCallback(ScannerCommand& command) {
  if (!IsLocked()) {
    command.status = SCAN_ERR_STATE;
  } else if (command.lockHandle != LoadLockHandle()) {
    command.status = SCAN_ERR_NOT_OWNER;
  } else {
    Process().progressCallback = reinterpret_cast<ScanProgressFn>(command.data);
  }
}

}  // namespace ferrox
