// The scripted music library: records every call of its table.
#include <cstring>

#include "fake_driver.h"
#include "winport/module.h"

namespace {

fake::MusicState g_state;

void Record(uint32_t slot, uint32_t mode, const char* path) {
  if (g_state.logCount >= fake::kMusicLogSize) return;
  fake::MusicCall& call = g_state.log[g_state.logCount++];
  call = fake::MusicCall{slot, mode, {}};
  if (path != nullptr) std::strncpy(call.path, path, sizeof(call.path) - 1);
}

int32_t WINAPI Open(const MusicOpenRecord* record) {
  g_state.lastOpenRecord = *record;
  Record(0, 0, nullptr);
  return g_state.openResult;
}
int32_t WINAPI Close() {
  Record(1, 0, nullptr);
  return 0;
}
int32_t WINAPI Play(const MusicPlayRecord* record) {
  Record(3, record->mode, record->path);
  return 0;
}
int32_t WINAPI Stop() {
  Record(4, 0, nullptr);
  return 0;
}

const MusicFunctionTable kTable = {Open, Close, nullptr, Play, Stop};

constexpr WinportExport kExports[] = {
    {"MMMUSIC_GetFunctionTable", 1},
    {"FakeMusicState", 2},
};

}  // namespace

WINPORT_EXPORT const MusicFunctionTable* WINAPI MMMUSIC_GetFunctionTable() { return &kTable; }
WINPORT_EXPORT fake::MusicState* FakeMusicState() { return &g_state; }

WINPORT_MODULE(kExports, 2, nullptr, 0, nullptr)
