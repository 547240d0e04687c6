#include "pcd_images.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "image_pac.h"
#include "winport/file.h"

namespace pcdlib {

namespace {

constexpr size_t kMaxOpenImages = 256;

struct OpenedImage {
  HANDLE file = INVALID_HANDLE_VALUE;
  uint32_t quarterTurns = 0;
  bool decoded = false;
  Picture picture;
  ProgressRoutine progress = nullptr;
  void* progressUser = nullptr;

  ~OpenedImage() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  uint32_t width() const { return quarterTurns % 2 == 0 ? kBaseWidth : kBaseHeight; }
  uint32_t height() const { return quarterTurns % 2 == 0 ? kBaseHeight : kBaseWidth; }
};

// Handles are never reused within a process, so a closed one stays invalid.
class ImageTable {
 public:
  std::shared_ptr<OpenedImage> find(ImageHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = images_.find(handle);
    return it == images_.end() ? nullptr : it->second;
  }
  ImageHandle add(std::shared_ptr<OpenedImage> image) {
    std::lock_guard lock(mutex_);
    if (images_.size() >= kMaxOpenImages) return 0;
    if (next_ == 0) next_ = 1;
    ImageHandle handle = next_++;
    images_.emplace(handle, std::move(image));
    return handle;
  }
  bool remove(ImageHandle handle) {
    std::lock_guard lock(mutex_);
    return images_.erase(handle) != 0;
  }
  uint32_t count() {
    std::lock_guard lock(mutex_);
    return static_cast<uint32_t>(images_.size());
  }

 private:
  std::mutex mutex_;
  std::map<ImageHandle, std::shared_ptr<OpenedImage>> images_;
  ImageHandle next_ = 1;
};

ImageTable& Images() {
  static ImageTable table;
  return table;
}

// Reads exactly `bytes.size()` bytes at `offset` (below 2 GiB).
int16_t ReadAt(HANDLE file, uint64_t offset, std::span<uint8_t> bytes) {
  if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) != offset)
    return kReadFailed;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!ReadFile(file, bytes.data() + done, want, &got, nullptr)) return kReadFailed;
    if (got == 0) return kTruncated;  // end of file: never wait for more
    done += got;
  }
  return kOk;
}

// Checks header and size of an opened file.
int16_t Inspect(OpenedImage& image) {
  DWORD high = 0;
  const DWORD low = GetFileSize(image.file, &high);
  if (low == INVALID_FILE_SIZE && high == 0) return kCannotOpen;
  const uint64_t size = (uint64_t{high} << 32) | low;
  std::vector<uint8_t> header(kHeaderBytes);
  if (size < kHeaderBytes) return kNotImagePac;
  if (int16_t read = ReadAt(image.file, 0, header); read != kOk) return read;
  if (CheckHeader(header, image.quarterTurns) != HeaderCheck::kImagePac) return kNotImagePac;
  if (size < kMinimumFileBytes) return kTruncated;
  return kOk;
}

int16_t EnsureDecoded(OpenedImage& image) {
  if (image.decoded) return kOk;
  std::vector<uint8_t> base(kBaseBytes);
  if (int16_t read = ReadAt(image.file, kBaseOffset, base); read != kOk) return read;
  DecodeBase(base, image.quarterTurns, image.picture);
  image.decoded = true;
  return kOk;
}

// Columns of the rectangle that lie in the picture (0 when none).
uint32_t ColumnsWanted(const OpenedImage& image, const RowRect& rect) {
  const uint32_t last = std::min<uint32_t>(rect.lastColumn, image.width() - 1);
  return rect.firstColumn > last ? 0 : last - rect.firstColumn + 1;
}

int16_t Deliver(OpenedImage& image, const RowRect& rect, uint8_t* buffer, uint32_t stride) {
  const uint32_t rows = uint32_t{rect.endRow} - rect.firstRow;
  const uint32_t columns = ColumnsWanted(image, rect);
  if (rect.endRow > image.height() || uint64_t{columns} * 3 > stride) return kBadRectangle;
  const uint64_t rowBytes = uint64_t{image.width()} * 3;
  for (uint32_t k = 0; k < rows; ++k) {
    const uint8_t* source =
        image.picture.bgr.data() + (rect.firstRow + k) * rowBytes + uint64_t{rect.firstColumn} * 3;
    if (columns != 0)
      std::memcpy(buffer + uint64_t{rows - 1 - k} * stride, source, uint64_t{columns} * 3);
    if (image.progress != nullptr &&
        image.progress(static_cast<int16_t>(k + 1), static_cast<int16_t>(rows),
                       image.progressUser) == 0)
      return kCancelled;
  }
  return kOk;
}

}  // namespace

int16_t OpenImage(const void* fileReference, ImageHandle* handle) {
  if (fileReference == nullptr || handle == nullptr) return kBadArgument;
  auto image = std::make_shared<OpenedImage>();
  image->file = CreateFileA(static_cast<const char*>(fileReference), GENERIC_READ,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (image->file == INVALID_HANDLE_VALUE) return kCannotOpen;
  if (int16_t inspected = Inspect(*image); inspected != kOk) return inspected;
  const ImageHandle added = Images().add(std::move(image));
  if (added == 0) return kTooManyImages;
  *handle = added;
  return kOk;
}

int16_t CloseImage(ImageHandle handle) {
  return Images().remove(handle) ? kOk : kBadHandle;
}

int16_t ImageSize(ImageHandle handle, int16_t* size) {
  std::shared_ptr<OpenedImage> image = Images().find(handle);
  if (image == nullptr) return kBadHandle;
  if (size == nullptr) return kBadArgument;
  size[0] = 0;
  size[1] = 0;
  size[kSizeHeight] = static_cast<int16_t>(image->height());
  size[kSizeWidth] = static_cast<int16_t>(image->width());
  return kOk;
}

int16_t SetProgress(ImageHandle handle, ProgressRoutine routine, void* user) {
  std::shared_ptr<OpenedImage> image = Images().find(handle);
  if (image == nullptr) return kBadHandle;
  image->progress = routine;
  image->progressUser = routine != nullptr ? user : nullptr;
  return kOk;
}

int16_t ReadRows(ImageHandle handle, const RowRect* rect, uint8_t* buffer, uint32_t stride) {
  std::shared_ptr<OpenedImage> image = Images().find(handle);
  if (image == nullptr) return kBadHandle;
  if (rect == nullptr) return kBadArgument;
  if (rect->endRow < rect->firstRow) return kBadRectangle;
  if (rect->endRow == rect->firstRow) return kOk;
  if (buffer == nullptr) return kBadArgument;
  try {
    if (int16_t decoded = EnsureDecoded(*image); decoded != kOk) return decoded;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  return Deliver(*image, *rect, buffer, stride);
}

uint32_t OpenImageCount() {
  return Images().count();
}

}  // namespace pcdlib
