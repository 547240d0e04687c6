// The scanner API library FERROX.DLL, and one session on it in the calling
// order the library asks for: open, lock, ..., end scan, unlock, close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ferrox/scanner_command.h"
#include "winport/types.h"

namespace scanclient {

// The failure of a scanner command, with the status for the message.
struct ScanFailure {
  int16_t status = 0;
  std::string doing;  // "locking the scanner", ...
};

class Scanner {
 public:
  // Loads FERROX.DLL from `folder` and looks up ScannerCommander. On failure
  // `error` says why and `out` is left empty.
  static bool load(const std::string& folder, std::unique_ptr<Scanner>& out, std::string& error);
  // Ends what the session started, in order (end scan, unlock, close), and unloads.
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  const std::string& folder() const { return folder_; }

  // One command on the session's record; returns the status. `result` and
  // `lockHandle` stay readable in record().
  int16_t send(uint16_t code, void* data = nullptr, uint32_t value = 0);
  const ScannerCommand& record() const { return record_; }

  // CMD_OPEN alone; on failure the open is undone (CMD_CLOSE).
  bool open(ScanFailure& failure);
  // CMD_LOCK on an open session.
  bool lock(ScanFailure& failure);
  // CMD_OPEN then CMD_LOCK. On failure the open is undone (CMD_CLOSE) and the
  // status and step are returned.
  bool openAndLock(ScanFailure& failure);
  // CMD_START_SCAN; remembers that a scan is running.
  int16_t startScan();
  // CMD_END_SCAN when a scan is running; returns its status (0 when none was).
  int16_t endScan();
  // CMD_END_SCAN when a scan is running, then CMD_UNLOCK when locked; the
  // session stays open.
  void release();
  // Ends the scan, unlocks and closes, as far as each was done.
  void finish();

  bool locked() const { return locked_; }
  bool scanning() const { return scanning_; }

 private:
  Scanner() = default;

  std::string folder_;
  HMODULE module_ = 0;
  ScannerCommanderFn commander_ = nullptr;
  ScannerCommand record_{};
  bool opened_ = false;
  bool locked_ = false;
  bool scanning_ = false;
};

}  // namespace scanclient
