// Helpers for the stand-in tests: registry files that configure the virtual
// scanner, small BMP documents, and a session on the driver's export.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ferrox/driver.h"
#include "plugin_loader.h"

namespace standin_test {

// Values of a scanner key: strings are written quoted, numbers as DWORDs.
struct KeyValues {
  std::map<std::string, std::string> strings;
  std::map<std::string, uint32_t> dwords;
};

// A .reg file text with one scanner key `parent\subkey` holding `values`
// (a "Driver Pathname" naming the built driver unless `values` names one).
std::string registryText(const KeyValues& values,
                         const std::string& parent = "Software\\Duzizaziz\\Ridezodu\\Scanners",
                         const std::string& subkey = "Test Scanner");
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);
std::vector<std::string> readLines(const std::string& path);

// The driver's own file in build/bin.
std::string driverPath();

// A test image: R, G, B per pixel, top-down.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* at(uint32_t x, uint32_t y) const { return &rgb[(uint64_t{y} * width + x) * 3]; }
};
// A picture whose pixels all differ from their neighbours: R = 7x, G = 5y, B = 3(x + y) (mod 256).
Picture patternPicture(uint32_t width, uint32_t height);
// A 24-bit BMP of `picture`, bottom-up, stating its resolution in each
// direction (0: none).
std::vector<uint8_t> bmp24(const Picture& picture, uint32_t dpiX, uint32_t dpiY);
inline std::vector<uint8_t> bmp24(const Picture& picture, uint32_t dotsPerInch) {
  return bmp24(picture, dotsPerInch, dotsPerInch);
}
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The grey value the device gives a colour (ITU-R 601 weights, rounded).
uint8_t greyOf(const uint8_t* rgb);

// The environment of one test: the registry file it names and no fault or
// trace variables left from elsewhere; restored by the destructor.
class Environment {
 public:
  Environment();
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  void set(const char* name, const std::string& value);

 private:
  std::map<std::string, std::string> saved_;
  std::vector<std::string> unset_;
};

// The virtual scanner loaded from build/bin, with one request packet.
class Driver {
 public:
  Driver();
  explicit operator bool() const { return entry_ != nullptr; }
  int16_t call(uint16_t operation, uint32_t param = 0, void* data = nullptr);
  uint32_t reply() const { return request_.reply; }
  HMODULE module() const { return module_.handle(); }

  // Sends parameters for `frame` (op 14) and starts the scan (op 15).
  int16_t start(const ScanFrame& frame);
  // Reads every remaining line in chunks of `linesPerCall`, top-down order kept as delivered.
  std::vector<uint8_t> readAll(uint32_t bytesPerLine, uint32_t linesPerCall, int16_t* status);

 private:
  testsupport::LoadedModule module_;
  ScannerDriverEntryFn entry_ = nullptr;
  DriverRequest request_{};
};

ScanFrame makeFrame(uint16_t left, uint16_t top, uint16_t width, uint16_t height, uint16_t dpi,
                    uint16_t dataType, uint32_t flags = 0);

}  // namespace standin_test
