// The Targa header, the version 2.0 footer with its scan-line table, and the
// DIB description.
//
// Policies where the format leaves a choice:
//   - image types 1-3 are uncompressed, 4-11 run-length encoded (9-11 in
//     practice); 0 and above 11 are refused (result 3, id 8);
//   - pixel depths the rows can be converted from: 8, 15, 16, 24 and 32, and 1
//     for uncompressed images; any other depth is refused the same way (its
//     rows would be raw bytes of no defined meaning);
//   - a footer, extension area or scan-line table that is damaged, short or
//     points outside the image is ignored: rows are then found by decoding;
//   - 16-bit grey images (types 3 and 11) hold a grey byte and an alpha byte
//     per pixel: they give an 8-bit grey DIB from the grey byte;
//   - every DIB of 8 bits or fewer gets a colour table: colour-mapped images
//     (map present, type 1 or 9) from the file's map, all others a grey ramp
//     (an 8-bit DIB without its table would be read past by the host).
#include <algorithm>
#include <cstring>

#include "tga_format.h"

namespace rdtga {
namespace {

uint16_t Word(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Dword(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

bool SupportedDepth(const TgaHeader& h) {
  switch (h.pixelDepth) {
    case 1:
      return !RunLengthEncoded(h);
    case 8:
    case 15:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

uint64_t MapBytes(const TgaHeader& h) {
  return static_cast<uint64_t>(h.mapLength) * ((h.mapEntryBits + 7u) / 8u);
}

// The absolute end of the image: the end of the file for a plain file, else
// offset + length. −1 when it cannot be known.
int64_t ImageEnd(const reader::InitContext& ctx, const ImageBlockHead& file) {
  if (ctx.imageOffset != 0) return static_cast<int64_t>(ctx.imageOffset) + ctx.imageLength;
  if (file.files->seek == nullptr) return -1;
  return file.files->seek(file.file, 0, 2);
}

// Reads the footer and the extension area; the scan-line table's offset
// (relative to the image offset) or 0 when none is announced.
uint32_t AnnouncedScanTable(const ImageBlockHead& file, int64_t imageEnd) {
  if (imageEnd < static_cast<int64_t>(file.imageOffset) + kFooterBytes) return 0;
  uint8_t footer[kFooterReadBytes];
  if (!reader::HostSeekAbsolute(file, static_cast<uint64_t>(imageEnd - kFooterBytes)) ||
      !reader::HostReadExact(file, footer, sizeof footer) ||
      std::memcmp(footer + 8, "TRUEVISION-XFILE", 16) != 0) {
    return 0;
  }
  uint32_t extension = Dword(footer);
  if (extension == 0) return 0;
  uint8_t area[kExtensionBytes];
  if (!reader::HostSeekImage(file, extension) || !reader::HostReadExact(file, area, sizeof area)) {
    return 0;
  }
  return Dword(area + kScanTableOffsetAt);
}

// Fills the row-offset table from the file's scan-line table; false when the
// table is short or an entry lies outside the pixel data.
bool ReadScanTable(const ImageBlockHead& file, uint32_t tableOffset, uint32_t* rows, uint32_t height,
                   uint32_t pixelStart, int64_t imageEnd) {
  if (!reader::HostSeekImage(file, tableOffset) ||
      !reader::HostReadExact(file, rows, height * 4u)) {
    return false;
  }
  int64_t limit = imageEnd - static_cast<int64_t>(file.imageOffset);
  for (uint32_t s = 0; s < height; ++s) {
    auto* bytes = reinterpret_cast<const uint8_t*>(&rows[s]);
    rows[s] = Dword(bytes);
    if (rows[s] < pixelStart || (limit >= 0 && rows[s] >= limit)) return false;
  }
  return true;
}

// A grey ramp over the palette (black to white).
void GreyRamp(std::span<RGBQUAD> palette) {
  const size_t n = palette.size();
  for (size_t i = 0; i < n; ++i) {
    auto level = static_cast<uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
    palette[i] = RGBQUAD{level, level, level, 0};
  }
}

// One colour-map entry of `bytes` bytes into a palette entry.
RGBQUAD MapEntry(const uint8_t* entry, uint32_t bytes) {
  uint8_t bgr[3] = {0, 0, 0};
  if (bytes == 2) {
    Expand555(Word(entry), bgr);
  } else if (bytes >= 3) {
    std::memcpy(bgr, entry, 3);
  }
  return RGBQUAD{bgr[0], bgr[1], bgr[2], 0};
}

}  // namespace

TgaHeader ParseHeader(std::span<const uint8_t, kHeaderBytes> b) {
  const uint8_t* p = b.data();
  return TgaHeader{p[0],          p[1],          p[2],          Word(p + 3),  Word(p + 5), p[7],
                   Word(p + 8),   Word(p + 10),  Word(p + 12),  Word(p + 14), p[16],       p[17]};
}

// Plausibility of the first 8 bytes (the format has no signature): 2 for a
// plausible header, 0 otherwise.
int32_t Recognise(std::span<const uint8_t, kVerifyBytes> first) {
  const uint8_t mapType = first[1];
  const uint8_t type = first[2];
  const auto firstIndex = static_cast<int16_t>(Word(&first[3]));
  const auto length = static_cast<int16_t>(Word(&first[5]));
  const uint8_t entryBits = first[7];
  const bool knownType = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
  if (!knownType) return kReaderNotRecognised;
  if (mapType == 0) {
    return firstIndex == 0 && length == 0 && entryBits == 0 ? kReaderBadHeader : kReaderNotRecognised;
  }
  if (mapType == 1) {
    return firstIndex <= length && entryBits <= 32 ? kReaderBadHeader : kReaderNotRecognised;
  }
  return kReaderNotRecognised;
}

// Reads footer and header; on success the block holds the header, the
// stored row length and (when the file has a usable one) the scan-line table.
int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  const int64_t imageEnd = ImageEnd(ctx, file);
  const uint32_t tableOffset = AnnouncedScanTable(file, imageEnd);

  uint8_t bytes[kHeaderBytes];
  if (!reader::HostSeekImage(file, 0) || !reader::HostReadExact(file, bytes, sizeof bytes)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  const TgaHeader h = ParseHeader(bytes);
  if (h.imageType == 0 || h.imageType > 11 || !SupportedDepth(h)) {
    return Fail(kStrBadVersion, kReaderReadFailed);
  }
  // Every block has room for a row offset per stored row: the file's table,
  // or the offsets found while decoding run-length rows.
  const uint32_t height = h.height;
  reader::ImageBlockBase* base = ctx.allocate(BlockBytes(height, RunLengthEncoded(h)));
  if (base == nullptr) return Fail(kStrNoMemory, kReaderNoMemory);
  TgaState& tga = StateOf(*base);
  std::memcpy(tga.header, bytes, sizeof bytes);
  tga.storedRowBytes = static_cast<uint32_t>((static_cast<uint64_t>(h.width) * h.pixelDepth + 7) / 8);
  tga.pixelStart = static_cast<uint32_t>(kHeaderBytes + h.idLength + MapBytes(h));
  tga.nextStored = kNoRow;
  uint32_t* rows = RowOffsets(*base);
  if (tableOffset != 0 && height > 0 &&
      ReadScanTable(file, tableOffset, rows, height, tga.pixelStart, imageEnd)) {
    tga.scanTablePresent = 1;
    tga.knownRows = height;
  } else {
    tga.scanTablePresent = 0;
    tga.knownRows = 1;
    if (height > 0) rows[0] = tga.pixelStart;  // its carry is 0 (zeroed block)
  }
  return kReaderOk;
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const TgaHeader h = HeaderOf(image);
  out.width = h.width;
  out.height = h.height;
  out.dibBitCount = DibBits(h);
  out.decodedBits = out.dibBitCount;
  out.decodedRowBytes = static_cast<uint32_t>((static_cast<uint64_t>(h.width) * out.dibBitCount + 7) / 8);
  out.paletteEntries = out.dibBitCount == 1 ? 2 : (out.dibBitCount == 8 ? 256 : 0);
  out.colorsUsed = 0;
  out.xPelsPerMeter = 11811;  // 300 dots per inch
  out.yPelsPerMeter = 11811;
  return kReaderOk;
}

// Colour-mapped images: entry first-index + i from map entry i; entries the
// map does not cover stay black, entries beyond the palette are not written.
// Everything else: a grey ramp.
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette) {
  const TgaHeader h = HeaderOf(image);
  if (h.colourMapType == 0 || (h.imageType != 1 && h.imageType != 9)) {
    GreyRamp(palette);
    return kReaderOk;
  }
  const uint32_t entryBytes = (h.mapEntryBits + 7u) / 8u;
  if (entryBytes == 0 || h.firstIndex >= palette.size()) return kReaderOk;
  const uint32_t used = std::min<uint32_t>(h.mapLength, static_cast<uint32_t>(palette.size()) - h.firstIndex);
  if (!reader::HostSeekImage(image.head, kHeaderBytes + h.idLength)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  uint8_t entry[32];  // entries of up to 255 bits
  for (uint32_t i = 0; i < used; ++i) {
    if (!reader::HostReadExact(image.head, entry, entryBytes)) break;  // the rest stays black
    palette[h.firstIndex + i] = MapEntry(entry, entryBytes);
  }
  StateOf(image).nextStored = kNoRow;  // the file moved
  StateOf(image).input = TgaInput{};
  return kReaderOk;
}

}  // namespace rdtga
