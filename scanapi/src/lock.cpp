#include "lock.h"

#include "driver_call.h"
#include "enhancement.h"
#include "ferrox_state.h"
#include "lock_owner.h"

namespace ferrox {

namespace {

// Claims the lock for the process `self`: when it is free, or when the
// process holding it no longer exists (killed, crashed, or ended without
// unlocking). Of racing claims exactly one wins, also when several find the
// same dead owner: the claim is a compare-and-swap from the owner each saw.
//
// Taking over from a dead owner clears what it left in the lock word
// (prepared, scanning). Nothing is sent to the driver for it: the request
// packet and the driver's lock were that process's, and op 3 names no lock,
// so it could only release this process's own. Its enhancement state and
// spool file were its own too, and the spool went with it.
bool ClaimLock(uint64_t self) {
  uint64_t owner = LoadLockOwner();
  if (owner != 0 && (owner == self || IdentityAlive(owner))) return false;
  if (!CompareExchangeLockOwner(owner, self)) return false;
  StoreLockState(0);
  return true;
}

// Frees the owner slot, unless another process has claimed it meanwhile.
void ForgetOwner(uint64_t owner) { CompareExchangeLockOwner(owner, 0); }

// Ends a scan in the driver when one runs, gives the lock back, clears every bit.
int16_t ReleaseLock() {
  if (LoadLockState() & LOCK_SCANNING) CallDriver(DRV_END_SCAN);
  const int16_t status = CallDriver(DRV_UNLOCK);
  Process().progressCallback = nullptr;
  StoreLockState(0);
  ForgetOwner(LoadLockOwner());
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
  const uint64_t self = OwnIdentity();
  if (!ClaimLock(self)) {
    command.status = SCAN_ERR_LOCKED;
    return;
  }
  command.status = CallDriver(DRV_LOCK);
  if (command.status != SCAN_OK) {
    ForgetOwner(self);  // the driver refused: the claim is given back
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

void ReleaseOwnLock() {
  if (!DriverBound() || Process().shared == nullptr || LoadLockOwner() != OwnIdentity()) return;
  ReleaseLock();
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
