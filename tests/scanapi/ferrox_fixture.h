// A scanner installation for one test: FERROX.DLL copied into a fresh folder
// (with MAP files and the scripted Music.dll when asked), scanner keys naming
// that folder and the scripted driver, and a shared section of the test's
// own. The library is loaded through LoadLibraryA and driven through its real
// export. What differs between the platforms (where the keys go, how the
// shared section is kept apart) lies in fixture_platform.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fake_driver.h"
#include "ferrox/scanner_command.h"
#include "winport/windows.h"

namespace scantest {

// One scanner key of the registry file.
struct ScannerKey {
  std::string parent = "Software\\Duzizaziz\\Ridezodu\\Scanners";
  std::string name = "Scanner";
  std::string systemDirectory;  // "" = the library folder as the library computes it
  std::string driverPath;       // "" = the scripted driver
  std::string productName = "Test Flatbed";
  std::string extraValues;      // more value lines of the key, in .reg form
  bool music = true;            // a "Music" subkey
  std::string musicValues = "\"PlayMusic\"=dword:00000001\n\"StopMusic\"=dword:00000001\n"
                            "\"ScanMusic PathName\"=\"scan.wav\"\n\"StopMusic PathName\"=\"stop.wav\"\n";
};

class Installation {
 public:
  Installation();
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // The folder FERROX.DLL lies in, in the short form the library compares,
  // with its trailing separator.
  const std::string& libraryFolder() const { return libraryFolder_; }
  std::string libraryPath() const { return libraryFolder_ + "FERROX.DLL"; }
  void installMusic();  // copies the scripted Music.dll beside the library
  void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) const;
  void writeRegistry(const std::vector<ScannerKey>& keys) const;
  void writeDefaultRegistry() const { writeRegistry({ScannerKey{}}); }

  // The scripted driver's state, reset to a plain flatbed before each test.
  fake::DriverState& driver() { return *driverState_; }
  // The scripted music library's state (after load(), when installed).
  fake::MusicState* music();

  // Loads FERROX.DLL (attach runs); false when it did not load.
  bool load();
  void unload();
  bool loaded() const { return module_ != 0; }

  // Sends a command; returns the record after the call.
  ScannerCommand send(uint16_t code, void* data = nullptr, uint32_t value = 0);
  // Sends through a record the caller keeps (its lockHandle carries over).
  void send(ScannerCommand& command);
  // CMD_OPEN then CMD_LOCK through `session`; both must succeed.
  void openAndLock();
  ScannerCommand& session() { return session_; }

  // The operations the driver received since the last clear.
  std::vector<uint16_t> operations() const;
  uint32_t callsOf(uint16_t operation) const { return driverState_->calls[operation]; }
  void clearDriverLog();

 private:
  std::string folder_;  // this installation's own, removed with it
  std::string libraryFolder_;
  HMODULE driverModule_ = 0;
  fake::DriverState* driverState_ = nullptr;
  HMODULE module_ = 0;
  HMODULE musicModule_ = 0;
  ScannerCommanderFn commander_ = nullptr;
  ScannerCommand session_{};
};

// Defaults of the scripted flatbed: 600 dpi native, 2400 highest, A4 bed,
// three byte maps of 256 entries, grey channel 4, lock handle 0x1234.
void ResetDriver(fake::DriverState& state);

// A map set of `bytes` bytes whose entry i of map c holds (i + 7 c + salt) mod 256.
std::vector<uint8_t> PatternedSet(size_t bytes, uint8_t salt);

}  // namespace scantest
