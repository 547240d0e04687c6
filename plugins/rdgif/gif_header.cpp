// The GIF header walk: signature, logical screen, colour tables, the blocks
// before the first image, its descriptor; and the DIB description.
//
// Policies where the format leaves a choice:
//   - only the first image is read; the version after "GIF" is not checked;
//   - extension blocks (0x21, label, sub-blocks) before the image are skipped
//     as blocks, so bytes inside them are never taken for the image
//     separator; any other byte before the separator is skipped by itself;
//   - the colour table is read at open: the local one when the image has
//     one, else the global one. Palette entries past the table are black; a
//     file without any colour table gets a grey ramp;
//   - a file that ends before the image data: result 3, id 2.
#include <algorithm>
#include <cstring>

#include "gif_format.h"

namespace rdgif {
namespace {

constexpr uint32_t kSignatureBytes = 6;
constexpr uint32_t kScreenBytes = 7;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

// Buffered bytes from the file with the count of bytes consumed (the offset
// within the image of the next byte).
class HeaderInput {
 public:
  HeaderInput(const ImageBlockHead& file, SubBlockReader& storage, uint32_t consumed)
      : in_(file, storage.input, storage.buffer), consumed_(consumed) {}

  int32_t next() {
    int32_t byte = in_.next();
    if (byte >= 0) ++consumed_;
    return byte;
  }
  bool read(uint8_t* out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      int32_t byte = next();
      if (byte < 0) return false;
      out[i] = static_cast<uint8_t>(byte);
    }
    return true;
  }
  bool skip(uint32_t count) {
    bool ok = in_.take(count, [](std::span<const uint8_t>) {});
    if (ok) consumed_ += count;
    return ok;
  }
  uint32_t consumed() const { return consumed_; }

 private:
  reader::BufferedInput in_;
  uint32_t consumed_;
};

// Reads a colour table of 2^((packed & 7) + 1) entries into the block.
bool ReadColourTable(HeaderInput& in, uint8_t packed, GifState& gif) {
  const uint32_t entries = 2u << (packed & 7);
  uint8_t rgb[3];
  for (uint32_t i = 0; i < entries; ++i) {
    if (!in.read(rgb, 3)) return false;
    gif.colours[i] = RGBQUAD{rgb[2], rgb[1], rgb[0], 0};
  }
  std::fill(gif.colours + entries, gif.colours + 256, RGBQUAD{0, 0, 0, 0});
  gif.colourCount = entries;
  return true;
}

// Skips blocks until the image separator has been read; false at the end of the file.
bool FindImage(HeaderInput& in) {
  for (;;) {
    int32_t byte = in.next();
    if (byte < 0) return false;
    if (byte == kImageSeparator) return true;
    if (byte != kExtensionIntroducer) continue;
    if (in.next() < 0) return false;  // the label
    for (int32_t length = in.next(); length != 0; length = in.next()) {
      if (length < 0 || !in.skip(static_cast<uint32_t>(length))) return false;
    }
  }
}

// Everything after the signature; the block is allocated.
int32_t ReadHeaders(const ImageBlockHead& file, GifState& gif) {
  HeaderInput in(file, gif.data, kSignatureBytes);
  uint8_t screen[kScreenBytes];
  if (!in.read(screen, sizeof screen)) return Fail(kStrReadFailed, kReaderReadFailed);
  const uint8_t packed = screen[4];
  if ((packed & 0x80) != 0) {
    gif.colourTablePosition = in.consumed();
    if (!ReadColourTable(in, packed, gif)) return Fail(kStrReadFailed, kReaderReadFailed);
  }
  if (!FindImage(in) || !in.read(gif.descriptor, kDescriptorBytes)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  const uint8_t flags = gif.descriptor[8];
  gif.interlaced = (flags & 0x40) != 0 ? 1 : 0;
  if ((flags & 0x80) != 0) {
    gif.colourTablePosition = in.consumed();
    if (!ReadColourTable(in, flags, gif)) return Fail(kStrReadFailed, kReaderReadFailed);
  } else {
    gif.descriptor[8] = packed;
  }
  int32_t codeSize = in.next();
  if (codeSize < 0) return Fail(kStrReadFailed, kReaderReadFailed);
  gif.codeSize = static_cast<uint32_t>(codeSize);
  gif.dataPosition = in.consumed();
  gif.pixelDepth = std::max<uint32_t>(gif.codeSize, ((packed >> 4) & 7u) + 1u);
  return kReaderOk;
}

}  // namespace

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> first) {
  return std::memcmp(first.data(), "GIF", 3) == 0 ? kReaderOk : kReaderNotRecognised;
}

// Walks the headers to the first image's data; on success the block holds the
// descriptor, the colour table and the decoder, and the file stands at the data.
int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  uint8_t signature[kSignatureBytes];
  if (!reader::HostSeekImage(file, 0) || !reader::HostReadExact(file, signature, sizeof signature)) {
    return Fail(kStrReadFailed, kReaderReadFailed);
  }
  if (std::memcmp(signature, "GIF", 3) != 0) return Fail(kStrBadSignature, kReaderReadFailed);
  reader::ImageBlockBase* base = ctx.allocate(sizeof(GifImage));
  if (base == nullptr) return Fail(kStrNoMemory, kReaderNoMemory);
  GifState& gif = StateOf(*base);
  int32_t result = ReadHeaders(file, gif);
  if (result != kReaderOk) return result;
  gif.decoder = GlobalAlloc(GHND, sizeof(LzwState));
  if (gif.decoder == 0) return Fail(kStrNoMemory, kReaderNoMemory);
  return RestartData(*base);
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const GifState& gif = StateOf(image);
  out.width = ImageWidth(gif);
  out.height = ImageHeight(gif);
  out.dibBitCount = gif.pixelDepth == 1 ? 1 : (gif.pixelDepth <= 4 ? 4 : 8);
  out.decodedBits = 8;  // one byte per pixel index
  out.decodedRowBytes = out.width;
  out.paletteEntries = 1u << out.dibBitCount;
  out.colorsUsed = out.paletteEntries;
  return kReaderOk;
}

int32_t FillPalette(reader::ImageBlockBase& image, std::span<RGBQUAD> palette) {
  const GifState& gif = StateOf(image);
  const size_t n = palette.size();
  for (size_t i = 0; i < n; ++i) {
    if (gif.colourCount == 0) {
      auto level = static_cast<uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
      palette[i] = RGBQUAD{level, level, level, 0};
    } else {
      palette[i] = i < 256 ? gif.colours[i] : RGBQUAD{0, 0, 0, 0};
    }
  }
  return kReaderOk;
}

void Release(reader::ImageBlockBase& image) {
  GifState& gif = StateOf(image);
  if (gif.decoder != 0) GlobalFree(gif.decoder);
  if (gif.picture != 0) GlobalFree(gif.picture);
  gif.decoder = 0;
  gif.picture = 0;
  gif.pictureReady = 0;
}

}  // namespace rdgif
