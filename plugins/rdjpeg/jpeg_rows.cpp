// The row hooks: picture rows from MCU rows, repositioning, delivery.
//
// The planes hold one decoded MCU row (currentMcuRow). A row in it is only
// converted; a later one first decodes forward, MCU rows before the wanted
// one without the inverse DCT. Going back restarts at the first
// entropy-coded byte. The frame never asks for a row at or past the height,
// so decoding stops with the picture's last MCU row.
#include <algorithm>
#include <cstring>

#include "jpeg_entropy.h"
#include "jpeg_rows.h"

namespace rdjpeg {
namespace {

// Makes the planes hold MCU row `target` (rewinding first when it lies behind).
int32_t BringMcuRow(const ImageBlockHead& head, JpegState& state, int32_t target) {
  if (target < state.currentMcuRow) {
    int32_t result = RewindToScan(head, state);
    if (result != kReaderOk) return result;
  }
  while (state.currentMcuRow < target) {
    const bool wanted = state.currentMcuRow + 1 == target;
    int32_t result = DecodeMcuRow(head, state, wanted);
    if (result != kReaderOk) {
      state.currentMcuRow = kNoMcuRow;  // the entropy state is no longer trustworthy
      state.currentRow = 0;
      return result;
    }
    ++state.currentMcuRow;
    if (wanted) Upsample(state.info);
  }
  return kReaderOk;
}

}  // namespace

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out,
                  uint32_t& /*copies*/) {
  JpegState& state = StateOf(image);
  const JpegFrameInfo& info = state.info;
  const size_t bytes = static_cast<size_t>(info.width) * (info.componentCount == 1 ? 1 : 3);
  if (row >= static_cast<uint32_t>(info.height) || out.size() < bytes) return kReaderCorrupt;
  const int32_t rowsPerMcuRow = RowsPerMcuRow(info);
  const auto target = static_cast<int32_t>(row / static_cast<uint32_t>(rowsPerMcuRow));
  if (target != state.currentMcuRow) {
    int32_t result = BringMcuRow(image.head, state, target);
    if (result != kReaderOk) return result;
  }
  ConvertRow(info, static_cast<int32_t>(row % static_cast<uint32_t>(rowsPerMcuRow)), out.data());
  state.currentRow = static_cast<int32_t>(row) + 1;
  return kReaderOk;
}

// Colour rows go out whole pixels at a time: from pixel offset / 3 on, as many
// as both the host's row (stride / 3) and the picture hold; a partial pixel at
// the end of the host's row is left as it was. Grey rows are copied bytewise.
void DeliverRow(const reader::ImageBlockBase& image, std::span<const uint8_t> decoded,
                std::span<uint8_t> dest, uint32_t offset) {
  const JpegFrameInfo& info = StateOf(image).info;
  if (info.componentCount == 1) {
    reader::CopyFromOffset(decoded, dest, offset);
    return;
  }
  const size_t firstPixel = offset / 3;
  const size_t pixels = decoded.size() / 3;
  if (firstPixel >= pixels) return;
  const size_t count = std::min(dest.size() / 3, pixels - firstPixel);
  std::memcpy(dest.data(), decoded.data() + firstPixel * 3, count * 3);
}

// Positions the decoder at `wanted`. While the decoder's state is sound and
// the wanted row does not lie behind the MCU row in the planes, the input is
// kept: the file is only put back where the input stood (it may have been
// closed and reopened since) and decoding goes forward. Otherwise decoding
// restarts at the first entropy-coded byte.
int32_t Rewind(reader::ImageBlockBase& image, uint32_t wanted, uint32_t& reached) {
  JpegState& state = StateOf(image);
  const JpegFrameInfo& info = state.info;
  reached = 0;
  const auto target = static_cast<int32_t>(std::min<uint32_t>(wanted, static_cast<uint32_t>(info.height)) /
                                           static_cast<uint32_t>(RowsPerMcuRow(info)));
  const bool keep = state.currentMcuRow != kNoMcuRow && target >= state.currentMcuRow;
  int32_t result = keep ? (reader::HostSeekAbsolute(image.head, state.inputFileEnd) ? kReaderOk
                                                                                      : kReaderReadFailed)
                        : RewindToScan(image.head, state);
  if (result != kReaderOk) {
    reader::StoreError(kStrReadFailed);
    state.currentMcuRow = kNoMcuRow;
    return result;
  }
  if (wanted >= static_cast<uint32_t>(info.height)) {
    reached = wanted;  // the end of the picture: no row left to decode
    return kReaderOk;
  }
  result = BringMcuRow(image.head, state, target);
  if (result != kReaderOk) return result;
  reached = wanted;
  return kReaderOk;
}

}  // namespace rdjpeg
