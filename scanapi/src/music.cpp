#include "music.h"

#include <cstring>

#include "binding.h"
#include "ferrox_state.h"
#include "winport/module.h"
#include "winport/registry.h"

namespace ferrox {

namespace {

// A flag is set only when its value is exactly 1.
bool ReadPlayFlag(HKEY key, const char* name) {
  DWORD value = 0;
  return ReadRegistryDword(key, name, &value) && value == 1;
}

void ReadPlayFlags() {
  ProcessState& process = Process();
  process.playScanTune = ReadPlayFlag(process.musicKey, kMusicPlayValue);
  process.playStopTune = ReadPlayFlag(process.musicKey, kMusicStopValue);
}

// Plays the file named by `pathValue` (an empty path when it is missing).
void Play(const char* pathValue, uint32_t mode) {
  ProcessState& process = Process();
  char path[kPathBufferSize] = {};
  if (process.musicKey != 0) ReadRegistryString(process.musicKey, pathValue, path, sizeof(path));
  const MusicPlayRecord record{path, mode};
  process.music->play(&record);
  Shared().musicPlaying = 1;
}

void StopPlaying() {
  Process().music->stop();
  Shared().musicPlaying = 0;
}

}  // namespace

void BindMusic(HKEY scannerKey) {
  ProcessState& process = Process();
  char path[kPathBufferSize];
  if (!ReadRegistryString(scannerKey, "System Directory", path, sizeof(path))) return;
  const size_t used = std::strlen(path);
  const size_t nameLength = std::strlen(kMusicLibraryName);
  if (used + nameLength + 1 > sizeof(path)) return;
  std::memcpy(path + used, kMusicLibraryName, nameLength + 1);
  HMODULE module = LoadLibraryA(path);
  if (module == 0) return;
  auto getTable =
      reinterpret_cast<MusicGetFunctionTableFn>(
          reinterpret_cast<void (*)()>(GetProcAddress(module, kMusicGetFunctionTableName)));
  const MusicFunctionTable* table = getTable != nullptr ? getTable() : nullptr;
  if (table == nullptr || table->open == nullptr || table->close == nullptr ||
      table->play == nullptr || table->stop == nullptr) {
    FreeLibrary(module);  // no usable table: no music for this process
    return;
  }
  process.musicModule = module;
  process.music = table;
  if (RegOpenKeyExA(scannerKey, kMusicKeyName, 0, KEY_READ | KEY_WRITE, &process.musicKey) !=
      ERROR_SUCCESS) {
    process.musicKey = 0;
    return;
  }
  ReadPlayFlags();
}

void UnbindMusic() {
  ProcessState& process = Process();
  if (process.musicKey != 0) RegCloseKey(process.musicKey);
  if (process.musicModule != 0) FreeLibrary(process.musicModule);
  process.musicKey = 0;
  process.musicModule = 0;
  process.music = nullptr;
  process.musicOpened = false;
}

void MusicOpen() {
  ProcessState& process = Process();
  if (process.music == nullptr) return;
  if (process.music->open(&Shared().musicOpenRecord) == 0) process.musicOpened = true;
}

void MusicClose() {
  ProcessState& process = Process();
  if (!process.musicOpened) return;
  process.music->close();
  process.musicOpened = false;
  Shared().musicPlaying = 0;
}

void MusicRefresh(uint32_t scanFlags) {
  ProcessState& process = Process();
  if (process.musicKey != 0) ReadPlayFlags();
  process.musicSuppressed = (scanFlags & SCANFLAG_NO_MUSIC) != 0 || (scanFlags & SCANFLAG_MUSIC) == 0;
}

void MusicStartScanTune() {
  ProcessState& process = Process();
  if (!process.musicOpened || !process.playScanTune || process.musicSuppressed) return;
  if (Shared().musicPlaying != 0) StopPlaying();
  Play(kMusicScanPathValue, MUSIC_MODE_SCAN);
}

void MusicEndScanTune() {
  ProcessState& process = Process();
  if (Shared().musicPlaying != 0 && process.music != nullptr) StopPlaying();
  if (!process.musicOpened || !process.playStopTune || process.musicSuppressed) return;
  Play(kMusicStopPathValue, MUSIC_MODE_END_SCAN);
}

}  // namespace ferrox
