// The command line of scanapp: a command (info or scan) and its options.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/options.h"
#include "host/writer_options.h"

namespace scanapp {

// A command line the program cannot act on; main prints it with the short usage.
struct UsageError {
  std::string message;
};

enum class Mode { kLineArt, kHalftone, kGrey, kColour, kColour16 };
enum class Source { kFlatbed, kPositive, kNegative, kAdf };

// A scan area in 1/300 inch, the units of the scanner's frame.
struct Area {
  uint32_t left = 0;
  uint32_t top = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// The area as -l/-t/-x/-y gave it, each side already in 1/300 inch; a side not
// given is filled from the bed (left and top 0, width and height the rest of it).
struct PartialArea {
  std::optional<uint32_t> left, top, width, height;
  bool any() const { return left || top || width || height; }
};

struct Arguments {
  std::string command;  // "info" or "scan"; empty with --help or --version
  bool help = false;
  bool version = false;

  std::string output;
  std::optional<uint16_t> resolution, xResolution, yResolution;
  std::optional<Mode> mode;
  PartialArea millimetreArea;
  std::optional<Area> area;  // --area, 1/300 inch
  int16_t brightness = 0;
  int16_t contrast = 0;
  Source source = Source::kFlatbed;
  std::optional<uint16_t> halftone;
  bool identityMaps = false;
  bool bottomUp = false;
  bool noMusic = false;
  bool batch = false;
  bool progress = false;
  bool quiet = false;

  // Batches (each of these implies --batch).
  std::optional<uint32_t> batchCount;  // pages to scan; none: until the feeder is empty
  uint32_t batchStart = 1;             // the number of the first page's file
  bool batchPrompt = false;            // wait for Enter before each page after the first
  // The writer's options: -O KEY=VALUE and the shorthands.
  imagehost::OptionList writerOptions;
  imagehost::OptionShorthands shorthands;
  bool anyWriterOption() const {
    return !writerOptions.entries().empty() || !shorthands.compress.empty() ||
           !shorthands.quality.empty();
  }
  // -A or info --options: what the device can do, in the options' terms.
  bool listOptions = false;

  // What the options leave open, settled: 300 dpi colour unless told.
  uint16_t xDpi() const { return xResolution.value_or(resolution.value_or(kDefaultDpi)); }
  uint16_t yDpi() const { return yResolution.value_or(resolution.value_or(kDefaultDpi)); }
  Mode scanMode() const { return mode.value_or(halftone ? Mode::kHalftone : Mode::kColour); }

  static constexpr uint16_t kDefaultDpi = 300;
};

// Throws UsageError.
Arguments ParseArguments(int argc, char** argv);
// The options of output and batches (output_options.cpp): false when `name`
// is not one of them; `value` fetches the option's value. Throws UsageError.
bool ParseOutputOption(const std::string& name, const std::function<std::string()>& value,
                       Arguments& out);
// Checks them against the command and the other options.
void CheckOutputOptions(const Arguments& a);

const char* ModeName(Mode mode);
const char* SourceName(Source source);

extern const char* const kUsage;
extern const char* const kShortUsage;

}  // namespace scanapp
