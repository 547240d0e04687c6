// Input through a reader plug-in.
//
// Call order: OVDLinit_image → OVDLbuildDIBhead → OVDLread_rows for
// successive top-down blocks (OVDLset_page + OVDLbuildDIBhead to change page)
// → OVDLclose_image. Every BITMAPINFO block a reader hands over is checked,
// copied and freed at once. A reader that refuses the first partial read with
// result 8 (an interlaced PNG) is read whole in one call instead.
#include <algorithm>
#include <cstring>

#include "host_files.h"
#include "sources.h"
#include "winport/memory.h"

namespace imagehost {

namespace {

thread_local const ProgressSink* t_readSink = nullptr;

// Answers 0 (cancel) when the caller asks to stop.
int32_t CALLBACK OnReaderProgress(uint32_t, uint32_t percent, uint32_t) {
  if (t_readSink == nullptr) return 1;
  (*t_readSink)(ProgressPhase::kRead, percent);
  return t_readSink->stopRequested() ? 0 : 1;
}

// Sets the progress sink for the duration of one reader call.
class ReadSinkScope {
 public:
  explicit ReadSinkScope(const ProgressSink& sink) : previous_(t_readSink) { t_readSink = &sink; }
  ~ReadSinkScope() { t_readSink = previous_; }
  ReadSinkScope(const ReadSinkScope&) = delete;
  ReadSinkScope& operator=(const ReadSinkScope&) = delete;

 private:
  const ProgressSink* previous_;
};

const char* ResultText(int32_t result) {
  switch (result) {
    case kReaderBadHeader:
      return "the header is not valid for this format";
    case kReaderReadFailed:
      return "reading the file failed";
    case kReaderOpenFailed:
      return "the file cannot be opened";
    case kReaderNoMemory:
      return "not enough memory";
    case kReaderBadHandle:
      return "the image handle was refused";
    case kReaderUnsupported:
      return "the file uses an unsupported option";
    case kReaderCorrupt:
      return "the compressed data are corrupt";
    case kReaderNoSuchPage:
      return "the page does not exist";
    case kReaderCancelled:
      return "reading was cancelled";
    default:
      return "the reader failed";
  }
}

class ReaderSource final : public RowSource {
 public:
  ReaderSource(const ReaderPlugin& reader, const std::string& path, const ProgressSink& sink)
      : reader_(reader), path_(path), sink_(sink) {}
  ~ReaderSource() override;

  Status open(uint32_t file);
  const std::string& name() const override { return reader_.fileName(); }
  const DibImage& image() const override { return dib_; }
  uint32_t pages() const override { return pages_; }
  Status selectPage(uint32_t page) override;
  bool randomAccess() const override { return false; }
  Status readRows(uint32_t top, uint32_t count, std::span<uint8_t> rows) override;

 private:
  Status failure(int32_t result) const;
  Status describePage();
  Status takeHeader(const ImageHeaderRecord& record, HGLOBAL block);
  Status restart();
  Status readWhole();
  void resetProgress();

  const ReaderPlugin& reader_;
  const std::string path_;  // the FileReference: valid for the image's life
  const ProgressSink sink_;
  uint32_t file_ = 0;
  HGLOBAL image_ = 0;
  DibImage dib_;
  uint32_t pages_ = 1;
  uint32_t page_ = 0;
  uint32_t nextRow_ = 0;
  bool readStarted_ = false;
  std::vector<uint8_t> whole_;  // the whole page, bottom-up, for readers that refuse blocks
  ProgressRecord progress_{};
};

ReaderSource::~ReaderSource() {
  if (image_ != 0) reader_.exports().closeImage(image_);
  if (file_ != 0) files::CloseIfOpen(file_);
}

Status ReaderSource::failure(int32_t result) const {
  // A cancelled read stores no message: the thread's last one is an older failure's.
  std::string text = result == kReaderCancelled ? std::string() : reader_.errorText();
  if (text.empty())
    text = std::string(ResultText(result)) + " (result " + std::to_string(result) + ")";
  return Status::failure(path_ + ": " + reader_.fileName() + ": " + text);
}

Status ReaderSource::open(uint32_t file) {
  file_ = file;
  int64_t size = files::FileSize(file);
  uint32_t length = static_cast<uint32_t>(std::clamp<int64_t>(size, 0, UINT32_MAX));
  HGLOBAL handle = 0;
  int32_t result =
      reader_.exports().initImage(path_.c_str(), &handle, file, 0, length, files::Table());
  if (result != kReaderOk) return failure(result);
  if (handle == 0)
    return Status::failure(path_ + ": " + reader_.fileName() + ": no image handle returned");
  image_ = handle;
  return describePage();
}

Status ReaderSource::describePage() {
  ImageHeaderRecord record{};
  record.pageCount = 1;  // readers without pages leave it
  int32_t result = reader_.exports().buildDibHead(image_, &record);
  HGLOBAL block = record.bitmapInfo != nullptr ? GlobalHandle(record.bitmapInfo) : 0;
  Status status;
  if (result != kReaderOk) {
    status = failure(result);
  } else if (block == 0) {
    status = Status::failure(path_ + ": " + reader_.fileName() + ": no header block returned");
  } else {
    status = takeHeader(record, block);
  }
  if (block != 0) {  // the block is the host's now, whatever happened
    GlobalUnlock(block);
    GlobalFree(block);
  }
  if (status && page_ == 0) pages_ = std::max<uint32_t>(record.pageCount, 1);
  return status;
}

Status ReaderSource::takeHeader(const ImageHeaderRecord& record, HGLOBAL block) {
  const std::string invalid = path_ + ": " + reader_.fileName() + ": invalid image header: ";
  size_t size = GlobalSize(block);
  if (size < sizeof(BITMAPINFOHEADER)) return Status::failure(invalid + "block too small");
  const auto* bytes = reinterpret_cast<const uint8_t*>(record.bitmapInfo);
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes, sizeof header);
  size_t entries = std::min<size_t>((size - sizeof header) / sizeof(RGBQUAD), 256);
  std::vector<RGBQUAD> palette(entries);
  if (entries != 0) std::memcpy(palette.data(), bytes + sizeof header, entries * sizeof(RGBQUAD));
  DibImage image;
  if (Status made = DibImage::make(header, palette, image); !made)
    return Status::failure(invalid + made.message());
  if (record.width != image.width() || record.height != image.height())
    return Status::failure(invalid + "the header record says " + std::to_string(record.width) +
                           " x " + std::to_string(record.height) + ", the bitmap header " +
                           std::to_string(image.width()) + " x " + std::to_string(image.height()));
  dib_ = std::move(image);
  resetProgress();
  return {};
}

void ReaderSource::resetProgress() {
  uint64_t total = std::clamp<uint64_t>(dib_.imageBytes(), 1, UINT32_MAX);
  progress_ = ProgressRecord{};
  progress_.callback = OnReaderProgress;
  progress_.total = static_cast<uint32_t>(total);
  progress_.step = static_cast<uint32_t>(std::max<uint64_t>(total / 100, 1));
}

Status ReaderSource::selectPage(uint32_t page) {
  if (page == page_) return restart();
  if (reader_.exports().setPage == nullptr)
    return Status::failure(path_ + ": " + reader_.fileName() + ": the file has one page; page " +
                           std::to_string(page) + " does not exist");
  int32_t result = reader_.exports().setPage(image_, static_cast<int32_t>(page));
  if (result != kReaderOk) return failure(result);
  page_ = page;
  nextRow_ = 0;
  readStarted_ = false;
  whole_.clear();
  return describePage();
}

// Back to the top of the current page, for another pass over its rows.
Status ReaderSource::restart() {
  if (!readStarted_ || !whole_.empty()) return {};
  if (reader_.exports().setRow == nullptr)
    return Status::failure(path_ + ": " + reader_.fileName() + ": cannot go back to the first row");
  int32_t result = reader_.exports().setRow(image_, 0);
  if (result != kReaderOk) return failure(result);
  nextRow_ = 0;
  resetProgress();
  return {};
}

Status ReaderSource::readRows(uint32_t top, uint32_t count, std::span<uint8_t> rows) {
  const uint64_t stride = dib_.stride();
  const uint64_t bytes = stride * count;
  if (count == 0 || uint64_t{top} + count > dib_.height() || rows.size() < bytes)
    return Status::failure("rows " + std::to_string(top) + "+" + std::to_string(count) +
                           " do not fit the image or the buffer");
  if (whole_.empty()) {
    if (top != nextRow_) {
      if (top != 0) return Status::failure("rows of a reader must be read in order");
      if (Status restarted = restart(); !restarted) return restarted;
    }
    // Readers that leave their current row to the host (Photo CD) are told
    // where each block starts; the others are there already.
    if (top != 0 && reader_.exports().setRow != nullptr) {
      const int32_t positioned = reader_.exports().setRow(image_, top);
      if (positioned != kReaderOk) return failure(positioned);
    }
    std::fill_n(rows.begin(), bytes, uint8_t{0});  // some readers only OR bits into place
    int32_t result;
    {
      ReadSinkScope scope(sink_);
      result = reader_.exports().readRows(image_, rows.data(), count, static_cast<uint32_t>(stride),
                                          0, &progress_);
    }
    const bool refusedBlock = result == kReaderBadHandle && !readStarted_ && count < dib_.height();
    readStarted_ = true;
    if (!refusedBlock) {
      if (result != kReaderOk) return failure(result);
      nextRow_ = top + count;
      return {};
    }
    if (Status read = readWhole(); !read) return read;
  }
  // The whole page lies bottom-up: image row r starts at (height − 1 − r) × stride.
  uint64_t first = (uint64_t{dib_.height()} - top - count) * stride;
  std::memcpy(rows.data(), whole_.data() + first, bytes);
  return {};
}

Status ReaderSource::readWhole() {
  const uint64_t bytes = dib_.imageBytes();
  if (bytes > kMaxWholeImageBytes)
    return Status::failure(path_ + ": " + reader_.fileName() +
                           ": the image can only be read whole, and at " + std::to_string(bytes) +
                           " bytes it is too large for that");
  if (reader_.exports().setRow != nullptr) {
    int32_t result = reader_.exports().setRow(image_, 0);
    if (result != kReaderOk) return failure(result);
  }
  std::vector<uint8_t> whole(bytes, 0);
  resetProgress();
  int32_t result;
  {
    ReadSinkScope scope(sink_);
    result = reader_.exports().readRows(image_, whole.data(), dib_.height(), dib_.stride(), 0,
                                        &progress_);
  }
  if (result != kReaderOk) return failure(result);
  whole_ = std::move(whole);
  nextRow_ = dib_.height();
  return {};
}

}  // namespace

Status OpenReaderSource(const ReaderPlugin& reader, const std::string& path, uint32_t file,
                        const ProgressSink& progress, std::unique_ptr<RowSource>& out) {
  auto source = std::make_unique<ReaderSource>(reader, path, progress);
  if (Status opened = source->open(file); !opened) return opened;
  out = std::move(source);
  return {};
}

}  // namespace imagehost
