// Targa rows: locating a stored row, decoding it, and the delivery order.
//
// Rows are stored bottom-up unless the descriptor's bit 5 is set, and right
// to left when its bit 4 is set (each decoded row is then mirrored). Each
// OVDLread_rows locates its first stored row afresh (the frame is told the
// decoder is out of step after every call, so OVDLset_row only records the
// row): through the file's scan-line table when it has one (then for every
// row, not only the first of a call); for uncompressed
// data by computing the row's offset; for run-length data by decoding from
// the last stored row whose offset is known. The offsets found while decoding
// are kept, so reading a bottom-up run-length file in blocks decodes each
// stored row about once instead of once per block; the rows before the first
// one wanted are only walked over (packet headers read, pixels skipped).
// Run-length data are read in blocks through the block's own input storage
// (see PixelInput), uncompressed rows straight into the row.
//
// Policies:
//   - run-length packets may run on past the end of a row (old writers and
//     files of the format's first version do this): the rest of the packet
//     begins the next stored row. A row that begins inside a packet is
//     remembered as that packet's header and the pixels earlier rows took
//     from it, so it can be found again in any order. Files with a scan-line
//     table are version 2.0 files, whose packets end with their row: there
//     each row starts at its table entry and a longer packet is cut;
//   - 32-bit pixels lose their alpha byte; 15- and 16-bit colour pixels are
//     five bits per channel, red highest, each channel times 8; 16-bit grey
//     pixels keep their grey byte;
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
  const PixelKind kind = KindOf(h);
  if (kind == PixelKind::kCopy) return ReadExact(file, out.data(), storedRowBytes);
  const uint32_t dibBytes = DibBits(h) / 8;
  uint8_t chunk[kChunkBytes];
  for (uint32_t done = 0; done < h.width;) {
    uint32_t n = std::min<uint32_t>(h.width - done, kChunkBytes / pixelBytes);
    int32_t result = ReadExact(file, chunk, n * pixelBytes);
    if (result != kReaderOk) return result;
    ConvertPixels(chunk, n, pixelBytes, kind, out.data() + static_cast<size_t>(done) * dibBytes);
    done += n;
  }
  return kReaderOk;
}

// The run-length bytes, read through the block's input storage in blocks of
// kInputBytes by the host's read. The host's position runs ahead of the
// reader's by the bytes held; a seek to a byte still held only moves the
// cursor. Every OVDLread_rows starts with the input emptied.
class PixelInput {
 public:
  PixelInput(reader::ImageBlockBase& image, uint32_t height)
      : head_(image.head), in_(StateOf(image).input), storage_(InputStorage(image, height)) {}

  // The next byte, or −1 when the file has no more (or a read failed).
  int32_t next() {
    if (in_.next < in_.filled) return storage_[in_.next++];
    return refill() ? storage_[in_.next++] : -1;
  }
  uint32_t held() const { return in_.filled - in_.next; }
  const uint8_t* at() const { return storage_ + in_.next; }
  void skip(uint32_t count) { in_.next += count; }  // count <= held()

  // Exactly `count` bytes into `out` (null: skipped); false when the data end first.
  bool read(uint8_t* out, uint32_t count) {
    while (count > 0) {
      if (in_.next == in_.filled && !refill()) return false;
      const uint32_t n = std::min(count, held());
      if (out != nullptr) {
        std::memcpy(out, at(), n);
        out += n;
      }
      in_.next += n;
      count -= n;
    }
    return true;
  }

  // Offset of the next byte within the image.
  uint64_t position() const { return uint64_t{in_.start} + in_.next; }

  bool seek(uint64_t offset) {
    if (offset >= in_.start && offset < uint64_t{in_.start} + in_.filled) {
      in_.next = static_cast<uint32_t>(offset - in_.start);
      return true;
    }
    in_ = TgaInput{};
    if (!reader::HostSeekImage(head_, offset)) return false;
    in_.start = static_cast<uint32_t>(offset);
    return true;
  }

 private:
  bool refill() {
    if (in_.ended != 0) return false;
    in_.start += in_.filled;
    in_.filled = 0;
    in_.next = 0;
    const int32_t got = reader::HostRead(head_, storage_, kInputBytes);
    if (got <= 0 || static_cast<uint32_t>(got) > kInputBytes) {
      in_.ended = 1;
      return false;
    }
    in_.filled = static_cast<uint32_t>(got);
    return true;
  }

  const ImageBlockHead& head_;
  TgaInput& in_;
  uint8_t* storage_;
};

// Reads a packet header (and a repeat packet's value) into `packet`.
bool StartPacket(PixelInput& in, uint32_t pixelBytes, TgaPacket& packet) {
  packet = TgaPacket{};
  const int32_t header = in.next();
  if (header < 0) return false;
  packet.count = (static_cast<uint32_t>(header) & 0x7F) + 1;
  packet.left = packet.count;
  packet.repeat = (header & 0x80) != 0 ? 1 : 0;
  return packet.repeat == 0 || in.read(packet.value, pixelBytes);
}

// `count` copies of the DIB pixel of `bytes` bytes at `at`, the first included.
void Replicate(uint8_t* at, uint32_t count, uint32_t bytes) {
  const size_t total = static_cast<size_t>(count) * bytes;
  for (size_t done = bytes; done < total;) {
    const size_t n = std::min(done, total - done);
    std::memcpy(at + done, at, n);
    done += n;
  }
}

// `count` literal pixels into DIB pixels at `at`; false when the data end first
// (the pixels before that are converted).
bool ConvertLiteral(PixelInput& in, uint32_t count, uint32_t pixelBytes, PixelKind kind,
                    uint32_t outBytes, uint8_t* at) {
  while (count > 0) {
    uint32_t n = std::min(count, in.held() / pixelBytes);
    if (n == 0) {  // a pixel split by the end of the bytes held
      uint8_t value[4];
      if (!in.read(value, pixelBytes)) return false;
      ConvertPixels(value, 1, pixelBytes, kind, at);
      n = 1;
    } else {
      ConvertPixels(in.at(), n, pixelBytes, kind, at);
      in.skip(n * pixelBytes);
    }
    at += static_cast<size_t>(n) * outBytes;
    count -= n;
  }
  return true;
}

// One run-length stored row of `width` pixels into DIB pixels at `out` (null:
// the row is only walked over), going on with the packet in progress; a
// packet longer than the row stays in progress.
int32_t DecodeRunLength(PixelInput& in, const TgaHeader& h, TgaPacket& packet, uint8_t* out) {
  const uint32_t pixelBytes = FilePixelBytes(h);
  const uint32_t outBytes = DibBits(h) / 8;
  const PixelKind kind = KindOf(h);
  for (uint32_t x = 0; x < h.width;) {
    if (packet.left == 0 && !StartPacket(in, pixelBytes, packet)) {
      return Fail(kStrUnexpectedEnd, kReaderReadFailed);
    }
    const uint32_t fit = std::min(packet.left, h.width - x);
    uint8_t* at = out != nullptr ? out + static_cast<size_t>(x) * outBytes : nullptr;
    if (packet.repeat != 0) {
      if (at != nullptr) {
        ConvertPixels(packet.value, 1, pixelBytes, kind, at);
        Replicate(at, fit, outBytes);
      }
    } else if (at != nullptr ? !ConvertLiteral(in, fit, pixelBytes, kind, outBytes, at)
                             : !in.read(nullptr, fit * pixelBytes)) {
      return Fail(kStrUnexpectedEnd, kReaderReadFailed);
    }
    packet.left -= fit;
    x += fit;
  }
  return kReaderOk;
}

int32_t DecodeStored(reader::ImageBlockBase& image, const TgaHeader& h, std::span<uint8_t> out) {
  TgaState& tga = StateOf(image);
  if (!RunLengthEncoded(h)) return ReadUncompressed(image.head, h, tga.storedRowBytes, out);
  PixelInput in(image, h.height);
  return DecodeRunLength(in, h, tga.packet, out.data());
}

// Notes where stored row `stored` begins when it is the first row whose
// offset is not known yet: the input's position, or, when it stands inside
// a packet, that packet's header and the pixels already taken from it.
void RecordOffset(reader::ImageBlockBase& image, const TgaHeader& h, uint32_t stored) {
  TgaState& tga = StateOf(image);
  if (stored != tga.knownRows || stored >= h.height || image.head.files->seek == nullptr) return;
  uint64_t position = PixelInput(image, h.height).position();
  uint32_t carry = 0;
  if (tga.packet.left != 0) {
    carry = tga.packet.count - tga.packet.left;  // 1 ... 127
    const uint32_t read = tga.packet.repeat != 0 ? 1 : carry;
    const uint64_t back = 1 + static_cast<uint64_t>(read) * FilePixelBytes(h);
    if (position < back) return;
    position -= back;
  }
  RowOffsets(image)[stored] = static_cast<uint32_t>(position);
  RowCarries(image, h.height)[stored] = static_cast<uint8_t>(carry);
  tga.knownRows = stored + 1;
}

// Puts the file at remembered stored row `stored`, with its packet in progress.
int32_t SeekKnownRow(reader::ImageBlockBase& image, const TgaHeader& h, uint32_t stored) {
  TgaState& tga = StateOf(image);
  tga.packet = TgaPacket{};
  if (!RunLengthEncoded(h)) return SeekImage(image.head, RowOffsets(image)[stored]);
  PixelInput in(image, h.height);
  if (!in.seek(RowOffsets(image)[stored])) return Fail(kStrReadFailed, kReaderReadFailed);
  const uint32_t carry = tga.scanTablePresent != 0 ? 0 : RowCarries(image, h.height)[stored];
  if (carry == 0) return kReaderOk;
  const uint32_t pixelBytes = FilePixelBytes(h);
  if (!StartPacket(in, pixelBytes, tga.packet)) return Fail(kStrUnexpectedEnd, kReaderReadFailed);
  const uint32_t taken = std::min(carry, tga.packet.count);
  if (tga.packet.repeat == 0 && !in.read(nullptr, taken * pixelBytes)) {
    return Fail(kStrUnexpectedEnd, kReaderReadFailed);
  }
  tga.packet.left = tga.packet.count - taken;
  return kReaderOk;
}

// Positions the file at the start of stored row `stored`, walking over the
// run-length rows on the way from the last one whose offset is known.
int32_t Locate(reader::ImageBlockBase& image, const TgaHeader& h, uint32_t stored) {
  TgaState& tga = StateOf(image);
  if (tga.scanTablePresent != 0 || stored < tga.knownRows) return SeekKnownRow(image, h, stored);
  if (!RunLengthEncoded(h)) {
    return SeekImage(image.head, tga.pixelStart + static_cast<uint64_t>(stored) * tga.storedRowBytes);
  }
  uint32_t from = tga.knownRows - 1;
  int32_t result = SeekKnownRow(image, h, from);
  PixelInput in(image, h.height);
  for (uint32_t s = from; s < stored && result == kReaderOk; ++s) {
    result = DecodeRunLength(in, h, tga.packet, nullptr);
    if (result == kReaderOk) RecordOffset(image, h, s + 1);
  }
  return result;
}

}  // namespace

void Expand555(uint32_t value, uint8_t* bgr) {
  bgr[0] = static_cast<uint8_t>((value & 0x1F) * 8);
  bgr[1] = static_cast<uint8_t>(((value >> 5) & 0x1F) * 8);
  bgr[2] = static_cast<uint8_t>(((value >> 10) & 0x1F) * 8);
}

void ConvertPixels(const uint8_t* file, uint32_t count, uint32_t fileBytes, PixelKind kind,
                   uint8_t* out) {
  switch (kind) {
    case PixelKind::kCopy:
      std::memcpy(out, file, static_cast<size_t>(count) * fileBytes);
      return;
    case PixelKind::kRgb555:
      for (uint32_t i = 0; i < count; ++i) Expand555(file[2 * i] | file[2 * i + 1] << 8, out + 3 * i);
      return;
    case PixelKind::kGreyAlpha:
      for (uint32_t i = 0; i < count; ++i) out[i] = file[2 * i];
      return;
    case PixelKind::kBgra:
      for (uint32_t i = 0; i < count; ++i) std::memcpy(out + 3 * i, file + 4 * i, 3);
      return;
  }
}

void MirrorRow(std::span<uint8_t> row, uint32_t width, uint32_t bits) {
  if (width < 2) return;
  if (bits == 1) {
    auto bit = [&](uint32_t x) { return (row[x / 8] >> (7 - x % 8)) & 1; };
    auto put = [&](uint32_t x, int v) {
      const auto mask = static_cast<uint8_t>(0x80 >> (x % 8));
      row[x / 8] = static_cast<uint8_t>(v != 0 ? row[x / 8] | mask : row[x / 8] & ~mask);
    };
    for (uint32_t a = 0, b = width - 1; a < b; ++a, --b) {
      const int left = bit(a);
      put(a, bit(b));
      put(b, left);
    }
    return;
  }
  const uint32_t n = bits / 8;
  for (uint32_t a = 0, b = width - 1; a < b; ++a, --b) {
    std::swap_ranges(row.begin() + a * n, row.begin() + (a + 1) * n, row.begin() + b * n);
  }
}

// Bottom-up storage is delivered bottom row first, so the file is read
// forwards either way.
int32_t BeginRows(reader::ImageBlockBase& image, uint32_t /*firstRow*/, uint32_t /*rows*/,
                  reader::RowOrder& order) {
  order = StoredTopDown(HeaderOf(image)) ? reader::RowOrder::kTopDown : reader::RowOrder::kBottomUp;
  StateOf(image).nextStored = kNoRow;
  StateOf(image).input = TgaInput{};
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
  int32_t result = inStep ? kReaderOk : Locate(image, h, stored);
  if (result == kReaderOk) result = DecodeStored(image, h, out);
  if (result != kReaderOk) return result;
  if (RunLengthEncoded(h)) RecordOffset(image, h, stored + 1);
  if (StoredRightToLeft(h)) MirrorRow(out, h.width, DibBits(h));
  tga.nextStored = stored + 1;
  return kReaderOk;
}

int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached) {
  StateOf(image).nextStored = kNoRow;
  reached = wanted;
  return kReaderOk;
}

}  // namespace rdtga
