// The chunk walk at OVDLinit_image, the geometry, and the DIB description.
//
// The walk reads every chunk header from the one after the signature to IEND,
// keeping IHDR, PLTE, pHYs and where the IDAT data lie; CRCs are not checked
// and every other chunk (ancillary or unknown, before IHDR too) is passed over.
// Policies for what the format leaves open:
//   - a file that ends before IEND: 3 with id 2, even when every IDAT chunk is
//     present (a chunk header that cannot be read is a failed read);
//   - a chunk length above 2^31 − 1 (PNG's limit, and a negative offset to a
//     32-bit seek): 2 with id 7;
//   - no IHDR, an IHDR that is not 13 bytes long, a width or height of 0 or
//     above 2^31 − 1, a colour type and bit depth PNG does not pair: 2 with id 7.
//     A second IHDR is passed over (the first one describes the image);
//   - a compression, filter or interlace method PNG does not define: 9 with id 8;
//   - no IDAT chunk, or IDAT data too short to inflate into the first
//     delivered row (zlib cannot expand more than 1032 : 1): 3 with id 5, so a
//     tiny file cannot claim a huge picture and have buffers made for it;
//   - a row of more than 2^28 bytes: 9 with id 8;
//   - PLTE fills at most 256 entries (a longer chunk is cut, a shorter one
//     leaves the rest black); a palette image without PLTE is all black;
//   - a pHYs shorter than its 9 bytes is passed over; values above 2^31 − 1
//     cannot be pixels per metre and give 0.
#include <cstring>
#include <limits>

#include "png_format.h"

namespace rdpng {
namespace {

constexpr uint64_t kLargestLength = std::numeric_limits<int32_t>::max();
constexpr uint64_t kInflateRatio = 1032;        // zlib's largest expansion
constexpr uint64_t kInflateSlack = 4096;        // plus the bytes of one input fill
constexpr uint64_t kLargestRowBytes = 1u << 28;

uint32_t BigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

// What the walk gathers before the block exists.
struct Walk {
  PngState png{};
  bool haveHeader = false;
  int idatRun = 0;  // 0: no IDAT yet; 1: in the first run; 2: the run has ended
};

int32_t ReadHeader(const ImageBlockHead& file, uint32_t length, Walk& walk) {
  if (walk.haveHeader) return kReaderOk;
  uint8_t data[13];
  if (length != sizeof data) return Fail(kStrBadHeader, kReaderBadHeader);
  if (!reader::HostReadExact(file, data, sizeof data)) return Fail(kStrReadFailed, kReaderReadFailed);
  PngHeader& h = walk.png.header;
  h.width = BigEndian32(data);
  h.height = BigEndian32(data + 4);
  h.bitDepth = data[8];
  h.colourType = data[9];
  h.compressionMethod = data[10];
  h.filterMethod = data[11];
  h.interlaceMethod = data[12];
  uint32_t bits = BitsPerPixel(h.colourType, h.bitDepth);
  if (h.width == 0 || h.height == 0 || h.width > kLargestLength || h.height > kLargestLength ||
      bits == 0) {
    return Fail(kStrBadHeader, kReaderBadHeader);
  }
  if (h.compressionMethod != 0 || h.filterMethod != 0 || h.interlaceMethod > 1) {
    return Fail(kStrBadVersion, kReaderUnsupported);
  }
  uint64_t rowBytes = FilteredRowBytes(h.width, bits);
  uint64_t dibRowBytes = (static_cast<uint64_t>(h.width) * DibBitCount(h.colourType, h.bitDepth) + 7) / 8;
  if (rowBytes > kLargestRowBytes || dibRowBytes > kLargestRowBytes) {
    return Fail(kStrBadVersion, kReaderUnsupported);
  }
  PngState& png = walk.png;
  png.bitsPerPixel = static_cast<int32_t>(bits);
  png.filterUnit = static_cast<int32_t>(bits >= 8 ? bits / 8 : 1);
  png.rowBytes = static_cast<int32_t>(rowBytes);
  png.dibBitCount = DibBitCount(h.colourType, h.bitDepth);
  png.dibRowBytes = static_cast<uint32_t>(dibRowBytes);
  for (uint32_t k = 0; k < kPasses; ++k) {
    uint32_t pixels = h.interlaceMethod == 1 ? PassWidth(h.width, k) : (k == 0 ? h.width : 0);
    uint32_t rows = h.interlaceMethod == 1 ? PassHeight(h.height, k) : (k == 0 ? h.height : 0);
    png.passRowBytes[k] = pixels == 0 || rows == 0 ? 0 : static_cast<int32_t>(FilteredRowBytes(pixels, bits));
  }
  walk.haveHeader = true;
  return kReaderOk;
}

int32_t ReadPalette(const ImageBlockHead& file, uint32_t length, Walk& walk) {
  uint32_t bytes = length < kPaletteBytes ? length : kPaletteBytes;
  std::memset(walk.png.palette, 0, sizeof walk.png.palette);
  if (!reader::HostReadExact(file, walk.png.palette, bytes)) return Fail(kStrReadFailed, kReaderReadFailed);
  return kReaderOk;
}

int32_t ReadPhysical(const ImageBlockHead& file, uint32_t length, Walk& walk) {
  uint8_t data[9];
  if (length < sizeof data) return kReaderOk;
  if (!reader::HostReadExact(file, data, sizeof data)) return Fail(kStrReadFailed, kReaderReadFailed);
  PngState& png = walk.png;
  png.unit = data[8];
  png.xPixelsPerUnit = 0;
  png.yPixelsPerUnit = 0;
  uint32_t x = BigEndian32(data);
  uint32_t y = BigEndian32(data + 4);
  if (png.unit == 1 && x <= kLargestLength && y <= kLargestLength) {
    png.xPixelsPerUnit = x;
    png.yPixelsPerUnit = y;
  }
  return kReaderOk;
}

void NoteIdat(uint64_t chunk, uint32_t length, Walk& walk) {
  if (walk.idatRun == 0) {
    walk.png.firstIdat = static_cast<uint32_t>(chunk);
    walk.idatRun = 1;
  }
  if (walk.idatRun == 1) {
    uint64_t total = static_cast<uint64_t>(walk.png.idatBytes) + length;
    walk.png.idatBytes = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
  }
}

// Reads chunk headers from offset 8 up to IEND.
int32_t WalkChunks(const ImageBlockHead& file, Walk& walk) {
  uint64_t chunk = kSignatureBytes;
  for (;;) {
    uint8_t head[8];
    if (!reader::HostSeekImage(file, chunk) || !reader::HostReadExact(file, head, sizeof head)) {
      return Fail(kStrReadFailed, kReaderReadFailed);
    }
    uint32_t length = BigEndian32(head);
    if (length > kLargestLength) return Fail(kStrBadHeader, kReaderBadHeader);
    if (std::memcmp(head + 4, "IEND", 4) == 0) return kReaderOk;
    bool isIdat = std::memcmp(head + 4, "IDAT", 4) == 0;
    if (!isIdat && walk.idatRun == 1) walk.idatRun = 2;
    int32_t result = kReaderOk;
    if (std::memcmp(head + 4, "IHDR", 4) == 0) {
      result = ReadHeader(file, length, walk);
    } else if (std::memcmp(head + 4, "PLTE", 4) == 0) {
      result = ReadPalette(file, length, walk);
    } else if (std::memcmp(head + 4, "pHYs", 4) == 0) {
      result = ReadPhysical(file, length, walk);
    } else if (isIdat) {
      NoteIdat(chunk, length, walk);
    }
    if (result != kReaderOk) return result;
    chunk += 8 + static_cast<uint64_t>(length) + 4;  // header, data, CRC: always forward
  }
}

// Inflated bytes needed before the first delivered row can be built.
uint64_t BytesBeforeFirstRow(const PngState& png) {
  if (png.header.interlaceMethod == 0) return static_cast<uint64_t>(png.rowBytes);
  uint64_t bytes = 0;
  for (uint32_t k = 0; k < kPasses - 1; ++k) {
    bytes += static_cast<uint64_t>(png.passRowBytes[k]) * PassHeight(png.header.height, k);
  }
  return bytes;
}

int32_t CheckImageData(const Walk& walk) {
  if (!walk.haveHeader) return Fail(kStrBadHeader, kReaderBadHeader);
  if (walk.idatRun == 0) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
  const PngState& png = walk.png;
  uint64_t reachable = static_cast<uint64_t>(png.idatBytes) * kInflateRatio + kInflateSlack;
  if (BytesBeforeFirstRow(png) > reachable) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
  if (png.header.interlaceMethod == 1) {
    // The rows passes 1 to 6 assemble are held whole; their size is bounded
    // by the same reachable amount (a delivered row is at most four times
    // the bytes its pixels take in the passes, filter bytes included).
    uint64_t evenBytes = (static_cast<uint64_t>(png.header.height) + 1) / 2 * png.dibRowBytes;
    if (evenBytes > 4 * reachable) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
  }
  return kReaderOk;
}

}  // namespace

uint32_t BitsPerPixel(uint8_t colourType, uint8_t bitDepth) {
  auto depthIn = [bitDepth](std::initializer_list<uint8_t> depths) {
    for (uint8_t d : depths) {
      if (d == bitDepth) return true;
    }
    return false;
  };
  switch (colourType) {
    case kGrey: return depthIn({1, 2, 4, 8, 16}) ? bitDepth : 0;
    case kRgb: return depthIn({8, 16}) ? 3u * bitDepth : 0;
    case kPalette: return depthIn({1, 2, 4, 8}) ? bitDepth : 0;
    case kGreyAlpha: return depthIn({8, 16}) ? 2u * bitDepth : 0;
    case kRgbAlpha: return depthIn({8, 16}) ? 4u * bitDepth : 0;
    default: return 0;
  }
}

uint32_t DibBitCount(uint8_t colourType, uint8_t bitDepth) {
  if (colourType == kRgb || colourType == kRgbAlpha) return 24;
  if (colourType == kGreyAlpha || bitDepth >= 8) return 8;
  return bitDepth == 1 ? 1 : 4;
}

uint32_t PassWidth(uint32_t width, uint32_t pass) {
  uint32_t start = kPassStartColumn[pass];
  uint32_t step = kPassColumnStep[pass];
  return width <= start ? 0 : static_cast<uint32_t>((static_cast<uint64_t>(width) - start + step - 1) / step);
}

uint32_t PassHeight(uint32_t height, uint32_t pass) {
  uint32_t start = kPassStartRow[pass];
  uint32_t step = kPassRowStep[pass];
  return height <= start ? 0 : static_cast<uint32_t>((static_cast<uint64_t>(height) - start + step - 1) / step);
}

uint64_t FilteredRowBytes(uint64_t pixels, uint32_t bitsPerPixel) {
  return (pixels * bitsPerPixel + 7) / 8 + 1;
}

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes) {
  return std::memcmp(firstBytes.data(), kSignature, sizeof kSignature) == 0 ? kReaderOk
                                                                             : kReaderNotRecognised;
}

// Walks the chunks (the signature itself is not looked at again), then
// allocates the block. On success the decoder stands at row 0: the inflate
// stream is started by the first row decoded.
int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  Walk walk;
  int32_t result = WalkChunks(file, walk);
  if (result == kReaderOk) result = CheckImageData(walk);
  if (result != kReaderOk) return result;
  reader::ImageBlockBase* base = ctx.allocate(sizeof(PngImage));
  if (base == nullptr) return Fail(kStrNoMemory, kReaderNoMemory);
  reader::FormatBlock<PngImage>(*base).png = walk.png;
  return kReaderOk;
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const PngState& png = reader::FormatBlock<PngImage>(image).png;
  out.width = png.header.width;
  out.height = png.header.height;
  out.dibBitCount = png.dibBitCount;
  out.decodedBits = png.dibBitCount;  // rows are converted while they are decoded
  out.decodedRowBytes = png.dibRowBytes;
  out.paletteEntries = png.dibBitCount <= 8 ? 1u << png.dibBitCount : 0;
  out.colorsUsed = out.paletteEntries;
  out.xPelsPerMeter = static_cast<int32_t>(png.xPixelsPerUnit);
  out.yPelsPerMeter = static_cast<int32_t>(png.yPixelsPerUnit);
  out.writePageCount = true;  // the page-count word says 1
  return kReaderOk;
}

// Palette images: PLTE as blue, green, red. Grey images: a ramp over the
// levels the depth has, so 1, 2 and 4-bit grey show as grey, not near black.
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette) {
  const PngState& png = reader::FormatBlock<PngImage>(image).png;
  if (png.header.colourType == kPalette) {
    for (size_t i = 0; i < palette.size() && i < 256; ++i) {
      const uint8_t* rgb = png.palette + 3 * i;
      palette[i] = RGBQUAD{rgb[2], rgb[1], rgb[0], 0};
    }
    return kReaderOk;
  }
  uint32_t levels = png.header.bitDepth < 8 ? 1u << png.header.bitDepth : 256;
  for (uint32_t i = 0; i < levels && i < palette.size(); ++i) {
    auto grey = static_cast<uint8_t>(i * 255 / (levels - 1));
    palette[i] = RGBQUAD{grey, grey, grey, 0};
  }
  return kReaderOk;
}

}  // namespace rdpng
