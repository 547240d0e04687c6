// Opening a fax file: header, page 0's directory, the page count; page
// changes; the DIB description and palette.
//
// Policies for what the format leaves open:
//   - the two header bytes after "FF" are not read; a header naming no
//     directory (first offset 0) has no page and is refused with id 7, result 2;
//   - pages are bilevel: a directory giving more than one bit per pixel is
//     refused with id 10, result 9 (the run decoder makes 1-bit rows only);
//   - a page change that fails keeps the page it was on, with its directory.
#include "fax_format.h"

namespace rdfax {
namespace {

constexpr tiff::ParseRules kFaxRules{tiff::kMarkFax, true};

// Fax pages are bilevel.
int32_t CheckBilevel(tiff::TiffInfo& info) {
  if (info.bitsPerSample != 1 || info.samplesPerPixel != 1) {
    return Fail(kStrBitsPerSample, kReaderUnsupported);
  }
  return kReaderOk;
}

}  // namespace

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes) {
  const uint16_t mark = static_cast<uint16_t>(firstBytes[0] | firstBytes[1] << 8);
  return mark == tiff::kMarkFax ? kReaderOk : kReaderNotRecognised;
}

int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  tiff::TiffHeader header;
  tiff::TiffInfo info;
  uint32_t pages = 0;
  int32_t result = tiff::OpenFirstPage(file, kFaxRules, CheckBilevel, header, info, pages);
  if (result != kReaderOk) return result;
  reader::ImageBlockBase* base = ctx.allocate(sizeof(FaxImage));
  if (base == nullptr) {
    tiff::FreeArrays(info);
    return Fail(kStrNoMemory, kReaderNoMemory);
  }
  FaxState& state = StateOf(*base);
  state.info = info;  // the block owns the arrays from here on
  state.info.pageCount = pages;
  state.header = header;
  state.stripReadyRow = kNoRow;
  base->frame.pageCount = pages;
  return StartStrip(*base, 0);
}

int32_t SetPage(reader::ImageBlockBase& image, uint32_t page) {
  FaxState& state = StateOf(image);
  tiff::TiffHeader header;
  tiff::TiffInfo info;
  int32_t result = tiff::ReadPageAt(image.head, kFaxRules, CheckBilevel, page, header, info);
  state.stripReadyRow = kNoRow;
  ccitt::ResetDecoder(state.decoder);
  if (result != kReaderOk) return result;
  tiff::FreeArrays(state.info);
  info.pageCount = state.info.pageCount;
  state.info = info;
  state.header = header;
  return kReaderOk;
}

void Release(reader::ImageBlockBase& image) {
  tiff::FreeArrays(StateOf(image).info);
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const tiff::TiffInfo& info = StateOf(image).info;
  out.width = info.imageWidth;
  out.height = info.imageLength;
  out.dibBitCount = 1;
  out.decodedBits = 1;
  out.decodedRowBytes = static_cast<uint32_t>((static_cast<uint64_t>(info.imageWidth) + 7) / 8);
  out.paletteEntries = 2;
  out.colorsUsed = 2;
  out.xPelsPerMeter = tiff::PixelsPerMeter(info.xResolutionNumerator, info.xResolutionDenominator,
                                           info.resolutionUnit);
  out.yPelsPerMeter = tiff::PixelsPerMeter(info.yResolutionNumerator, info.yResolutionDenominator,
                                           info.resolutionUnit);
  out.writePageCount = true;
  return kReaderOk;
}

// Black and white: the run decoder delivers 0 = black, 1 = white.
int32_t FillPalette(reader::ImageBlockBase& /*image*/, std::span<RGBQUAD> palette) {
  if (palette.size() >= 2) {
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[1] = RGBQUAD{255, 255, 255, 0};
  }
  return kReaderOk;
}

}  // namespace rdfax
