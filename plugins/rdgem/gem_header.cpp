// The IMG header: recognition, opening, the DIB description.
//
// Accepted: version 1, header length 8 words, 1 bit plane. Policies for what
// the format leaves open:
//   - a version, header length or plane count other than 1, 8, 1 (or a header
//     that cannot be read): result 3 with id 2, as a failed header read;
//   - a line width or line count of 0: result 2 with id 7 (an image without
//     pixels has no DIB);
//   - the pixel size in micrometres is not used: the DIB says 0 pixels per metre.
#include <cstring>

#include "gem_format.h"

namespace rdgem {
namespace {

uint32_t BigEndianWord(const uint8_t* bytes, size_t index) {
  return static_cast<uint32_t>(bytes[2 * index] << 8 | bytes[2 * index + 1]);
}

bool AcceptedLayout(const uint8_t* header) {
  return BigEndianWord(header, 0) == 1 && BigEndianWord(header, 1) == 8 &&
         BigEndianWord(header, 2) == 1;
}

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

}  // namespace

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes) {
  return AcceptedLayout(firstBytes.data()) ? kReaderOk : kReaderNotRecognised;
}

// Reads the header at the image offset; on success the file stands just after
// it, the block is filled, the input buffer empty and the current row 0.
int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  uint8_t header[kHeaderBytes];
  if (!reader::HostSeekImage(file, 0) || !reader::HostReadExact(file, header, sizeof header) ||
      !AcceptedLayout(header)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  uint32_t lineWidth = BigEndianWord(header, 6);
  uint32_t lineCount = BigEndianWord(header, 7);
  if (lineWidth == 0 || lineCount == 0) return Fail(kStrBadHeader, kReaderBadHeader);

  reader::ImageBlockBase* base = ctx.allocate(sizeof(GemImage));
  if (base == nullptr) return Fail(kStrNoMemory, kReaderNoMemory);
  GemState& gem = reader::FormatBlock<GemImage>(*base).gem;
  gem.patternLength = BigEndianWord(header, 3);
  gem.pixelWidthMicrons = BigEndianWord(header, 4);
  gem.pixelHeightMicrons = BigEndianWord(header, 5);
  gem.lineWidth = lineWidth;
  gem.lineCount = lineCount;
  gem.bytesPerLine = (lineWidth + 7) / 8;
  reader::EmptyInput(gem.input);
  return kReaderOk;
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const GemState& gem = reader::FormatBlock<GemImage>(image).gem;
  out.width = gem.lineWidth;
  out.height = gem.lineCount;
  out.dibBitCount = 1;
  out.decodedBits = 1;
  out.decodedRowBytes = gem.bytesPerLine;
  out.paletteEntries = 2;
  out.colorsUsed = 0;
  return kReaderOk;
}

// Decoded rows hold 0 for black (the file's set bits are inverted).
int32_t FillPalette(reader::ImageBlockBase& /*image*/, std::span<RGBQUAD> palette) {
  if (palette.size() < 2) return kReaderOk;
  palette[0] = RGBQUAD{0, 0, 0, 0};
  palette[1] = RGBQUAD{255, 255, 255, 0};
  return kReaderOk;
}

}  // namespace rdgem
