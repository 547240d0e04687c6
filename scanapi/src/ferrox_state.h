// The library's state, split between the data section shared by every
// process that loads the library and the state private to this process.
//
// The shared section holds only plain values: lock word, lock handle, device
// and map information, product record, halftone patterns, music flag. A
// pointer, module, file or key handle means nothing in another process, so
// every such value lives in ProcessState, and so do the records that hold
// them (the scan parameters with their map and pattern addresses, the
// enhancement with its spool file).
#pragma once

#include <cstdint>

#include "ferrox/driver.h"
#include "ferrox/music.h"
#include "ferrox/scanner_command.h"
#include "winport/types.h"

namespace ferrox {

inline constexpr size_t kPathBufferSize = 260;  // MAX_PATH

// Bits of the shared lock word.
inline constexpr uint32_t LOCK_LOCKED = 0x01;
inline constexpr uint32_t LOCK_PREPARED = 0x02;
inline constexpr uint32_t LOCK_SCANNING = 0x10;

struct SharedState {
  uint32_t lockState;          // LOCK_* bits; only through the atomic helpers
  uint16_t currentLockHandle;  // only through the atomic helpers
  uint16_t lastSettingIndex;   // last index sent with op 20; 0xFFFF = none yet
  // The identity of the process that holds or is claiming the lock (see
  // lock_owner.h), 0 when free; only through the atomic helpers. Claiming is
  // a compare-and-swap on it, so of two claimants exactly one wins, and while
  // a claim waits for the driver the gates (which test LOCK_LOCKED) stay shut.
  alignas(8) uint64_t lockOwner;
  uint32_t deviceKnown;        // 1 once a device initialisation read the device record
  uint32_t mapsReady;          // 1 once the first process loaded the maps at open
  uint32_t mapsAre16Bit;       // the device's bit-code mask is exactly 8
  uint32_t musicPlaying;       // a tune is playing (any process)
  DeviceRecord device;         // the library's copy of the device record
  MapInfo mapInfo;
  uint16_t reserved0;
  MapFormat mapFormat;
  uint16_t reserved1;
  ProductRecord product;
  MusicOpenRecord musicOpenRecord;
  uint8_t halftone[4][kHalftonePatternBytes];
};

// Everything this process keeps for itself.
struct ProcessState {
  SharedState* shared = nullptr;
  HMODULE self = 0;
  // Short folder of this process's library file, with its trailing separator
  // (where the MAP files are looked up). Kept per process: another process
  // may have loaded the library from another folder.
  char moduleDirectory[kPathBufferSize] = {};
  HMODULE driverModule = 0;
  ScannerDriverEntryFn driverEntry = nullptr;
  DriverRequest request{};  // reused by every driver call
  uint16_t openCount = 0;
  ScanProgressFn progressCallback = nullptr;
  // Tone-map buffers (LocalAlloc'd), with the sizes they were made for.
  uint8_t* mapSets = nullptr;
  uint8_t* workingMaps = nullptr;
  size_t mapSetsBytes = 0;
  size_t workingBytes = 0;
  LimitsRecord limits{};
  // The current scan parameters: they hold this process's addresses (maps,
  // halftone pattern), so they stay with the process that set them.
  ScanParameters params{};
  bool paramsPrepared = false;  // a CMD_SET_PARAMETERS of this process succeeded
  // Music binding.
  HMODULE musicModule = 0;
  const MusicFunctionTable* music = nullptr;
  HKEY musicKey = 0;
  bool musicOpened = false;
  bool playScanTune = false;
  bool playStopTune = false;
  bool musicSuppressed = false;
};

// The one process state of this load of the library.
ProcessState& Process();
SharedState& Shared();

// Maps the shared section (the initial values filled by whichever process is alone).
bool MapSharedState();
void UnmapSharedState();

// Atomic access to the shared lock word and handle: another process may
// change them at any moment.
uint32_t LoadLockState();
void StoreLockState(uint32_t value);
void SetLockBits(uint32_t bits);
void ClearLockBits(uint32_t bits);
uint16_t LoadLockHandle();
void StoreLockHandle(uint16_t handle);
uint64_t LoadLockOwner();
bool CompareExchangeLockOwner(uint64_t& expected, uint64_t desired);

}  // namespace ferrox
