// The DIB colour table of the current page.
//
//   1 bit per pixel      black, white (whatever the header holds)
//   version 3 or 4       the fixed 16-colour table below
//   version 5, 8 bits    the 256 colours after the marker byte 12 that stands
//                        769 bytes before the page's end, when it is there
//   otherwise            the header's 16 colours (as many as the depth has),
//                        the rest black
// The palette at the page's end is looked for only when the page can hold a
// header and the palette; reading it moves the file, so the position is put
// back afterwards (or, failing that, the decoder is marked to be repositioned).
// With the file handed back (OVDLclose_keep) that palette cannot be read: 3, id 2.
#include <algorithm>
#include <array>

#include "pcx_format.h"

namespace rdpcx {
namespace {

constexpr uint8_t kFixedTable[16][3] = {
    {0x00, 0x00, 0x00}, {0x54, 0x54, 0xFF}, {0x54, 0xFF, 0x54}, {0x54, 0xFF, 0xFF},
    {0xFF, 0x54, 0x54}, {0xFF, 0x54, 0xFF}, {0xFF, 0xFF, 0x54}, {0xFF, 0xFF, 0xFF},
    {0x54, 0x54, 0x54}, {0x00, 0x00, 0xA8}, {0x00, 0xA8, 0x00}, {0x00, 0xA8, 0xA8},
    {0xA8, 0x00, 0x00}, {0xA8, 0x00, 0xA8}, {0xA8, 0xA8, 0x00}, {0xA8, 0xA8, 0xA8},
};

RGBQUAD FromRgb(const uint8_t* rgb) {
  return RGBQUAD{rgb[2], rgb[1], rgb[0], 0};
}

// The 768 palette bytes at the page's end, or false when the marker is not
// there or the bytes cannot be read.
bool ReadVgaPalette(const reader::ImageBlockBase& image, std::array<uint8_t, kVgaPaletteBytes>& rgb) {
  const PcxState& pcx = StateOf(image);
  if (pcx.pageLength < kHeaderBytes + 1 + kVgaPaletteBytes) return false;
  const uint64_t pageStart = pcx.dataPosition - kHeaderBytes;
  const uint64_t marker = pageStart + pcx.pageLength - (1 + kVgaPaletteBytes);
  uint8_t byte = 0;
  return reader::HostSeekAbsolute(image.head, marker) && reader::HostReadExact(image.head, &byte, 1) &&
         byte == kVgaPaletteMarker && reader::HostReadExact(image.head, rgb.data(), kVgaPaletteBytes);
}

// The palette at the page's end, with the file's position kept.
int32_t TryVgaPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette, bool& found) {
  found = false;
  const ImageBlockHead& head = image.head;
  if (head.file == 0 || head.files == nullptr || head.files->seek == nullptr) {
    reader::StoreError(kStrReadFailed);
    return kReaderReadFailed;
  }
  const int32_t position = head.files->seek(head.file, 0, 1);
  std::array<uint8_t, kVgaPaletteBytes> rgb{};
  if (ReadVgaPalette(image, rgb)) {
    found = true;
    for (size_t i = 0; i < palette.size() && i < 256; ++i) palette[i] = FromRgb(&rgb[3 * i]);
  }
  if (position < 0 || !reader::HostSeekAbsolute(head, static_cast<uint32_t>(position))) {
    image.frame.repositionNeeded = 1;
  }
  return kReaderOk;
}

}  // namespace

int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette) {
  const PcxState& pcx = StateOf(image);
  const PcxHeader h = ParseHeader(std::span<const uint8_t, kHeaderBytes>(pcx.header));
  const uint32_t depth = pcx.geometry.planes * pcx.geometry.bitsPerPixel;
  if (depth == 1) {
    if (palette.size() >= 2) {
      palette[0] = RGBQUAD{0, 0, 0, 0};
      palette[1] = RGBQUAD{255, 255, 255, 0};
    }
    return kReaderOk;
  }
  if (h.version == 3 || h.version == 4) {
    for (size_t i = 0; i < palette.size() && i < 16; ++i) palette[i] = FromRgb(kFixedTable[i]);
    return kReaderOk;
  }
  if (h.version == 5 && depth == 8) {
    bool found = false;
    int32_t result = TryVgaPalette(image, palette, found);
    if (result != kReaderOk || found) return result;
  }
  const size_t entries = std::min<size_t>({size_t{1} << std::min<uint32_t>(depth, 4), 16, palette.size()});
  for (size_t i = 0; i < entries; ++i) palette[i] = FromRgb(&h.palette[3 * i]);
  return kReaderOk;
}

}  // namespace rdpcx
