// Opening a TIFF: header, page 0's directory, the page count; page changes;
// the DIB description and palette.
//
// Policies for what the format leaves open:
//   - a file whose header names no directory (first offset 0) has no image and
//     is refused at open with id 7, result 2;
//   - only depths a DIB row takes unchanged or widened are read: 1, 2, 4 or 8
//     bits in one sample, or three 8-bit samples; anything else (16-bit
//     samples, two samples, 32 bits, ...) is refused at open, and at a page
//     change, with id 10, result 9, instead of delivering untouched rows;
//   - CCITT compressions need 1 bit per pixel (else id 10, result 9);
//   - PlanarConfiguration 2 is read for uncompressed three-sample images; with
//     one sample it is the same as 1; PackBits planes are refused (id 12);
//   - 2-bit greyscale pixels 0-3 show as grey levels 0, 85, 170 and 255 (the
//     levels the file means), palette entries 4-15 keep the ramp;
//   - a page change that fails (unreadable link, refused option) keeps the
//     page it was on, with its directory.
#include <cstring>

#include "tiff_format.h"

namespace rdtiff {
namespace {

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

bool IsCcitt(uint32_t compression) {
  return compression == tiff::kCompressionModifiedHuffman ||
         compression == tiff::kCompressionGroup3 || compression == tiff::kCompressionGroup4;
}

uint32_t FileBits(const tiff::TiffInfo& info) {
  return info.samplesPerPixel * info.bitsPerSample;  // both bounded by CheckSupported
}

uint32_t DibBits(uint32_t fileBits) {
  if (fileBits > 8) return 24;
  if (fileBits >= 5) return 8;
  if (fileBits >= 2) return 4;
  return fileBits;
}

RGBQUAD Grey(uint32_t level) {
  auto v = static_cast<uint8_t>(level);
  return RGBQUAD{v, v, v, 0};
}

// Entries 0 ... 2^BitsPerSample − 1 from the colour map's high bytes.
void PaletteFromMap(const tiff::TiffInfo& info, std::span<RGBQUAD> palette) {
  const uint32_t n = 1u << info.bitsPerSample;
  if (tiff::ArrayLength(info.colorMap) < 3 * n) return;
  const auto* map = static_cast<const uint32_t*>(GlobalLock(info.colorMap));
  if (map == nullptr) return;
  for (uint32_t i = 0; i < n && i < palette.size(); ++i) {
    palette[i] = RGBQUAD{static_cast<uint8_t>((map[2 * n + i] >> 8) & 0xFF),
                         static_cast<uint8_t>((map[n + i] >> 8) & 0xFF),
                         static_cast<uint8_t>((map[i] >> 8) & 0xFF), 0};
  }
  GlobalUnlock(info.colorMap);
}

}  // namespace

int32_t CheckSupported(tiff::TiffInfo& info) {
  const uint32_t spp = info.samplesPerPixel;
  const uint32_t bps = info.bitsPerSample;
  bool oneSample = spp == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8);
  bool rgb = spp == 3 && bps == 8;
  if (!oneSample && !rgb) return Fail(kStrBitsPerSample, kReaderUnsupported);
  if (IsCcitt(info.compression) && bps != 1) return Fail(kStrBitsPerSample, kReaderUnsupported);
  if (info.planarConfiguration == 2) {
    if (spp == 1) {
      info.planarConfiguration = 1;
    } else if (info.compression != tiff::kCompressionNone) {
      return Fail(kStrPhotometric, kReaderUnsupported);
    }
  }
  return kReaderOk;
}

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes) {
  uint16_t mark = static_cast<uint16_t>(firstBytes[0] | firstBytes[1] << 8);
  return mark == tiff::kMarkLittle || mark == tiff::kMarkBig ? kReaderOk : kReaderNotRecognised;
}

int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  tiff::TiffHeader header;
  tiff::TiffInfo info;
  uint32_t pages = 0;
  int32_t result = tiff::OpenFirstPage(file, tiff::ParseRules{}, CheckSupported, header, info, pages);
  if (result != kReaderOk) return result;
  reader::ImageBlockBase* base = ctx.allocate(sizeof(TiffImage));
  if (base == nullptr) {
    tiff::FreeArrays(info);
    return Fail(kStrNoMemory, kReaderNoMemory);
  }
  TiffState& state = StateOf(*base);
  state.info = info;  // the block owns the arrays from here on
  state.info.pageCount = pages;
  state.header = header;
  state.stripReadyRow = kNoRow;
  base->frame.pageCount = pages;
  return StartStrip(*base, 0);
}

int32_t SetPage(reader::ImageBlockBase& image, uint32_t page) {
  TiffState& state = StateOf(image);
  tiff::TiffHeader header;
  tiff::TiffInfo info;
  int32_t result =
      tiff::ReadPageAt(image.head, tiff::ParseRules{}, CheckSupported, page, header, info);
  state.stripReadyRow = kNoRow;
  reader::EmptyInput(state.packBitsInput);
  ccitt::ResetDecoder(state.ccitt);
  if (result != kReaderOk) return result;
  tiff::FreeArrays(state.info);
  info.pageCount = state.info.pageCount;
  state.info = info;
  state.header = header;
  return kReaderOk;
}

void Release(reader::ImageBlockBase& image) {
  TiffState& state = StateOf(image);
  tiff::FreeArrays(state.info);
  if (state.work != 0) GlobalFree(state.work);
  state.work = 0;
  state.workWidth = 0;
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const tiff::TiffInfo& info = StateOf(image).info;
  const uint32_t bits = FileBits(info);
  out.width = info.imageWidth;
  out.height = info.imageLength;
  out.dibBitCount = DibBits(bits);
  out.decodedBits = bits;
  out.decodedRowBytes = info.bytesPerRow;
  out.paletteEntries = out.dibBitCount <= 8 ? 1u << out.dibBitCount : 0;
  out.colorsUsed = out.paletteEntries;
  out.xPelsPerMeter = tiff::PixelsPerMeter(info.xResolutionNumerator, info.xResolutionDenominator,
                                           info.resolutionUnit);
  out.yPelsPerMeter = tiff::PixelsPerMeter(info.yResolutionNumerator, info.yResolutionDenominator,
                                           info.resolutionUnit);
  out.writePageCount = true;
  return kReaderOk;
}

// Two entries: black and white, whatever the photometric interpretation (the
// row decoders deliver 0 = black). Sixteen: the colour map for palette
// images, else the grey ramp. 256: the colour map when there is one, else the ramp.
int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette) {
  const tiff::TiffInfo& info = StateOf(image).info;
  if (palette.size() == 2) {
    palette[0] = Grey(0);
    palette[1] = Grey(255);
  } else if (palette.size() == 16) {
    if (info.colorMap != 0 && info.photometric == 3) {
      PaletteFromMap(info, palette);
      return kReaderOk;
    }
    for (uint32_t n = 0; n < 16; ++n) palette[n] = Grey(16 * n);
    if (info.bitsPerSample == 2) {
      for (uint32_t n = 0; n < 4; ++n) palette[n] = Grey(85 * n);
    }
  } else if (palette.size() == 256) {
    if (info.colorMap != 0) {
      PaletteFromMap(info, palette);
      return kReaderOk;
    }
    for (uint32_t n = 0; n < 256; ++n) palette[n] = Grey(n);
  }
  return kReaderOk;
}

}  // namespace rdtiff
