#include "arguments.h"

#include <cmath>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "page_names.h"

namespace scanapp {

const char* const kUsage =
    "usage: scanapp [options] info [--options]\n"
    "       scanapp -A\n"
    "       scanapp [options] scan -o OUT [scan options]\n"
    "\n"
    "  info               the product, the device, its limits and its tone maps (key=value)\n"
    "  -A, info --options what the scanner can do: modes, sources with their bed sizes,\n"
    "                     resolutions (native and enhanced) and depths\n"
    "  scan -o OUT        scan into OUT; the writer plug-in is chosen by OUT's extension\n"
    "                     (.bmp, .tif, ...). OUT is written as OUT.part and renamed when\n"
    "                     the scan succeeded\n"
    "\n"
    "scan options:\n"
    "  --resolution DPI   resolution in both directions (default 300)\n"
    "  --xres DPI, --yres DPI\n"
    "                     horizontal and vertical resolution\n"
    "  --mode MODE        lineart, halftone, gray, color (default) or color16\n"
    "  -l MM, -t MM       left and top edge of the area in millimetres (default 0)\n"
    "  -x MM, -y MM       width and height of the area in millimetres (default: to the\n"
    "                     edge of the bed)\n"
    "  --area L,T,W,H     the area in 1/300 inch instead\n"
    "  --brightness N     -127..127 (default 0)\n"
    "  --contrast N       -127..127 (default 0)\n"
    "  --source SOURCE    flatbed (default), positive, negative or adf\n"
    "  --halftone N       built-in halftone pattern 0-3 (selects --mode halftone)\n"
    "  --identity-maps    no tone correction\n"
    "  --bottom-up        have the scanner deliver each block of lines bottom-up\n"
    "  --no-music         no scan tunes\n"
    "  --batch            with --source adf: scan page after page until the feeder is\n"
    "                     empty, into OUT with %d replaced by the page number (from 1;\n"
    "                     %03d pads it, %% is a percent sign), or as the pages of one\n"
    "                     file when OUT has no %d and its writer appends pages (TIFF)\n"
    "  --batch-count N    scan N pages (any source; the feeder may end the batch sooner)\n"
    "  --batch-start N    number the first page's file N (default 1)\n"
    "  --batch-prompt     wait for Enter before each page after the first (flatbed:\n"
    "                     place the next page); end of input (Ctrl-D) ends the batch\n"
    "  -O KEY=VALUE       writer option, as imagehost takes them (imagehost list\n"
    "                     --options shows the keys); repeatable\n"
    "  --compress C       TIFF compression: none, packbits, mh, g3 or g4 (line art)\n"
    "  --quality N        JPEG quality 1-100 (default 75)\n"
    "  --progress         draw the progress bar even when stderr is not a terminal\n"
    "  -q, --quiet        no progress bar (unless --progress) and no summary\n"
    "  -h, --help, --version\n"
    "\n"
    "exit status: 0 success, 1 other failure (no OUT is left), 2 usage error,\n"
    "3 scanner busy (another application holds it), 6 the scanner stopped the scan,\n"
    "7 the document feeder was empty before the first page, 9 I/O or driver error,\n"
    "130 interrupted (the scan is ended and the partial file removed; a second\n"
    "Ctrl-C quits at once, also while the scanner is not ready yet)\n";

const char* const kShortUsage =
    "usage: scanapp [options] info | scan -o OUT [scan options]  (scanapp --help for more)\n";

namespace {

class ArgumentReader {
 public:
  ArgumentReader(int argc, char** argv) : args_(argv + 1, argv + argc) {}
  bool done() const { return next_ >= args_.size(); }
  std::string take() { return args_[next_++]; }
  std::string value(const std::string& option, std::optional<std::string>& inlineValue) {
    if (inlineValue) return *std::exchange(inlineValue, std::nullopt);
    if (done()) throw UsageError{option + " needs a value"};
    return take();
  }

 private:
  std::vector<std::string> args_;
  size_t next_ = 0;
};

// A decimal integer within [low, high], with an optional leading '-'.
long IntegerValue(const std::string& option, const std::string& text, long low, long high) {
  const std::string_view digits =
      !text.empty() && text[0] == '-' ? std::string_view(text).substr(1) : std::string_view(text);
  bool valid = !digits.empty() && digits.size() <= 9;
  for (char c : digits) valid = valid && c >= '0' && c <= '9';
  const long value = valid ? std::strtol(text.c_str(), nullptr, 10) : 0;
  if (!valid || value < low || value > high)
    throw UsageError{option + " needs a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + text + "'"};
  return value;
}

uint16_t Dpi(const std::string& option, const std::string& text) {
  return static_cast<uint16_t>(IntegerValue(option, text, 1, 65535));
}

// Millimetres (a decimal number) in 1/300 inch, rounded.
uint32_t Millimetres(const std::string& option, const std::string& text) {
  bool valid = !text.empty() && text.size() <= 12;
  int points = 0;
  for (char c : text) {
    if (c == '.') ++points;
    valid = valid && ((c >= '0' && c <= '9') || c == '.');
  }
  valid = valid && points <= 1 && text != ".";
  const double mm = valid ? std::strtod(text.c_str(), nullptr) : -1;
  const double units = std::round(mm * 300.0 / 25.4);
  if (!valid || units > 65535)
    throw UsageError{option + " needs a length in millimetres from 0 to 5548, not '" + text + "'"};
  return static_cast<uint32_t>(units);
}

Area AreaValue(const std::string& text) {
  std::vector<uint32_t> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string part = text.substr(start, comma - start);
    parts.push_back(static_cast<uint32_t>(IntegerValue("--area", part, 0, 65535)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() != 4)
    throw UsageError{"--area needs four numbers L,T,W,H in 1/300 inch, not '" + text + "'"};
  return Area{parts[0], parts[1], parts[2], parts[3]};
}

Mode ModeValue(const std::string& text) {
  const std::pair<const char*, Mode> kModes[] = {
      {"lineart", Mode::kLineArt},  {"halftone", Mode::kHalftone}, {"gray", Mode::kGrey},
      {"grey", Mode::kGrey},        {"color", Mode::kColour},      {"colour", Mode::kColour},
      {"color16", Mode::kColour16}, {"colour16", Mode::kColour16}};
  for (const auto& [name, mode] : kModes)
    if (text == name) return mode;
  throw UsageError{"--mode needs lineart, halftone, gray, color or color16, not '" + text + "'"};
}

Source SourceValue(const std::string& text) {
  const std::pair<const char*, Source> kSources[] = {{"flatbed", Source::kFlatbed},
                                                     {"positive", Source::kPositive},
                                                     {"negative", Source::kNegative},
                                                     {"adf", Source::kAdf}};
  for (const auto& [name, source] : kSources)
    if (text == name) return source;
  throw UsageError{"--source needs flatbed, positive, negative or adf, not '" + text + "'"};
}

bool ParseFlag(const std::string& name, Arguments& out) {
  const std::pair<const char*, bool Arguments::*> kFlags[] = {
      {"--help", &Arguments::help},          {"-h", &Arguments::help},
      {"--version", &Arguments::version},    {"--identity-maps", &Arguments::identityMaps},
      {"--bottom-up", &Arguments::bottomUp}, {"--no-music", &Arguments::noMusic},
      {"--batch", &Arguments::batch},        {"--progress", &Arguments::progress},
      {"--quiet", &Arguments::quiet},        {"-q", &Arguments::quiet},
  };
  for (const auto& [flag, member] : kFlags) {
    if (name != flag) continue;
    out.*member = true;
    return true;
  }
  return false;
}

// Handles one option; false when `arg` is not an option of this program.
bool ParseOption(const std::string& arg, ArgumentReader& in, Arguments& out) {
  std::string name = arg;
  std::optional<std::string> inlineValue;
  if (size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
    name = arg.substr(0, equals);
    inlineValue = arg.substr(equals + 1);
  }
  if (arg.rfind("-O", 0) == 0 && arg.size() > 2) {
    name = "-O";
    inlineValue = arg.substr(2);
  }
  if (ParseFlag(name, out)) {
    if (inlineValue) throw UsageError{name + " takes no value"};
    return true;
  }
  if (ParseOutputOption(name, [&] { return in.value(name, inlineValue); }, out)) {
    if (inlineValue) throw UsageError{name + " takes no value"};
    return true;
  }
  if (name != "-o" && name != "--output" && name != "--resolution" && name != "--xres" &&
      name != "--yres" && name != "--mode" && name != "-l" && name != "-t" && name != "-x" &&
      name != "-y" && name != "--area" && name != "--brightness" && name != "--contrast" &&
      name != "--source" && name != "--halftone")
    return false;
  const std::string value = in.value(name, inlineValue);
  if (name == "-o" || name == "--output") {
    if (value.empty()) throw UsageError{name + " needs a file name"};
    out.output = value;
  } else if (name == "--resolution") {
    out.resolution = Dpi(name, value);
  } else if (name == "--xres") {
    out.xResolution = Dpi(name, value);
  } else if (name == "--yres") {
    out.yResolution = Dpi(name, value);
  } else if (name == "--mode") {
    out.mode = ModeValue(value);
  } else if (name == "-l") {
    out.millimetreArea.left = Millimetres(name, value);
  } else if (name == "-t") {
    out.millimetreArea.top = Millimetres(name, value);
  } else if (name == "-x") {
    out.millimetreArea.width = Millimetres(name, value);
  } else if (name == "-y") {
    out.millimetreArea.height = Millimetres(name, value);
  } else if (name == "--area") {
    out.area = AreaValue(value);
  } else if (name == "--brightness") {
    out.brightness = static_cast<int16_t>(IntegerValue(name, value, -127, 127));
  } else if (name == "--contrast") {
    out.contrast = static_cast<int16_t>(IntegerValue(name, value, -127, 127));
  } else if (name == "--source") {
    out.source = SourceValue(value);
  } else {
    out.halftone = static_cast<uint16_t>(IntegerValue(name, value, 0, 3));
  }
  return true;
}

// Options of the scan command given to info, and combinations that exclude each other.
void CheckCombination(const Arguments& a) {
  const bool scanOptions = !a.output.empty() || a.resolution || a.xResolution || a.yResolution ||
                           a.mode || a.millimetreArea.any() || a.area || a.brightness != 0 ||
                           a.contrast != 0 || a.source != Source::kFlatbed || a.halftone ||
                           a.identityMaps || a.bottomUp || a.noMusic || a.batch ||
                           a.anyWriterOption();
  if (a.command == "info") {
    if (scanOptions) throw UsageError{"info takes no scan options"};
    return;
  }
  if (a.output.empty()) throw UsageError{"scan needs -o OUT"};
  if (a.area && a.millimetreArea.any())
    throw UsageError{"--area and -l/-t/-x/-y exclude each other"};
  if (a.halftone && a.mode && *a.mode != Mode::kHalftone)
    throw UsageError{"--halftone applies to --mode halftone only"};
  if (a.batch && a.source != Source::kAdf && !a.batchCount && !a.batchPrompt)
    throw UsageError{"--batch needs --source adf (the pages come from the document feeder), "
                     "or --batch-count N or --batch-prompt to scan page after page from the " +
                     std::string(a.source == Source::kFlatbed ? "flatbed" : "film unit")};
  if (a.batch) {
    if (std::string problem = CheckPageNameTemplate(a.output); !problem.empty())
      throw UsageError{problem};
  }
}

}  // namespace

Arguments ParseArguments(int argc, char** argv) {
  Arguments out;
  ArgumentReader in(argc, argv);
  std::vector<std::string> operands;
  bool optionsEnded = false;
  while (!in.done()) {
    std::string arg = in.take();
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (!ParseOption(arg, in, out)) throw UsageError{"unknown option " + arg};
    } else if (out.command.empty()) {
      out.command = arg;
    } else {
      operands.push_back(arg);
    }
  }
  if (out.help || out.version) return out;
  if (out.command.empty() && out.listOptions) out.command = "info";  // -A alone
  if (out.command.empty()) throw UsageError{"no command given"};
  if (out.command != "info" && out.command != "scan")
    throw UsageError{"unknown command '" + out.command + "'"};
  if (!operands.empty())
    throw UsageError{"unexpected argument '" + operands[0] + "'" +
                     (out.command == "scan" ? " (the output is named with -o OUT)" : "")};
  CheckCombination(out);
  CheckOutputOptions(out);
  return out;
}

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kLineArt:
      return "lineart";
    case Mode::kHalftone:
      return "halftone";
    case Mode::kGrey:
      return "gray";
    case Mode::kColour:
      return "color";
    case Mode::kColour16:
      return "color16";
  }
  return "?";
}

const char* SourceName(Source source) {
  switch (source) {
    case Source::kFlatbed:
      return "flatbed";
    case Source::kPositive:
      return "positive film";
    case Source::kNegative:
      return "negative film";
    case Source::kAdf:
      return "document feeder";
  }
  return "?";
}

}  // namespace scanapp
