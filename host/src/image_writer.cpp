#include <algorithm>
#include <vector>

#include "export_errors.h"
#include "pnm_writer.h"
#include "guard.h"
#include "host/writer.h"
#include "host_files.h"
#include "spool.h"
#include "winport/memory.h"

namespace imagehost {

namespace {

constexpr uint32_t kMinProgressInterval = 1u << 16;

thread_local const ProgressSink* t_writeSink = nullptr;

// Answers 0 (cancel) when the caller asks to stop.
int32_t CALLBACK OnWriterProgress(int32_t, int32_t percent, uint32_t) {
  if (t_writeSink == nullptr) return 1;
  if (percent >= 0) (*t_writeSink)(ProgressPhase::kWrite, static_cast<uint32_t>(percent));
  return t_writeSink->stopRequested() ? 0 : 1;
}

// Catches the error reports and progress of one call into the writer.
class WriterCallScope {
 public:
  WriterCallScope(ExportErrorLog& log, const ProgressSink& sink)
      : errors_(log), previous_(t_writeSink) {
    t_writeSink = &sink;
  }
  ~WriterCallScope() { t_writeSink = previous_; }
  WriterCallScope(const WriterCallScope&) = delete;
  WriterCallScope& operator=(const WriterCallScope&) = delete;

 private:
  ExportErrorScope errors_;
  const ProgressSink* previous_;
};

// The rows of one write_block call, lent to the writer (files::LendForWrites):
// whatever it writes of them straight from the host's memory is gathered into
// one system write per block.
class LentRows {
 public:
  explicit LentRows(std::span<const uint8_t> rows) { files::LendForWrites(rows); }
  ~LentRows() {
    if (!ended_) files::EndLending();
  }
  LentRows(const LentRows&) = delete;
  LentRows& operator=(const LentRows&) = delete;

  // True when every write the writer made of them landed.
  bool end() {
    ended_ = true;
    return files::EndLending();
  }

 private:
  bool ended_ = false;
};

}  // namespace

struct ImageWriter::State {
  WriterSetup setup;
  DibImage image;
  std::vector<uint8_t> description;  // BITMAPINFOHEADER and colour table
  std::string fileNameText;
  HGLOBAL options = 0;
  HGLOBAL block = 0;
  uint32_t flags = 0;
  ExportProgress progress{};
  ExportErrorLog errors;
  bool spooling = false;
  Spool spool;
  uint32_t rowsDelivered = 0;
  Status failure;  // the first failure of the export

  ~State();
  Status begin();
  Status callWriteBlock(uint32_t rows, const uint8_t* data);
  Status replaySpool();
  Status end();
  Status fail(const std::string& what);
  Status checkErrors();
};

ImageWriter::State::~State() {
  if (block != 0) {
    WriterCallScope scope(errors, setup.progress);
    setup.writer->exports().endWrite(block, &progress);
  }
  if (options != 0) GlobalFree(options);
}

// Remembers the first failure. The message names the output and the writer,
// with the writer's own strings for the errors it reported and the system's
// reason for the last failed file operation.
Status ImageWriter::State::fail(const std::string& what) {
  if (!failure.ok()) return failure;
  std::string text;
  const uint32_t kept = std::min<uint32_t>(errors.count, errors.kept.size());
  for (uint32_t i = 0; i < kept; ++i) {
    std::string message = setup.writer->errorText(errors.kept[i].instance, errors.kept[i].id);
    if (text.find(message) == std::string::npos) text += (text.empty() ? "" : " ") + message;
  }
  if (text.empty()) text = what;
  std::string reason = files::LastError();
  if (!reason.empty()) text += " (" + reason + ")";
  failure = Status::failure(setup.outputName + ": " + setup.writer->fileName() + ": " + text);
  return failure;
}

Status ImageWriter::State::checkErrors() {
  return errors.count == 0 ? Status{} : fail("the writer reported an error");
}

Status ImageWriter::State::begin() {
  const WriterPlugin& writer = *setup.writer;
  if (setup.callerTopDownOnly && writer.takesForwardOption() &&
      (writer.flags() & kWriterBottomFirst) != 0 && !setup.options.has("FORWARD"))
    setup.options.set("FORWARD", "ON");
  // The netpbm writer writes the type the output's extension names.
  const std::string format = setup.format.empty() ? FileExtension(setup.outputName) : setup.format;
  if (writer.isBuiltIn() && pnm::IsPnmExtension(format) && !setup.options.has(pnm::kTypeOption))
    setup.options.set(pnm::kTypeOption, format);
  options = setup.options.buildBlock();
  if (options == 0) return fail("not enough memory for the option block");
  description = image.packed();
  fileNameText = BaseName(setup.outputName).substr(0, kExportFileNameSize - 1);
  files::ClearLastError();
  int32_t flagsOut = 0;
  {
    WriterCallScope scope(errors, setup.progress);
    block = writer.exports().beginWrite(
        setup.fileDesignation.c_str(), files::Table(), fileNameText.c_str(),
        reinterpret_cast<const BITMAPINFOHEADER*>(description.data()), options, &flagsOut);
  }
  if (block == 0) return fail("the export could not be started");
  if (Status reported = checkErrors(); !reported) return reported;
  flags = static_cast<uint32_t>(flagsOut);

  const uint64_t total = std::clamp<uint64_t>(image.imageBytes(), 1, UINT32_MAX);
  progress.flags = flags;
  progress.bytesTotal = static_cast<uint32_t>(total);
  progress.interval = std::max(static_cast<uint32_t>(total / 100), kMinProgressInterval);
  progress.callback = OnWriterProgress;
  spooling = (flags & kWriterBottomFirst) != 0 && setup.callerTopDownOnly;
  if (spooling) return spool.create();
  return {};
}

Status ImageWriter::State::callWriteBlock(uint32_t rows, const uint8_t* data) {
  int32_t result;
  bool landed;
  {
    LentRows lent({data, static_cast<size_t>(uint64_t{rows} * image.stride())});
    WriterCallScope scope(errors, setup.progress);
    result = setup.writer->exports().writeBlock(block, rows, image.stride(), data, &progress);
    landed = lent.end();
  }
  if (result != kWriterOk)
    return fail("writing rows failed (result " + std::to_string(result) + ")");
  // The writer was told its rows were written: only the host knows they were not.
  if (!landed) return fail("the rows did not reach the file");
  return checkErrors();
}

// Hands the spooled page to the writer bottom block first. The spool holds
// the rows bottom-up, so every block is a plain slice of it.
Status ImageWriter::State::replaySpool() {
  const uint32_t height = image.height();
  const uint64_t stride = image.stride();
  const uint32_t blockRows = BlockRows(setup.blockRows, image.stride(), height);
  std::vector<uint8_t> buffer(uint64_t{blockRows} * stride);
  for (uint32_t done = 0; done < height;) {
    const uint32_t rows = std::min(blockRows, height - done);
    std::span<uint8_t> slice(buffer.data(), uint64_t{rows} * stride);
    if (Status got = spool.get(uint64_t{done} * stride, slice); !got) return fail(got.message());
    if (Status wrote = callWriteBlock(rows, buffer.data()); !wrote) return wrote;
    done += rows;
  }
  return {};
}

Status ImageWriter::State::end() {
  if (failure.ok() && rowsDelivered != image.height())
    fail("only " + std::to_string(rowsDelivered) + " of " + std::to_string(image.height()) +
         " rows were delivered");
  if (failure.ok() && spooling) replaySpool();
  int32_t result;
  {
    WriterCallScope scope(errors, setup.progress);
    result = setup.writer->exports().endWrite(block, &progress);
  }
  block = 0;
  if (result != kWriterOk)
    fail("finishing the file failed (result " + std::to_string(result) + ")");
  checkErrors();
  return failure;
}

ImageWriter::ImageWriter() = default;
ImageWriter::~ImageWriter() = default;

Status ImageWriter::begin(const WriterSetup& setup, const DibImage& image) {
  return Guarded([&]() -> Status {
    if (setup.writer == nullptr) return Status::failure("no writer chosen");
    state_ = std::make_unique<State>();
    state_->setup = setup;
    state_->image = image;
    Status begun = state_->begin();
    if (!begun) state_.reset();  // ends the export if the writer started one
    return begun;
  });
}

RowOrder ImageWriter::order() const {
  const bool bottomFirst =
      state_ != nullptr && !state_->spooling && (state_->flags & kWriterBottomFirst) != 0;
  return bottomFirst ? RowOrder::kBottomFirst : RowOrder::kTopFirst;
}

Status ImageWriter::write(uint32_t rows, std::span<const uint8_t> data) {
  return Guarded([&]() -> Status {
    if (state_ == nullptr || state_->block == 0) return Status::failure("no export in progress");
    State& s = *state_;
    if (!s.failure.ok()) return s.failure;
    const uint64_t stride = s.image.stride();
    if (rows == 0 || uint64_t{s.rowsDelivered} + rows > s.image.height() ||
        data.size() < rows * stride)
      return s.fail("a block of " + std::to_string(rows) + " rows does not fit the image");
    if (s.spooling) {
      // Top-down blocks: this one ends (height − rowsDelivered − rows) rows above the bottom.
      uint64_t offset = (uint64_t{s.image.height()} - s.rowsDelivered - rows) * stride;
      if (Status put = s.spool.put(offset, data.first(rows * stride)); !put)
        return s.fail(put.message());
    } else if (Status wrote = s.callWriteBlock(rows, data.data()); !wrote) {
      return wrote;
    }
    s.rowsDelivered += rows;
    return {};
  });
}

Status ImageWriter::finish() {
  return Guarded([&]() -> Status {
    if (state_ == nullptr || state_->block == 0) return Status::failure("no export in progress");
    Status ended = state_->end();
    state_.reset();
    return ended;
  });
}

}  // namespace imagehost
