#include "scan_session.h"

#include <algorithm>
#include <cstring>

#include "debug.h"
#include "scanclient/lines.h"
#include "scanclient/statuses.h"

namespace ferroxsane {

using scanclient::ScanFailure;

SANE_Status SaneStatusOf(int16_t status) {
  switch (status) {
    case SCAN_OK:
      return SANE_STATUS_GOOD;
    case SCAN_ERR_LOCKED:
    case SCAN_ERR_NOT_OWNER:
      return SANE_STATUS_DEVICE_BUSY;
    case SCAN_ERR_PARAM:
      return SANE_STATUS_INVAL;
    case scanclient::kDriverFeederEmpty:
      return SANE_STATUS_NO_DOCS;
    default:
      return SANE_STATUS_IO_ERROR;
  }
}

namespace {

SANE_Status Report(const char* doing, int16_t status) {
  Debug(kDebugError, "%s: %s (status %d)", doing, scanclient::StatusText(status).c_str(), status);
  return SaneStatusOf(status);
}

}  // namespace

SANE_Status ScanSession::Open(scanclient::Scanner& scanner, std::unique_ptr<ScanSession>& out) {
  std::unique_ptr<ScanSession> session(new ScanSession(scanner));
  ScanFailure failure;
  if (!scanner.open(failure)) {
    Report(failure.doing.c_str(), failure.status);
    if (failure.status == SCAN_ERR_NO_DRIVER)
      Debug(kDebugError,
            "no scanner driver is bound: the registry file needs a scanner key whose \"Driver "
            "Pathname\" names a driver that loads (WINPORT_DEBUG_LOADS=1 tells why it does not)");
    return SANE_STATUS_IO_ERROR;
  }
  if (!ReadDeviceFacts(scanner, session->facts_, failure)) {
    Report(failure.doing.c_str(), failure.status);
    scanner.finish();
    return SANE_STATUS_IO_ERROR;
  }
  session->options_ = std::make_unique<Options>(session->facts_);
  out = std::move(session);
  return SANE_STATUS_GOOD;
}

ScanSession::~ScanSession() { scanner_.finish(); }

SANE_Status ScanSession::control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info) {
  if (active_ && action == SANE_ACTION_SET_VALUE) return SANE_STATUS_DEVICE_BUSY;
  Button pressed = Button::kNone;
  const SANE_Status status = options_->control(index, action, value, info, pressed);
  if (status == SANE_STATUS_GOOD && action == SANE_ACTION_SET_VALUE) pageDone_ = false;
  if (status != SANE_STATUS_GOOD || pressed == Button::kNone) return status;
  return pressButton(pressed);
}

// Calibration and cleaning run under the lock, taken for them alone.
SANE_Status ScanSession::pressButton(Button button) {
  ScanFailure failure;
  if (!scanner_.lock(failure)) return Report(failure.doing.c_str(), failure.status);
  const bool calibrate = button == Button::kCalibrate;
  const int16_t status = scanner_.send(calibrate ? CMD_CALIBRATE : CMD_CLEAN);
  scanner_.release();
  if (status != SCAN_OK) return Report(calibrate ? "calibrating" : "cleaning", status);
  Debug(kDebugInfo, "%s done", calibrate ? "calibration" : "cleaning");
  return SANE_STATUS_GOOD;
}

bool ScanSession::describeScan(const ScanSettings& s, ScanParameters& p) const {
  p = ScanParameters{};
  ScanFrame& frame = p.frame;
  frame.flags = s.source->flag;
  frame.left = s.left;
  frame.top = s.top;
  frame.width = s.width;
  frame.height = s.height;
  frame.xResolution = s.xDpi;
  frame.yResolution = s.yDpi;
  frame.dataType = s.dataType;
  p.mapMode = MAP_MODE_BUILT_IN;
  p.brightness = s.brightness;
  p.contrast = s.contrast;
  if (s.dataType == DATATYPE_HALFTONE) p.halftonePattern = halftone_.data();
  return s.width > 0 && s.height > 0;
}

// The exact lines of a scan, as the library computes them for its frame.
bool ScanSession::layoutOf(const ScanParameters& p, LineFormat& format) {
  ScanGeometry geometry{};
  geometry.frame = p.frame;
  if (int16_t status = scanner_.send(CMD_CHECK_FRAME, &geometry)) {
    Debug(kDebugInfo, "the frame check answers status %d", status);
    return false;
  }
  format.dataType = p.frame.dataType;
  format.pixelsPerLine = geometry.pixelsPerLine;
  format.bytesPerLine = geometry.bytesPerLine;
  format.lineCount = geometry.lineCount;
  const bool sane =
      format.pixelsPerLine > 0 && format.lineCount > 0 &&
      format.bytesPerLine == scanclient::ExpectedLineBytes(format.dataType, format.pixelsPerLine) &&
      format.pixelsPerLine <= INT32_MAX && format.lineCount <= INT32_MAX;
  if (!sane)
    Debug(kDebugError, "the scanner describes its lines as %u pixels in %u bytes, %u lines",
          format.pixelsPerLine, format.bytesPerLine, format.lineCount);
  return sane;
}

SANE_Status ScanSession::parameters(SANE_Parameters& out) {
  if (active_ || pageDone_) {
    out = ParametersOf(format_);
    return SANE_STATUS_GOOD;
  }
  const ScanSettings settings = options_->settings();
  ScanParameters p;
  LineFormat format;
  if (describeScan(settings, p) && layoutOf(p, format)) {
    out = ParametersOf(format);
    return SANE_STATUS_GOOD;
  }
  // A frame the scanner refuses: the size it would have, as far as it can be told.
  format.dataType = settings.dataType;
  format.pixelsPerLine = static_cast<uint32_t>(uint64_t{settings.width} * settings.xDpi / 300);
  format.lineCount = static_cast<uint32_t>(uint64_t{settings.height} * settings.yDpi / 300);
  format.bytesPerLine =
      static_cast<uint32_t>(scanclient::ExpectedLineBytes(settings.dataType, format.pixelsPerLine));
  out = ParametersOf(format);
  return SANE_STATUS_GOOD;
}

// Everything of sane_start after the lock: the failures leave the lock to the caller.
SANE_Status ScanSession::setUp(const ScanSettings& settings) {
  LimitsRecord limits{};
  if (int16_t status = ReadLimits(scanner_, settings.source->code, limits))
    return Report("reading the scan limits", status);
  if (settings.dataType == DATATYPE_HALFTONE) {
    if (int16_t status = scanner_.send(CMD_GET_HALFTONE, halftone_.data(), settings.halftone))
      return Report("reading the halftone pattern", status);
  }
  if (!describeScan(settings, parameters_)) {
    Debug(kDebugError, "the scan area is empty");
    return SANE_STATUS_INVAL;
  }
  ScanParameters sent = parameters_;  // the library writes into the record
  if (int16_t status = scanner_.send(CMD_SET_PARAMETERS, &sent))
    return Report("setting up the scan", status);
  if (!layoutOf(parameters_, format_)) return SANE_STATUS_IO_ERROR;
  const uint64_t suggestion =
      scanner_.send(CMD_GET_BUFFER_SIZE) == SCAN_OK ? scanner_.record().result : 0;
  const uint64_t bytes =
      scanclient::ReadBufferBytes(parameters_.frame, limits, suggestion, format_.bytesPerLine);
  if (bytes > UINT32_MAX) {
    Debug(kDebugError, "a scan line is too long for the scanner library's buffer");
    return SANE_STATUS_NO_MEM;
  }
  buffer_.resize(bytes);
  if (int16_t status = scanner_.startScan()) return Report("starting the scan", status);
  return SANE_STATUS_GOOD;
}

SANE_Status ScanSession::start() {
  if (active_) endPage();  // a page left unread
  cancelled_ = false;
  pageDone_ = false;
  const ScanSettings settings = options_->settings();
  ScanFailure failure;
  if (!scanner_.lock(failure)) return Report(failure.doing.c_str(), failure.status);
  active_ = true;
  SANE_Status status = SANE_STATUS_GOOD;
  try {
    status = setUp(settings);
  } catch (...) {
    endPage();
    throw;
  }
  if (status == SANE_STATUS_GOOD && cancelled_) status = SANE_STATUS_CANCELLED;
  if (status != SANE_STATUS_GOOD) return failPage(status);
  delivered_ = 0;
  position_ = filled_ = 0;
  deviceStopped_ = false;
  Debug(kDebugInfo, "scanning %u x %u pixels, %u bytes a line", format_.pixelsPerLine,
        format_.lineCount, format_.bytesPerLine);
  return SANE_STATUS_GOOD;
}

void ScanSession::endPage() {
  active_ = false;
  scanner_.release();
}

SANE_Status ScanSession::failPage(SANE_Status status) {
  endPage();
  return status;
}

// Reads the next block of lines into buffer_.
SANE_Status ScanSession::fill() {
  if (delivered_ >= format_.lineCount) {
    endPage();
    pageDone_ = true;
    return SANE_STATUS_EOF;
  }
  if (deviceStopped_) {
    Debug(kDebugError, "the scanner stopped after %u of %u lines", delivered_, format_.lineCount);
    return failPage(SANE_STATUS_IO_ERROR);
  }
  const int16_t status =
      scanner_.send(CMD_READ_LINES, buffer_.data(), static_cast<uint32_t>(buffer_.size()));
  if (cancelled_) return failPage(SANE_STATUS_CANCELLED);
  const uint32_t lines = scanner_.record().result;
  if (status == DRV_STATUS_READ_STOP) {
    deviceStopped_ = true;
  } else if (status == SCAN_END_OF_DATA || (status == SCAN_OK && lines == 0)) {
    Debug(kDebugError, "the scan ended after %u of %u lines", delivered_, format_.lineCount);
    return failPage(SANE_STATUS_IO_ERROR);
  } else if (status != SCAN_OK) {
    return failPage(Report("reading the scan", status));
  }
  if (uint64_t{lines} * format_.bytesPerLine > buffer_.size() ||
      uint64_t{delivered_} + lines > format_.lineCount) {
    Debug(kDebugError, "the scanner delivered more lines than it announced (%u + %u of %u)",
          delivered_, lines, format_.lineCount);
    return failPage(SANE_STATUS_IO_ERROR);
  }
  delivered_ += lines;
  position_ = 0;
  filled_ = size_t{lines} * format_.bytesPerLine;
  FrameLines(format_.dataType, buffer_.data(), filled_);
  return SANE_STATUS_GOOD;
}

SANE_Status ScanSession::read(SANE_Byte* data, SANE_Int maxLength, SANE_Int& length) {
  length = 0;
  if (cancelled_) {
    cancelled_ = false;
    if (active_) endPage();
    return SANE_STATUS_CANCELLED;
  }
  if (!active_) return pageDone_ ? SANE_STATUS_EOF : SANE_STATUS_INVAL;
  if (data == nullptr || maxLength <= 0) return SANE_STATUS_INVAL;
  while (position_ >= filled_) {
    if (SANE_Status status = fill(); status != SANE_STATUS_GOOD) return status;
  }
  const size_t count = std::min(filled_ - position_, static_cast<size_t>(maxLength));
  std::memcpy(data, buffer_.data() + position_, count);
  position_ += count;
  length = static_cast<SANE_Int>(count);
  return SANE_STATUS_GOOD;
}

void ScanSession::cancel(bool callRunning) {
  if (!active_ && !callRunning) {
    pageDone_ = false;  // the finished page's parameters no longer apply
    return;
  }
  cancelled_ = true;
  if (!callRunning) endPage();
}

}  // namespace ferroxsane
