// The virtual scanner device: the state behind ScannerDriverEntry and the
// handling of every operation.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "config.h"
#include "document.h"
#include "ferrox/driver.h"
#include "scan_engine.h"

namespace virtscan {

class VirtualDevice {
 public:
  VirtualDevice();
  // Reads the configuration for the driver file at `ownPath`.
  void configure(const std::string& ownPath);
  // Runs one operation; returns its status (the trace gets a line for it).
  int16_t handle(DriverRequest& request);

 private:
  int16_t dispatch(DriverRequest& request);
  int16_t injectedStatus(uint16_t operation, bool& injected);

  int16_t lock(DriverRequest& request);
  int16_t deviceRecord(void* data) const;
  int16_t limits(uint32_t param, void* data) const;
  int16_t mapInfo(void* data) const;
  int16_t downloadMaps(uint32_t param, const void* data);
  int16_t geometry(void* data) const;
  int16_t setParameters(const void* data);
  int16_t startScan();
  int16_t readLines(DriverRequest& request);
  int16_t ready();
  int16_t bufferSize(DriverRequest& request) const;

  bool sourceLimits(uint16_t source, uint16_t& width, uint16_t& height) const;
  int16_t checkScanFrame(uint16_t source) const;
  int16_t loadDocument(uint16_t source);

  std::string ownPath_;
  Config config_;
  std::unordered_map<uint16_t, uint32_t> calls_;  // calls per operation since configured
  uint16_t nextLockHandle_ = 0;
  bool haveParameters_ = false;
  ScanFrame frame_{};
  uint16_t settingIndex_ = 0;
  ToneTables tables_;
  std::array<uint8_t, 64> halftone_{};
  uint32_t adfPagesUsed_ = 0;
  Document document_;
  std::unique_ptr<ScanSession> session_;
  uint32_t nextLine_ = 0;
  uint32_t scanStartTick_ = 0;
  uint32_t readyPolls_ = 0;
};

// The scan source a frame's flags select (film and ADF flags, in their order of precedence).
uint16_t sourceOfFlags(uint32_t flags);

}  // namespace virtscan
