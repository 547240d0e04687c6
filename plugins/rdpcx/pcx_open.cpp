// Opening a PCX or DCX file, changing pages, and the DIB description.
//
// A DCX file begins with its magic and a table of up to 1024 page offsets,
// ended by a 0 entry; a plain PCX file is one page at offset 0. Policies for
// what the format leaves open:
//   - a DCX table is read as far as the file holds it: a file shorter than the
//     full 4100-byte table has the complete entries it holds (up to the first
//     0); a table whose first entry is 0 has no page and is refused (id 7, 3);
//   - page offsets are checked where they are used: a page whose header lies
//     beyond the file or beyond the host's 32-bit positions fails with id 2;
//   - a page's length (used to find the 256-colour palette at its end) is the
//     distance to the next page, or to the image's end for the last page; an
//     offset that does not move forward gives length 0 (no palette search);
//   - the image's end is offset + length when the image lies inside a larger
//     file and its length is given, else the end of the file;
//   - a page change that fails (unreadable or refused header) keeps the page
//     the image was on, with its header and geometry, and reports the failure.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "pcx_format.h"

namespace rdpcx {
namespace {

using PageOffsets = std::array<uint32_t, kMaxPages>;

uint32_t Le32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

// Reads up to `count` bytes; the number read (stops at the end of the file).
uint32_t ReadUpTo(const ImageBlockHead& file, uint8_t* buffer, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    int32_t got = reader::HostRead(file, buffer + done, count - done);
    if (got <= 0 || static_cast<uint32_t>(got) > count - done) break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

// The page table: DCX entries up to the first 0, or one page at offset 0.
int32_t ReadPageTable(const ImageBlockHead& file, PageOffsets& offsets, uint32_t& count) {
  uint8_t magic[4];
  if (!reader::HostSeekImage(file, 0) || !reader::HostReadExact(file, magic, sizeof magic)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  count = 0;
  if (Le32(magic) != kDcxMagic) {
    offsets[0] = 0;
    count = 1;
    return kReaderOk;
  }
  std::array<uint8_t, kDcxTableBytes - 4> table{};
  const uint32_t got = ReadUpTo(file, table.data(), static_cast<uint32_t>(table.size()));
  while (count < kMaxPages && 4 * (count + 1) <= got) {
    uint32_t offset = Le32(&table[4 * count]);
    if (offset == 0) break;
    offsets[count++] = offset;
  }
  if (count == 0) return Fail(kStrBadHeader, kReaderReadFailed);
  return kReaderOk;
}

// Reads and checks the header of the page at `offset` (relative to the image).
// On success the file stands just after it.
int32_t ReadPageHeader(const ImageBlockHead& file, uint32_t offset,
                       std::array<uint8_t, kHeaderBytes>& header, PageGeometry& geometry) {
  const uint64_t start = static_cast<uint64_t>(file.imageOffset) + offset;
  if (start + kHeaderBytes > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
      !reader::HostSeekAbsolute(file, start) ||
      !reader::HostReadExact(file, header.data(), kHeaderBytes)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  return CheckHeader(ParseHeader(header), geometry);
}

// The absolute end of the image's bytes, or false when the host cannot say.
bool ImageEnd(const ImageBlockHead& file, uint32_t imageLength, uint64_t& end) {
  if (file.imageOffset != 0 && imageLength != 0) {
    end = static_cast<uint64_t>(file.imageOffset) + imageLength;
    return true;
  }
  if (file.files == nullptr || file.files->seek == nullptr) return false;
  int32_t size = file.files->seek(file.file, 0, 2);
  if (size < 0) return false;
  end = static_cast<uint64_t>(size);
  return true;
}

const uint32_t* LockTable(const PcxState& pcx) {
  return static_cast<const uint32_t*>(GlobalLock(pcx.pageTable));
}

// Bytes from the page's start to the next page, or to the image's end.
uint32_t PageLength(const reader::ImageBlockBase& image, const uint32_t* table, uint32_t page) {
  const uint64_t start = table[page];
  uint64_t end = 0;
  if (page + 1 < image.frame.pageCount) {
    end = table[page + 1];
  } else {
    const uint64_t imageEnd = StateOf(image).imageEnd;
    end = imageEnd > image.head.imageOffset ? imageEnd - image.head.imageOffset : 0;
  }
  if (end <= start) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(end - start, std::numeric_limits<uint32_t>::max()));
}

// Makes a page whose header was read and checked the current one.
void TakePage(reader::ImageBlockBase& image, const uint32_t* table, uint32_t page,
              const std::array<uint8_t, kHeaderBytes>& header, const PageGeometry& geometry) {
  PcxState& pcx = StateOf(image);
  std::memcpy(pcx.header, header.data(), kHeaderBytes);
  pcx.geometry = geometry;
  pcx.lineLength = geometry.lineLength;
  // ReadPageHeader made sure the header's end fits the host's positions.
  pcx.dataPosition = static_cast<uint32_t>(image.head.imageOffset + table[page] + kHeaderBytes);
  pcx.pageLength = PageLength(image, table, page);
}

}  // namespace

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes) {
  if (firstBytes[0] == kManufacturer && firstBytes[2] == 1) return kReaderOk;
  return Le32(firstBytes.data()) == kDcxMagic ? kReaderOk : kReaderNotRecognised;
}

int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  PageOffsets offsets{};
  uint32_t count = 0;
  int32_t result = ReadPageTable(file, offsets, count);
  if (result != kReaderOk) return result;
  std::array<uint8_t, kHeaderBytes> header{};
  PageGeometry geometry{};
  result = ReadPageHeader(file, offsets[0], header, geometry);
  if (result != kReaderOk) return result;
  uint64_t imageEnd = 0;
  if (!ImageEnd(file, ctx.imageLength, imageEnd)) return Fail(kStrReadFailed, kReaderReadFailed);

  reader::ImageBlockBase* base = ctx.allocate(sizeof(PcxImage));
  if (base == nullptr) return Fail(kStrNoMemory, kReaderNoMemory);
  PcxState& pcx = StateOf(*base);
  pcx.imageLength = ctx.imageLength;
  pcx.imageEnd = static_cast<uint32_t>(std::min<uint64_t>(imageEnd, std::numeric_limits<uint32_t>::max()));
  pcx.pageTable = GlobalAlloc(GHND, sizeof(uint32_t) * count);
  auto* table = pcx.pageTable != 0 ? static_cast<uint32_t*>(GlobalLock(pcx.pageTable)) : nullptr;
  if (table == nullptr) return Fail(kStrNoMemory, kReaderNoMemory);  // Release frees the table
  std::copy_n(offsets.begin(), count, table);
  base->frame.pageCount = count;
  TakePage(*base, table, 0, header, geometry);
  GlobalUnlock(pcx.pageTable);
  if (pcx.imageLength == 0) pcx.imageLength = pcx.pageLength;

  const PcxHeader h = ParseHeader(header);
  reader::TraceHook(16, "\t\tPCX Ver = %d", h.version);
  reader::TraceHook(16, "\t\tPCX Bits/Pixel = %d", h.bitsPerPixel);
  reader::TraceHook(16, "\t\tPCX Planes = %d", h.planes);
  // The frame takes the decoder to stand at row 0: the first scan line.
  if (!reader::HostSeekAbsolute(base->head, pcx.dataPosition)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  return kReaderOk;
}

int32_t SetPage(reader::ImageBlockBase& image, uint32_t page) {
  PcxState& pcx = StateOf(image);
  const uint32_t* table = LockTable(pcx);
  if (table == nullptr) return Fail(kStrNoMemory, kReaderNoMemory);
  std::array<uint8_t, kHeaderBytes> header{};
  PageGeometry geometry{};
  reader::EmptyInput(pcx.input);  // the file moves
  int32_t result = ReadPageHeader(image.head, table[page], header, geometry);
  if (result == kReaderOk) TakePage(image, table, page, header, geometry);
  GlobalUnlock(pcx.pageTable);
  return result;
}

void Release(reader::ImageBlockBase& image) {
  PcxState& pcx = StateOf(image);
  if (pcx.pageTable != 0) GlobalFree(pcx.pageTable);
  pcx.pageTable = 0;
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const PcxState& pcx = StateOf(image);
  const PageGeometry& g = pcx.geometry;
  const PcxHeader h = ParseHeader(std::span<const uint8_t, kHeaderBytes>(pcx.header));
  out.width = g.width;
  out.height = g.height;
  out.dibBitCount = g.dibBits;
  out.decodedBits = g.planes * g.bitsPerPixel;
  out.decodedRowBytes = g.lineLength;
  out.paletteEntries = g.dibBits <= 8 ? 1u << g.dibBits : 0;
  out.colorsUsed = out.paletteEntries;
  out.xPelsPerMeter = static_cast<int32_t>(h.xDpi * 39.37);
  out.yPelsPerMeter = static_cast<int32_t>(h.yDpi * 39.37);
  out.writePageCount = true;
  return kReaderOk;
}

}  // namespace rdpcx
