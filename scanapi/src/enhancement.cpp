#include "enhancement.h"

#include <algorithm>
#include <cstring>

#include "driver_call.h"
#include "ferrox_state.h"
#include "winport/file.h"
#include "winport/memory.h"

namespace ferrox {

namespace {

constexpr char kSpoolName[] = "NVKTEMP.TMP";

enum class Converter { LineArt, Grey, Colour };

struct EnhancementState {
  bool on = false;
  bool horizontal = false;
  bool vertical = false;
  ScanParameters requested{};
  ScanGeometry output{};
  ScanGeometry hardware{};
  uint16_t hardwareDataType = 0;
  Converter converter = Converter::Grey;
  uint8_t threshold = 128;
  // Spooling and delivery.
  HANDLE spool = INVALID_HANDLE_VALUE;  // nameless once open: it goes with its handle
  bool spooled = false;
  uint32_t linesSpooled = 0;
  uint8_t* lines = nullptr;  // "current" then "next", hardware bytes per line each
  uint32_t outputRemaining = 0;
  uint32_t plannedHardwareLines = 0;  // as op 8 described the scan
  uint32_t plannedOutputLines = 0;
  uint32_t accumulator = 0;
  uint32_t repeat = 0;
};

EnhancementState g_enhancement;

uint8_t* Current() { return g_enhancement.lines; }
uint8_t* Next() { return g_enhancement.lines + g_enhancement.hardware.bytesPerLine; }

uint32_t SampleBytes(uint16_t dataType) { return dataType == DATATYPE_COLOUR16 ? 2 : 1; }
uint32_t Channels(uint16_t dataType) { return dataType >= DATATYPE_COLOUR ? 3 : 1; }

// Bytes a line of `pixels` needs in `dataType` (line art: packed bits).
uint64_t LineBytesNeeded(uint16_t dataType, uint32_t pixels) {
  if (dataType == DATATYPE_LINEART) return (uint64_t{pixels} + 7) / 8;
  return uint64_t{pixels} * Channels(dataType) * SampleBytes(dataType);
}

// Op 8 for `frame` into `geometry`.
int16_t QueryGeometry(const ScanFrame& frame, ScanGeometry& geometry) {
  geometry = ScanGeometry{};
  geometry.frame = frame;
  return CallDriverData(DRV_GET_GEOMETRY, Process().request.param, &geometry);
}

// The driver's two geometries must hold what the converters read and write.
bool GeometriesConsistent() {
  const EnhancementState& e = g_enhancement;
  return e.output.pixelsPerLine >= 1 && e.hardware.pixelsPerLine >= 1 && e.output.bytesPerLine >= 1 &&
         e.hardware.bytesPerLine >= 1 &&
         e.output.bytesPerLine >= LineBytesNeeded(e.requested.frame.dataType, e.output.pixelsPerLine) &&
         e.hardware.bytesPerLine >= LineBytesNeeded(e.hardwareDataType, e.hardware.pixelsPerLine) &&
         (e.horizontal || e.converter == Converter::LineArt ||
          e.output.bytesPerLine >= e.hardware.bytesPerLine);
}

void Average() {
  EnhancementState& e = g_enhancement;
  if (e.hardwareDataType == DATATYPE_COLOUR16) {
    const uint64_t samples = uint64_t{e.hardware.pixelsPerLine} * 3;
    for (uint64_t i = 0; i < samples; ++i) {
      uint16_t a, b;
      std::memcpy(&a, Current() + i * 2, 2);
      std::memcpy(&b, Next() + i * 2, 2);
      const auto mean = static_cast<uint16_t>((uint32_t{a} + b) >> 1);
      std::memcpy(Current() + i * 2, &mean, 2);
    }
  } else {
    for (uint32_t i = 0; i < e.hardware.bytesPerLine; ++i)
      Current()[i] = static_cast<uint8_t>((Current()[i] + Next()[i]) / 2);
  }
}

void MakeLine(const uint8_t* source, uint8_t* out) {
  const EnhancementState& e = g_enhancement;
  const uint16_t requestedType = e.requested.frame.dataType;
  if (requestedType == DATATYPE_LINEART) {
    ThresholdLine(source, e.hardware.pixelsPerLine, out, e.output.pixelsPerLine,
                  e.requested.frame.xResolution, e.hardware.frame.xResolution, e.threshold);
  } else if (e.horizontal) {
    InterpolateLine(source, e.hardware.pixelsPerLine, out, e.output.pixelsPerLine,
                    Channels(e.hardwareDataType), SampleBytes(e.hardwareDataType));
  } else {
    std::memcpy(out, source, e.hardware.bytesPerLine);
  }
}

void VerticalStep() {
  EnhancementState& e = g_enhancement;
  if (!e.vertical) {
    e.repeat = 1;
    return;
  }
  if (e.repeat != 0) return;
  e.accumulator += e.requested.frame.yResolution;
  while (e.accumulator >= e.hardware.frame.yResolution) {
    e.accumulator -= e.hardware.frame.yResolution;
    ++e.repeat;
  }
}

bool ReadSpoolLine(uint8_t* line) {
  DWORD done = 0;
  const DWORD size = g_enhancement.hardware.bytesPerLine;
  return ReadFile(g_enhancement.spool, line, size, &done, nullptr) && done == size;
}

bool RewindSpool() {
  LONG high = 0;
  return SetFilePointer(g_enhancement.spool, 0, &high, FILE_BEGIN) == 0;
}

// Creates the spool file afresh in the private temporary folder: a stale one
// (or anything planted under its name) is removed, and the new file is
// created exclusively, never through a link. It is deleted on close, so it
// cannot outlive this process however the process ends: on some systems its
// name goes at once, on others when the handle closes.
bool CreateSpool() {
  EnhancementState& e = g_enhancement;
  char path[kPathBufferSize];
  const DWORD length = GetTempPathA(sizeof(path), path);
  if (length == 0 || length + sizeof(kSpoolName) > sizeof(path)) return false;
  std::memcpy(path + length, kSpoolName, sizeof(kSpoolName));
  DeleteFileA(path);
  e.spool = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, 0);
  if (e.spool == INVALID_HANDLE_VALUE) return false;
  const uint64_t bufferBytes = uint64_t{e.hardware.bytesPerLine} * 2;
  e.lines = static_cast<uint8_t*>(LocalAlloc(LPTR, bufferBytes));
  return e.lines != nullptr;
}

int16_t SendSpoolEvent(uint32_t amount) {
  ScanProgressFn callback = Process().progressCallback;
  return callback != nullptr ? callback(PROGRESS_SPOOLED, amount) : 0;
}

// Reads the device into the spool file. SCAN_OK when the device is read to
// its end (or stopped early), else the status the command answers.
int16_t SpoolDevice(ScannerCommand& command) {
  EnhancementState& e = g_enhancement;
  const uint32_t lineBytes = e.hardware.bytesPerLine;
  const uint32_t fitting = command.value / lineBytes;
  while (e.linesSpooled < e.hardware.lineCount) {
    const int16_t status = CallDriverData(DRV_READ_LINES, command.value, command.data);
    if (status == DRV_STATUS_READ_STOP) return status;
    if (status < 0) return SCAN_ERR_RESOURCE;
    // Never more than the buffer holds or the scan has left.
    const uint32_t lines = std::min({DriverReply(), fitting, e.hardware.lineCount - e.linesSpooled});
    if (lines == 0) {
      const int16_t answer = Process().progressCallback != nullptr ? SendSpoolEvent(0) : 0;
      if (answer != 0) return answer;
      break;
    }
    const int16_t answer = SendSpoolEvent(lines);
    if (answer < 0 || answer == DRV_STATUS_READ_STOP) return answer;
    if (answer != 0) continue;  // the application dropped this chunk
    const uint64_t bytes = uint64_t{lines} * lineBytes;
    DWORD written = 0;
    if (!WriteFile(e.spool, command.data, static_cast<DWORD>(bytes), &written, nullptr) ||
        written != bytes)
      return SCAN_ERR_RESOURCE;
    e.linesSpooled += lines;
  }
  return SCAN_OK;
}

// After spooling: cuts the output in proportion when the device stopped
// early, and loads the first line as both "current" and "next". The spool
// then reads on from the second line: reading the first line once more would
// deliver it twice, shift the image down by one device line and lose the last.
int16_t FinishSpooling() {
  EnhancementState& e = g_enhancement;
  if (e.linesSpooled < e.hardware.lineCount) {
    e.hardware.lineCount = e.linesSpooled;
    const uint64_t cut = uint64_t{e.requested.frame.yResolution} * e.linesSpooled /
                         std::max<uint32_t>(1, e.hardware.frame.yResolution);
    e.outputRemaining = static_cast<uint32_t>(std::min<uint64_t>(e.outputRemaining, cut));
  }
  if (e.linesSpooled > 0) {
    if (!RewindSpool() || !ReadSpoolLine(Current())) return SCAN_ERR_RESOURCE;
    std::memcpy(Next(), Current(), e.hardware.bytesPerLine);
  } else {
    e.outputRemaining = 0;
  }
  e.repeat = 0;
  e.accumulator = 0;
  e.spooled = true;
  return SCAN_OK;
}

void Deliver(ScannerCommand& command) {
  EnhancementState& e = g_enhancement;
  if (e.outputRemaining == 0) {
    command.result = 0;
    command.status = SCAN_END_OF_DATA;
    return;
  }
  const uint32_t k = std::min(command.value / e.output.bytesPerLine, e.outputRemaining);
  e.outputRemaining -= k;
  command.result = k;
  if (k == 0) return;
  const bool bottomUp = (e.requested.frame.flags & SCANFLAG_BOTTOM_UP) != 0;
  const int64_t stride = bottomUp ? -int64_t{e.output.bytesPerLine} : int64_t{e.output.bytesPerLine};
  auto* buffer = static_cast<uint8_t*>(command.data);
  int64_t offset = bottomUp ? int64_t{k - 1} * e.output.bytesPerLine : 0;
  VerticalStep();
  for (uint32_t line = 0; line < k; ++line, offset += stride) {
    if (e.repeat == 1) {
      MakeLine(Next(), buffer + offset);
    } else {
      Average();
      MakeLine(Current(), buffer + offset);
    }
    if (e.repeat > 0) --e.repeat;
    if (e.repeat == 0) {
      std::memcpy(Current(), Next(), e.hardware.bytesPerLine);
      VerticalStep();
      ReadSpoolLine(Next());  // at the end of the spool "next" keeps its content
    }
  }
}

}  // namespace

bool EnhancementWanted(const ScanFrame& frame) {
  const LimitsRecord& limits = Process().limits;
  return frame.xResolution > limits.nativeHorizontal || frame.yResolution > limits.nativeVertical;
}

int16_t SetUpEnhancement(ScanParameters& params) {
  EndEnhancement();
  EnhancementState& e = g_enhancement;
  const LimitsRecord& limits = Process().limits;
  e.horizontal = params.frame.xResolution > limits.nativeHorizontal;
  e.vertical = params.frame.yResolution > limits.nativeVertical;
  if (!e.horizontal && !e.vertical) return SCAN_OK;
  e.requested = params;
  int16_t status = QueryGeometry(params.frame, e.output);
  if (status != DRV_STATUS_OK) return status;
  if (e.horizontal) params.frame.xResolution = limits.nativeHorizontal;
  if (e.vertical) params.frame.yResolution = limits.nativeVertical;
  params.frame.flags &= ~SCANFLAG_BOTTOM_UP;
  if (params.frame.dataType == DATATYPE_LINEART) {
    params.frame.dataType = DATATYPE_GREY;
    params.frame.flags |= SCANFLAG_LINEART_AS_GREY;
  }
  e.hardwareDataType = params.frame.dataType;
  status = QueryGeometry(params.frame, e.hardware);
  if (status != DRV_STATUS_OK) return status;
  switch (e.requested.frame.dataType) {
    case DATATYPE_LINEART: e.converter = Converter::LineArt; break;
    case DATATYPE_COLOUR:
    case DATATYPE_COLOUR16: e.converter = Converter::Colour; break;
    default: e.converter = Converter::Grey; break;
  }
  e.threshold = static_cast<uint8_t>(128 - e.requested.brightness);  // modulo 256
  if (!GeometriesConsistent()) return SCAN_ERR_PARAM;
  e.plannedHardwareLines = e.hardware.lineCount;
  e.plannedOutputLines = e.output.lineCount;
  e.outputRemaining = e.output.lineCount;
  e.on = true;
  return SCAN_OK;
}

bool EnhancementActive() { return g_enhancement.on; }

uint32_t EnhancementDeviceLines() { return g_enhancement.on ? g_enhancement.hardware.lineCount : 0; }

uint64_t EnhancementBufferFloor() {
  return g_enhancement.on ? uint64_t{g_enhancement.output.bytesPerLine} * 4 : 0;
}

void ReadEnhancedLines(ScannerCommand& command) {
  EnhancementState& e = g_enhancement;
  // Spooling reads the device through the caller's buffer, whatever its size:
  // a driver that refuses a buffer too small for a line ends it with -4.
  if (!e.spooled) {
    if (e.spool == INVALID_HANDLE_VALUE && !CreateSpool()) {
      RemoveSpool();
      command.status = SCAN_ERR_RESOURCE;
      return;
    }
    int16_t status = SpoolDevice(command);
    if (status == SCAN_OK) status = FinishSpooling();
    if (status != SCAN_OK) {
      command.status = status;
      return;
    }
  }
  Deliver(command);
}

void RemoveSpool() {
  EnhancementState& e = g_enhancement;
  if (e.spool != INVALID_HANDLE_VALUE) CloseHandle(e.spool);  // deletes it
  if (e.lines != nullptr) LocalFree(e.lines);
  e.spool = INVALID_HANDLE_VALUE;
  e.lines = nullptr;
  // The next scan of the same set-up spools and delivers afresh.
  e.spooled = false;
  e.linesSpooled = 0;
  e.hardware.lineCount = e.plannedHardwareLines;
  e.outputRemaining = e.plannedOutputLines;
  e.repeat = 0;
  e.accumulator = 0;
}

void EndEnhancement() {
  RemoveSpool();
  g_enhancement = EnhancementState{};
}

void InterpolateLine(const uint8_t* source, uint32_t sourcePixels, uint8_t* output,
                     uint32_t outputPixels, uint32_t channels, uint32_t sampleBytes) {
  if (outputPixels == 0 || sourcePixels == 0) return;
  auto get = [&](uint64_t pixel, uint32_t channel) -> uint64_t {
    const uint64_t at = (pixel * channels + channel) * sampleBytes;
    if (sampleBytes == 1) return source[at];
    uint16_t value;
    std::memcpy(&value, source + at, 2);
    return value;
  };
  auto put = [&](uint64_t pixel, uint32_t channel, uint64_t value) {
    const uint64_t at = (pixel * channels + channel) * sampleBytes;
    if (sampleBytes == 1) {
      output[at] = static_cast<uint8_t>(value);
    } else {
      const auto narrow = static_cast<uint16_t>(value);
      std::memcpy(output + at, &narrow, 2);
    }
  };
  const uint64_t n = outputPixels;
  const uint64_t last = sourcePixels - 1;
  for (uint32_t channel = 0; channel < channels; ++channel) {
    put(0, channel, get(0, channel));
    uint64_t s = last / n;  // with fewer outputs than inputs, start where the step lands
    uint64_t a = last % n;
    for (uint64_t out = 1; out + 1 < n; ++out) {
      const uint64_t left = get(std::min(s, last), channel);
      const uint64_t right = get(std::min(s + 1, last), channel);
      put(out, channel, left * (n - a) / n + right * a / n);
      a += last;
      s += a / n;
      a %= n;
    }
    if (n >= 2) put(n - 1, channel, get(last, channel));
  }
}

void ThresholdLine(const uint8_t* source, uint32_t sourcePixels, uint8_t* output,
                   uint32_t outputPixels, uint32_t outputResolution, uint32_t sourceResolution,
                   uint8_t threshold) {
  if (sourcePixels == 0) return;
  uint64_t s = 0;
  uint64_t a = 0;
  uint8_t bits = 0;
  uint32_t filled = 0;
  for (uint32_t pixel = 0; pixel < outputPixels; ++pixel) {
    if (a >= outputResolution) {
      a -= outputResolution;
      if (s + 1 < sourcePixels) ++s;  // never one sample past the line
    }
    bits = static_cast<uint8_t>((bits << 1) | (source[s] >= threshold ? 1 : 0));
    a += sourceResolution;
    if (++filled == 8) {
      output[pixel / 8] = bits;
      bits = 0;
      filled = 0;
    }
  }
  if (filled != 0) output[outputPixels / 8] = static_cast<uint8_t>(bits << (8 - filled));
}

}  // namespace ferrox
