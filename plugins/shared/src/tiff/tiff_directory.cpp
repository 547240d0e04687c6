// The TIFF header, the directory chain and the directory parse.
//
// Policies for what the format leaves open:
//   - a directory chain that links back to a directory already seen ends
//     there: each directory counts once, so a looping chain is read as the
//     pages before the loop closes;
//   - a directory whose entry count cannot be read (a link past the end of
//     the file) ends the chain before it; a host read error is a read failure;
//   - an entry with a count of 0 holds no value and is ignored;
//   - RowsPerStrip 0 means all rows in one strip (as when it is missing);
//   - ImageWidth and ImageLength take all 32 bits; a width of 0, or rows of
//     more than kMaxRowBytes bytes, are refused as invalid header information
//     (id 7, result 2);
//   - three BitsPerSample values that cannot be read are a read failure (id 2,
//     result 3); any count other than 1 or 3 is refused with id 10;
//   - a ColorMap is kept only when it holds 3 × 2^BitsPerSample values and
//     BitsPerSample is at most 8; otherwise the page has no colour map;
//   - arrays hold at most kMaxArrayValues values (more: the array is not
//     readable, id 3, result 6, as any unreadable array);
//   - rows are read from strips only: a directory without StripOffsets, or one
//     that lays its image out in tiles (any of TileWidth, TileLength,
//     TileOffsets, TileByteCounts), is refused as invalid header information
//     (id 7, result 2) instead of reading "strip 0" from wherever it points;
//   - (TIFF, not the fax container) samples must be unsigned integers:
//     SampleFormat 1 or absent; any value other than 1, for any sample, is
//     refused as an unsupported bit depth (id 10, result 9). Values that
//     cannot be read are a read failure (id 2, result 3).
#include <algorithm>
#include <vector>

#include "plugin/reader_frame.h"
#include "tiff_values.h"

namespace tiff {
namespace {

using detail::ArrayRead;
using detail::Entry;

constexpr uint32_t kMaxWidth = 1u << 20;
constexpr uint64_t kMaxRowBytes = 1u << 24;
constexpr uint32_t kMaxArrayValues = 1u << 20;
constexpr uint32_t kMaxEntries = 0xFFFF;
constexpr uint32_t kMaxSampleFormats = 0xFFFF;  // SamplesPerPixel is a SHORT

constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagTileWidth = 322;
constexpr uint16_t kTagTileByteCounts = 325;
constexpr uint16_t kTagSampleFormat = 339;
constexpr uint32_t kSampleFormatUnsigned = 1;

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

TiffInfo Defaults(uint16_t mark) {
  TiffInfo info{};
  info.byteOrder = mark;
  info.subfileType = 1;
  info.imageWidth = 100;
  info.imageLength = 100;
  info.bitsPerSample = 1;
  info.compression = kCompressionNone;
  info.stripCount = 1;
  info.rowsPerStrip = kAllRowsInOneStrip;
  info.maxSampleValue = 1;
  info.threshholding = 1;
  info.fillOrder = 1;
  info.xResolutionNumerator = 300;
  info.xResolutionDenominator = 1;
  info.yResolutionNumerator = 300;
  info.yResolutionDenominator = 1;
  info.reserved108 = 2;
  info.reserved112 = 1;
  info.samplesPerPixel = 1;
  info.planarConfiguration = 1;
  info.reserved128 = 2;
  info.bytesPerRow = 1;
  info.resolutionUnit = 2;
  info.predictor = 1;
  return info;
}

void FreeHandle(HGLOBAL& handle) {
  if (handle != 0) GlobalFree(handle);
  handle = 0;
}

// The directory's entry count and its link to the next one.
struct Link {
  bool present = false;  // the entry count could be read
  uint32_t next = 0;
};

int32_t ReadLink(const ImageBlockHead& file, const TiffHeader& header, uint32_t ifd, Link& link) {
  link = Link{};
  uint8_t countBytes[2];
  int64_t got = detail::ReadAt(file, ifd, countBytes, 2);
  if (got < 0) return Fail(kIdReadFailed, kReaderReadFailed);
  if (got < 2) return kReaderOk;
  link.present = true;
  uint64_t linkAt = static_cast<uint64_t>(ifd) + 2 + 12ull * detail::Get16(countBytes, header.bigEndian);
  uint8_t linkBytes[4];
  got = detail::ReadAt(file, linkAt, linkBytes, 4);
  if (got < 0) return Fail(kIdReadFailed, kReaderReadFailed);
  if (got == 4) link.next = detail::Get32(linkBytes, header.bigEndian);
  return kReaderOk;
}

// Reads one rational at the entry's value offset; a zero denominator becomes 1.
int32_t ReadRational(const ImageBlockHead& file, const TiffHeader& header, const Entry& entry,
                     uint32_t& numerator, uint32_t& denominator) {
  uint8_t bytes[8];
  if (detail::ReadAt(file, detail::Get32(entry.field, header.bigEndian), bytes, 8) != 8) {
    return Fail(kIdNoMemory, kReaderNoMemory);
  }
  numerator = detail::Get32(bytes, header.bigEndian);
  denominator = detail::Get32(bytes + 4, header.bigEndian);
  if (denominator == 0) denominator = 1;
  return kReaderOk;
}

// Reads an array-valued entry into `target` (freeing what it held); a read
// failure or an oversized count is id 3, result 6.
int32_t ReadArrayInto(const ImageBlockHead& file, const TiffHeader& header, const ParseRules& rules,
                      const Entry& entry, HGLOBAL& target) {
  FreeHandle(target);
  if (entry.count > kMaxArrayValues) return Fail(kIdNoMemory, kReaderNoMemory);
  ArrayRead read = detail::ReadArray(file, entry, entry.count, header.bigEndian,
                                     rules.faxDirectory, target);
  return read == ArrayRead::kOk ? kReaderOk : Fail(kIdNoMemory, kReaderNoMemory);
}

int32_t ApplyBitsPerSample(const ImageBlockHead& file, const TiffHeader& header, const Entry& entry,
                           TiffInfo& info) {
  if (entry.count == 1) {
    info.bitsPerSample = detail::FirstValue(entry, header.bigEndian);
    return kReaderOk;
  }
  if (entry.count != 3) return Fail(kIdBitsPerSample, kReaderUnsupported);
  HGLOBAL values = 0;
  ArrayRead read = detail::ReadArray(file, entry, 3, header.bigEndian, false, values);
  if (read == ArrayRead::kNoMemory) return Fail(kIdNoMemory, kReaderNoMemory);
  if (read != ArrayRead::kOk) return Fail(kIdReadFailed, kReaderReadFailed);
  uint32_t first = ArrayValue(values, 0);
  bool equal = ArrayValue(values, 1) == first && ArrayValue(values, 2) == first;
  GlobalFree(values);
  if (!equal) return Fail(kIdBitsPerSample, kReaderUnsupported);
  info.bitsPerSample = first;
  return kReaderOk;
}

// SampleFormat: one value per sample; every one must be 1 (unsigned integer).
int32_t CheckSampleFormat(const ImageBlockHead& file, const TiffHeader& header, const Entry& entry) {
  const uint32_t count = std::min(entry.count, kMaxSampleFormats);
  HGLOBAL values = 0;
  ArrayRead read = detail::ReadArray(file, entry, count, header.bigEndian, false, values);
  if (read == ArrayRead::kNoMemory) return Fail(kIdNoMemory, kReaderNoMemory);
  if (read != ArrayRead::kOk) return Fail(kIdReadFailed, kReaderReadFailed);
  bool unsignedSamples = true;
  for (uint32_t i = 0; i < count && unsignedSamples; ++i) {
    unsignedSamples = ArrayValue(values, i) == kSampleFormatUnsigned;
  }
  GlobalFree(values);
  return unsignedSamples ? kReaderOk : Fail(kIdBitsPerSample, kReaderUnsupported);
}

bool CompressionAccepted(uint32_t compression, const ParseRules& rules) {
  switch (compression) {
    case kCompressionNone: case kCompressionModifiedHuffman: case kCompressionGroup3:
    case kCompressionGroup4: case kCompressionPackBits:
      return true;
    case kCompressionLzw:
      return rules.faxDirectory;
    default:
      return false;
  }
}

void ApplyRowsPerStrip(uint32_t value, const ParseRules& rules, TiffInfo& info) {
  if (value == 0) value = kAllRowsInOneStrip;
  value = std::min(value, info.imageLength);
  info.rowsPerStrip = value;
  // A single-strip file whose strip is shorter than the image holds only that strip.
  if (!rules.faxDirectory && info.stripOffsets == 0 && value < info.imageLength) {
    info.imageLength = value;
  }
}

int32_t ApplyColorMap(const ImageBlockHead& file, const TiffHeader& header, const ParseRules& rules,
                      const Entry& entry, TiffInfo& info) {
  FreeHandle(info.colorMap);
  if (info.bitsPerSample == 0 || info.bitsPerSample > 8) return kReaderOk;
  uint32_t needed = 3u << info.bitsPerSample;
  if (entry.count < needed) return kReaderOk;
  HGLOBAL map = 0;
  if (detail::ReadArray(file, entry, needed, header.bigEndian, rules.faxDirectory, map) ==
      ArrayRead::kOk) {
    info.colorMap = map;
  }
  return kReaderOk;
}

// Applies one entry; returns the failure of the first refused value.
int32_t ApplyEntry(const ImageBlockHead& file, const TiffHeader& header, const ParseRules& rules,
                   const Entry& entry, TiffInfo& info) {
  if (entry.count == 0) return kReaderOk;
  const uint32_t value = detail::FirstValue(entry, header.bigEndian);
  switch (entry.tag) {
    case 255: info.subfileType = value; break;
    case 256: info.imageWidth = value; break;
    case 257: info.imageLength = value; break;
    case 258: return ApplyBitsPerSample(file, header, entry, info);
    case 259:
      if (!CompressionAccepted(value, rules)) return Fail(kIdCompression, kReaderUnsupported);
      info.compression = value;
      break;
    case 262:
      if (value > 3) return Fail(kIdPhotometric, kReaderUnsupported);
      info.photometric = value;
      break;
    case 263: info.threshholding = static_cast<uint16_t>(value); break;
    case 266: info.fillOrder = value; break;
    case 273:
      FreeHandle(info.stripOffsets);
      if (entry.count == 1) {
        info.stripOffset = value;
        break;
      }
      return ReadArrayInto(file, header, rules, entry, info.stripOffsets);
    case 277: info.samplesPerPixel = value; break;
    case 278: ApplyRowsPerStrip(value, rules, info); break;
    case 279:
      if (!rules.faxDirectory) break;
      FreeHandle(info.stripByteCounts);
      if (entry.count == 1) {
        info.stripByteCount = value;
        break;
      }
      return ReadArrayInto(file, header, rules, entry, info.stripByteCounts);
    case 280: info.minSampleValue = value; break;
    case 281: info.maxSampleValue = value; break;
    case 282:
      return ReadRational(file, header, entry, info.xResolutionNumerator, info.xResolutionDenominator);
    case 283:
      return ReadRational(file, header, entry, info.yResolutionNumerator, info.yResolutionDenominator);
    case 284:
      if (info.bitsPerSample > 1) {
        if (value != 1 && value != 2) return Fail(kIdPhotometric, kReaderUnsupported);
        info.planarConfiguration = value;
      }
      break;
    case 292:
      if (!rules.faxDirectory && (value & 1) != 0) return Fail(kIdCompression, kReaderUnsupported);
      info.t4Options = value;
      break;
    case 293: info.t6Options = value; break;
    case 296: info.resolutionUnit = value; break;
    case 317:
      if (value != 1 && value != 2) return Fail(kIdPredictor, kReaderUnsupported);
      info.predictor = value;
      break;
    case 320: return ApplyColorMap(file, header, rules, entry, info);
    case kTagSampleFormat:
      if (!rules.faxDirectory) return CheckSampleFormat(file, header, entry);
      break;
    default: break;
  }
  return kReaderOk;
}

// How a directory lays out its image data, as far as its tags tell.
struct DataLayout {
  bool strips = false;  // StripOffsets with at least one value
  bool tiles = false;   // any tile tag
  void note(const Entry& entry) {
    if (entry.tag == kTagStripOffsets && entry.count > 0) strips = true;
    if (entry.tag >= kTagTileWidth && entry.tag <= kTagTileByteCounts) tiles = true;
  }
  int32_t check() const {
    return strips && !tiles ? kReaderOk : Fail(kIdBadHeader, kReaderBadHeader);
  }
};

// The derived fields, and the geometry checks every reader needs.
int32_t Finish(TiffInfo& info) {
  if (info.imageWidth == 0 || info.imageWidth > kMaxWidth) return Fail(kIdBadHeader, kReaderBadHeader);
  uint64_t bits = static_cast<uint64_t>(info.samplesPerPixel) * info.imageWidth * info.bitsPerSample;
  uint64_t rowBytes = (bits + 7) / 8;
  if (rowBytes == 0 || rowBytes > kMaxRowBytes) return Fail(kIdBadHeader, kReaderBadHeader);
  info.bytesPerRow = static_cast<uint32_t>(rowBytes);
  if (info.rowsPerStrip == 0) info.rowsPerStrip = kAllRowsInOneStrip;  // an image of 0 rows
  uint64_t strips = (static_cast<uint64_t>(info.imageLength) + info.rowsPerStrip - 1) / info.rowsPerStrip;
  info.stripCount = strips == 0 ? 1 : static_cast<uint32_t>(strips);
  return kReaderOk;
}

}  // namespace

int32_t ReadHeader(const ImageBlockHead& file, const ParseRules& rules, TiffHeader& header) {
  header = TiffHeader{};
  uint8_t bytes[8];
  int64_t got = detail::ReadAt(file, 0, bytes, 8);
  if (got != 8) return Fail(kIdReadFailed, kReaderReadFailed);
  uint16_t mark = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
  bool known = rules.expectedMark != 0 ? mark == rules.expectedMark
                                       : (mark == kMarkLittle || mark == kMarkBig);
  if (!known) return Fail(kIdByteOrder, kReaderBadHeader);
  header.mark = mark;
  header.bigEndian = mark == kMarkBig;
  header.firstIfd = detail::Get32(bytes + 4, header.bigEndian);
  return kReaderOk;
}

int32_t CountPages(const ImageBlockHead& file, const TiffHeader& header, uint32_t& pages) {
  pages = 0;
  std::vector<uint32_t> seen;  // sorted directory offsets already counted
  for (uint32_t ifd = header.firstIfd; ifd != 0 && pages < kMaxPages;) {
    auto at = std::lower_bound(seen.begin(), seen.end(), ifd);
    if (at != seen.end() && *at == ifd) break;  // the chain loops back
    seen.insert(at, ifd);
    Link link;
    int32_t result = ReadLink(file, header, ifd, link);
    if (result != kReaderOk) return result;
    if (!link.present) break;
    ++pages;
    ifd = link.next;
  }
  return kReaderOk;
}

int32_t FindDirectory(const ImageBlockHead& file, const TiffHeader& header, uint32_t page,
                      uint32_t& ifd) {
  ifd = header.firstIfd;
  for (uint32_t step = 0; step < page; ++step) {
    Link link;
    int32_t result = ifd == 0 ? kReaderOk : ReadLink(file, header, ifd, link);
    if (result != kReaderOk) return result;
    if (!link.present || link.next == 0) return Fail(kIdReadFailed, kReaderReadFailed);
    ifd = link.next;
  }
  if (ifd == 0) return Fail(kIdReadFailed, kReaderReadFailed);
  return kReaderOk;
}

int32_t ParseDirectory(const ImageBlockHead& file, const TiffHeader& header, uint32_t ifd,
                       const ParseRules& rules, TiffInfo& info) {
  info = Defaults(header.mark);
  uint8_t countBytes[2];
  if (detail::ReadAt(file, ifd, countBytes, 2) != 2) return Fail(kIdReadFailed, kReaderReadFailed);
  uint32_t entries = std::min<uint32_t>(detail::Get16(countBytes, header.bigEndian), kMaxEntries);
  int32_t result = kReaderOk;
  DataLayout layout;
  for (uint32_t i = 0; i < entries && result == kReaderOk; ++i) {
    uint8_t raw[12];
    if (detail::ReadAt(file, static_cast<uint64_t>(ifd) + 2 + 12ull * i, raw, 12) != 12) {
      result = Fail(kIdReadFailed, kReaderReadFailed);
      break;
    }
    const Entry entry = detail::DecodeEntry(raw, header.bigEndian);
    layout.note(entry);
    result = ApplyEntry(file, header, rules, entry, info);
  }
  if (result == kReaderOk) result = layout.check();
  if (result == kReaderOk) result = Finish(info);
  if (result != kReaderOk) FreeArrays(info);
  return result;
}

void FreeArrays(TiffInfo& info) {
  FreeHandle(info.stripOffsets);
  FreeHandle(info.stripByteCounts);
  FreeHandle(info.colorMap);
}

uint32_t ArrayLength(HGLOBAL array) {
  if (array == 0) return 0;
  // Arrays are allocated with one spare word; the block's last word holds the
  // count (never more than the words before it).
  const size_t words = GlobalSize(array) / 4;
  if (words == 0) return 0;
  const auto* values = static_cast<const uint32_t*>(GlobalLock(array));
  if (values == nullptr) return 0;
  const uint32_t count = values[words - 1];
  GlobalUnlock(array);
  return count < words ? count : static_cast<uint32_t>(words - 1);
}

uint32_t ArrayValue(HGLOBAL array, uint32_t index) {
  if (index >= ArrayLength(array)) return 0;
  const auto* words = static_cast<const uint32_t*>(GlobalLock(array));
  if (words == nullptr) return 0;
  uint32_t value = words[index];
  GlobalUnlock(array);
  return value;
}

uint32_t StripOffset(const TiffInfo& info, uint32_t strip) {
  uint32_t entries = ArrayLength(info.stripOffsets);
  if (entries == 0) return info.stripOffset;
  return ArrayValue(info.stripOffsets, strip < entries ? strip : 0);
}

uint32_t StripIndex(const TiffInfo& info, uint32_t row) {
  if (info.stripCount <= 1 || info.rowsPerStrip == 0 || row < info.rowsPerStrip) return 0;
  return row / info.rowsPerStrip;
}

int32_t PixelsPerMeter(uint32_t numerator, uint32_t denominator, uint32_t unit) {
  if (denominator == 0) denominator = 1;
  uint64_t scaled = unit == 2 ? static_cast<uint64_t>(static_cast<double>(numerator) * 39.37)
                              : static_cast<uint64_t>(numerator) * 100;
  uint64_t perMeter = scaled / denominator;
  return perMeter > INT32_MAX ? INT32_MAX : static_cast<int32_t>(perMeter);
}

}  // namespace tiff
