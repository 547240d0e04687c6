// The host's own BMP input: uncompressed 1, 4, 8 and 24-bit files, and 16
// and 32-bit ones (BI_RGB or BI_BITFIELDS, delivered as 24-bit rows), with
// the 40-byte info header or the longer ones later programs write (52, 56,
// 108 and 124 bytes: their masks are read, colour spaces and profiles
// ignored), either row order. Blocks are read where they lie in the file
// (any order), so nothing but the caller's block and one file row is ever held.
#include <algorithm>
#include <cstring>

#include "bmp_bitfields.h"
#include "posix_files.h"
#include "sources.h"

namespace imagehost {

namespace {

constexpr uint16_t kBmpMagic = 0x4D42;  // "BM"
constexpr uint64_t kHeadersSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;  // the masks of BI_BITFIELDS and one for alpha

bool KnownHeaderSize(uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

class BmpSource final : public RowSource {
 public:
  BmpSource(const std::string& path, uint32_t file, const ProgressSink& sink)
      : path_(path), file_(file), sink_(sink) {}
  ~BmpSource() override { files::CloseIfOpen(file_); }

  Status open();
  const std::string& name() const override { return name_; }
  const DibImage& image() const override { return dib_; }
  uint32_t pages() const override { return 1; }
  Status selectPage(uint32_t page) override;
  bool randomAccess() const override { return true; }
  Status readRows(uint32_t top, uint32_t count, std::span<uint8_t> rows) override;

 private:
  Status bad(const std::string& why) const { return Status::failure(path_ + ": " + why); }
  Status readPalette(const BITMAPINFOHEADER& header, std::vector<RGBQUAD>& palette) const;
  // 16 and 32 bits: the pixel format, and the header of the 24-bit rows made of them.
  Status readPixelFormat(BITMAPINFOHEADER& header);
  Status readConverted(uint32_t top, uint32_t count, std::span<uint8_t> rows);

  const std::string path_;
  const std::string name_ = "native-bmp";
  const uint32_t file_;
  const ProgressSink sink_;
  DibImage dib_;
  bool topDown_ = false;  // negative biHeight: the first row in the file is the top
  uint64_t pixelOffset_ = 0;
  uint64_t rowsDone_ = 0;
  uint64_t infoEnd_ = kHeadersSize;  // where the colour table starts
  uint64_t fileStride_ = 0;          // bytes of one row in the file
  BitfieldFormat pixels_;            // bits 0: rows are read as they lie
  std::vector<uint8_t> fileRow_;
};

Status BmpSource::open() {
  uint8_t head[kHeadersSize];
  if (files::ReadAt(file_, head, sizeof head, 0) != static_cast<int64_t>(sizeof head))
    return bad("truncated BMP header");
  BITMAPFILEHEADER fileHeader;
  BITMAPINFOHEADER header;
  std::memcpy(&fileHeader, head, sizeof fileHeader);
  std::memcpy(&header, head + sizeof fileHeader, sizeof header);
  if (fileHeader.bfType != kBmpMagic) return bad("not a BMP file");
  if (!KnownHeaderSize(header.biSize))
    return bad("unsupported BMP: an info header of " + std::to_string(header.biSize) +
               " bytes (40, 52, 56, 108 and 124 are read)");
  if (header.biPlanes != 1)
    return bad("unsupported BMP: " + std::to_string(header.biPlanes) + " planes");
  if (header.biHeight == INT32_MIN) return bad("invalid BMP height");
  topDown_ = header.biHeight < 0;
  header.biHeight = topDown_ ? -header.biHeight : header.biHeight;
  infoEnd_ = sizeof(BITMAPFILEHEADER) + uint64_t{header.biSize};
  const uint32_t fileBits = header.biBitCount;
  if (Status format = readPixelFormat(header); !format) return format;
  header.biSize = sizeof(BITMAPINFOHEADER);  // the rows as writers take them

  std::vector<RGBQUAD> palette;
  if (Status read = readPalette(header, palette); !read) return read;
  if (Status made = DibImage::make(header, palette, dib_); !made)
    return bad("unsupported BMP: " + made.message());

  fileStride_ = pixels_.bits != 0 ? DibRowBytes(dib_.width(), fileBits) : dib_.stride();
  fileRow_.resize(pixels_.bits != 0 ? fileStride_ : 0);
  const uint64_t tableEnd = infoEnd_ + uint64_t{dib_.colors()} * sizeof(RGBQUAD);
  pixelOffset_ = fileHeader.bfOffBits;
  if (pixelOffset_ < tableEnd) return bad("invalid BMP: pixel data overlap the headers");
  const int64_t fileSize = files::FileSize(file_);
  const uint64_t needed = pixelOffset_ + fileStride_ * dib_.height();
  if (fileSize < 0 || static_cast<uint64_t>(fileSize) < needed)
    return bad("truncated BMP: pixel data end at byte " + std::to_string(needed) +
               ", the file has " + std::to_string(fileSize));
  return {};
}

// Reads the colour table entries the header claims (before DibImage checks the count).
Status BmpSource::readPalette(const BITMAPINFOHEADER& header, std::vector<RGBQUAD>& palette) const {
  const uint32_t full = FullPaletteEntries(header.biBitCount);
  if (full == 0 || header.biBitCount > 8) return {};
  const uint32_t entries = header.biClrUsed != 0 ? std::min(header.biClrUsed, full) : full;
  palette.resize(entries);
  const int64_t bytes = int64_t{entries} * static_cast<int64_t>(sizeof(RGBQUAD));
  if (files::ReadAt(file_, palette.data(), static_cast<uint64_t>(bytes), infoEnd_) != bytes)
    return bad("truncated BMP colour table");
  return {};
}

// Checks the compression against the bit count; for 16 and 32 bits takes the
// pixel format (the masks follow the 40 bytes of the info header, inside the
// longer headers or after the 40-byte one) and describes 24-bit rows instead.
Status BmpSource::readPixelFormat(BITMAPINFOHEADER& header) {
  const uint32_t bits = header.biBitCount;
  const bool wide = bits == 16 || bits == 32;
  const bool masked =
      header.biCompression == kBiBitfields || header.biCompression == kBiAlphaBitfields;
  if (header.biCompression != kBiRgb && !(masked && wide))
    return bad("unsupported BMP: compression " + std::to_string(header.biCompression) + " with " +
               std::to_string(bits) + " bits per pixel (only uncompressed files are read)");
  if (!wide) return {};
  pixels_ = BitfieldFormat::Default(bits);
  if (masked) {
    uint32_t masks[3];
    const int64_t got = files::ReadAt(file_, masks, sizeof masks, kHeadersSize);
    if (got != static_cast<int64_t>(sizeof masks))
      return bad("truncated BMP colour masks");
    if (std::string problem = BitfieldFormat::FromMasks(bits, masks, pixels_); !problem.empty())
      return bad("invalid BMP: " + problem);
    // After a 40-byte header the masks stand between the header and the pixels.
    if (header.biSize == sizeof(BITMAPINFOHEADER))
      infoEnd_ += header.biCompression == kBiAlphaBitfields ? 16 : 12;
  }
  header.biBitCount = 24;
  header.biCompression = kBiRgb;
  header.biClrUsed = 0;
  header.biClrImportant = 0;
  return {};
}

Status BmpSource::selectPage(uint32_t page) {
  if (page != 0)
    return bad("a BMP file has one page; page " + std::to_string(page) + " does not exist");
  rowsDone_ = 0;
  return {};
}

Status BmpSource::readRows(uint32_t top, uint32_t count, std::span<uint8_t> rows) {
  const uint64_t stride = dib_.stride();
  const uint64_t height = dib_.height();
  const uint64_t bytes = stride * count;
  if (count == 0 || uint64_t{top} + count > height || rows.size() < bytes)
    return Status::failure("rows " + std::to_string(top) + "+" + std::to_string(count) +
                           " do not fit the image or the buffer");
  if (pixels_.bits != 0) return readConverted(top, count, rows);
  // Bottom-up file: the block's rows lie in the file exactly as a DIB block
  // holds them. Top-down file: read them and reverse their order.
  const uint64_t firstFileRow = topDown_ ? top : height - top - count;
  if (files::ReadAt(file_, rows.data(), bytes, pixelOffset_ + firstFileRow * stride) !=
      static_cast<int64_t>(bytes))
    return bad("reading the BMP pixel data failed");
  if (topDown_) {
    for (uint64_t low = 0, high = count - 1; low < high; ++low, --high)
      std::swap_ranges(rows.begin() + static_cast<ptrdiff_t>(low * stride),
                       rows.begin() + static_cast<ptrdiff_t>((low + 1) * stride),
                       rows.begin() + static_cast<ptrdiff_t>(high * stride));
  }
  rowsDone_ = std::min(rowsDone_ + count, height);
  sink_(ProgressPhase::kRead, static_cast<uint32_t>(rowsDone_ * 100 / height));
  return {};
}

// 16 and 32-bit rows, one file row at a time, each converted into its place
// in the block (its top row last).
Status BmpSource::readConverted(uint32_t top, uint32_t count, std::span<uint8_t> rows) {
  const uint64_t stride = dib_.stride();
  const uint64_t height = dib_.height();
  for (uint32_t j = 0; j < count; ++j) {
    const uint64_t imageRow = uint64_t{top} + j;
    const uint64_t fileRow = topDown_ ? imageRow : height - 1 - imageRow;
    if (files::ReadAt(file_, fileRow_.data(), fileStride_, pixelOffset_ + fileRow * fileStride_) !=
        static_cast<int64_t>(fileStride_))
      return bad("reading the BMP pixel data failed");
    uint8_t* out = rows.data() + (count - 1 - j) * stride;
    std::fill(out, out + stride, uint8_t{0});
    pixels_.convertRow(fileRow_.data(), dib_.width(), out);
  }
  rowsDone_ = std::min(rowsDone_ + count, height);
  sink_(ProgressPhase::kRead, static_cast<uint32_t>(rowsDone_ * 100 / height));
  return {};
}

}  // namespace

Status OpenBmpSource(const std::string& path, uint32_t file, const ProgressSink& progress,
                     std::unique_ptr<RowSource>& out) {
  auto source = std::make_unique<BmpSource>(path, file, progress);
  if (Status opened = source->open(); !opened) return opened;
  out = std::move(source);
  return {};
}

}  // namespace imagehost
