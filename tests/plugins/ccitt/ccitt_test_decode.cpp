#include "ccitt_test_decode.h"

#include <algorithm>
#include <cstring>

namespace ccitttest {

std::vector<uint8_t> BitsFromText(const char* text) {
  std::vector<uint8_t> bytes;
  uint32_t used = 0;
  for (const char* c = text; *c; ++c) {
    if (*c != '0' && *c != '1') continue;
    if (used == 0) bytes.push_back(0);
    if (*c == '1') bytes.back() |= static_cast<uint8_t>(0x80u >> used);
    used = (used + 1) & 7;
  }
  return bytes;
}

int32_t Stream::Read(void* context, uint8_t* buffer, uint32_t count) {
  Stream& self = *static_cast<Stream*>(context);
  ++self.readCalls;
  if (self.failAfterBytes >= 0 && static_cast<int64_t>(self.position_) >= self.failAfterBytes)
    return -1;
  size_t n = std::min<size_t>(count, self.data.size() - self.position_);
  if (self.failAfterBytes >= 0)
    n = std::min<size_t>(n, static_cast<size_t>(self.failAfterBytes) - self.position_);
  if (n > 0) std::memcpy(buffer, self.data.data() + self.position_, n);
  self.position_ += n;
  return static_cast<int32_t>(n);
}

Stream::Row Stream::decodeOne(Coding coding, uint32_t width, ccitt::Ink ink) {
  state_.reverseBits = reverseBits ? 1 : 0;
  const size_t entries = listEntries ? listEntries : ccitt::ChangeListEntries(width);
  if (lists_.size() != entries) lists_.assign(entries, 0xEEEEEEEEu);
  ccitt::DecoderView view{state_, storage, lists_, ccitt::ByteSource{&Stream::Read, this}};
  Row row{std::vector<uint8_t>((width + 7) / 8, 0x5A), 0};
  switch (coding) {
    case Coding::kModifiedHuffman:
      ccitt::AlignToByte(state_);
      row.result = ccitt::RunDecoder(view, row.bytes, width, ink);
      break;
    case Coding::kT4:
      row.result = ccitt::RunDecoder(view, row.bytes, width, ink);
      break;
    case Coding::kT6:
      row.result = ccitt::TwoDimDecoder(view, row.bytes, width, ink);
      break;
  }
  if (row.result != ccitt::kRowDone) allRowsDone = false;
  return row;
}

std::vector<std::vector<uint8_t>> Stream::decodeRows(Coding coding, uint32_t width, uint32_t rows,
                                                     ccitt::Ink ink) {
  std::vector<std::vector<uint8_t>> out;
  for (uint32_t y = 0; y < rows; ++y) out.push_back(decodeOne(coding, width, ink).bytes);
  return out;
}

faxtest::Picture Stream::decode(Coding coding, uint32_t width, uint32_t rows) {
  faxtest::Picture picture{width, rows, std::vector<uint8_t>(static_cast<size_t>(width) * rows)};
  const auto packed = decodeRows(coding, width, rows, ccitt::Ink::kBlack);
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t x = 0; x < width; ++x)
      picture.black[static_cast<size_t>(y) * width + x] = !((packed[y][x / 8] >> (7 - x % 8)) & 1);
  return picture;
}

void Stream::rewind() {
  position_ = 0;
  ccitt::ResetDecoder(state_);
}

}  // namespace ccitttest
