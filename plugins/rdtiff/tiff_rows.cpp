// Decoding TIFF rows: strips, uncompressed data (chunky and planar), PackBits
// and the CCITT compressions through the shared decoders.
//
// Decoded rows hold the DIB's layout: pixels most significant bit first,
// colour pixels blue, green, red; 1-bit rows 0 = black.
//
// Policies for what the format leaves open:
//   - FillOrder 2 reverses the bits of every data byte, whatever the
//     compression, so such files decode to the pixels libtiff gives;
//   - PackBits rows of any size are read through the input buffer, which is
//     refilled as often as a row needs; a run reaching past the row end is cut
//     and the rest of its data consumed, so the next row starts after it;
//   - compressed data that end before a row is complete fail the row with
//     id 2, result 3 (PackBits); the CCITT decoders see only 0 bits after the
//     end (a white tail for one-dimensional rows, 10 for Group 4 rows), and a
//     host read error inside CCITT data fails the row with id 2, result 3;
//   - rows of three 8-bit samples are exchanged from RGB to BGR in every
//     compression; WhiteIsZero rows are inverted (CCITT rows by the decoder).
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "plugin/pixel_order.h"
#include "tiff_format.h"

namespace rdtiff {
namespace {

constexpr std::array<uint8_t, 256> MakeReversed() {
  std::array<uint8_t, 256> table{};
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t r = 0;
    for (uint32_t bit = 0; bit < 8; ++bit) r |= ((v >> bit) & 1u) << (7 - bit);
    table[v] = static_cast<uint8_t>(r);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kReversed = MakeReversed();

int32_t ReadFailed() {
  reader::StoreError(kStrReadFailed);
  return kReaderReadFailed;
}

int32_t NoMemory() {
  reader::StoreError(kStrNoMemory);
  return kReaderNoMemory;
}

bool IsRgb(const tiff::TiffInfo& info) {
  return info.samplesPerPixel == 3 && info.bitsPerSample == 8;
}

// Bit order, WhiteIsZero inversion and the RGB-to-BGR exchange of a raw row.
void FinishRow(const tiff::TiffInfo& info, std::span<uint8_t> row, bool invert) {
  if (info.fillOrder == 2) {
    for (uint8_t& byte : row) byte = kReversed[byte];
  }
  if (invert) {
    for (uint8_t& byte : row) byte = static_cast<uint8_t>(~byte);
  }
  if (IsRgb(info)) pixels::SwapRedBlue(row.data(), row.data(), row.size() / 3);
}

// The input buffer and the change lists, in one block sized for the widest page.
class WorkArea {
 public:
  explicit WorkArea(TiffState& state) : state_(state) {
    const uint32_t width = state.info.imageWidth;
    if (state.work == 0 || state.workWidth < width) {
      size_t bytes = kInputBytes + ccitt::ChangeListEntries(width) * sizeof(uint32_t);
      HGLOBAL grown = GlobalAlloc(GHND, bytes);
      if (grown == 0) return;
      if (state.work != 0) GlobalFree(state.work);
      state.work = grown;
      state.workWidth = width;
      // The buffered input lived in the old block.
      reader::EmptyInput(state.packBitsInput);
      ccitt::ResetDecoder(state.ccitt);
    }
    data_ = static_cast<uint8_t*>(GlobalLock(state.work));
  }
  ~WorkArea() {
    if (data_ != nullptr) GlobalUnlock(state_.work);
  }
  WorkArea(const WorkArea&) = delete;
  WorkArea& operator=(const WorkArea&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  std::span<uint8_t> input() const { return {data_, kInputBytes}; }
  std::span<uint32_t> changeLists() const {
    return {reinterpret_cast<uint32_t*>(data_ + kInputBytes),
            ccitt::ChangeListEntries(state_.workWidth)};
  }

 private:
  TiffState& state_;
  uint8_t* data_ = nullptr;
};

int32_t DecodeUncompressed(reader::ImageBlockBase& image, std::span<uint8_t> row) {
  const tiff::TiffInfo& info = StateOf(image).info;
  if (!reader::HostReadExact(image.head, row.data(), static_cast<uint32_t>(row.size()))) {
    return ReadFailed();
  }
  FinishRow(info, row, info.photometric == 0);
  return kReaderOk;
}

// Three planes of 8-bit samples: plane k of row r lies in strip s + k × strips.
int32_t DecodePlanar(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out) {
  const tiff::TiffInfo& info = StateOf(image).info;
  const uint32_t width = info.imageWidth;
  const uint32_t strip = tiff::StripIndex(info, row);
  const uint64_t inStrip = row - static_cast<uint64_t>(strip) * (info.stripCount > 1 ? info.rowsPerStrip : 0);
  std::vector<uint8_t> plane(width);
  for (uint32_t k = 0; k < 3; ++k) {
    uint64_t stripIndex = strip + static_cast<uint64_t>(k) * info.stripCount;
    uint32_t offset = tiff::StripOffset(info, stripIndex > UINT32_MAX ? 0 : static_cast<uint32_t>(stripIndex));
    if (!reader::HostSeekImage(image.head, offset + inStrip * width) ||
        !reader::HostReadExact(image.head, plane.data(), width)) {
      return ReadFailed();
    }
    if (info.fillOrder == 2) {
      for (uint8_t& byte : plane) byte = kReversed[byte];
    }
    // Blue, green, red: plane 2 goes to byte 3j, plane 0 to byte 3j + 2.
    for (uint32_t j = 0; j < width; ++j) out[3 * static_cast<size_t>(j) + 2 - k] = plane[j];
  }
  return kReaderOk;
}

// One PackBits code through BufferedInput, for a code whose bytes are split
// by the end of the bytes held; false when the data end first.
bool DecodeOneCode(reader::BufferedInput& in, std::span<uint8_t> row, size_t& filled) {
  auto put = [&](std::span<const uint8_t> bytes) {
    size_t n = std::min(bytes.size(), row.size() - filled);
    std::memcpy(row.data() + filled, bytes.data(), n);
    filled += n;
  };
  const int32_t control = in.next();
  if (control < 0) return false;
  if (control < 128) return in.take(static_cast<uint32_t>(control) + 1, put);
  if (control > 128) {
    const int32_t value = in.next();
    if (value < 0) return false;
    size_t n = std::min<size_t>(257 - static_cast<uint32_t>(control), row.size() - filled);
    std::memset(row.data() + filled, value, n);
    filled += n;
  }
  return true;
}

constexpr size_t kShortRun = 16;  // runs this short are copied as a fixed block

// Codes that lie whole in the bytes held, decoded straight from them; the
// bytes used. Short runs write kShortRun bytes when the row has room for them:
// the bytes past the run lie inside the row and are written again by the runs
// that follow, so the row comes out the same. Stops at the row's end or at a code the bytes do not hold whole.
size_t DecodeHeldCodes(std::span<const uint8_t> held, std::span<uint8_t> row, size_t& filled) {
  const uint8_t* p = held.data();
  const uint8_t* const end = p + held.size();
  uint8_t* const out = row.data();
  while (filled < row.size() && p < end) {
    const uint32_t control = *p;
    const size_t room = row.size() - filled;
    if (control < 128) {
      const size_t count = control + 1;
      if (static_cast<size_t>(end - p) <= count) break;
      if (count <= kShortRun && room >= kShortRun && static_cast<size_t>(end - p) > kShortRun) {
        std::memcpy(out + filled, p + 1, kShortRun);  // one fixed-size copy; the excess is overwritten later
        filled += count;
      } else {
        const size_t n = std::min(count, room);
        std::memcpy(out + filled, p + 1, n);
        filled += n;
      }
      p += 1 + count;
    } else if (control > 128) {
      if (end - p < 2) break;
      const size_t count = 257 - control;
      if (count <= kShortRun && room >= kShortRun) {
        std::memset(out + filled, p[1], kShortRun);
        filled += count;
      } else {
        const size_t n = std::min(count, room);
        std::memset(out + filled, p[1], n);
        filled += n;
      }
      p += 2;
    } else {
      ++p;  // 128: no operation
    }
  }
  return static_cast<size_t>(p - held.data());
}

int32_t DecodePackBits(reader::ImageBlockBase& image, std::span<uint8_t> row) {
  TiffState& state = StateOf(image);
  WorkArea work(state);
  if (!work) return NoMemory();
  reader::BufferedInput in(image.head, state.packBitsInput, work.input());
  size_t filled = 0;
  while (filled < row.size()) {
    const std::span<const uint8_t> held = in.held();
    if (held.empty()) return ReadFailed();
    const size_t used = DecodeHeldCodes(held, row, filled);
    in.skip(static_cast<uint32_t>(used));
    if (filled < row.size() && used < held.size() && !DecodeOneCode(in, row, filled)) {
      return ReadFailed();
    }
  }
  FinishRow(state.info, row, state.info.photometric == 0);
  return kReaderOk;
}

int32_t ReadHost(void* context, uint8_t* buffer, uint32_t count) {
  return reader::HostRead(*static_cast<const ImageBlockHead*>(context), buffer, count);
}

int32_t DecodeCcitt(reader::ImageBlockBase& image, std::span<uint8_t> row) {
  TiffState& state = StateOf(image);
  tiff::TiffInfo& info = state.info;
  WorkArea work(state);
  if (!work) return NoMemory();
  // CCITT coding fixes which runs are white: PhotometricInterpretation 1 reads as 0.
  if (info.photometric == 1) info.photometric = 0;
  const ccitt::Ink ink = info.photometric == 0 ? ccitt::Ink::kBlack : ccitt::Ink::kWhite;
  state.ccitt.reverseBits = info.fillOrder == 2 ? 1 : 0;
  ccitt::DecoderView view{state.ccitt, work.input(), work.changeLists(),
                          ccitt::ByteSource{ReadHost, &image.head}};
  int32_t decoded = ccitt::kRowDone;
  switch (info.compression) {
    case tiff::kCompressionModifiedHuffman:
      ccitt::AlignToByte(state.ccitt);
      decoded = ccitt::RunDecoder(view, row, info.imageWidth, ink);
      break;
    case tiff::kCompressionGroup3:
      decoded = ccitt::RunDecoder(view, row, info.imageWidth, ink);
      break;
    default:
      decoded = ccitt::TwoDimDecoder(view, row, info.imageWidth, ink);
      break;
  }
  // A failing host read is an error, where the end of the data is not.
  if (state.ccitt.inputEnded == ccitt::kInputFailed) return ReadFailed();
  return decoded == ccitt::kRowDone ? kReaderOk : kReaderCorrupt;
}

bool StripStart(const tiff::TiffInfo& info, uint32_t row) {
  return info.stripCount > 1 && row > 0 && row % info.rowsPerStrip == 0;
}

}  // namespace

int32_t StartStrip(reader::ImageBlockBase& image, uint32_t strip) {
  TiffState& state = StateOf(image);
  const tiff::TiffInfo& info = state.info;
  reader::EmptyInput(state.packBitsInput);
  ccitt::ResetDecoder(state.ccitt);
  uint64_t stripRow = info.stripCount > 1 ? static_cast<uint64_t>(strip) * info.rowsPerStrip : 0;
  state.stripReadyRow = stripRow > UINT32_MAX ? kNoRow : static_cast<uint32_t>(stripRow);
  if (reader::HostSeekImage(image.head, tiff::StripOffset(info, strip))) return kReaderOk;
  state.stripReadyRow = kNoRow;
  return ReadFailed();
}

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& /*copies*/) {
  TiffState& state = StateOf(image);
  const tiff::TiffInfo& info = state.info;
  if (out.size() < info.bytesPerRow) return kReaderCorrupt;
  std::span<uint8_t> decoded = out.first(info.bytesPerRow);
  const bool planar = info.planarConfiguration == 2 && info.compression == tiff::kCompressionNone;
  if (planar) return DecodePlanar(image, row, decoded);
  if (StripStart(info, row) && state.stripReadyRow != row) {
    int32_t result = StartStrip(image, tiff::StripIndex(info, row));
    if (result != kReaderOk) return result;
  }
  state.stripReadyRow = kNoRow;
  switch (info.compression) {
    case tiff::kCompressionNone: return DecodeUncompressed(image, decoded);
    case tiff::kCompressionPackBits: return DecodePackBits(image, decoded);
    default: return DecodeCcitt(image, decoded);
  }
}

// Uncompressed rows are found by position; compressed strips restart at
// their first row and the frame decodes forward from there.
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached) {
  TiffState& state = StateOf(image);
  const tiff::TiffInfo& info = state.info;
  const uint32_t strip = tiff::StripIndex(info, wanted);
  int32_t result = StartStrip(image, strip);
  if (result != kReaderOk) return result;
  reached = state.stripReadyRow;
  if (info.compression != tiff::kCompressionNone || reached == kNoRow) return kReaderOk;
  if (info.planarConfiguration != 2) {
    uint64_t skip = static_cast<uint64_t>(wanted - reached) * info.bytesPerRow;
    if (!reader::HostSeekImage(image.head, tiff::StripOffset(info, strip) + skip)) return ReadFailed();
  }
  state.stripReadyRow = kNoRow;
  reached = wanted;
  return kReaderOk;
}

}  // namespace rdtiff
