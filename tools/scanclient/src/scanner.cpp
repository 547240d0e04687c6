#include "scanclient/scanner.h"

#include "winport/module.h"

namespace scanclient {

namespace {

constexpr const char* kLibraryFile = "FERROX.DLL";

}  // namespace

bool Scanner::load(const std::string& folder, std::unique_ptr<Scanner>& out, std::string& error) {
  std::unique_ptr<Scanner> scanner(new Scanner());
  scanner->folder_ = folder;
  const std::string path = folder + "/" + kLibraryFile;
  scanner->module_ = LoadLibraryA(path.c_str());
  if (scanner->module_ == 0) {
    error = "cannot load the scanner library " + path + " (WINPORT_DEBUG_LOADS=1 tells why)";
    return false;
  }
  scanner->commander_ = reinterpret_cast<ScannerCommanderFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(scanner->module_, kScannerCommanderName)));
  if (scanner->commander_ == nullptr) {
    error = path + " does not export " + kScannerCommanderName;
    return false;
  }
  out = std::move(scanner);
  return true;
}

Scanner::~Scanner() {
  finish();
  if (module_ != 0) FreeLibrary(module_);
}

int16_t Scanner::send(uint16_t code, void* data, uint32_t value) {
  record_.code = code;
  record_.data = data;
  record_.value = value;
  record_.result = 0;
  commander_(&record_);
  return record_.status;
}

bool Scanner::open(ScanFailure& failure) {
  if (opened_) return true;
  opened_ = true;  // CMD_CLOSE is due even when the open fails
  if (int16_t status = send(CMD_OPEN); status != SCAN_OK) {
    failure = {status, "opening the scanner"};
    finish();
    return false;
  }
  return true;
}

bool Scanner::lock(ScanFailure& failure) {
  if (locked_) return true;
  if (int16_t status = send(CMD_LOCK); status != SCAN_OK) {
    failure = {status, "locking the scanner"};
    return false;
  }
  locked_ = true;
  return true;
}

bool Scanner::openAndLock(ScanFailure& failure) {
  if (!open(failure)) return false;
  if (!lock(failure)) {
    finish();
    return false;
  }
  return true;
}

int16_t Scanner::startScan() {
  const int16_t status = send(CMD_START_SCAN);
  scanning_ = status == SCAN_OK;
  return status;
}

int16_t Scanner::endScan() {
  if (!scanning_) return SCAN_OK;
  scanning_ = false;
  return send(CMD_END_SCAN);
}

void Scanner::release() {
  if (commander_ == nullptr) return;
  endScan();
  if (locked_) send(CMD_UNLOCK);
  locked_ = false;
}

void Scanner::finish() {
  if (commander_ == nullptr) return;
  release();
  if (opened_) send(CMD_CLOSE);
  opened_ = false;
}

}  // namespace scanclient
