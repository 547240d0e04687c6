// reader_probe.DLL: a reader on the frame for what rdgem does not exercise
// (pages, cancellation, bottom-up delivery, depth conversion). Its files:
//   "PRB1", u32 width, u32 height, u8 decoded bits, u8 DIB bits, u8 flags,
//   u8 pages (all little-endian), then the rows of each page, uncompressed;
//   page p is width × (p + 1) pixels wide. Flag 1: rows come bottom-up.
#include <cstring>

#include "plugin/reader_frame.h"

namespace probe {

#define PROBE_STRINGS(X)                                    \
  READER_COMMON_STRINGS(X)                                  \
  X(kStrPrint, 6, "Probe: printing is not done here.")      \
  X(kStrNoSuchPage, 15, "Seek to non-existent page.")       \
  X(kStrFilter, 1000, "Frame probe~*.prb~")

enum StringId : UINT { PROBE_STRINGS(READER_STRING_ID) };

constexpr uint32_t kHeaderBytes = 16;

struct ProbeState {
  uint32_t width, height, decodedBits, dibBits, flags, pages, page;
};
struct ProbeImage {
  reader::ImageBlockBase base;
  ProbeState probe;
};

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

uint64_t RowBytes(const ProbeState& s, uint32_t page) {
  return (static_cast<uint64_t>(s.width) * (page + 1) * s.decodedBits + 7) / 8;
}

uint64_t PageStart(const ProbeState& s, uint32_t page) {
  uint64_t start = kHeaderBytes;
  for (uint32_t q = 0; q < page; ++q) start += RowBytes(s, q) * s.height;
  return start;
}

int32_t Recognise(std::span<const uint8_t, kVerifyBytes> first) {
  return std::memcmp(first.data(), "PRB1", 4) == 0 ? kReaderOk : kReaderNotRecognised;
}

int32_t Init(reader::InitContext& ctx) {
  const ImageBlockHead file{ctx.fileReference, ctx.file, ctx.files, ctx.imageOffset};
  uint8_t h[kHeaderBytes];
  if (!reader::HostSeekImage(file, 0) || !reader::HostReadExact(file, h, sizeof h) ||
      std::memcmp(h, "PRB1", 4) != 0 || h[15] == 0) {
    reader::StoreError(kStrReadFailed);
    return kReaderReadFailed;
  }
  reader::ImageBlockBase* base = ctx.allocate(sizeof(ProbeImage));
  if (base == nullptr) {
    reader::StoreError(kStrNoMemory);
    return kReaderNoMemory;
  }
  reader::FormatBlock<ProbeImage>(*base).probe = ProbeState{Le32(h + 4), Le32(h + 8), h[12], h[13], h[14], h[15], 0};
  base->frame.pageCount = h[15];
  return kReaderOk;
}

int32_t Describe(const reader::ImageBlockBase& image, reader::DibDescription& out) {
  const ProbeState& s = reader::FormatBlock<ProbeImage>(image).probe;
  out.width = s.width * (s.page + 1);
  out.height = s.height;
  out.dibBitCount = s.dibBits;
  out.decodedBits = s.decodedBits;
  out.decodedRowBytes = static_cast<uint32_t>(RowBytes(s, s.page));
  out.paletteEntries = s.dibBits <= 8 ? 1u << s.dibBits : 0;
  out.colorsUsed = out.paletteEntries;
  out.xPelsPerMeter = 11811;
  out.yPelsPerMeter = 11811;
  out.writePageCount = true;
  return kReaderOk;
}

int32_t FillPalette(reader::ImageBlockBase&, std::span<RGBQUAD> palette) {
  for (size_t i = 0; i < palette.size(); ++i) {
    auto v = static_cast<uint8_t>(i * 255 / (palette.size() - 1));
    palette[i] = RGBQUAD{v, v, v, 0};
  }
  return kReaderOk;
}

int32_t BeginRows(reader::ImageBlockBase& image, uint32_t, uint32_t, reader::RowOrder& order) {
  bool bottomUp = (reader::FormatBlock<ProbeImage>(image).probe.flags & 1) != 0;
  order = bottomUp ? reader::RowOrder::kBottomUp : reader::RowOrder::kTopDown;
  return kReaderOk;
}

int32_t DecodeRow(reader::ImageBlockBase& image, uint32_t row, std::span<uint8_t> out, uint32_t&) {
  const ProbeState& s = reader::FormatBlock<ProbeImage>(image).probe;
  uint64_t bytes = RowBytes(s, s.page);
  if (!reader::HostSeekImage(image.head, PageStart(s, s.page) + bytes * row) ||
      !reader::HostReadExact(image.head, out.data(), static_cast<uint32_t>(bytes))) {
    reader::StoreError(kStrReadFailed);
    return kReaderReadFailed;
  }
  return kReaderOk;
}

int32_t Rewind(reader::ImageBlockBase&, uint32_t wanted, uint32_t& reached) {
  reached = wanted;  // every row is found by a seek
  return kReaderOk;
}

int32_t SetPage(reader::ImageBlockBase& image, uint32_t page) {
  reader::FormatBlock<ProbeImage>(image).probe.page = page;
  return kReaderOk;
}

}  // namespace probe

constexpr char kProbeVersion[] = "Frame Probe V0.1";

namespace reader {
const ReaderFormat gReaderFormat = {
    .traceName = "probe",
    .versionText = kProbeVersion,
    .cancellable = true,
    .processWideError = false,
    .printResult = kReaderNoPrinting,
    .printErrorId = probe::kStrPrint,
    .renderResult = 0,
    .escapeResult = kReaderUnsupported,
    .noSuchPageErrorId = probe::kStrNoSuchPage,
    .recognise = probe::Recognise,
    .init = probe::Init,
    .describe = probe::Describe,
    .fillPalette = probe::FillPalette,
    .beginRows = probe::BeginRows,
    .decodeRow = probe::DecodeRow,
    .deliverRow = nullptr,
    .rewind = probe::Rewind,
    .setPage = probe::SetPage,
    .release = nullptr,
};
}  // namespace reader

namespace {
constexpr auto kProbeExports = reader::JoinExports(reader::kCoreExports, reader::kPageExports);
}  // namespace

READER_MODULE(kProbeExports, PROBE_STRINGS, kProbeVersion)
