// Rows: unfiltering, Adam7 passes, and conversion into DIB rows.
//
// Every filtered row is inflated straight into one half of the unfilter
// buffer and restored in place against the other half (the previous row of
// the same pass, zeros at a pass's start). The restored pixels are converted
// into the DIB form the header announces while they are placed:
//   grey 1 bit -> 1-bit DIB; grey 2 and 4 bits, palette 2 and 4 bits -> 4-bit
//   DIB (one pixel per nibble); grey 8 and 16, grey + alpha, palette 8 ->
//   8-bit DIB; RGB and RGB + alpha, 8 and 16 bits -> 24-bit DIB (blue, green,
//   red). 16-bit samples give their high byte; alpha is dropped.
//
// Interlaced files: passes 1 to 6 touch only even image rows, pass 7 fills
// the odd rows whole and in order. So the first decoded row assembles the
// even rows from passes 1 to 6 into a buffer of (height + 1) / 2 rows; then
// odd rows come from pass 7 one by one as the frame asks for them, and even
// rows from that buffer. Empty passes (an image narrower or shorter than the
// pattern) carry no data and are skipped. The buffer is the reader's own and
// zeroed, so the caller's rows need not be.
//
// Policies: a filter type above 4 is corrupt data (10, no id); so is a row
// the decoder is asked for out of order (the frame never does that).
#include <cstring>
#include <utility>

#include "plugin/pixel_order.h"
#include "png_inflate.h"

namespace rdpng {
namespace {

// A locked global block for one call.
class Locked {
 public:
  explicit Locked(HGLOBAL handle) : handle_(handle), data_(static_cast<uint8_t*>(GlobalLock(handle))) {}
  ~Locked() {
    if (data_ != nullptr) GlobalUnlock(handle_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  uint8_t* data() const { return data_; }

 private:
  HGLOBAL handle_;
  uint8_t* data_;
};

int32_t NoMemory() {
  reader::StoreError(kStrNoMemory);
  return kReaderNoMemory;
}

// The predictor nearest to a + b − c, ties going to a, then b. Written
// without branches: |p − a| = |b − c|, |p − b| = |a − c|, |p − c| = |a + b − 2c|.
inline uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c) {
  const int pa = b > c ? b - c : c - b;
  const int pb = a > c ? a - c : c - a;
  const int sum = a + b - 2 * c;
  const int pc = sum < 0 ? -sum : sum;
  const uint8_t bc = pb <= pc ? b : c;
  return pa <= pb && pa <= pc ? a : bc;
}

// Filters 1, 3 and 4 restore each byte from the byte one pixel to its left.
// With whole-byte pixels of 3 or 4 bytes the left (and upper left) pixel is
// carried in registers from one pixel to the next, instead of being read back
// from the row just written; other pixel sizes take the byte-wise loop. The
// first pixel of a row has no left neighbour (taken as 0).
enum class Filter { kSub, kAverage, kPaeth };

template <Filter kFilter>
inline uint8_t Predict(uint8_t left, uint8_t up, uint8_t upLeft) {
  if constexpr (kFilter == Filter::kSub) return left;
  if constexpr (kFilter == Filter::kAverage) return static_cast<uint8_t>((left + up) >> 1);
  return Paeth(left, up, upLeft);
}

// One byte of a pixel; `left` and `upLeft` carry over to the next pixel.
template <Filter kFilter>
inline void UnfilterByte(uint8_t& byte, uint8_t up, uint8_t& left, uint8_t& upLeft) {
  left = static_cast<uint8_t>(byte + Predict<kFilter>(left, up, upLeft));
  byte = left;
  upLeft = up;
}

template <Filter kFilter, size_t... kByte>
void UnfilterPixels(uint8_t* row, const uint8_t* above, size_t n, std::index_sequence<kByte...>) {
  constexpr size_t kUnit = sizeof...(kByte);
  uint8_t left[kUnit] = {};
  uint8_t upLeft[kUnit] = {};
  size_t i = 0;
  for (; i + kUnit <= n; i += kUnit) {
    (UnfilterByte<kFilter>(row[i + kByte], above[i + kByte], left[kByte], upLeft[kByte]), ...);
  }
  for (size_t j = 0; i + j < n; ++j) UnfilterByte<kFilter>(row[i + j], above[i + j], left[j], upLeft[j]);
}

template <Filter kFilter>
void UnfilterBytes(uint8_t* row, const uint8_t* above, size_t n, size_t unit) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t left = i >= unit ? row[i - unit] : 0;
    const uint8_t upLeft = i >= unit ? above[i - unit] : 0;
    row[i] = static_cast<uint8_t>(row[i] + Predict<kFilter>(left, above[i], upLeft));
  }
}

template <Filter kFilter>
void UnfilterLeft(uint8_t* row, const uint8_t* above, size_t n, size_t unit) {
  switch (unit) {
    case 3:
      UnfilterPixels<kFilter>(row, above, n, std::make_index_sequence<3>());
      break;
    case 4:
      UnfilterPixels<kFilter>(row, above, n, std::make_index_sequence<4>());
      break;
    default:
      UnfilterBytes<kFilter>(row, above, n, unit);
      break;
  }
}

// Restores `row` (after its filter byte) against `above`; false for an unknown filter.
bool Unfilter(uint8_t type, std::span<uint8_t> row, const uint8_t* above, size_t unit) {
  const size_t n = row.size();
  switch (type) {
    case 0:
      return true;
    case 1:
      UnfilterLeft<Filter::kSub>(row.data(), above, n, unit);
      return true;
    case 2:
      for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
      return true;
    case 3:
      UnfilterLeft<Filter::kAverage>(row.data(), above, n, unit);
      return true;
    case 4:
      UnfilterLeft<Filter::kPaeth>(row.data(), above, n, unit);
      return true;
    default:
      return false;
  }
}

// Where the restored pixels of one pass row go: DIB column x of `dib` is
// start + k·step for pass pixel k.
struct Placement {
  uint8_t* dib;
  uint32_t start;
  uint32_t step;
};

uint32_t SubByteSample(const uint8_t* raw, uint32_t k, uint32_t depth) {
  uint64_t bit = static_cast<uint64_t>(k) * depth;
  return (raw[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

// Writes `pixels` pass pixels from `raw` into the DIB row; sub-byte pixels are
// OR-ed into place (the row was zeroed before its first pixel arrived).
void PlacePixels(const PngState& png, const uint8_t* raw, uint32_t pixels, const Placement& at) {
  const uint32_t depth = png.header.bitDepth;
  if (png.dibBitCount == 1 || png.dibBitCount == 4) {
    const uint32_t dibBits = png.dibBitCount;
    for (uint32_t k = 0; k < pixels; ++k) {
      uint64_t bit = (static_cast<uint64_t>(at.start) + static_cast<uint64_t>(k) * at.step) * dibBits;
      at.dib[bit / 8] |= static_cast<uint8_t>(SubByteSample(raw, k, depth) << (8 - dibBits - bit % 8));
    }
    return;
  }
  const uint32_t sampleBytes = depth / 8;  // 1 or 2; a 16-bit sample gives its high byte
  const uint32_t channels = static_cast<uint32_t>(png.bitsPerPixel) / depth;
  const uint32_t pixelBytes = sampleBytes * channels;
  if (png.dibBitCount == 8) {
    for (uint32_t k = 0; k < pixels; ++k) at.dib[at.start + k * at.step] = raw[k * pixelBytes];
    return;
  }
  if (at.step == 1 && pixelBytes == 3) {  // 8-bit RGB, a whole row: the common case
    pixels::SwapRedBlue(raw, at.dib + static_cast<size_t>(at.start) * 3, pixels);
    return;
  }
  for (uint32_t k = 0; k < pixels; ++k) {
    const uint8_t* p = raw + static_cast<size_t>(k) * pixelBytes;
    uint8_t* q = at.dib + static_cast<size_t>(at.start + k * at.step) * 3;
    q[0] = p[2 * sampleBytes];
    q[1] = p[sampleBytes];
    q[2] = p[0];
  }
}

// Inflates and restores the next row of the current pass; `raw` then points
// at its pixels (after the filter byte).
int32_t NextPassRow(const ImageBlockHead& head, PngState& png, const uint8_t*& raw) {
  Locked buffer(png.unfilter);
  if (buffer.data() == nullptr) return kReaderCorrupt;
  const size_t rowBytes = static_cast<size_t>(png.rowBytes);
  const size_t size = static_cast<size_t>(png.passRowBytes[png.pass]);
  if (size == 0) return kReaderCorrupt;
  uint8_t* current = buffer.data() + (png.previousHalf == 0 ? rowBytes : 0);
  const uint8_t* previous = buffer.data() + (png.previousHalf == 0 ? 0 : rowBytes);
  int32_t result = InflateInto(head, png, std::span<uint8_t>(current, size));
  if (result != kReaderOk) return result;
  if (!Unfilter(current[0], std::span<uint8_t>(current + 1, size - 1), previous + 1,
                static_cast<size_t>(png.filterUnit))) {
    return kReaderCorrupt;
  }
  png.previousHalf ^= 1;
  ++png.passRowsDone;
  raw = current + 1;
  return kReaderOk;
}

// Makes `pass` current: no previous row yet.
void BeginPass(PngState& png, uint32_t pass) {
  png.pass = static_cast<int32_t>(pass);
  png.passRowsDone = 0;
  png.previousHalf = 0;
  if (Locked buffer(png.unfilter); buffer.data() != nullptr) {
    std::memset(buffer.data(), 0, 2 * static_cast<size_t>(png.rowBytes));
  }
}

// Allocates the unfilter buffer if needed and starts the inflate stream.
int32_t StartDecoder(const ImageBlockHead& head, PngState& png) {
  if (png.unfilter == 0) {
    png.unfilter = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, 2 * static_cast<size_t>(png.rowBytes));
    if (png.unfilter == 0) return NoMemory();
  }
  int32_t result = StartStream(head, png);
  if (result != kReaderOk) return result;
  png.evenRowsReady = 0;
  BeginPass(png, 0);
  return kReaderOk;
}

// Passes 1 to 6 into the even-row buffer; on return pass 7 is current.
int32_t AssembleEvenRows(const ImageBlockHead& head, PngState& png) {
  const size_t evenBytes = (static_cast<size_t>(png.header.height) + 1) / 2 * png.dibRowBytes;
  if (png.evenRows == 0) {
    png.evenRows = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, evenBytes);
    if (png.evenRows == 0) return NoMemory();
  }
  Locked even(png.evenRows);
  if (even.data() == nullptr) return NoMemory();
  std::memset(even.data(), 0, evenBytes);
  for (uint32_t pass = 0; pass < kPasses - 1; ++pass) {
    if (png.passRowBytes[pass] == 0) continue;
    BeginPass(png, pass);
    const uint32_t pixels = PassWidth(png.header.width, pass);
    const uint32_t rows = PassHeight(png.header.height, pass);
    for (uint32_t r = 0; r < rows; ++r) {
      const uint8_t* raw = nullptr;
      int32_t result = NextPassRow(head, png, raw);
      if (result != kReaderOk) return result;
      uint32_t imageRow = kPassStartRow[pass] + r * kPassRowStep[pass];
      uint8_t* dibRow = even.data() + static_cast<size_t>(imageRow / 2) * png.dibRowBytes;
      PlacePixels(png, raw, pixels, Placement{dibRow, kPassStartColumn[pass], kPassColumnStep[pass]});
    }
  }
  BeginPass(png, kPasses - 1);
  png.evenRowsReady = 1;
  return kReaderOk;
}

// A whole row of the current pass (the image row or pass 7) into `out`.
int32_t DecodeFullRow(const ImageBlockHead& head, PngState& png, std::span<uint8_t> out) {
  const uint8_t* raw = nullptr;
  int32_t result = NextPassRow(head, png, raw);
  if (result != kReaderOk) return result;
  // Whole-byte pixels fill the row; sub-byte ones are OR-ed into a zeroed one.
  if (png.dibBitCount < 8) std::memset(out.data(), 0, png.dibRowBytes);
  PlacePixels(png, raw, png.header.width, Placement{out.data(), 0, 1});
  return kReaderOk;
}

int32_t DecodeInterlaced(const ImageBlockHead& head, PngState& png, uint32_t row, std::span<uint8_t> out) {
  if (png.evenRowsReady == 0) {
    if (row != 0) return kReaderCorrupt;
    int32_t result = AssembleEvenRows(head, png);
    if (result != kReaderOk) return result;
  }
  if (row % 2 == 1) {
    if (png.pass != static_cast<int32_t>(kPasses - 1) || png.passRowsDone != row / 2) return kReaderCorrupt;
    return DecodeFullRow(head, png, out);
  }
  Locked even(png.evenRows);
  if (even.data() == nullptr) return kReaderCorrupt;
  std::memcpy(out.data(), even.data() + static_cast<size_t>(row / 2) * png.dibRowBytes, png.dibRowBytes);
  return kReaderOk;
}

}  // namespace

// An interlaced image is read whole, in one call from its first row: the host
// then falls back to one call for the whole image.
int32_t BeginRows(reader::ImageBlockBase& image, uint32_t /*firstRow*/, uint32_t rows,
                  reader::RowOrder& order) {
  const PngState& png = reader::FormatBlock<PngImage>(image).png;
  order = reader::RowOrder::kTopDown;
  if (png.header.interlaceMethod == 1 && rows != png.header.height) {
    reader::StoreError(kStrInterlacedPart);
    return kReaderBadHandle;
  }
  return kReaderOk;
}

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& /*copies*/) {
  PngState& png = reader::FormatBlock<PngImage>(image).png;
  if (out.size() < png.dibRowBytes) return kReaderCorrupt;
  if (png.stream == 0) {
    if (row != 0) return kReaderCorrupt;
    int32_t result = StartDecoder(image.head, png);
    if (result != kReaderOk) return result;
  }
  if (png.header.interlaceMethod == 1) return DecodeInterlaced(image.head, png, row, out);
  if (png.passRowsDone != row) return kReaderCorrupt;
  return DecodeFullRow(image.head, png, out);
}

// Every repositioning restarts at row 0: the stream is released, and the next
// row decoded starts a new one at the first IDAT chunk.
int32_t Rewind(reader::ImageBlockBase& image, uint32_t /*wanted*/, uint32_t& reached) {
  PngState& png = reader::FormatBlock<PngImage>(image).png;
  ReleaseStream(png);
  png.evenRowsReady = 0;
  png.passRowsDone = 0;
  png.pass = 0;
  reached = 0;
  return kReaderOk;
}

void Release(reader::ImageBlockBase& image) {
  PngState& png = reader::FormatBlock<PngImage>(image).png;
  ReleaseStream(png);
  if (png.unfilter != 0) GlobalFree(png.unfilter);
  if (png.evenRows != 0) GlobalFree(png.evenRows);
  png.unfilter = 0;
  png.evenRows = 0;
  png.evenRowsReady = 0;
}

}  // namespace rdpng
