// Begin of a TIFF export: the append point of an existing file or the header
// of a new one, the options, the directory entries and the work buffers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>

#include "tiff_block.h"
#include "tiff_encoders.h"
#include "winport/memory.h"

namespace wrtiff {
namespace {

constexpr uint32_t kHeaderBytes = 8;
constexpr uint16_t kTiffMagic = 42;
constexpr uint32_t kMaxComputedStrips = 200;
constexpr uint64_t kUnencodedStripBytes = 8096;
constexpr uint32_t kDefaultResolution = 30000;  // 300 dots per inch x 100
constexpr uint32_t kMaxPagesWalked = 65536;
constexpr std::string_view kSoftware = "Orvello by Brandeth, Inc.";
constexpr uint32_t kSoftwareCount = 36;

// ---------------------------------------------------------------------------
// Options.

std::optional<std::string_view> Option(HGLOBAL options, const char* key,
                                       writer::OptionValue& value) {
  if (!writer::LookupOption(options, key, value)) return std::nullopt;
  return std::string_view(value.data());
}

bool OptionIs(HGLOBAL options, const char* key, std::string_view expected) {
  writer::OptionValue value;
  const auto text = Option(options, key, value);
  return text.has_value() && *text == expected;
}

// A decimal number of digits only, saturating at UINT32_MAX; anything else
// (empty, a sign, a letter) counts as absent.
std::optional<uint32_t> DecimalOption(HGLOBAL options, const char* key) {
  writer::OptionValue value;
  const auto text = Option(options, key, value);
  if (!text || text->empty()) return std::nullopt;
  uint64_t number = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(c - '0'), UINT32_MAX);
  }
  return static_cast<uint32_t>(number);
}

uint16_t ChooseCompression(HGLOBAL options, uint16_t bits) {
  if (!OptionIs(options, "COMPRESS", "ON")) return kCompressionNone;
  if (bits != 1) return kCompressionPackBits;
  writer::OptionValue value;
  const auto name = Option(options, "TIFF_COMPRESS", value);
  if (!name) return kCompressionPackBits;
  if (*name == "MODCCITT") return kCompressionModifiedHuffman;
  if (*name == "GROUP3") return kCompressionGroup3;
  if (*name == "GROUP4") return kCompressionGroup4;
  return kCompressionPackBits;
}

// Dots per inch x 100 for the resolution tags: the option's value, or pixels
// per metre converted (rounded half up); 0 becomes 300 dots per inch. Kept
// within the signed 32-bit range that readers compute with.
uint32_t ResolutionNumerator(HGLOBAL options, const char* key, int32_t pelsPerMetre) {
  uint64_t dpi = 0;
  if (const auto option = DecimalOption(options, key)) {
    dpi = *option;
  } else if (pelsPerMetre > 0) {
    const double exact = pelsPerMetre * 0.0254000508001016;
    const double whole = std::floor(exact);
    dpi = static_cast<uint64_t>(whole) + (exact - whole >= 0.5 ? 1 : 0);
  }
  const uint64_t numerator = std::min<uint64_t>(dpi * 100, INT32_MAX);
  return numerator == 0 ? kDefaultResolution : static_cast<uint32_t>(numerator);
}

// ---------------------------------------------------------------------------
// The file.

uint32_t Read32(const uint8_t* at, bool intel) {
  return intel ? at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24
               : at[3] | at[2] << 8 | at[1] << 16 | static_cast<uint32_t>(at[0]) << 24;
}
uint16_t Read16(const uint8_t* at, bool intel) {
  return static_cast<uint16_t>(intel ? at[0] | at[1] << 8 : at[1] | at[0] << 8);
}

bool ReadAt(const ExportBlockHead& head, int64_t offset, void* into, uint32_t count) {
  if (writer::Seek(head, static_cast<int32_t>(offset), 0) != offset) return false;
  return head.files->read(head.file, into, count) == static_cast<int32_t>(count);
}

// Walks the IFD chain of the existing file to the last next-IFD field, where
// the new page gets linked. Refused: a file that is not a TIFF, an IFD that
// lies outside the file, a chain that comes back to an IFD already seen.
// A first-IFD offset of 0 (a file without pages) links the page as the first.
bool FindAppendPoint(TiffBlock& block, int64_t fileSize) {
  uint8_t header[kHeaderBytes];
  if (!ReadAt(block.head, 0, header, kHeaderBytes)) return false;
  const bool intel = header[0] == 'I' && header[1] == 'I';
  const bool motorola = header[0] == 'M' && header[1] == 'M';
  if ((!intel && !motorola) || Read16(header + 2, intel) != kTiffMagic) return false;
  block.intel = intel ? 1 : 0;
  uint32_t link = 4;
  uint32_t next = Read32(header + 4, intel);
  std::set<uint32_t> seen;
  while (next != 0) {
    if (next < kHeaderBytes || next > fileSize - 2 || !seen.insert(next).second ||
        seen.size() > kMaxPagesWalked) {
      return false;
    }
    uint8_t count[2];
    if (!ReadAt(block.head, next, count, 2)) return false;
    const int64_t nextField = int64_t{next} + 2 + int64_t{12} * Read16(count, intel);
    uint8_t field[4];
    if (nextField + 4 > fileSize || !ReadAt(block.head, nextField, field, 4)) return false;
    link = static_cast<uint32_t>(nextField);
    next = Read32(field, intel);
  }
  block.linkPosition = link;
  return true;
}

bool WriteNewHeader(TiffBlock& block) {
  const uint8_t intelHeader[kHeaderBytes] = {'I', 'I', 42, 0, 0, 0, 0, 0};
  const uint8_t motorolaHeader[kHeaderBytes] = {'M', 'M', 0, 42, 0, 0, 0, 0};
  block.linkPosition = block.startPosition + 4;
  return writer::WriteAll(block.head, block.intel != 0 ? intelHeader : motorolaHeader,
                          kHeaderBytes);
}

// Appends to a TIFF file, or starts a new one (also in an existing file of 0
// bytes). Error 1 for an existing file that cannot take a page, error 2 for a
// header written short.
bool PrepareFile(TiffBlock& block, const writer::BeginCall& call) {
  int64_t end = 0;
  if (call.openMode == kOpenReadWrite) {
    end = writer::Seek(block.head, 0, 2);
    if (end < 0) {
      writer::ReportError(kWriterErrorOpen, block.head.fileName);
      return false;
    }
  }
  if (end > 0) {
    if (!FindAppendPoint(block, end) || writer::Seek(block.head, 0, 2) != end) {
      writer::ReportError(kWriterErrorOpen, block.head.fileName);
      return false;
    }
    block.appending = 1;
    block.startPosition = static_cast<uint32_t>(end);
    block.position = end;
    return true;
  }
  block.intel = OptionIs(call.options, "TIFF_BYTEFORMAT", "MOTOROLA") ? 0 : 1;
  if (end == 0 && call.openMode == kOpenReadWrite) writer::Seek(block.head, 0, 0);
  if (!WriteNewHeader(block)) {
    writer::ReportError(kWriterErrorHeader, block.head.fileName);
    return false;
  }
  block.position = kHeaderBytes;
  return true;
}

// ---------------------------------------------------------------------------
// Layout and entries.

void PlanStrips(TiffBlock& block, HGLOBAL options) {
  const uint32_t height = block.height;
  const std::optional<uint32_t> requested = DecimalOption(options, "TIFF_ROWSPERSTRIP");
  if (requested.has_value() && *requested > 0) {
    block.rowsPerStrip = std::min(*requested, height);
  } else {
    const uint64_t bytes = uint64_t{block.bytesPerRow} * height;
    const uint64_t strips = std::clamp<uint64_t>(
        (bytes + kUnencodedStripBytes - 1) / kUnencodedStripBytes, 1, kMaxComputedStrips);
    block.rowsPerStrip = static_cast<uint32_t>((height + strips - 1) / strips);
  }
  block.plannedStrips =
      static_cast<uint32_t>((uint64_t{height} + block.rowsPerStrip - 1) / block.rowsPerStrip);
}

// SHORT when the value fits, LONG otherwise (widths, heights and strip
// heights above 65535).
uint16_t ShortOrLong(uint32_t value) {
  return value <= UINT16_MAX ? kTypeShort : kTypeLong;
}

uint16_t Photometric(uint16_t compression, uint16_t bits) {
  if (compression == kCompressionModifiedHuffman || compression == kCompressionGroup3 ||
      compression == kCompressionGroup4) {
    return 0;  // CCITT coding fixes which runs are white
  }
  if (bits == 1) return 1;
  return bits == 24 ? 2 : 3;
}

bool AddColourMap(TiffBlock& block, const RGBQUAD* table) {
  const uint32_t entries = 1u << block.image.biBitCount;
  // Only the entries the header announces are read; the rest of the map is black.
  uint32_t given = block.image.biClrUsed;
  if (given == 0 || given > entries) given = entries;
  TiffEntry* map = AddArray(block.entries, 320, kTypeShort, 3 * entries);
  if (map == nullptr) return false;
  for (uint32_t i = 0; i < given; ++i) {
    SetElement(*map, i, table[i].rgbRed * 257u);
    SetElement(*map, entries + i, table[i].rgbGreen * 257u);
    SetElement(*map, 2 * entries + i, table[i].rgbBlue * 257u);
  }
  map->count = 3 * entries;
  return true;
}

bool AddTextOption(TiffBlock& block, HGLOBAL options, const char* key, uint16_t tag) {
  writer::OptionValue value;
  const auto text = Option(options, key, value);
  return !text || AddAscii(block.entries, tag, *text) != nullptr;
}

bool AddStripEntry(TiffBlock& block, uint16_t tag) {
  if (block.plannedStrips == 1) return AddSingle(block.entries, tag, kTypeLong, 0) != nullptr;
  return AddArray(block.entries, tag, kTypeLong, block.plannedStrips) != nullptr;
}

bool BuildEntries(TiffBlock& block, const writer::BeginCall& call, const RGBQUAD* table) {
  EntryTable& e = block.entries;
  const uint16_t bits = block.image.biBitCount;
  bool ok = AddSingle(e, 254, kTypeLong, 0) != nullptr &&
            AddSingle(e, 256, ShortOrLong(block.width), block.width) != nullptr &&
            AddSingle(e, 257, ShortOrLong(block.height), block.height) != nullptr;
  if (bits == 24) {
    TiffEntry* perSample = AddArray(e, 258, kTypeShort, 3);
    ok = ok && perSample != nullptr;
    for (int i = 0; ok && i < 3; ++i) ok = StoreValue(*perSample, 8);
  } else {
    ok = ok && AddSingle(e, 258, kTypeShort, bits) != nullptr;
  }
  ok = ok && AddSingle(e, 259, kTypeShort, block.compression) != nullptr &&
       AddSingle(e, 262, kTypeShort, Photometric(block.compression, bits)) != nullptr;
  if (ok && block.fillOrder2 != 0) ok = AddSingle(e, 266, kTypeShort, 2) != nullptr;
  ok = ok && AddStripEntry(block, 273) &&
       AddSingle(e, 277, kTypeShort, bits == 24 ? 3 : 1) != nullptr &&
       AddSingle(e, 278, ShortOrLong(block.rowsPerStrip), block.rowsPerStrip) != nullptr &&
       AddStripEntry(block, 279) &&
       AddRational(e, 282, ResolutionNumerator(call.options, "TIFF_XRES",
                                               block.image.biXPelsPerMeter), 100) != nullptr &&
       AddRational(e, 283, ResolutionNumerator(call.options, "TIFF_YRES",
                                               block.image.biYPelsPerMeter), 100) != nullptr;
  if (ok && block.compression == kCompressionGroup3) {
    ok = AddSingle(e, 292, kTypeLong, 4) != nullptr;
  }
  ok = ok && AddSingle(e, 296, kTypeShort, 2) != nullptr &&
       AddAscii(e, 305, kSoftware, kSoftwareCount) != nullptr &&
       AddTextOption(block, call.options, "TIFF_ARTIST", 315);
  if (ok && (bits == 4 || bits == 8)) ok = AddColourMap(block, table);
  return ok && AddTextOption(block, call.options, "TIFF_COPYRIGHT", 33432);
}

// Relative brightness of a colour-table entry (weights x 1000).
uint32_t Brightness(const RGBQUAD& c) {
  return 299u * c.rgbRed + 587u * c.rgbGreen + 114u * c.rgbBlue;
}

bool AllocateBuffers(TiffBlock& block) {
  const uint64_t worst = WorstCaseRowBytes(block.compression, block.bytesPerRow);
  const uint64_t capacity = std::max<uint64_t>(kMinimumBufferBytes, worst + kWriteBatchBytes);
  block.headroom = static_cast<uint32_t>(worst);
  block.bufferCapacity = static_cast<uint32_t>(capacity);
  block.buffer = static_cast<uint8_t*>(LocalAlloc(LPTR, capacity));
  block.scratchRow = static_cast<uint8_t*>(LocalAlloc(LPTR, uint64_t{block.bytesPerRow} + 8));
  if (block.buffer == nullptr || block.scratchRow == nullptr) return false;
  if (block.compression >= kCompressionModifiedHuffman &&
      block.compression <= kCompressionGroup4) {
    const uint64_t listBytes = (uint64_t{block.width} + 4) * sizeof(uint32_t);
    block.referenceList = static_cast<uint32_t*>(LocalAlloc(LPTR, listBytes));
    block.codingList = static_cast<uint32_t*>(LocalAlloc(LPTR, listBytes));
    if (block.referenceList == nullptr || block.codingList == nullptr) return false;
  }
  return true;
}

}  // namespace

bool SetUpExport(TiffBlock& block, const writer::BeginCall& call) {
  block.image = *call.image;
  const auto* table = reinterpret_cast<const RGBQUAD*>(call.image + 1);
  block.width = static_cast<uint32_t>(block.image.biWidth);
  block.height = static_cast<uint32_t>(block.image.biHeight);
  block.bytesPerRow =
      static_cast<uint32_t>((uint64_t{block.image.biBitCount} * block.width + 7) / 8);
  if (!PrepareFile(block, call)) return false;

  const uint16_t bits = block.image.biBitCount;
  block.compression = ChooseCompression(call.options, bits);
  writer::OptionValue ignored;
  block.fillOrder2 = bits == 1 && writer::LookupOption(call.options, "TIFF_FILLORDER", ignored);
  block.invertPixels = bits == 1 && Brightness(table[0]) > Brightness(table[1]);
  PlanStrips(block, call.options);
  // Nothing can be reported for memory: the contract has no such message for TIFF.
  return BuildEntries(block, call, table) && AllocateBuffers(block);
}

bool PutBytes(TiffBlock& block, const void* bytes, uint32_t count) {
  if (count == 0) return true;
  if (block.failed == 0 && block.position + count <= INT32_MAX &&
      writer::WriteAll(block.head, bytes, count)) {
    block.position += count;
    return true;
  }
  if (block.failed == 0) writer::ReportError(kWriterErrorWrite, block.head.fileName);
  block.failed = 1;
  return false;
}

}  // namespace wrtiff
