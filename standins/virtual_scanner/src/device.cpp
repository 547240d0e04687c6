#include "device.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "../../common/trace.h"
#include "virtscan/virtscan.h"
#include "winport/system.h"

namespace virtscan {

namespace {

constexpr uint16_t kLastOperation = 48;
constexpr uint32_t kLinesPerBuffer = 32;
constexpr uint32_t kMaxBufferBytes = 16u << 20;

// The classic 8 x 8 ordered-dither thresholds, used until a pattern is downloaded.
std::array<uint8_t, 64> orderedDither() {
  std::array<uint8_t, 64> pattern{};
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 8; ++x) {
      uint32_t rank = 0;
      const uint32_t xy = x ^ y;
      for (uint32_t bit = 0; bit < 3; ++bit) {
        rank |= ((xy >> bit) & 1u) << (5 - 2 * bit);
        rank |= ((y >> bit) & 1u) << (4 - 2 * bit);
      }
      pattern[y * 8 + x] = static_cast<uint8_t>(rank * 4 + 2);
    }
  }
  return pattern;
}

}  // namespace

uint16_t sourceOfFlags(uint32_t flags) {
  if (flags & SCANFLAG_POSITIVE) return SOURCE_POSITIVE;
  if (flags & SCANFLAG_NEGATIVE) return SOURCE_NEGATIVE;
  if (flags & SCANFLAG_ADF) return SOURCE_ADF;
  return SOURCE_FLATBED;
}

VirtualDevice::VirtualDevice() : halftone_(orderedDither()) {}

void VirtualDevice::configure(const std::string& ownPath) {
  ownPath_ = ownPath;
  config_ = loadConfig(ownPath_);
  calls_.clear();
  adfPagesUsed_ = 0;
}

int16_t VirtualDevice::handle(DriverRequest& request) {
  const uint16_t operation = request.operation;
  // Opening the device reads the configuration afresh; call counts start there.
  if (operation == DRV_OPEN_DEVICE) configure(ownPath_);
  request.reply = 0;
  bool injected = false;
  int16_t status = injectedStatus(operation, injected);
  if (!injected) {
    try {
      status = dispatch(request);
    } catch (const std::bad_alloc&) {
      status = kStatusNoMemory;
    } catch (...) {
      status = kStatusBadRequest;
    }
  }
  standins::appendTraceLine(config_.traceFile, "op=" + std::to_string(operation) +
                                                   " param=" + std::to_string(request.param) +
                                                   " status=" + std::to_string(status) +
                                                   " reply=" + std::to_string(request.reply));
  return status;
}

int16_t VirtualDevice::injectedStatus(uint16_t operation, bool& injected) {
  const uint32_t call = ++calls_[operation];
  for (const FaultRule& rule : config_.faults) {
    if (rule.operation == operation && (rule.call == 0 || rule.call == call)) {
      injected = true;
      return rule.status;
    }
  }
  return 0;
}

int16_t VirtualDevice::dispatch(DriverRequest& request) {
  void* data = request.dataAddress;
  switch (request.operation) {
    case DRV_OPEN_DEVICE:
      return 0;  // the configuration was read afresh in handle()
    case DRV_CLOSE_DEVICE:
      session_.reset();
      return 0;
    case DRV_LOCK:
      return lock(request);
    case DRV_UNLOCK:
      return 0;
    case DRV_GET_DEVICE_RECORD:
      return deviceRecord(data);
    case DRV_GET_LIMITS:
      return limits(request.param, data);
    case DRV_GET_MAP_INFO:
      return mapInfo(data);
    case DRV_DOWNLOAD_MAPS:
      return downloadMaps(request.param, data);
    case DRV_GET_GEOMETRY:
      return geometry(data);
    case DRV_SET_PARAMETERS:
      return setParameters(data);
    case DRV_START_SCAN:
      return startScan();
    case DRV_READ_LINES:
      return readLines(request);
    case DRV_END_SCAN:
      session_.reset();
      return 0;
    case DRV_SET_HALFTONE:
      if (data == nullptr) return kStatusBadRequest;
      std::memcpy(halftone_.data(), data, halftone_.size());
      return 0;
    case DRV_SELECT_SETTING:
      if (request.param >= config_.settingCount) return kStatusBadRequest;
      settingIndex_ = static_cast<uint16_t>(request.param);
      return 0;
    case DRV_READY:
      return ready();
    case DRV_GET_WAIT:
      request.reply = config_.waitMs;
      return 0;
    case DRV_GET_BUFFER_SIZE:
      return bufferSize(request);
    case DRV_CALIBRATE:
    case DRV_CLEAN:
      std::this_thread::sleep_for(std::chrono::milliseconds(config_.maintenanceMs));
      return 0;
    default:
      // Every other operation (maintenance, calibration, cleaning, the
      // forwarded ones) succeeds at once on this device.
      return request.operation <= kLastOperation ? 0 : kStatusUnknownOperation;
  }
}

int16_t VirtualDevice::lock(DriverRequest& request) {
  // Handles differ between processes (the stack address) and between locks.
  int marker = 0;
  const auto seed = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&marker) >> 4);
  nextLockHandle_ = static_cast<uint16_t>(nextLockHandle_ + 1);
  uint16_t handle = static_cast<uint16_t>((seed * 40503u) ^ (nextLockHandle_ * 7919u));
  if (handle == 0) handle = 1;
  request.reply = handle;
  return 0;
}

int16_t VirtualDevice::deviceRecord(void* data) const {
  if (data == nullptr) return kStatusBadRequest;
  DeviceRecord record{};
  record.highestDataType = config_.highestDataType;
  record.bitCodeMask = config_.bitCodes;
  record.capabilities = config_.capabilities;
  record.modelByte = config_.model;
  record.mapsFlag = config_.noToneMaps ? DEVICE_NO_TONE_MAPS : 0;
  record.settingCount = config_.settingCount;
  std::memcpy(data, &record, sizeof record);
  return 0;
}

bool VirtualDevice::sourceLimits(uint16_t source, uint16_t& width, uint16_t& height) const {
  switch (source) {
    case SOURCE_FLATBED:
      width = config_.widthLimit;
      height = config_.heightLimit;
      return true;
    case SOURCE_POSITIVE:
    case SOURCE_NEGATIVE:
      width = kFilmWidthLimit;
      height = kFilmHeightLimit;
      return config_.hasFilm();
    case SOURCE_ADF:
      width = config_.widthLimit;
      height = config_.heightLimit;
      return config_.hasAdf();
    default:
      return false;
  }
}

int16_t VirtualDevice::limits(uint32_t param, void* data) const {
  // Every setting index has the same limits; the source decides the area.
  uint16_t width = 0;
  uint16_t height = 0;
  if (data == nullptr || !sourceLimits(static_cast<uint16_t>(param >> 16), width, height)) {
    return kStatusBadRequest;
  }
  LimitsRecord record{};
  record.highestResolution = config_.highestDpi;
  record.nativeHorizontal = config_.nativeXDpi;
  record.nativeVertical = config_.nativeYDpi;
  record.widthLimit = width;
  record.heightLimit = height;
  std::memcpy(data, &record, sizeof record);
  return 0;
}

int16_t VirtualDevice::mapInfo(void* data) const {
  if (data == nullptr) return kStatusBadRequest;
  const bool wide = config_.sixteenBitMaps();
  MapInfo info{};
  info.largestValue = wide ? 0xFFFF : 0xFF;
  info.channelCount = config_.mapChannels;
  info.bytesPerEntry = wide ? 2 : 1;
  info.entryCount = wide ? 0 : 256;  // 65,536 entries do not fit the field: it wraps to 0
  info.greyChannel = config_.greyChannel;
  std::memcpy(data, &info, sizeof info);
  return 0;
}

int16_t VirtualDevice::downloadMaps(uint32_t param, const void* data) {
  if (data == nullptr || param > MAP_MODE_THREE) return kStatusBadRequest;
  if (param == MAP_MODE_THREE && config_.mapChannels != 3) return kStatusBadRequest;
  const bool wide = config_.sixteenBitMaps();
  tables_.download(static_cast<const uint8_t*>(data), param == MAP_MODE_THREE, wide ? 65536 : 256,
                   wide ? 2 : 1, wide ? 0xFFFF : 0xFF);
  return 0;
}

int16_t VirtualDevice::geometry(void* data) const {
  if (data == nullptr) return kStatusBadRequest;
  ScanGeometry record;
  std::memcpy(&record, data, sizeof record);
  LineGeometry lines;
  if (!geometryOf(record.frame, lines)) return kStatusBadRequest;
  record.pixelsPerLine = lines.pixelsPerLine;
  record.bytesPerLine = lines.bytesPerLine;
  record.lineCount = lines.lineCount;
  std::memset(record.driverPart, 0, sizeof record.driverPart);
  std::memcpy(data, &record, sizeof record);
  return 0;
}

int16_t VirtualDevice::setParameters(const void* data) {
  if (data == nullptr) return kStatusBadRequest;
  ScanParameters parameters;
  std::memcpy(&parameters, data, sizeof parameters);
  frame_ = parameters.frame;
  haveParameters_ = true;
  return 0;
}

int16_t VirtualDevice::checkScanFrame(uint16_t source) const {
  uint16_t widthLimit = 0;
  uint16_t heightLimit = 0;
  if (!sourceLimits(source, widthLimit, heightLimit)) return kStatusBadRequest;
  const ScanFrame& f = frame_;
  LineGeometry lines;
  const bool fits = f.dataType <= config_.highestDataType && geometryOf(f, lines) &&
                    lines.pixelsPerLine >= 1 && lines.lineCount >= 1 &&
                    uint32_t{f.left} + f.width <= widthLimit &&
                    uint32_t{f.top} + f.height <= heightLimit &&
                    // The device itself scans only up to its native resolutions.
                    f.xResolution <= config_.nativeXDpi && f.yResolution <= config_.nativeYDpi;
  return fits ? 0 : kStatusBadRequest;
}

int16_t VirtualDevice::loadDocument(uint16_t source) {
  if (config_.document.empty()) {
    document_.useChart(config_.widthLimit, config_.heightLimit);
    return 0;
  }
  const uint32_t page = source == SOURCE_ADF ? adfPagesUsed_ + 1 : 1;
  const std::string path = documentNameForPage(config_.document, page);
  const size_t slash = ownPath_.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : ownPath_.substr(0, slash);
  std::string error;
  if (document_.loadFile(path, config_.documentDpi, folder, error)) return 0;
  if (error.rfind(path + ": ", 0) == 0) error.erase(0, path.size() + 2);
  // The status alone would not say which file or why.
  std::fprintf(stderr, "virtscan: cannot read %s: %s\n", path.c_str(),
               error.empty() ? "not an image file the virtual scanner reads" : error.c_str());
  return kStatusNoDocument;
}

int16_t VirtualDevice::startScan() {
  if (!haveParameters_) return kStatusSequence;
  session_.reset();
  const uint16_t source = sourceOfFlags(frame_.flags);
  if (int16_t status = checkScanFrame(source)) return status;
  if (source == SOURCE_ADF && adfPagesUsed_ >= config_.adfPages) return kStatusFeederEmpty;
  if (int16_t status = loadDocument(source)) return status;
  session_ = std::make_unique<ScanSession>(document_, frame_, tables_, halftone_,
                                           source == SOURCE_NEGATIVE);
  if (source == SOURCE_ADF) ++adfPagesUsed_;
  nextLine_ = 0;
  readyPolls_ = 0;
  scanStartTick_ = GetTickCount();
  return 0;
}

int16_t VirtualDevice::ready() {
  if (readyPolls_ < config_.notReadyPolls) {
    ++readyPolls_;
    return kStatusNotReady;
  }
  if (session_ && config_.notReadyMs != 0 && GetTickCount() - scanStartTick_ < config_.notReadyMs) {
    return kStatusNotReady;
  }
  return 0;
}

int16_t VirtualDevice::readLines(DriverRequest& request) {
  if (!session_) return kStatusSequence;
  auto* buffer = static_cast<uint8_t*>(request.dataAddress);
  if (buffer == nullptr) return kStatusBadRequest;
  const LineGeometry& g = session_->geometry();
  uint32_t total = g.lineCount;
  if (config_.stopAfterLines != 0 && config_.stopAfterLines < total) total = config_.stopAfterLines;
  if (nextLine_ >= total) return 0;  // the end: no lines
  const uint32_t fit = request.param / g.bytesPerLine;
  if (fit == 0) return kStatusBufferTooSmall;
  const uint32_t count = fit < total - nextLine_ ? fit : total - nextLine_;
  const bool bottomUp = (frame_.flags & SCANFLAG_BOTTOM_UP) != 0;
  for (uint32_t t = 0; t < count; ++t) {
    // Bottom-up: the block's top line is the last in memory.
    const uint32_t slot = bottomUp ? count - 1 - t : t;
    session_->makeLine(nextLine_ + t, std::span<uint8_t>(buffer + uint64_t{slot} * g.bytesPerLine,
                                                         g.bytesPerLine));
  }
  nextLine_ += count;
  request.reply = count;
  return 0;
}

int16_t VirtualDevice::bufferSize(DriverRequest& request) const {
  LineGeometry lines;
  uint64_t bytes = 65536;
  if (haveParameters_ && geometryOf(frame_, lines) && lines.bytesPerLine != 0) {
    bytes = uint64_t{lines.bytesPerLine} * kLinesPerBuffer;
    if (bytes > kMaxBufferBytes)
      bytes = (kMaxBufferBytes / lines.bytesPerLine) * lines.bytesPerLine;
    if (bytes < lines.bytesPerLine) bytes = lines.bytesPerLine;
  }
  request.reply = static_cast<uint32_t>(bytes);
  return 0;
}

}  // namespace virtscan
