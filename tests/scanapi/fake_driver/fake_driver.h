// A scripted scanner driver and music library for the scanner API tests.
//
// The test process loads the same module file FERROX.DLL binds, and reaches
// its state through the extra export FakeDriverState / FakeMusicState: it sets
// the records and statuses the fake answers with and reads back every call.
#pragma once

#include <cstdint>

#include "ferrox/driver.h"
#include "ferrox/music.h"

namespace fake {

inline constexpr uint32_t kOperationSlots = 64;
inline constexpr uint32_t kLogSize = 512;

struct DriverCall {
  uint16_t operation;
  uint32_t param;
  void* data;
};

struct DriverState {
  // Answers.
  DeviceRecord device;
  LimitsRecord limits;
  MapInfo mapInfo;
  int16_t status[kOperationSlots];    // status per operation (0 by default)
  uint32_t reply[kOperationSlots];    // reply per operation
  // Op 22 answers `notReadyStatus` for its first `notReadyPolls` calls.
  uint32_t notReadyPolls;
  int16_t notReadyStatus;
  // Op 2 takes this long, so that racing lock requests overlap inside the driver.
  uint32_t lockDelayMicros;
  // Each op 22 moves the frozen tick count on by this many ms.
  uint32_t tickPerReadyPoll;
  // Op 16 delivers the lines of the scan op 14 described, each byte
  // PatternByte(line, index), as many as the buffer holds (at most
  // `linesPerRead` when set), and nothing after `stopAfterLines` (when set).
  uint32_t linesPerRead;
  uint32_t stopAfterLines;
  uint32_t linesDelivered;
  bool fillLines;  // every byte of every line is `fillByte` instead of the pattern
  uint8_t fillByte;
  // Op 16 answers this status (when set) for a buffer that holds no whole line.
  int16_t shortBufferStatus;
  // Record of the calls.
  uint32_t calls[kOperationSlots];
  DriverCall log[kLogSize];
  uint32_t logCount;
  uint32_t lastDownloadMode;
  uint8_t lastDownload[3 * 65536 * 2];  // the working maps of the last op 7
  ScanParameters lastParameters;        // the record of the last op 14
};

inline constexpr uint32_t kMusicLogSize = 64;

struct MusicCall {
  uint32_t slot;  // 0 open, 1 close, 3 play, 4 stop
  uint32_t mode;  // play: the mode
  char path[64];  // play: the path (truncated)
};

struct MusicState {
  int32_t openResult;  // answered by open
  MusicCall log[kMusicLogSize];
  uint32_t logCount;
  MusicOpenRecord lastOpenRecord;
};

// The geometry the fake gives a frame (op 8): pixels = width x resolution / 300.
inline ScanGeometry GeometryOf(const ScanFrame& frame) {
  ScanGeometry geometry{};
  geometry.frame = frame;
  const uint32_t pixels = uint32_t{frame.width} * frame.xResolution / 300;
  geometry.pixelsPerLine = pixels;
  switch (frame.dataType) {
    case DATATYPE_LINEART:
    case DATATYPE_HALFTONE: geometry.bytesPerLine = (pixels + 7) / 8; break;
    case DATATYPE_GREY: geometry.bytesPerLine = pixels; break;
    case DATATYPE_COLOUR: geometry.bytesPerLine = pixels * 3; break;
    default: geometry.bytesPerLine = pixels * 6; break;
  }
  geometry.lineCount = uint32_t{frame.height} * frame.yResolution / 300;
  return geometry;
}

inline uint8_t PatternByte(uint32_t line, uint32_t index) {
  return static_cast<uint8_t>(line * 7 + index * 3 + (index / 5) * 11 + 1);
}

using DriverStateFn = DriverState* (*)();
using MusicStateFn = MusicState* (*)();

}  // namespace fake
