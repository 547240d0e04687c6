// One open handle: the scanner session behind it, its options, and the page
// being scanned.
//
// Calling order on the scanner library: the handle's open sends CMD_OPEN and
// reads what the device tells (no lock is needed for it); sane_start sends
// CMD_LOCK, reads the limits of the chosen source (and the halftone pattern),
// CMD_SET_PARAMETERS, CMD_CHECK_FRAME for the exact line layout,
// CMD_GET_BUFFER_SIZE and CMD_START_SCAN; sane_read sends CMD_READ_LINES;
// the end of the page, a failure or a cancel sends CMD_END_SCAN and
// CMD_UNLOCK; closing the handle sends CMD_CLOSE. Every page of a batch takes
// and gives back the lock, so the scanner is free between pages.
#pragma once

#include <sane/sane.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "device_facts.h"
#include "framing.h"
#include "options.h"
#include "scanclient/scanner.h"

namespace ferroxsane {

// The SANE status for a scanner status.
SANE_Status SaneStatusOf(int16_t status);

class ScanSession {
 public:
  // CMD_OPEN and the device's facts on `scanner` (which must outlive the session).
  static SANE_Status Open(scanclient::Scanner& scanner, std::unique_ptr<ScanSession>& out);
  // Ends a page in progress, unlocks and closes.
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  const SANE_Option_Descriptor* descriptor(SANE_Int index) const {
    return options_->descriptor(index);
  }
  SANE_Status control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info);
  SANE_Status parameters(SANE_Parameters& out);
  SANE_Status start();
  SANE_Status read(SANE_Byte* data, SANE_Int maxLength, SANE_Int& length);
  // sane_cancel. When another call of this handle is running (the cancel
  // comes from a signal handler), only a flag is set and that call or the
  // next sane_read ends the page; otherwise the page is ended here.
  void cancel(bool callRunning);

 private:
  explicit ScanSession(scanclient::Scanner& scanner) : scanner_(scanner) {}
  SANE_Status pressButton(Button button);
  bool describeScan(const ScanSettings& settings, ScanParameters& parameters) const;
  bool layoutOf(const ScanParameters& parameters, LineFormat& format);
  SANE_Status setUp(const ScanSettings& settings);
  SANE_Status fill();
  // Ends the page in the scanner (end scan, unlock).
  void endPage();
  SANE_Status failPage(SANE_Status status);

  scanclient::Scanner& scanner_;
  DeviceFacts facts_;
  std::unique_ptr<Options> options_;

  ScanParameters parameters_{};
  std::array<uint8_t, kHalftonePatternBytes> halftone_{};
  LineFormat format_;
  std::vector<uint8_t> buffer_;
  size_t position_ = 0;  // next byte of buffer_ to hand out
  size_t filled_ = 0;    // bytes of buffer_ holding framed lines
  uint32_t delivered_ = 0;
  bool deviceStopped_ = false;
  bool active_ = false;    // a page is in progress (the scanner is locked)
  bool pageDone_ = false;  // the last page ended with all its lines
  std::atomic<bool> cancelled_{false};
};

}  // namespace ferroxsane
