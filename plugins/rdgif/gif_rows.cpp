// GIF rows: the sub-block reader, sequential and interlaced decoding, and
// the packing of pixel indices into 1-, 4- or 8-bit DIB rows.
//
// Non-interlaced images are decoded row by row as the frame asks; moving
// back restarts the data (seek, fresh decoder, empty sub-block reader) and
// the frame decodes forward to the wanted row. An interlaced image is decoded
// whole, pass by pass, into a picture kept with the image the first time a
// row is wanted; rows are then handed out from it in any order and any
// number of calls.
//
// Pixels an image does not supply (its data end early) are not delivered:
// the host's row keeps what it held there. A row the decoder failed on, and
// every row after it, fails with result 10 and id 10.
#include <algorithm>
#include <cstring>

#include "gif_format.h"

namespace rdgif {
namespace {

constexpr uint32_t kPassStart[] = {0, 4, 2, 1};
constexpr uint32_t kPassStep[] = {8, 8, 4, 2};

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

// A movable block locked for the length of one call.
template <typename T>
class Locked {
 public:
  explicit Locked(HGLOBAL handle) : handle_(handle) {
    if (handle != 0) data_ = static_cast<T*>(GlobalLock(handle));
  }
  ~Locked() {
    if (data_ != nullptr) GlobalUnlock(handle_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  explicit operator bool() const { return data_ != nullptr; }
  T* get() const { return data_; }

 private:
  HGLOBAL handle_;
  T* data_ = nullptr;
};

// The data sub-blocks as one stream: length bytes are dropped, the
// terminator (or the end of the file) ends the data for good.
struct DataStream {
  DataStream(const ImageBlockHead& head, SubBlockReader& reader)
      : data(reader), in(head, reader.input, reader.buffer) {}
  SubBlockReader& data;
  reader::BufferedInput in;
};

int32_t NextDataByte(void* context) {
  auto& s = *static_cast<DataStream*>(context);
  if (s.data.ended != 0) return -1;
  while (s.data.left == 0) {
    int32_t length = s.in.next();
    if (length <= 0) {
      s.data.ended = 1;
      return -1;
    }
    s.data.left = static_cast<uint32_t>(length);
  }
  int32_t byte = s.in.next();
  if (byte < 0) {
    s.data.ended = 1;
    return -1;
  }
  --s.data.left;
  return byte;
}

// The data bytes already in the input buffer, up to the end of the sub-block.
const uint8_t* PeekDataBytes(void* context, uint32_t& count) {
  auto& s = *static_cast<DataStream*>(context);
  const reader::InputCursor& cursor = s.data.input;
  if (s.data.ended != 0 || cursor.position >= cursor.filled) {
    count = 0;
    return nullptr;
  }
  count = std::min(s.data.left, cursor.filled - cursor.position);
  return s.data.buffer + cursor.position;
}

void TakeDataBytes(void* context, uint32_t count) {
  auto& s = *static_cast<DataStream*>(context);
  s.data.input.position += count;
  s.data.left -= count;
}

// Decodes the next row of the data stream into `row`.
int32_t DecodeNext(reader::ImageBlockBase& image, LzwState& lzw, std::span<uint8_t> row,
                   uint32_t& produced) {
  DataStream stream(image.head, StateOf(image).data);
  const ByteSource source{NextDataByte, &stream, PeekDataBytes, TakeDataBytes};
  if (LzwDecodeRow(lzw, source, row, produced) == LzwResult::kOk) return kReaderOk;
  return Fail(kStrBadLines, kReaderCorrupt);
}

// Decodes the whole interlaced image into the picture: a pixel count per row
// (kRowCorrupt for rows not reached because of corrupt data), then the rows.
int32_t DecodePicture(reader::ImageBlockBase& image) {
  GifState& gif = StateOf(image);
  const uint32_t width = ImageWidth(gif);
  const uint32_t height = ImageHeight(gif);
  const uint64_t bytes = uint64_t{height} * 4 + uint64_t{width} * height;
  if (bytes > kMaxInterlacedBytes) return Fail(kStrNoMemory, kReaderNoMemory);
  if (gif.picture == 0) gif.picture = GlobalAlloc(GHND, static_cast<size_t>(bytes));
  Locked<uint8_t> picture(gif.picture);
  if (!picture) return Fail(kStrNoMemory, kReaderNoMemory);
  int32_t result = RestartData(image);
  if (result != kReaderOk) return result;
  Locked<LzwState> lzw(gif.decoder);
  if (!lzw) return Fail(kStrNoMemory, kReaderNoMemory);
  auto* counts = reinterpret_cast<uint32_t*>(picture.get());
  uint8_t* pixels = picture.get() + uint64_t{height} * 4;
  bool corrupt = false;
  for (uint32_t pass = 0; pass < 4; ++pass) {
    for (uint32_t y = kPassStart[pass]; y < height; y += kPassStep[pass]) {
      uint32_t produced = 0;
      std::span<uint8_t> row(pixels + uint64_t{y} * width, width);
      if (!corrupt && DecodeNext(image, *lzw.get(), row, produced) != kReaderOk) corrupt = true;
      counts[y] = corrupt ? kRowCorrupt : produced;
    }
  }
  gif.pictureReady = 1;
  return kReaderOk;
}

int32_t InterlacedRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out) {
  GifState& gif = StateOf(image);
  if (gif.pictureReady == 0) {
    int32_t result = DecodePicture(image);
    if (result != kReaderOk) return result;
  }
  Locked<uint8_t> picture(gif.picture);
  if (!picture) return Fail(kStrNoMemory, kReaderNoMemory);
  const uint32_t width = ImageWidth(gif);
  const uint32_t height = ImageHeight(gif);
  if (row >= height) return Fail(kStrReadFailed, kReaderReadFailed);
  const uint32_t count = reinterpret_cast<const uint32_t*>(picture.get())[row];
  if (count == kRowCorrupt) return Fail(kStrBadLines, kReaderCorrupt);
  const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(std::min<size_t>(out.size(), width)));
  std::memcpy(out.data(), picture.get() + uint64_t{height} * 4 + uint64_t{row} * width, n);
  gif.rowPixels = n;
  return kReaderOk;
}

// 4-bit DIB: two pixels a byte, the first in the high nibble.
void Pack4(std::span<const uint8_t> pixels, std::span<uint8_t> dest, uint64_t first) {
  for (size_t j = 0; j < dest.size(); ++j) {
    const uint64_t p = first + 2 * j;
    if (p >= pixels.size()) return;
    const auto high = static_cast<uint8_t>((pixels[p] & 0x0F) << 4);
    const uint8_t low = p + 1 < pixels.size() ? (pixels[p + 1] & 0x0F) : (dest[j] & 0x0F);
    dest[j] = static_cast<uint8_t>(high | low);
  }
}

// 1-bit DIB: eight pixels a byte, the first in the most significant bit.
void Pack1(std::span<const uint8_t> pixels, std::span<uint8_t> dest, uint64_t first) {
  for (size_t j = 0; j < dest.size(); ++j) {
    const uint64_t p = first + 8 * j;
    if (p >= pixels.size()) return;
    uint8_t value = dest[j];
    for (uint32_t b = 0; b < 8 && p + b < pixels.size(); ++b) {
      const auto bit = static_cast<uint8_t>(0x80 >> b);
      value = (pixels[p + b] & 1) != 0 ? static_cast<uint8_t>(value | bit) : static_cast<uint8_t>(value & ~bit);
    }
    dest[j] = value;
  }
}

}  // namespace

int32_t RestartData(reader::ImageBlockBase& image) {
  GifState& gif = StateOf(image);
  gif.data.left = 0;
  gif.data.ended = 0;
  reader::EmptyInput(gif.data.input);
  if (!reader::HostSeekImage(image.head, gif.dataPosition)) return Fail(kStrReadFailed, kReaderReadFailed);
  Locked<LzwState> lzw(gif.decoder);
  if (!lzw) return Fail(kStrNoMemory, kReaderNoMemory);
  LzwReset(*lzw.get(), gif.codeSize, ImageWidth(gif));
  return kReaderOk;
}

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& /*copies*/) {
  GifState& gif = StateOf(image);
  gif.rowPixels = 0;
  if (gif.interlaced != 0) return InterlacedRow(image, row, out);
  Locked<LzwState> lzw(gif.decoder);
  if (!lzw) return Fail(kStrNoMemory, kReaderNoMemory);
  uint32_t produced = 0;
  int32_t result = DecodeNext(image, *lzw.get(), out.first(std::min<size_t>(out.size(), ImageWidth(gif))), produced);
  gif.rowPixels = produced;
  return result;
}

// Packs the decoded pixels (only those the image supplied) from pixel
// offset × 8 / bits on into the host's row.
void DeliverRow(const reader::ImageBlockBase& image, std::span<const uint8_t> decoded,
                std::span<uint8_t> dest, uint32_t offset) {
  const GifState& gif = StateOf(image);
  const auto pixels = decoded.first(std::min<size_t>(decoded.size(), gif.rowPixels));
  switch (image.frame.dibBitCount) {
    case 8:
      reader::CopyFromOffset(pixels, dest, offset);
      return;
    case 4:
      Pack4(pixels, dest, uint64_t{offset} * 2);
      return;
    case 1:
      Pack1(pixels, dest, uint64_t{offset} * 8);
      return;
    default:
      return;
  }
}

int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached) {
  if (StateOf(image).interlaced != 0) {
    reached = wanted;  // the picture serves any row
    return kReaderOk;
  }
  reached = 0;
  return RestartData(image);
}

}  // namespace rdgif
