// The optional music library's contract: Music.dll exports
// MMMUSIC_GetFunctionTable (no arguments), which returns its function table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "winport/types.h"

// Fixed content, passed to the open operation.
struct MusicOpenRecord {
  uint16_t zero;   // 0
  uint16_t nine;   // 9
  uint32_t one;    // 1
};
static_assert(sizeof(MusicOpenRecord) == 8);

inline constexpr uint32_t MUSIC_MODE_SCAN = 0;      // the tune played while scanning
inline constexpr uint32_t MUSIC_MODE_END_SCAN = 1;  // the tune played when a scan ends

struct MusicPlayRecord {
  const char* path;  // zero-terminated file path (empty when not configured)
  uint32_t mode;     // MUSIC_MODE_*
};
static_assert(offsetof(MusicPlayRecord, mode) == sizeof(void*));

// Every slot in the system's standard calling convention (the callee removes
// its arguments on 32-bit Windows).
struct MusicFunctionTable {
  int32_t(WINAPI* open)(const MusicOpenRecord* record);  // slot 0: 0 = opened
  int32_t(WINAPI* close)();                              // slot 1
  void* unused2;                                         // slot 2: not called
  int32_t(WINAPI* play)(const MusicPlayRecord* record);  // slot 3
  int32_t(WINAPI* stop)();                               // slot 4
};
static_assert(offsetof(MusicFunctionTable, play) == 3 * sizeof(void*));

using MusicGetFunctionTableFn = const MusicFunctionTable*(WINAPI*)();
inline constexpr const char* kMusicGetFunctionTableName = "MMMUSIC_GetFunctionTable";
inline constexpr const char* kMusicLibraryName = "Music.dll";

// The scanner key's subkey with the music settings, and its values.
inline constexpr const char* kMusicKeyName = "Music";
inline constexpr const char* kMusicPlayValue = "PlayMusic";                 // DWORD, 1 = play
inline constexpr const char* kMusicStopValue = "StopMusic";                 // DWORD, 1 = play
inline constexpr const char* kMusicScanPathValue = "ScanMusic PathName";    // string
inline constexpr const char* kMusicStopPathValue = "StopMusic PathName";    // string
