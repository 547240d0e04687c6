// `scanapp scan`: scan pages through the scanner library and write each
// through a writer plug-in, in the library's calling order:
// open, lock, [set parameters, start scan, read lines until the end, end scan]
// per page, unlock, close.
#include "scan_job.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "ferrox/driver.h"
#include "host/output.h"
#include "host/plugins.h"
#include "host/writer_options.h"
#include "exit_codes.h"
#include "image_output.h"
#include "page_names.h"
#include "progress.h"
#include "scanclient/lines.h"
#include "status_text.h"
#include "winport/file.h"

namespace scanapp {

namespace {

// Thrown by the scan steps to stop the job with a message (exit 1), or with
// no message when the user interrupted it (exit 130).
struct JobFailure {
  std::string message;
  bool interrupted = false;
  int exitCode = kExitFailure;
};

[[noreturn]] void Throw(std::string message, int exitCode = kExitFailure) {
  throw JobFailure{std::move(message), false, exitCode};
}

uint16_t DataTypeOf(Mode mode) {
  switch (mode) {
    case Mode::kLineArt:
      return DATATYPE_LINEART;
    case Mode::kHalftone:
      return DATATYPE_HALFTONE;
    case Mode::kGrey:
      return DATATYPE_GREY;
    case Mode::kColour:
      return DATATYPE_COLOUR;
    case Mode::kColour16:
      return DATATYPE_COLOUR16;
  }
  return DATATYPE_COLOUR;
}

uint16_t SourceCode(Source source) {
  switch (source) {
    case Source::kFlatbed:
      return SOURCE_FLATBED;
    case Source::kPositive:
      return SOURCE_POSITIVE;
    case Source::kNegative:
      return SOURCE_NEGATIVE;
    case Source::kAdf:
      return SOURCE_ADF;
  }
  return SOURCE_FLATBED;
}

// The file an enhanced scan spools the device image to, in the library's
// temporary folder; "" when the folder is unknown.
std::string EnhancementSpoolPath() {
  char folder[4096];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return "";
  return std::string(folder, length) + "NVKTEMP.TMP";
}

std::string Millimetres(uint32_t units) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", units * 25.4 / 300);
  return text;
}

// The writer options of the command line in the writer's own keys; a key the
// writer does not read fails, a value it will not take as written is warned about.
Status CheckOptions(const imagehost::WriterPlugin& writer,
                    const imagehost::OptionShorthands& shorthands, imagehost::OptionList& options) {
  if (Status expanded = imagehost::ExpandShorthands(writer, shorthands, options); !expanded)
    return expanded;
  std::vector<std::string> warnings;
  if (Status checked = imagehost::CheckWriterOptions(writer, options, warnings); !checked)
    return checked;
  for (const std::string& warning : warnings)
    std::fprintf(stderr, "scanapp: warning: %s\n", warning.c_str());
  return {};
}

// Between the pages of a prompted batch: asks for the next page on stderr and
// waits for a line on stdin; false at the end of input (Ctrl-D), which ends the batch.
bool PromptForPage(uint32_t number) {
  std::fprintf(stderr,
               "scanapp: place page %u on the scanner and press Enter (Ctrl-D ends the batch)\n",
               number);
  std::fflush(stderr);
  for (int c = std::getchar();; c = std::getchar()) {
    if (c == EOF) return false;
    if (c == '\n') return true;
  }
}

class ScanJob {
 public:
  ScanJob(const Arguments& arguments, const std::string& programFolder)
      : args_(arguments), folder_(programFolder), bar_(ShowBar(arguments)) {}

  // The whole job; returns the exit status.
  int run();
  // Ends the scan, unlocks and closes, as far as the job got.
  void endSession() {
    if (scanner_) scanner_->finish();
  }

 private:
  static bool ShowBar(const Arguments& a) {
    return a.progress || (!a.quiet && isatty(STDERR_FILENO) == 1);
  }
  bool singleFileBatch() const { return args_.batch && !HasPageNumber(args_.output); }
  std::string failureText(int16_t status, const std::string& doing) const {
    return FailureText({status, doing}, folder_);
  }
  // Ends the job with the scanner's status: its text and its exit status.
  [[noreturn]] void fail(int16_t status, const std::string& doing) const {
    Throw(failureText(status, doing), ExitCodeFor(status));
  }

  void chooseWriter();
  void startSession();
  void queryDevice();
  void buildParameters();
  std::string explainRefusal() const;
  void setParameters();
  LineLayout outputLayout();
  uint32_t readBufferBytes(const LineLayout& layout);
  // Scans one page into `output`; false when the feeder was empty at its start.
  bool scanPage(uint32_t page, const imagehost::OutputFile& output);
  void readPage(PageWriter& writer, const LineLayout& layout, ScanMonitor& monitor,
                std::vector<uint8_t>& buffer);
  void setProgressCallback();
  void checkInterrupted() const {
    if (Interrupted()) throw JobFailure{"", true};
  }
  void summarise(const std::string& name, const LineLayout& layout, uint32_t pages) const;

  const Arguments& args_;
  std::string folder_;
  ProgressBar bar_;
  imagehost::PluginSet plugins_;
  const imagehost::WriterPlugin* writer_ = nullptr;
  imagehost::OptionList options_;
  std::unique_ptr<Scanner> scanner_;
  DeviceRecord device_{};
  LimitsRecord limits_{};
  std::array<uint8_t, kHalftonePatternBytes> halftone_{};
  ScanParameters parameters_{};
  LineLayout lastLayout_;
};

void ScanJob::chooseWriter() {
  if (Status loaded = plugins_.load(folder_); !loaded) Throw(loaded.message());
  writer_ = plugins_.writerForPath(args_.output);
  if (writer_ == nullptr) {
    const std::string extension = imagehost::FileExtension(args_.output);
    Throw(extension.empty() ? args_.output + ": no extension to choose a writer by"
                            : args_.output + ": no writer plug-in in " + folder_ + " takes ." +
                                  extension + " files");
  }
  if (args_.batch && !HasPageNumber(args_.output) && !writer_->appendsPages())
    throw UsageError{"--batch needs %d in the output name, since " + writer_->fileName() +
                     " writes one page per file"};
  options_ = args_.writerOptions;
  if (Status checked = CheckOptions(*writer_, args_.shorthands, options_); !checked)
    throw UsageError{checked.message()};
}

void ScanJob::startSession() {
  if (std::string error; !Scanner::load(folder_, scanner_, error)) Throw(error);
  ScanFailure failure;
  if (!scanner_->openAndLock(failure))
    Throw(FailureText(failure, folder_), ExitCodeFor(failure.status));
}

void ScanJob::queryDevice() {
  // The driver fills its whole records; the part read here is their start.
  alignas(8) uint8_t room[512] = {};
  scanner_->send(CMD_GET_DEVICE_INFO, room);
  std::memcpy(&device_, room, sizeof device_);
  const bool film = args_.source == Source::kPositive || args_.source == Source::kNegative;
  if (args_.source == Source::kAdf && (device_.capabilities & DEVCAP_ADF) == 0)
    Throw("the scanner has no document feeder (--source adf)");
  if (film && (device_.capabilities & DEVCAP_FILM) == 0)
    Throw(std::string("the scanner has no film unit (--source ") +
          (args_.source == Source::kPositive ? "positive" : "negative") + ")");
  std::memset(room, 0, sizeof room);
  if (int16_t status =
          scanner_->send(CMD_GET_SCAN_LIMITS, room, MakeValue(0, SourceCode(args_.source))))
    fail(status, "reading the scan limits");
  std::memcpy(&limits_, room, sizeof limits_);
}

// Resolutions, area, mode and flags as the options give them; the area
// defaults to the whole bed of the source.
void ScanJob::buildParameters() {
  ScanFrame& frame = parameters_.frame;
  Area area;
  if (args_.area) {
    area = *args_.area;
  } else {
    const PartialArea& mm = args_.millimetreArea;
    area.left = mm.left.value_or(0);
    area.top = mm.top.value_or(0);
    area.width =
        mm.width.value_or(limits_.widthLimit > area.left ? limits_.widthLimit - area.left : 0);
    area.height =
        mm.height.value_or(limits_.heightLimit > area.top ? limits_.heightLimit - area.top : 0);
  }
  frame.left = static_cast<uint16_t>(area.left);
  frame.top = static_cast<uint16_t>(area.top);
  frame.width = static_cast<uint16_t>(area.width);
  frame.height = static_cast<uint16_t>(area.height);
  frame.xResolution = args_.xDpi();
  frame.yResolution = args_.yDpi();
  frame.dataType = DataTypeOf(args_.scanMode());
  uint32_t flags = args_.noMusic ? SCANFLAG_NO_MUSIC : SCANFLAG_MUSIC;
  if (args_.bottomUp) flags |= SCANFLAG_BOTTOM_UP;
  if (args_.identityMaps) flags |= SCANFLAG_IDENTITY_MAPS;
  if (args_.source == Source::kPositive) flags |= SCANFLAG_POSITIVE;
  if (args_.source == Source::kNegative) flags |= SCANFLAG_NEGATIVE;
  if (args_.source == Source::kAdf) flags |= SCANFLAG_ADF;
  frame.flags = flags;
  parameters_.brightness = args_.brightness;
  parameters_.contrast = args_.contrast;
  if (frame.dataType == DATATYPE_HALFTONE) {
    if (int16_t status =
            scanner_->send(CMD_GET_HALFTONE, halftone_.data(), args_.halftone.value_or(0)))
      fail(status, "reading the halftone pattern");
    parameters_.halftonePattern = halftone_.data();
  }
}

// Why the library refused the scan, as far as the device's limits tell.
std::string ScanJob::explainRefusal() const {
  const ScanFrame& f = parameters_.frame;
  std::vector<std::string> reasons;
  if (f.dataType > device_.highestDataType)
    reasons.push_back(std::string("the scanner does not scan in ") + ModeName(args_.scanMode()) +
                      " mode");
  if (f.xResolution > limits_.highestResolution || f.yResolution > limits_.highestResolution)
    reasons.push_back("its highest resolution is " + std::to_string(limits_.highestResolution) +
                      " dpi");
  const bool enhanced =
      f.xResolution > limits_.nativeHorizontal || f.yResolution > limits_.nativeVertical;
  if (enhanced && f.dataType == DATATYPE_HALFTONE)
    reasons.push_back("halftone is scanned only up to the native resolution of " +
                      std::to_string(limits_.nativeHorizontal) + " x " +
                      std::to_string(limits_.nativeVertical) + " dpi");
  if (uint32_t{f.left} + f.width > limits_.widthLimit ||
      uint32_t{f.top} + f.height > limits_.heightLimit)
    reasons.push_back("the area " + Millimetres(f.left) + "," + Millimetres(f.top) + " + " +
                      Millimetres(f.width) + " x " + Millimetres(f.height) +
                      " mm does not fit the " + SourceName(args_.source) + "'s " +
                      Millimetres(limits_.widthLimit) + " x " + Millimetres(limits_.heightLimit) +
                      " mm");
  if (uint64_t{f.width} * f.xResolution < 300 || uint64_t{f.height} * f.yResolution < 300)
    reasons.push_back("the area is smaller than one pixel");
  std::string text;
  for (const std::string& reason : reasons) text += (text.empty() ? "" : "; ") + reason;
  return text;
}

void ScanJob::setParameters() {
  ScanParameters sent = parameters_;
  sent.mapMode = MAP_MODE_BUILT_IN;  // the library writes back what it prepared
  const int16_t status = scanner_->send(CMD_SET_PARAMETERS, &sent);
  if (status == SCAN_OK) return;
  Throw(FailureText({status, "setting up the scan"}, folder_,
                    status == SCAN_ERR_PARAM ? explainRefusal() : ""),
        ExitCodeFor(status));
}

// The lines the scan delivers, as the driver computes them for the requested frame.
LineLayout ScanJob::outputLayout() {
  ScanGeometry geometry{};
  geometry.frame = parameters_.frame;
  if (int16_t status = scanner_->send(CMD_CHECK_FRAME, &geometry))
    fail(status, "computing the scan's size");
  LineLayout layout;
  layout.dataType = parameters_.frame.dataType;
  layout.pixelsPerLine = geometry.pixelsPerLine;
  layout.bytesPerLine = geometry.bytesPerLine;
  layout.lineCount = geometry.lineCount;
  layout.xDpi = parameters_.frame.xResolution;
  layout.yDpi = parameters_.frame.yResolution;
  if (layout.pixelsPerLine == 0 || layout.lineCount == 0 ||
      layout.bytesPerLine != ExpectedLineBytes(layout.dataType, layout.pixelsPerLine))
    Throw("the scanner describes its lines as " + std::to_string(layout.pixelsPerLine) +
          " pixels in " + std::to_string(layout.bytesPerLine) + " bytes, " +
          std::to_string(layout.lineCount) + " lines, which does not fit a " +
          ModeName(args_.scanMode()) + " scan");
  return layout;
}

// Room for the driver's suggestion, one output line and one device line.
uint32_t ScanJob::readBufferBytes(const LineLayout& layout) {
  const uint64_t suggestion =
      scanner_->send(CMD_GET_BUFFER_SIZE) == SCAN_OK ? scanner_->record().result : 0;
  const uint64_t bytes =
      scanclient::ReadBufferBytes(parameters_.frame, limits_, suggestion, layout.bytesPerLine);
  if (bytes > UINT32_MAX) Throw("a scan line is too long for the scanner library's buffer");
  return static_cast<uint32_t>(bytes);
}

void ScanJob::setProgressCallback() {
  scanner_->send(CMD_SET_PROGRESS_CALLBACK, reinterpret_cast<void*>(&ScanMonitor::Callback));
}

// CMD_READ_LINES until the end of the data, each block written as it comes.
void ScanJob::readPage(PageWriter& writer, const LineLayout& layout, ScanMonitor& monitor,
                       std::vector<uint8_t>& buffer) {
  uint32_t delivered = 0;
  bool stopped = false;
  for (;;) {
    const int16_t status =
        scanner_->send(CMD_READ_LINES, buffer.data(), static_cast<uint32_t>(buffer.size()));
    checkInterrupted();
    stopped = status == DRV_STATUS_READ_STOP;
    if (status == SCAN_END_OF_DATA) break;
    if (status != SCAN_OK && !stopped) fail(status, "reading the scan");
    const uint32_t lines = scanner_->record().result;
    if (lines == 0) break;
    if (uint64_t{lines} * layout.bytesPerLine > buffer.size() ||
        uint64_t{delivered} + lines > layout.lineCount)
      Throw("the scanner delivered more lines than it announced (" +
            std::to_string(uint64_t{delivered} + lines) + " of " +
            std::to_string(layout.lineCount) + ")");
    if (Status wrote = writer.write(std::span<const uint8_t>(buffer.data(), buffer.size()), lines,
                                    args_.bottomUp);
        !wrote)
      Throw(wrote.message());
    delivered += lines;
    monitor.delivered(lines);
    if (stopped) break;
  }
  if (delivered < layout.lineCount) {
    const std::string count =
        std::to_string(delivered) + " of " + std::to_string(layout.lineCount) + " lines";
    // A scan the device cut short is an I/O failure; one it stopped, a jam.
    Throw(stopped ? failureText(DRV_STATUS_READ_STOP, "reading the scan") + " after " + count
                  : "the scan ended after " + count,
          stopped ? kExitJammed : kExitIoError);
  }
}

bool ScanJob::scanPage(uint32_t page, const imagehost::OutputFile& output) {
  setParameters();
  const LineLayout layout = outputLayout();
  std::vector<uint8_t> buffer(readBufferBytes(layout));
  const bool enhanced = parameters_.frame.xResolution > limits_.nativeHorizontal ||
                        parameters_.frame.yResolution > limits_.nativeVertical;
  const uint32_t spoolLines =
      enhanced ? static_cast<uint32_t>(
                     uint64_t{parameters_.frame.height} *
                     std::min(parameters_.frame.yResolution, limits_.nativeVertical) / 300)
               : 0;
  ScanMonitor monitor(bar_, args_.batch ? "page " + std::to_string(page) : "", spoolLines,
                      layout.lineCount);
  setProgressCallback();
  // Holding the lock, the scan's spool file is ours to remove if a second
  // signal ends the program before the library does.
  imagehost::AbortRemoval spool;
  if (enhanced) spool.arm(EnhancementSpoolPath());
  // The start waits inside the library until the device is ready (up to 40 s),
  // and no progress function runs meanwhile: Ctrl-C takes effect when it returns.
  imagehost::SetInterruptNotice(
      "\r\033[Kscanapp: stopping once the scanner answers; Ctrl-C again quits at once\n");
  const int16_t started = scanner_->startScan();
  imagehost::SetInterruptNotice("");
  checkInterrupted();
  if (started == kDriverFeederEmpty && args_.batch && page > 1) return false;
  if (started != SCAN_OK) fail(started, "starting the scan");
  setProgressCallback();  // a device that does not keep it had it cleared at the start

  PageWriter writer;
  if (Status begun = writer.begin(*writer_, output.workPath(), output.path(), layout, options_);
      !begun)
    Throw(begun.message());
  readPage(writer, layout, monitor, buffer);
  if (int16_t ended = scanner_->endScan()) fail(ended, "ending the scan");
  if (Status finished = writer.finish(); !finished) Throw(finished.message());
  lastLayout_ = layout;
  return true;
}

void ScanJob::summarise(const std::string& name, const LineLayout& layout, uint32_t pages) const {
  if (args_.quiet) return;
  static const char* const kBits[] = {"1-bit", "1-bit", "8-bit grey", "24-bit", "24-bit"};
  std::printf("%s: %u x %u, %s, %u x %u dpi%s\n", name.c_str(), layout.pixelsPerLine,
              layout.lineCount, kBits[std::min<uint16_t>(layout.dataType, 4)], layout.xDpi,
              layout.yDpi, pages > 1 ? (", " + std::to_string(pages) + " pages").c_str() : "");
  std::fflush(stdout);
}

int ScanJob::run() {
  chooseWriter();
  // An output that cannot be written fails before the scanner is touched.
  imagehost::OutputFile single;  // every page, when one file holds them
  if (!args_.batch || singleFileBatch()) {
    if (Status prepared = single.prepare(args_.output, false); !prepared) Throw(prepared.message());
  }
  startSession();
  queryDevice();
  buildParameters();
  uint32_t pages = 0;
  for (uint32_t page = 1;; ++page) {
    checkInterrupted();
    if (page > 1 && args_.batchPrompt && !PromptForPage(args_.batchStart + page - 1)) break;
    checkInterrupted();
    imagehost::OutputFile own;
    const bool separate = args_.batch && !singleFileBatch();
    const std::string name =
        separate ? PageName(args_.output, args_.batchStart + page - 1) : args_.output;
    if (separate) {
      if (Status prepared = own.prepare(name, false); !prepared) Throw(prepared.message());
    }
    if (!scanPage(page, separate ? own : single)) break;
    ++pages;
    if (separate) {
      if (Status committed = own.commit(); !committed) Throw(committed.message());
      bar_.clear();
      summarise(name, lastLayout_, 1);
    }
    if (!args_.batch || (args_.batchCount && pages == *args_.batchCount)) break;
  }
  scanner_->finish();
  bar_.clear();
  if (!args_.batch || singleFileBatch()) {
    if (Status committed = single.commit(); !committed) Throw(committed.message());
    summarise(args_.output, lastLayout_, pages);
  }
  return kExitOk;
}

}  // namespace

int RunScan(const Arguments& arguments, const std::string& programFolder) {
  // A second signal ends the program at once: the partial file goes (OutputFile),
  // the scan is not ended and the lock is left to the library to free.
  imagehost::SetAbortMessage("\r\033[Kscanapp: interrupted again, stopped at once; " +
                             arguments.output + " was not written\n");
  ScanJob job(arguments, programFolder);
  try {
    return job.run();
  } catch (const JobFailure& failure) {
    // The partial files are gone with the scopes that prepared them.
    job.endSession();
    // A signal may also surface as a failed call (a write cut short): still an interruption.
    if (failure.interrupted || Interrupted()) {
      std::fprintf(stderr,
                   "\r\033[Kscanapp: interrupted; the scan was ended and %s was not "
                   "written\n",
                   arguments.output.c_str());
      return kExitInterrupted;
    }
    Fail(failure.message);
    return failure.exitCode;
  }
}

}  // namespace scanapp
