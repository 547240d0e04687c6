// The marker walk: from SOI to the first SOS, filling the JpegFrameInfo.
//
// Each segment's body is read whole and parsed from memory, so no parser can
// read past its segment; after it the file is put at the segment's end by its
// length, whatever was parsed. Policies:
//   - no SOI at the start, or the file ending inside the header: id 2, result 3;
//   - a segment whose content does not fit its length or its rules (length
//     below 2, a Huffman table with more codes than its lengths hold, a
//     second frame header, sampling factors of 0 or above 4): id 7, result 2;
//   - what this reader does not decode: id 8, result 9. That is every SOFn
//     but SOF0, a first APP0 that is not JFIF, Huffman table ids above 1,
//     16-bit quantisation tables, component counts other than 1 (grey) and
//     3 (YCbCr): two components, and four (CMYK, YCCK), have no colour
//     conversion here and would come out in wrong colours,
//     sampling whose ratios to the maxima are not whole numbers, a scan that
//     does not hold every component (several scans), a height of 0 (DNL),
//     and EOI or SOS before a frame;
//   - FF fill bytes before a marker are skipped; RSTn, TEM and a repeated SOI
//     stand alone (no length); other bytes in place of a marker are taken as
//     an unknown segment and skipped by their length.
// Every segment moves the file forward by at least four bytes, so the walk
// ends at the end of the file at the latest.
#include <cstring>

#include "jpeg_entropy.h"
#include "jpeg_rows.h"
#include "jpeg_tables.h"

namespace rdjpeg {
namespace {

constexpr uint32_t kMaxBody = 65535;

int32_t Fail(UINT id, int32_t result) {
  reader::StoreError(id);
  return result;
}
int32_t ReadFailed() { return Fail(kStrReadFailed, kReaderReadFailed); }
int32_t Malformed() { return Fail(kStrBadHeader, kReaderBadHeader); }
int32_t Unsupported() { return Fail(kStrUnsupported, kReaderUnsupported); }
int32_t NoMemory() { return Fail(kStrNoMemory, kReaderNoMemory); }

uint32_t BigEndian16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] << 8 | p[1]);
}

void FreeLocal(void* block) {
  if (block != nullptr) LocalFree(block);
}

// The file's current position (a seek by 0 from the current one); −1 on failure.
int32_t Tell(const ImageBlockHead& file) {
  if (file.files == nullptr || file.files->seek == nullptr || file.file == 0) return -1;
  return file.files->seek(file.file, 0, 1);
}

struct Walk {
  const ImageBlockHead& file;
  JpegFrameInfo& info;
  uint8_t* body;  // kMaxBody bytes
  bool sawFrame = false;
  bool sawApp0 = false;
};

// Sampling factors and their consequences: maxima, MCU counts.
int32_t CheckSampling(JpegFrameInfo& info) {
  int32_t blocks = 0;
  for (int32_t ci = 0; ci < info.componentCount; ++ci) {
    const JpegComponent& c = info.components[ci];
    int32_t h = c.sampling >> 4;
    int32_t v = c.sampling & 15;
    if (h < 1 || h > 4 || v < 1 || v > 4 || c.quantSelector > 3) return Malformed();
    if (h > info.horizontalMaximum) info.horizontalMaximum = h;
    if (v > info.verticalMaximum) info.verticalMaximum = v;
    blocks += h * v;
  }
  if (info.componentCount == 1) {
    info.horizontalMaximum = info.verticalMaximum = 1;  // one block per MCU
  } else {
    if (blocks > 10) return Malformed();  // the most an interleaved MCU may hold
    for (int32_t ci = 0; ci < info.componentCount; ++ci) {
      const JpegComponent& c = info.components[ci];
      if (info.horizontalMaximum % (c.sampling >> 4) != 0 ||
          info.verticalMaximum % (c.sampling & 15) != 0) {
        return Unsupported();
      }
    }
  }
  const int32_t mcuWidth = 8 * info.horizontalMaximum;
  const int32_t mcuHeight = 8 * info.verticalMaximum;
  info.mcusPerRow = (info.width + mcuWidth - 1) / mcuWidth;
  info.mcuRows = (info.height + mcuHeight - 1) / mcuHeight;
  return kReaderOk;
}

// SOF0: P, Y, X, Nf, then Nf × (Ci, H << 4 | V, Tq).
int32_t ParseFrame(Walk& w, const uint8_t* b, uint32_t n) {
  if (w.sawFrame || n < 6) return Malformed();
  JpegFrameInfo& info = w.info;
  info.precision = b[0];
  info.height = static_cast<int32_t>(BigEndian16(b + 1));
  info.width = static_cast<int32_t>(BigEndian16(b + 3));
  info.componentCount = b[5];
  info.horizontalMaximum = info.verticalMaximum = 1;
  if (info.componentCount == 0 || info.width == 0) return Malformed();
  if (n < 6 + 3u * static_cast<uint32_t>(info.componentCount)) return Malformed();
  if ((info.componentCount != 1 && info.componentCount != 3) || info.height == 0) return Unsupported();
  auto bytes = sizeof(JpegComponent) * static_cast<size_t>(info.componentCount);
  info.components = static_cast<JpegComponent*>(LocalAlloc(LPTR, bytes));
  if (info.components == nullptr) return NoMemory();
  w.sawFrame = true;
  for (int32_t ci = 0; ci < info.componentCount; ++ci) {
    const uint8_t* entry = b + 6 + 3 * ci;
    info.components[ci].id = entry[0];
    info.components[ci].sampling = entry[1];
    info.components[ci].quantSelector = entry[2];
  }
  return CheckSampling(info);
}

// One DHT table: Tc/Th, 16 counts, the symbols. `used` receives its size.
int32_t ParseHuffTable(JpegFrameInfo& info, const uint8_t* b, uint32_t n, uint32_t& used) {
  if (n < 17) return Malformed();
  const int32_t tc = b[0] >> 4;
  const int32_t th = b[0] & 15;
  uint32_t total = 0;
  for (int i = 1; i <= 16; ++i) total += b[i];
  if (tc > 1 || total > 256 || n - 17 < total) return Malformed();
  if (th > 1) return Unsupported();
  const uint8_t* symbols = b + 17;
  if (tc == 0) {
    for (uint32_t k = 0; k < total; ++k) {
      if (symbols[k] > 15) return Malformed();  // a DC difference has at most 15 bits
    }
  }
  JpegHuffTable& table = info.huffman[th + (tc != 0 ? kAcSlotBase : 0)];
  FreeLocal(table.symbols);
  FreeLocal(table.codes);
  table.symbols = static_cast<uint8_t*>(LocalAlloc(LPTR, total + 1));
  table.codes = static_cast<int32_t*>(LocalAlloc(LPTR, sizeof(int32_t) * (total + 1)));
  if (table.symbols == nullptr || table.codes == nullptr) return NoMemory();
  std::memcpy(table.counts, b + 1, 16);
  std::memcpy(table.symbols, symbols, total);
  if (!DeriveHuffTable(table)) return Malformed();
  used = 17 + total;
  return kReaderOk;
}

int32_t ParseHuffman(Walk& w, const uint8_t* b, uint32_t n) {
  for (uint32_t at = 0; at < n;) {
    uint32_t used = 0;
    int32_t result = ParseHuffTable(w.info, b + at, n - at, used);
    if (result != kReaderOk) return result;
    at += used;
  }
  return kReaderOk;
}

// DQT: tables of Pq/Tq and 64 values in zigzag order.
int32_t ParseQuant(Walk& w, const uint8_t* b, uint32_t n) {
  for (uint32_t at = 0; at < n; at += 65) {
    const int32_t pq = b[at] >> 4;
    const int32_t tq = b[at] & 15;
    if (pq != 0) return Unsupported();  // 16-bit tables
    if (tq > 3 || n - at < 65) return Malformed();
    JpegQuantTable& table = w.info.quant[tq];
    table.precision = pq;
    std::memcpy(table.raw, b + at + 1, 64);
    for (size_t z = 0; z < 64; ++z) {
      const size_t k = kNaturalOrder[z];
      table.multipliers[k] = (table.raw[z] * AanScaleTable[k]) >> 12;
    }
  }
  return kReaderOk;
}

// SOS: Ns, then Ns × (Cs, Td << 4 | Ta); Ss, Se, Ah/Al are not looked at.
int32_t ParseScan(Walk& w, const uint8_t* b, uint32_t n) {
  JpegFrameInfo& info = w.info;
  if (!w.sawFrame) return Unsupported();
  if (n < 1 || n < 1 + 2u * b[0]) return Malformed();
  uint32_t listed = 0;  // bit per frame component
  for (uint32_t k = 0; k < b[0]; ++k) {
    const uint8_t* entry = b + 1 + 2 * k;
    for (int32_t ci = 0; ci < info.componentCount; ++ci) {
      JpegComponent& c = info.components[ci];
      if (c.id != entry[0]) continue;
      c.dcSelector = static_cast<uint8_t>(entry[1] >> 4);
      c.acSelector = static_cast<uint8_t>(entry[1] & 15);
      c.dcPredictor = 0;
      if (c.dcSelector > 1 || c.acSelector > 1) return Unsupported();
      listed |= 1u << ci;
      break;
    }
  }
  if (listed != (1u << info.componentCount) - 1) return Unsupported();
  return kReaderOk;
}

// The first APP0: "JFIF\0", version, units, Xdensity, Ydensity, thumbnail size.
int32_t ParseJfif(Walk& w, const uint8_t* b, uint32_t n) {
  if (n < 5 || std::memcmp(b, "JFIF", 5) != 0) return Unsupported();
  if (n >= 12) {
    w.info.densityUnits = b[7];
    w.info.xDensity = static_cast<uint16_t>(BigEndian16(b + 8));
    w.info.yDensity = static_cast<uint16_t>(BigEndian16(b + 10));
    reader::TraceHook(16, "JFIF Header Info: Ver=%x, units=%d, xd=%d, yd=%d, xThumb=%d",
                      BigEndian16(b + 5), b[7], w.info.xDensity, w.info.yDensity,
                      n >= 13 ? b[12] : 0);
  }
  return kReaderOk;
}

const char* TraceName(uint8_t code) {
  switch (code) {
    case 0xE0: return "M_APP0";
    case 0xDD: return "M_DRI ";
    case 0xD9: return "M_EOI ";
    case 0xDC: return "M_DNL ";
    case 0xDE: return "M_DHP ";
    case 0xDF: return "M_EXP ";
    case 0xFE: return "M_COM ";
    case 0xF0: return "M_JPG0";
    case 0xCC: return "(LPSTR)M_DAC ";
    case 0xEF: return "M_APP1";
    case 0xFD: return "M_JPG1";
    default: return nullptr;
  }
}

bool IsOtherFrame(uint8_t code) {
  return code >= 0xC1 && code <= 0xCF && code != 0xC4 && code != 0xCC;
}

// Acts on one segment whose body (n bytes) is still unread. `scanned` is set by SOS.
int32_t Segment(Walk& w, uint8_t code, uint32_t n, bool& scanned) {
  if (IsOtherFrame(code)) return Unsupported();
  const bool parsed = code == 0xC0 || code == 0xC4 || code == 0xDB || code == 0xDD ||
                      code == 0xDA || (code == 0xE0 && !w.sawApp0);
  if (!parsed) return kReaderOk;
  const uint32_t wanted = code == 0xE0 ? (n < 14 ? n : 14) : n;
  if (!reader::HostReadExact(w.file, w.body, wanted)) return ReadFailed();
  switch (code) {
    case 0xC0: return ParseFrame(w, w.body, n);
    case 0xC4: return ParseHuffman(w, w.body, n);
    case 0xDB: return ParseQuant(w, w.body, n);
    case 0xDD:
      if (n < 2) return Malformed();
      w.info.restartInterval = w.info.restartsToGo = static_cast<int32_t>(BigEndian16(w.body));
      return kReaderOk;
    case 0xDA:
      scanned = true;
      return ParseScan(w, w.body, n);
    default:
      w.sawApp0 = true;
      return ParseJfif(w, w.body, wanted);
  }
}

// Reads the next marker code after its FF (and any FF fill bytes); false at the end.
bool NextMarker(const ImageBlockHead& file, uint8_t& first, uint8_t& code) {
  uint8_t pair[2];
  if (!reader::HostReadExact(file, pair, 2)) return false;
  while (pair[0] == 0xFF && pair[1] == 0xFF) {
    if (!reader::HostReadExact(file, &pair[1], 1)) return false;
  }
  first = pair[0];
  code = pair[1];
  return true;
}

int32_t RunWalk(Walk& w) {
  uint8_t soi[2];
  if (!reader::HostReadExact(w.file, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) return ReadFailed();
  for (;;) {
    uint8_t first = 0, code = 0;
    if (!NextMarker(w.file, first, code)) return ReadFailed();
    const bool marker = first == 0xFF;
    if (marker && (code == 0x01 || (code >= 0xD0 && code <= 0xD8))) continue;  // no length
    if (marker && code == 0xD9) {
      reader::TraceHook(16, "Marker: %s, Len = %d", TraceName(code), 0);
      return Unsupported();  // the stream ends before a scan
    }
    const int32_t position = Tell(w.file);
    uint8_t lengthBytes[2];
    if (position < 0 || !reader::HostReadExact(w.file, lengthBytes, 2)) return ReadFailed();
    const uint32_t length = BigEndian16(lengthBytes);
    if (length < 2) return Malformed();
    if (const char* name = marker ? TraceName(code) : nullptr; name != nullptr) {
      reader::TraceHook(16, "Marker: %s, Len = %d", name, length);
    }
    bool scanned = false;
    int32_t result = marker ? Segment(w, code, length - 2, scanned) : kReaderOk;
    if (result != kReaderOk) return result;
    const uint64_t end = static_cast<uint64_t>(position) + length;
    if (!reader::HostSeekAbsolute(w.file, end)) return ReadFailed();
    if (scanned) {
      w.info.scanDataOffset = static_cast<int32_t>(end);
      return kReaderOk;
    }
  }
}

}  // namespace

int32_t WalkMarkers(const ImageBlockHead& file, JpegFrameInfo& info) {
  auto* body = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, kMaxBody));
  if (body == nullptr) return NoMemory();
  Walk walk{file, info, body};
  int32_t result = RunWalk(walk);
  LocalFree(body);
  if (result != kReaderOk) ReleaseFrame(info);
  return result;
}

bool AllocatePlanes(JpegFrameInfo& info) {
  auto allocate = [](size_t bytes) -> uint8_t* {
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes);
    if (handle == 0) return nullptr;
    auto* plane = static_cast<uint8_t*>(GlobalLock(handle));
    if (plane == nullptr) GlobalFree(handle);
    return plane;
  };
  const size_t fullBytes = FullPlaneStride(info) * static_cast<size_t>(RowsPerMcuRow(info));
  for (int32_t ci = 0; ci < info.componentCount; ++ci) {
    JpegComponent& c = info.components[ci];
    c.blockPlane = allocate(BlockPlaneStride(info, c) * 8 * static_cast<size_t>(BlocksDown(info, c)));
    if (c.blockPlane == nullptr) return false;
    c.writePosition = c.blockPlane;
    c.fullPlane = NeedsUpsampling(info, c) ? allocate(fullBytes) : c.blockPlane;
    if (c.fullPlane == nullptr) return false;
  }
  return true;
}

void ReleaseFrame(JpegFrameInfo& info) {
  auto release = [](uint8_t* plane) {
    if (plane == nullptr) return;
    HGLOBAL handle = GlobalHandle(plane);
    GlobalUnlock(handle);
    GlobalFree(handle);
  };
  for (int32_t ci = 0; info.components != nullptr && ci < info.componentCount; ++ci) {
    JpegComponent& c = info.components[ci];
    if (c.fullPlane != c.blockPlane) release(c.fullPlane);
    release(c.blockPlane);
    c.fullPlane = c.blockPlane = c.writePosition = nullptr;
  }
  FreeLocal(info.components);
  info.components = nullptr;
  for (JpegHuffTable& table : info.huffman) {
    FreeLocal(table.symbols);
    FreeLocal(table.codes);
    table.symbols = nullptr;
    table.codes = nullptr;
  }
}

}  // namespace rdjpeg
