// The backend's options: each described once in a table (name, title, type,
// unit, capabilities), with its constraint taken from what the device tells
// (modes up to its highest data type, 16-bit depth when it has it, resolution
// up to its highest, the area of the chosen source's bed, its sources and
// halftone patterns). sane_get_option_descriptor serves the table and
// sane_control_option checks every value against it.
#pragma once

#include <sane/sane.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device_facts.h"

namespace ferroxsane {

enum OptionIndex : SANE_Int {
  kOptNumOptions = 0,
  kGroupMode,
  kOptMode,
  kOptDepth,
  kOptSource,
  kOptResolution,
  kOptXResolution,
  kOptYResolution,
  kOptPreview,
  kGroupGeometry,
  kOptTlX,
  kOptTlY,
  kOptBrX,
  kOptBrY,
  kGroupEnhancement,
  kOptBrightness,
  kOptContrast,
  kOptHalftone,
  kGroupMaintenance,
  kOptCalibrate,
  kOptClean,
  kOptionCount
};

// The lowest resolution offered, and the resolution a preview is scanned at
// at most (the device tells neither).
inline constexpr SANE_Int kMinDpi = 25;
inline constexpr SANE_Int kPreviewDpi = 75;
inline constexpr SANE_Int kDefaultDpi = 300;

// A scan as the options describe it, in the units of the scanner's frame.
struct ScanSettings {
  uint16_t dataType = DATATYPE_COLOUR;
  const ScanSource* source = nullptr;
  uint16_t xDpi = 0, yDpi = 0;
  uint16_t left = 0, top = 0, width = 0, height = 0;  // 1/300 inch
  int16_t brightness = 0, contrast = 0;
  uint16_t halftone = 0;
};

enum class Button { kNone, kCalibrate, kClean };

class Options {
 public:
  explicit Options(const DeviceFacts& facts);
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;

  const SANE_Option_Descriptor* descriptor(SANE_Int index) const;
  // sane_control_option; a pressed button is returned in `pressed` for the
  // caller to carry out.
  SANE_Status control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info,
                      Button& pressed);
  ScanSettings settings() const;

 private:
  void setDefaults();
  void chooseSource(SANE_Word index);
  void updateActivity();
  SANE_Status constrain(SANE_Int index, void* value, SANE_Word& word, SANE_Int& info) const;
  SANE_Int apply(SANE_Int index, SANE_Word word);
  uint16_t units(SANE_Int index, uint16_t limit) const;

  const DeviceFacts& facts_;
  std::array<SANE_Option_Descriptor, kOptionCount> descriptors_{};
  std::array<SANE_Word, kOptionCount> values_{};  // a string option holds its list index
  std::vector<SANE_String_Const> modes_, sources_, halftones_;
  std::vector<std::string> halftoneNames_;
  std::vector<SANE_Word> depths_;  // SANE word list: count first
  SANE_Range resolutionRange_{}, widthRange_{}, heightRange_{}, toneRange_{};
};

}  // namespace ferroxsane
