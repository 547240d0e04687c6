// Music.dll stand-in: accepts the scanner API's open, close, play and stop
// calls and records each of them in a trace file, one line per call:
//   "music slot=0 open=<zero>,<nine>,<one> status=0"
//   "music slot=1 close status=0"
//   "music slot=3 play mode=<mode> path=<path> status=0"
//   "music slot=4 stop status=0"
// The file is the one VIRTMUSIC_TRACE names, else the virtual scanner's
// VIRTSCAN_TRACE, so that a test sees driver operations and music calls in
// their order. Nothing is played.
#include "ferrox/music.h"

#include <string>

#include "../common/trace.h"
#include "winport/module.h"

namespace music {

namespace {

std::string traceFile() {
  std::string path = standins::environmentText("VIRTMUSIC_TRACE");
  return path.empty() ? standins::environmentText("VIRTSCAN_TRACE") : path;
}

// Appends the line `make` builds; a trace that cannot be written (or built)
// changes nothing for the caller.
template <typename MakeLine>
void trace(MakeLine make) {
  try {
    standins::appendTraceLine(traceFile(), "music " + make());
  } catch (...) {
  }
}

int32_t WINAPI Open(const MusicOpenRecord* record) {
  if (record == nullptr) {
    trace([] { return std::string("slot=0 open=none status=-1"); });
    return -1;
  }
  trace([record] {
    return "slot=0 open=" + std::to_string(record->zero) + "," + std::to_string(record->nine) +
           "," + std::to_string(record->one) + " status=0";
  });
  return 0;
}

int32_t WINAPI Close() {
  trace([] { return std::string("slot=1 close status=0"); });
  return 0;
}

int32_t WINAPI Play(const MusicPlayRecord* record) {
  if (record == nullptr) {
    trace([] { return std::string("slot=3 play none status=-1"); });
    return -1;
  }
  trace([record] {
    const std::string path = record->path != nullptr ? record->path : "";
    return "slot=3 play mode=" + std::to_string(record->mode) + " path=" + path + " status=0";
  });
  return 0;
}

int32_t WINAPI Stop() {
  trace([] { return std::string("slot=4 stop status=0"); });
  return 0;
}

const MusicFunctionTable kTable = {Open, Close, nullptr, Play, Stop};

constexpr WinportExport kExports[] = {
    {"MMMUSIC_GetFunctionTable", 1},
};

}  // namespace

}  // namespace music

WINPORT_EXPORT const MusicFunctionTable* WINAPI MMMUSIC_GetFunctionTable() { return &music::kTable; }

WINPORT_MODULE(music::kExports, 1, nullptr, 0, nullptr)
