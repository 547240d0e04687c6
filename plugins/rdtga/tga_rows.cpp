// Targa rows: locating a stored row, decoding it, and the delivery order.
//
// Rows are stored bottom-up unless the descriptor's bit 5 is set. Each
// OVDLread_rows locates its first stored row afresh (the frame is told the
// decoder is out of step after every call, so OVDLset_row only records the
// row): through the file's scan-line table when it has one (then for every
// row, not only the first of a call); for uncompressed
// data by computing the row's offset; for run-length data by decoding from
// the last stored row whose offset is known. The offsets found while decoding
// are kept, so reading a bottom-up run-length file in blocks decodes each
// stored row about once instead of once per block.
//
// Policies:
//   - run-length packets never continue into the next row: a packet longer
//     than the rest of the row is cut there (a literal packet's excess pixels
//     are read and dropped), and the next row starts at the next packet;
//   - 32-bit pixels lose their alpha byte; 15- and 16-bit pixels are five bits
//     per channel, red highest, each channel times 8;
//   - pixel data that end early end the row with result 3 and id 5 (a read
//     error: id 2); the rows before it were delivered.
#include <algorithm>
#include <cstring>

#include "tga_format.h"

namespace rdtga {
namespace {

constexpr uint32_t kChunkBytes = 4096;  // a multiple of every file pixel size

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

// Reads exactly `count` bytes: 1, or the failure result with its id stored.
int32_t ReadExact(const ImageBlockHead& file, uint8_t* buffer, uint32_t count) {
  while (count > 0) {
    int32_t got = reader::HostRead(file, buffer, count);
    if (got < 0) return Fail(kStrReadFailed, kReaderReadFailed);
    if (got == 0 || static_cast<uint32_t>(got) > count) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
    buffer += got;
    count -= static_cast<uint32_t>(got);
  }
  return kReaderOk;
}

int32_t SeekImage(const ImageBlockHead& file, uint64_t offset) {
  return reader::HostSeekImage(file, offset) ? kReaderOk : Fail(kStrReadFailed, kReaderReadFailed);
}

// An uncompressed stored row into DIB pixels.
int32_t ReadUncompressed(const ImageBlockHead& file, const TgaHeader& h, uint32_t storedRowBytes,
                         std::span<uint8_t> out) {
  const uint32_t pixelBytes = FilePixelBytes(h);
  if (pixelBytes == 1 || pixelBytes == 3) return ReadExact(file, out.data(), storedRowBytes);
  uint8_t chunk[kChunkBytes];
  for (uint32_t done = 0; done < h.width;) {
    uint32_t n = std::min<uint32_t>(h.width - done, kChunkBytes / pixelBytes);
    int32_t result = ReadExact(file, chunk, n * pixelBytes);
    if (result != kReaderOk) return result;
    ConvertPixels(chunk, n, pixelBytes, out.data() + static_cast<size_t>(done) * 3);
    done += n;
  }
  return kReaderOk;
}

// The next byte through the host's read-one-byte slot; −1 at the end.
int32_t NextByte(const ImageBlockHead& file) {
  return reader::HostReadByte(file);
}

bool ReadPixel(const ImageBlockHead& file, uint32_t pixelBytes, uint8_t* value) {
  for (uint32_t i = 0; i < pixelBytes; ++i) {
    int32_t byte = NextByte(file);
    if (byte < 0) return false;
    value[i] = static_cast<uint8_t>(byte);
  }
  return true;
}

// One run-length stored row of `width` pixels into DIB pixels.
int32_t DecodeRunLength(const ImageBlockHead& file, const TgaHeader& h, std::span<uint8_t> out) {
  const uint32_t pixelBytes = FilePixelBytes(h);
  const uint32_t outBytes = DibBits(h) / 8;
  uint8_t value[4];
  uint8_t converted[3];
  for (uint32_t x = 0; x < h.width;) {
    int32_t packet = NextByte(file);
    if (packet < 0) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
    const uint32_t count = (static_cast<uint32_t>(packet) & 0x7F) + 1;
    const uint32_t fit = std::min(count, h.width - x);
    uint8_t* at = out.data() + static_cast<size_t>(x) * outBytes;
    if ((packet & 0x80) != 0) {
      if (!ReadPixel(file, pixelBytes, value)) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
      ConvertPixels(value, 1, pixelBytes, converted);
      for (uint32_t k = 0; k < fit; ++k) std::memcpy(at + k * outBytes, converted, outBytes);
    } else {
      for (uint32_t k = 0; k < count; ++k) {
        if (!ReadPixel(file, pixelBytes, value)) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
        if (k < fit) ConvertPixels(value, 1, pixelBytes, at + k * outBytes);
      }
    }
    x += fit;
  }
  return kReaderOk;
}

int32_t DecodeStored(const reader::ImageBlockBase& image, const TgaHeader& h, std::span<uint8_t> out) {
  if (RunLengthEncoded(h)) return DecodeRunLength(image.head, h, out);
  return ReadUncompressed(image.head, h, StateOf(image).storedRowBytes, out);
}

// Notes the file position as the offset of stored row `stored` when it is the
// first row whose offset is not known yet.
void RecordOffset(reader::ImageBlockBase& image, uint32_t stored, uint32_t height) {
  TgaState& tga = StateOf(image);
  if (stored != tga.knownRows || stored >= height || image.head.files->seek == nullptr) return;
  int32_t position = image.head.files->seek(image.head.file, 0, 1);
  if (position < 0 || static_cast<uint32_t>(position) < image.head.imageOffset) return;
  RowOffsets(image)[stored] = static_cast<uint32_t>(position) - image.head.imageOffset;
  tga.knownRows = stored + 1;
}

// Positions the file at the start of stored row `stored`; `scratch` takes
// the run-length rows decoded on the way.
int32_t Locate(reader::ImageBlockBase& image, const TgaHeader& h, uint32_t stored,
               std::span<uint8_t> scratch) {
  TgaState& tga = StateOf(image);
  const uint32_t* offsets = RowOffsets(image);
  if (tga.scanTablePresent != 0 || stored < tga.knownRows) return SeekImage(image.head, offsets[stored]);
  if (!RunLengthEncoded(h)) {
    return SeekImage(image.head, tga.pixelStart + static_cast<uint64_t>(stored) * tga.storedRowBytes);
  }
  uint32_t from = tga.knownRows - 1;
  int32_t result = SeekImage(image.head, offsets[from]);
  for (uint32_t s = from; s < stored && result == kReaderOk; ++s) {
    result = DecodeRunLength(image.head, h, scratch);
    if (result == kReaderOk) RecordOffset(image, s + 1, h.height);
  }
  return result;
}

}  // namespace

void Expand555(uint32_t value, uint8_t* bgr) {
  bgr[0] = static_cast<uint8_t>((value & 0x1F) * 8);
  bgr[1] = static_cast<uint8_t>(((value >> 5) & 0x1F) * 8);
  bgr[2] = static_cast<uint8_t>(((value >> 10) & 0x1F) * 8);
}

void ConvertPixels(const uint8_t* file, uint32_t count, uint32_t fileBytes, uint8_t* out) {
  switch (fileBytes) {
    case 1:
    case 3:
      std::memcpy(out, file, static_cast<size_t>(count) * fileBytes);
      return;
    case 2:
      for (uint32_t i = 0; i < count; ++i) Expand555(file[2 * i] | file[2 * i + 1] << 8, out + 3 * i);
      return;
    case 4:
      for (uint32_t i = 0; i < count; ++i) std::memcpy(out + 3 * i, file + 4 * i, 3);
      return;
    default:
      return;
  }
}

// Bottom-up storage is delivered bottom row first, so the file is read
// forwards either way.
int32_t BeginRows(reader::ImageBlockBase& image, uint32_t /*firstRow*/, uint32_t /*rows*/,
                  reader::RowOrder& order) {
  order = StoredTopDown(HeaderOf(image)) ? reader::RowOrder::kTopDown : reader::RowOrder::kBottomUp;
  StateOf(image).nextStored = kNoRow;
  // No position is kept between calls: the next call or OVDLset_row goes
  // through Rewind, which only records the row.
  image.frame.repositionNeeded = 1;
  return kReaderOk;
}

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& /*copies*/) {
  TgaState& tga = StateOf(image);
  const TgaHeader h = HeaderOf(image);
  if (row >= h.height) return Fail(kStrReadFailed, kReaderReadFailed);
  const uint32_t stored = StoredTopDown(h) ? row : h.height - 1 - row;
  const uint32_t at = tga.nextStored;
  tga.nextStored = kNoRow;
  // With the file's table every row is found through it, so a table that does
  // not match the data gives the same rows however they are read.
  const bool inStep = stored == at && tga.scanTablePresent == 0;
  int32_t result = inStep ? kReaderOk : Locate(image, h, stored, out);
  if (result == kReaderOk) result = DecodeStored(image, h, out);
  if (result != kReaderOk) return result;
  if (RunLengthEncoded(h)) RecordOffset(image, stored + 1, h.height);
  tga.nextStored = stored + 1;
  return kReaderOk;
}

int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached) {
  StateOf(image).nextStored = kNoRow;
  reached = wanted;
  return kReaderOk;
}

}  // namespace rdtga
