// Decoding IMG lines.
//
// A line is a sequence of items decoded until its (width + 7) / 8 bytes are
// filled; every byte is stored complemented (the file's set bit is black, the
// DIB's palette entry 0 is black):
//   b (not 0x00, 0x80)  solid run of b & 0x7F bytes, black when bit 7 is set
//   0x80 n              n literal bytes
//   0x00 p (p != 0)     the next pattern-length bytes, p times
//   0x00 0x00 x n       vertical replication: this line stands n times (0 = once)
// Policies for what the format leaves open:
//   - an item that runs past the end of the line is cut at the line end; its
//     remaining bytes are still consumed, so the next line starts at the next
//     item (not an error);
//   - several replication items in one line: the last one counts;
//   - a pattern length of 0 makes pattern runs empty;
//   - the data ending before the line is full: result 3 with id 5
//     ("Unexpected End of IMG File reached."); a host read error: 3 with id 2.
//     The rows before it were delivered; the partial line is not.
// Every item consumes at least one byte, so a line ends at the end of the data.
#include <algorithm>
#include <cstring>

#include "gem_format.h"

namespace rdgem {
namespace {

constexpr uint8_t kWhite = 0xFF;  // complemented file byte 0x00
constexpr uint8_t kBlack = 0x00;

class LineWriter {
 public:
  explicit LineWriter(std::span<uint8_t> line) : line_(line) {}

  bool full() const { return position_ >= line_.size(); }
  size_t position() const { return position_; }

  void fill(uint8_t value, size_t count) {
    size_t n = std::min(count, room());
    std::memset(line_.data() + position_, value, n);
    position_ += n;
  }

  // File bytes, stored complemented; what does not fit is dropped.
  void put(std::span<const uint8_t> fileBytes) {
    size_t n = std::min(fileBytes.size(), room());
    for (size_t i = 0; i < n; ++i) line_[position_ + i] = static_cast<uint8_t>(~fileBytes[i]);
    position_ += n;
  }

  // Repeats the `length` bytes written from `start` on, `times` more times.
  void repeat(size_t start, size_t length, uint32_t times) {
    for (uint32_t k = 0; k < times && length > 0 && !full(); ++k) {
      size_t n = std::min(length, room());
      std::memcpy(line_.data() + position_, line_.data() + start, n);
      position_ += n;
    }
  }

 private:
  size_t room() const { return line_.size() - position_; }

  std::span<uint8_t> line_;
  size_t position_ = 0;
};

// Decodes one line into `line`; false when the data end first.
bool DecodeLine(reader::BufferedInput& in, uint32_t patternLength, std::span<uint8_t> line,
                uint32_t& copies) {
  LineWriter out(line);
  auto put = [&out](std::span<const uint8_t> bytes) { out.put(bytes); };
  while (!out.full()) {
    int32_t item = in.next();
    if (item < 0) return false;
    if (item == 0x80) {
      int32_t count = in.next();
      if (count < 0 || !in.take(static_cast<uint32_t>(count), put)) return false;
    } else if (item != 0x00) {
      out.fill((item & 0x80) != 0 ? kBlack : kWhite, static_cast<size_t>(item & 0x7F));
    } else {
      int32_t times = in.next();
      if (times < 0) return false;
      if (times == 0) {  // vertical replication: 0x00 0x00 x n
        int32_t skipped = in.next();
        int32_t count = skipped < 0 ? -1 : in.next();
        if (count < 0) return false;
        copies = count == 0 ? 1 : static_cast<uint32_t>(count);
      } else {
        size_t start = out.position();
        if (!in.take(patternLength, put)) return false;
        out.repeat(start, out.position() - start, static_cast<uint32_t>(times - 1));
      }
    }
  }
  return true;
}

}  // namespace

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t /*row*/, std::span<uint8_t> out,
                  uint32_t& copies) {
  GemState& gem = reader::FormatBlock<GemImage>(image).gem;
  if (out.size() < gem.bytesPerLine) return kReaderCorrupt;
  reader::BufferedInput in(image.head, gem.input, gem.inputBuffer);
  if (DecodeLine(in, gem.patternLength, out.first(gem.bytesPerLine), copies)) return kReaderOk;
  reader::StoreError(in.readFailed() ? kStrReadFailed : kStrUnexpectedEnd);
  return kReaderReadFailed;
}

// Every repositioning restarts at the first line: seek to just after the
// header and forget the buffered input.
int32_t Rewind(reader::ImageBlockBase& image, uint32_t /*wanted*/, uint32_t& reached) {
  GemState& gem = reader::FormatBlock<GemImage>(image).gem;
  reader::EmptyInput(gem.input);
  reached = 0;
  if (reader::HostSeekImage(image.head, kHeaderBytes)) return kReaderOk;
  reader::StoreError(kStrReadFailed);
  return kReaderReadFailed;
}

}  // namespace rdgem
