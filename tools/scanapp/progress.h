// The progress bar, and the progress function the scanner library calls
// during a scan, which also carries an interruption by the user to the library.
#pragma once

#include <cstdint>
#include <string>

#include "host/interrupt.h"
#include "winport/types.h"

namespace scanapp {

// SIGINT, SIGTERM and SIGHUP set a flag (host/interrupt.h); the scan loop sees
// it, ends the scan in order and removes the partial file. A second signal
// ends the program at once.
using imagehost::Interrupted;

// A one-line bar on stderr.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  ~ProgressBar() { clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // `label` precedes the bar ("page 2"); `done` of `total` is drawn.
  void show(const std::string& label, uint64_t done, uint64_t total);
  void clear();

 private:
  bool enabled_;
  int shown_ = -1;
  std::string label_;
};

// Progress of one scan: the lines the device spooled (an enhanced scan, whose
// first read spools the whole device image) and the lines delivered.
class ScanMonitor {
 public:
  // While it exists, the library's progress function reports to it.
  ScanMonitor(ProgressBar& bar, std::string label, uint32_t spoolLines, uint32_t outputLines);
  ~ScanMonitor();
  ScanMonitor(const ScanMonitor&) = delete;
  ScanMonitor& operator=(const ScanMonitor&) = delete;

  void delivered(uint32_t lines);

  // The progress function handed to CMD_SET_PROGRESS_CALLBACK.
  static int16_t CALLBACK Callback(uint32_t event, uint32_t amount);

 private:
  int16_t onEvent(uint32_t event, uint32_t amount);
  void draw();

  ProgressBar& bar_;
  std::string label_;
  uint32_t spoolLines_;
  uint32_t outputLines_;
  uint64_t spooled_ = 0;
  uint64_t delivered_ = 0;
  bool waiting_ = false;
  uint32_t waitLeft_ = 0;
};

}  // namespace scanapp
