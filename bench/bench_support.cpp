#include "bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if BENCH_HAVE_LIBTIFF
#include <tiffio.h>
#endif

// The host's option getter; the benchmark program stands in for the host library.
extern "C" __attribute__((visibility("default"))) int32_t OvgXOptBlkGet(HGLOBAL /*options*/,
                                                                         const char* key,
                                                                         char* value) {
  const auto& options = bench::Options();
  const auto found = options.find(key);
  if (found == options.end()) return 1;
  std::snprintf(value, kOptionValueSize, "%s", found->second.c_str());
  return 0;
}

namespace bench {
namespace {

struct OpenFile {
  std::string name;
  size_t position = 0;
};
std::map<std::string, std::vector<uint8_t>> gFiles;
std::map<uint32_t, OpenFile> gOpen;
uint32_t gNextHandle = 1;

int32_t Open(FileReference file, int32_t mode, uint32_t* handle) {
  const std::string name = static_cast<const char*>(file);
  const bool exists = gFiles.count(name) != 0;
  if (mode & kOpenExist) return exists ? 1 : 0;
  if (mode & kOpenCreate) gFiles[name].clear();
  else if (!exists) return 0;
  *handle = gNextHandle++;
  gOpen[*handle] = OpenFile{name, 0};
  return 1;
}
int32_t Close(uint32_t handle) {
  gOpen.erase(handle);
  return 0;
}
int32_t Read(uint32_t handle, void* buffer, uint32_t count) {
  OpenFile& f = gOpen.at(handle);
  const std::vector<uint8_t>& bytes = gFiles[f.name];
  const size_t n = f.position < bytes.size() ? std::min<size_t>(count, bytes.size() - f.position) : 0;
  std::memcpy(buffer, bytes.data() + f.position, n);
  f.position += n;
  return static_cast<int32_t>(n);
}
int32_t Write(uint32_t handle, const void* buffer, uint32_t count) {
  OpenFile& f = gOpen.at(handle);
  std::vector<uint8_t>& bytes = gFiles[f.name];
  if (bytes.size() < f.position + count) bytes.resize(f.position + count);
  std::memcpy(bytes.data() + f.position, buffer, count);
  f.position += count;
  return static_cast<int32_t>(count);
}
int32_t Seek(uint32_t handle, int32_t offset, int32_t origin) {
  OpenFile& f = gOpen.at(handle);
  const int64_t base = origin == 0 ? 0
                       : origin == 1 ? static_cast<int64_t>(f.position)
                                     : static_cast<int64_t>(gFiles[f.name].size());
  if (base + offset < 0) return -1;
  f.position = static_cast<size_t>(base + offset);
  return static_cast<int32_t>(f.position);
}
int32_t ReadByte(uint32_t handle) {
  uint8_t b;
  return Read(handle, &b, 1) == 1 ? b : -1;
}
constexpr HostFileTable kTable{Open, Close, Read, Write, Seek, ReadByte};

}  // namespace

[[noreturn]] void Abort(const std::string& why) {
  std::fprintf(stderr, "tiff_bench: %s\n", why.c_str());
  std::exit(1);
}

HMODULE LoadPlugin(const char* fileName) {
  // BENCH_BIN_DIR points the benchmarks at another build's plug-ins, so two
  // builds can be timed by one binary.
  const char* folder = std::getenv("BENCH_BIN_DIR");
  const std::string path = std::string(folder != nullptr ? folder : SUITE_BIN_DIR) + "/" + fileName;
  const HMODULE module = LoadLibraryA(path.c_str());
  if (module == 0) Abort("cannot load " + path);
  return module;
}

std::map<std::string, std::string>& Options() {
  static std::map<std::string, std::string> options;
  return options;
}

const HostFileTable* MemoryTable() { return &kTable; }
std::vector<uint8_t>& MemoryFile(const std::string& name) { return gFiles[name]; }
void RemoveMemoryFile(const std::string& name) { gFiles.erase(name); }

MonoPage MakeTextPage(uint32_t width, uint32_t height, bool whiteIsZero) {
  MonoPage page;
  page.width = width;
  page.height = height;
  page.stride = static_cast<uint32_t>(DibRowBytes(width, 1));
  page.info.assign(40 + 8, 0);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(page.info.data());
  *h = BITMAPINFOHEADER{40, static_cast<int32_t>(width), static_cast<int32_t>(height), 1, 1, 0, 0,
                        11811, 11811, 2, 2};
  page.info[40 + 4] = page.info[40 + 5] = page.info[40 + 6] = 0xFF;  // entry 1 white
  page.rows.assign(size_t{page.stride} * height, 0xFF);
  constexpr uint32_t kMargin = 200, kLine = 50, kGlyphHeight = 32, kCell = 24, kDot = 4;
  for (uint32_t y = kMargin; y + kMargin < height; ++y) {
    const uint32_t line = y / kLine;
    const uint32_t inLine = y % kLine;
    if (inLine >= kGlyphHeight) continue;
    uint8_t* row = page.rows.data() + size_t{page.stride} * (height - 1 - y);
    for (uint32_t x = kMargin; x + kMargin < width; ++x) {
      const uint32_t cell = x / kCell;
      const uint32_t hash = (cell * 2654435761u) ^ (line * 40503u + 977u);
      if ((hash >> 8) % 7 == 0) continue;  // a word gap
      const uint32_t gx = (x % kCell) / kDot, gy = inLine / kDot;
      if (gx >= 5) continue;  // the gap between glyphs
      const uint32_t bit = gy * 5 + gx;
      const bool ink = ((hash * 2246822519u) >> (bit % 29)) & 1u;
      if (ink) row[x / 8] = static_cast<uint8_t>(row[x / 8] & ~(0x80u >> (x % 8)));
    }
  }
  if (whiteIsZero) {
    for (uint8_t& b : page.rows) b = static_cast<uint8_t>(~b);
  }
  return page;
}

const MonoPage& A4Page() {
  static const MonoPage page = MakeTextPage(2480, 3508);
  return page;
}

const MonoPage& A4PageWhiteIsZero() {
  static const MonoPage page = MakeTextPage(2480, 3508, true);
  return page;
}

std::vector<uint8_t> WriteWithWrtiff(const MonoPage& page, const std::string& name) {
  static const HMODULE module = [] {
    const HMODULE m = LoadPlugin("wrtiff.DEL");
    ExportHostInfo host{0, nullptr, GetModuleHandleA(nullptr)};
    Export<OVXDLget_ext_fn>(m, "OVXDLget_ext")(&host);
    return m;
  }();
  static const auto begin = Export<OVXDLbegin_write_fn>(module, "OVXDLbegin_write");
  static const auto write = Export<OVXDLwrite_block_fn>(module, "OVXDLwrite_block");
  static const auto end = Export<OVXDLend_write_fn>(module, "OVXDLend_write");
  RemoveMemoryFile(name);
  int32_t flags = 0;
  const HGLOBAL block = begin(name.c_str(), MemoryTable(), name.c_str(), page.header(), 0, &flags);
  if (block == 0) Abort("wrtiff refused the page");
  ExportProgress progress{static_cast<uint32_t>(flags), 0, page.stride * page.height, 0, 1u << 20,
                          0, 0, nullptr};
  constexpr uint32_t kRowsPerCall = 64;
  for (uint32_t top = 0; top < page.height; top += kRowsPerCall) {
    const uint32_t count = std::min(kRowsPerCall, page.height - top);
    // Bottom-up: the block's top row is the last in memory.
    const uint8_t* first = page.rowFromTop(top + count - 1);
    if (write(block, count, page.stride, first, &progress) != kWriterOk) Abort("write failed");
  }
  if (end(block, &progress) != kWriterOk) Abort("end failed");
  return MemoryFile(name);
}

#if BENCH_HAVE_LIBTIFF
namespace {

// A file for libtiff in memory: `bytes` while writing; reading goes through
// `source` when set (the caller's bytes, not copied, so that only libtiff's
// own work is timed).
struct LibtiffMemory {
  std::vector<uint8_t> bytes;
  size_t position = 0;
  const std::vector<uint8_t>* source = nullptr;
  const std::vector<uint8_t>& content() const { return source != nullptr ? *source : bytes; }
};

tmsize_t MemRead(thandle_t h, void* buffer, tmsize_t size) {
  auto* m = static_cast<LibtiffMemory*>(h);
  const std::vector<uint8_t>& bytes = m->content();
  const size_t n = m->position < bytes.size()
                       ? std::min<size_t>(static_cast<size_t>(size), bytes.size() - m->position)
                       : 0;
  std::memcpy(buffer, bytes.data() + m->position, n);
  m->position += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t MemWrite(thandle_t h, void* buffer, tmsize_t size) {
  auto* m = static_cast<LibtiffMemory*>(h);
  if (m->source != nullptr) return 0;
  if (m->bytes.size() < m->position + static_cast<size_t>(size)) m->bytes.resize(m->position + size);
  std::memcpy(m->bytes.data() + m->position, buffer, static_cast<size_t>(size));
  m->position += static_cast<size_t>(size);
  return size;
}
toff_t MemSeek(thandle_t h, toff_t offset, int whence) {
  auto* m = static_cast<LibtiffMemory*>(h);
  const auto base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->position : m->content().size();
  m->position = static_cast<size_t>(base + offset);
  return m->position;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<LibtiffMemory*>(h)->content().size(); }
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

}  // namespace

std::vector<uint8_t> WriteWithLibtiff(const MonoPage& page, uint16_t compression,
                                      uint32_t rowsPerStrip) {
  LibtiffMemory memory;
  TIFF* tif = TIFFClientOpen("memory", "w", &memory, MemRead, MemWrite, MemSeek, MemClose,
                             MemSize, MemMap, MemUnmap);
  if (tif == nullptr) Abort("libtiff cannot open its memory file");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  for (uint32_t y = 0; y < page.height; ++y) {
    if (TIFFWriteScanline(tif, const_cast<uint8_t*>(page.rowFromTop(y)), y, 0) < 0) {
      Abort("libtiff write failed");
    }
  }
  TIFFClose(tif);
  return memory.bytes;
}

uint64_t DecodeWithLibtiff(const std::vector<uint8_t>& file, bool toDibOrder) {
  LibtiffMemory memory;
  memory.source = &file;
  TIFF* tif = TIFFClientOpen("memory", "r", &memory, MemRead, MemWrite, MemSeek, MemClose,
                             MemSize, MemMap, MemUnmap);
  if (tif == nullptr) Abort("libtiff cannot read the file");
  uint32_t height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
  uint64_t sum = 0;
  for (uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tif, row.data(), y, 0) < 0) Abort("libtiff read failed");
    if (toDibOrder) {
      for (size_t i = 0; i + 2 < row.size(); i += 3) std::swap(row[i], row[i + 2]);
    }
    sum += row[0];
  }
  TIFFClose(tif);
  return sum;
}
#endif

}  // namespace bench
