// rdjpeg.DIL: the JPEG/JFIF reader on the reader frame: recognition, opening,
// the DIB description and the module's descriptor.
#include "jpeg_entropy.h"
#include "jpeg_format.h"

namespace rdjpeg {
namespace {

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}

// JFIF density -> pixels per metre: dots per inch rounded, dots per
// centimetre × 100, anything else 0.
int32_t PixelsPerMetre(uint8_t units, uint16_t density) {
  if (units == 1) return (static_cast<int32_t>(density) * 10000 + 127) / 254;
  if (units == 2) return static_cast<int32_t>(density) * 100;
  return 0;
}

}  // namespace

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> firstBytes) {
  return firstBytes[0] == 0xFF && firstBytes[1] == 0xD8 ? kReaderOk : kReaderNotRecognised;
}

// Walks the markers from the image offset, allocates the planes and the block.
// On success the file stands at the first entropy-coded byte, the input is
// empty, the current row 0 and no MCU row is decoded.
int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  if (!reader::HostSeekAbsolute(file, ctx.imageOffset)) return Fail(kStrReadFailed, kReaderReadFailed);
  JpegFrameInfo info{};
  int32_t result = WalkMarkers(file, info);
  if (result != kReaderOk) return result;
  reader::ImageBlockBase* base = AllocatePlanes(info) ? ctx.allocate(sizeof(JpegImage)) : nullptr;
  if (base == nullptr) {
    ReleaseFrame(info);
    return Fail(kStrNoMemory, kReaderNoMemory);
  }
  JpegState& state = StateOf(*base);
  state.info = info;  // the block owns the planes and lists from here on
  state.info.restartsToGo = info.restartInterval;
  state.currentRow = 0;
  state.currentMcuRow = kNoMcuRow;
  state.inputPosition = state.inputFilled = kEntropyInputBytes;
  state.inputEnded = 0;
  state.inputFileEnd = static_cast<uint32_t>(info.scanDataOffset);
  state.bitBufferLow = 0;
  BuildFastTables(state);
  return kReaderOk;
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const JpegFrameInfo& info = StateOf(image).info;
  const bool grey = info.componentCount == 1;
  out.width = static_cast<uint32_t>(info.width);
  out.height = static_cast<uint32_t>(info.height);
  out.dibBitCount = grey ? 8 : 24;
  out.decodedBits = out.dibBitCount;
  out.decodedRowBytes = out.width * (grey ? 1 : 3);
  out.paletteEntries = grey ? 256 : 0;
  out.colorsUsed = 0;
  out.xPelsPerMeter = PixelsPerMetre(info.densityUnits, info.xDensity);
  out.yPelsPerMeter = PixelsPerMetre(info.densityUnits, info.yDensity);
  return kReaderOk;
}

int32_t FillPalette(reader::ImageBlockBase& /*image*/, std::span<RGBQUAD> palette) {
  for (size_t i = 0; i < palette.size(); ++i) {
    const auto level = static_cast<uint8_t>(i);
    palette[i] = RGBQUAD{level, level, level, 0};
  }
  return kReaderOk;
}

void Release(reader::ImageBlockBase& image) {
  ReleaseFrame(StateOf(image).info);
}

}  // namespace rdjpeg

namespace reader {

const ReaderFormat gReaderFormat = {
    .traceName = "rdjpeg",
    .versionText = "JPEG File Reader V1.0",
    .cancellable = true,
    .processWideError = false,
    .printResult = 0,  // OVDLprint answers as OVDLrender does, storing no id
    .printErrorId = 0,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = 0,
    .recognise = rdjpeg::Recognise,
    .init = rdjpeg::Init,
    .describe = rdjpeg::Describe,
    .fillPalette = rdjpeg::FillPalette,
    .beginRows = nullptr,
    .decodeRow = rdjpeg::DecodeRow,
    .deliverRow = rdjpeg::DeliverRow,
    .rewind = rdjpeg::Rewind,
    .setPage = nullptr,
    .release = rdjpeg::Release,
};

}  // namespace reader

namespace {
constexpr auto kJpegExports = reader::JoinExports(reader::kCoreExports);
}  // namespace

READER_MODULE(kJpegExports, RDJPEG_STRINGS)
