#include "wrpng_harness.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "winport/windows.h"

extern "C" __attribute__((visibility("default"))) int32_t OvgXOptBlkGet(HGLOBAL, const char* key,
                                                                         char* value) {
  const auto found = wrpngtest::Options().find(key);
  if (found == wrpngtest::Options().end()) return 1;
  std::snprintf(value, kOptionValueSize, "%s", found->second.c_str());
  return 0;
}

namespace wrpngtest {
namespace {

using testsupport::MemoryFiles;

void RecordError(HINSTANCE, int32_t id, const char*, const char*) { Reports().push_back(id); }

size_t gWriteCalls = 0;

int32_t CuttingWrite(uint32_t handle, const void* buffer, uint32_t count) {
  const bool cut = ShortWrites().count(gWriteCalls++) != 0 && count > 0;
  return MemoryFiles::table()->write(handle, buffer, cut ? count - 1 : count);
}

const HostFileTable* Table() {
  static HostFileTable table = [] {
    HostFileTable t = *MemoryFiles::table();
    t.write = CuttingWrite;
    return t;
  }();
  return &table;
}

struct ReadState {
  const Bytes* file;
  size_t at;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
  if (state->at + count > state->file->size()) png_error(png, "read past the end");
  std::memcpy(out, state->file->data() + state->at, count);
  state->at += count;
}

void OnPngError(png_structp png, png_const_charp message) {
  *static_cast<std::string*>(png_get_error_ptr(png)) = message;
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp png, png_const_charp message) {
  *static_cast<std::string*>(png_get_error_ptr(png)) += std::string("warning: ") + message;
}

}  // namespace

std::map<std::string, std::string>& Options() {
  static std::map<std::string, std::string> options;
  return options;
}

std::vector<int32_t>& Reports() {
  static std::vector<int32_t> reports;
  return reports;
}

std::set<size_t>& ShortWrites() {
  static std::set<size_t> calls;
  return calls;
}

uint32_t Dib::stride() const {
  return static_cast<uint32_t>(DibRowBytes(static_cast<uint64_t>(header()->biWidth), header()->biBitCount));
}

std::vector<uint16_t> Dib::pixel(uint32_t x, uint32_t y) const {
  const uint8_t* row = rows[y].data();
  const uint32_t bits = header()->biBitCount;
  if (bits == 24) return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
  if (bits == 48) {
    auto sample = [&](int s) { return static_cast<uint16_t>(row[6 * x + 2 * s] | row[6 * x + 2 * s + 1] << 8); };
    return {sample(2), sample(1), sample(0)};
  }
  const uint32_t perByte = 8 / bits;
  const uint32_t index = (row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1u << bits) - 1);
  const auto* table = reinterpret_cast<const RGBQUAD*>(info.data() + 40);
  return {table[index].rgbRed, table[index].rgbGreen, table[index].rgbBlue};
}

Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed, bool greyRamp) {
  std::mt19937 rng(seed);
  const uint32_t colours = bits <= 8 ? 1u << bits : 0;
  Dib dib;
  dib.info.assign(40 + 4 * colours, 0);
  BITMAPINFOHEADER* h = dib.header();
  h->biSize = 40;
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = bits;
  h->biXPelsPerMeter = 11811;
  h->biYPelsPerMeter = 2835;
  for (uint32_t i = 0; i < colours; ++i) {
    auto* q = reinterpret_cast<RGBQUAD*>(dib.info.data() + 40 + 4 * i);
    const auto grey = static_cast<uint8_t>(i * 255 / (colours - 1));
    *q = greyRamp ? RGBQUAD{grey, grey, grey, 0}
                  : RGBQUAD{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), 0};
  }
  for (int32_t y = 0; y < height; ++y) {
    Bytes row(dib.stride());
    for (auto& b : row) b = static_cast<uint8_t>(rng() % 7 == 0 ? 0 : rng());  // some runs of zero
    dib.rows.push_back(row);
  }
  return dib;
}

Writer::Writer() {
  getExt = module.get<OVXDLget_ext_fn>("OVXDLget_ext");
  beginWrite = module.get<OVXDLbegin_write_fn>("OVXDLbegin_write");
  writeBlock = module.get<OVXDLwrite_block_fn>("OVXDLwrite_block");
  endWrite = module.get<OVXDLend_write_fn>("OVXDLend_write");
  ExportHostInfo host{0, RecordError, GetModuleHandleA(nullptr)};
  extension = getExt(&host);
  hostFlags = static_cast<int32_t>(host.flags);
}

ExportRun Writer::run(const Dib& dib, uint32_t rowsPerCall, const std::string& name) const {
  gWriteCalls = 0;
  ExportRun r;
  r.handle = beginWrite(name.c_str(), Table(), name.c_str(), dib.header(), 0, &r.flags);
  if (r.handle == 0) return r;
  const uint32_t height = static_cast<uint32_t>(dib.rows.size());
  const uint32_t step = rowsPerCall == 0 ? height : rowsPerCall;
  const uint32_t stride = dib.stride();
  r.progress.bytesTotal = stride * height;
  for (uint32_t top = 0; top < height; top += step) {
    const uint32_t count = std::min(step, height - top);
    Bytes block(size_t{count} * stride);
    for (uint32_t i = 0; i < count; ++i)  // the block's top row last in memory
      std::memcpy(block.data() + size_t{count - 1 - i} * stride, dib.rows[top + i].data(), stride);
    r.blockResults.push_back(writeBlock(r.handle, count, stride, block.data(), &r.progress));
  }
  r.endResult = endWrite(r.handle, &r.progress);
  r.file = MemoryFiles::instance().bytes(name);
  return r;
}

Decoded DecodePng(const Bytes& file) {
  Decoded d;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d.error, OnPngError, OnPngWarning);
  png_infop info = png_create_info_struct(png);
  ReadState state{&file, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    d.ok = false;
    return d;
  }
  png_set_read_fn(png, &state, ReadBytes);
  png_read_info(png, info);
  d.width = png_get_image_width(png, info);
  d.height = png_get_image_height(png, info);
  d.depth = png_get_bit_depth(png, info);
  d.colourType = png_get_color_type(png, info);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  d.hasPhys = png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER;
  d.xPerMetre = x;
  d.yPerMetre = y;
  png_set_palette_to_rgb(png);
  png_set_expand_gray_1_2_4_to_8(png);
  png_set_gray_to_rgb(png);
  png_read_update_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  Bytes row(rowBytes);
  for (uint32_t r = 0; r < d.height; ++r) {
    png_read_row(png, row.data(), nullptr);
    std::vector<uint16_t> samples(size_t{d.width} * 3);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = d.depth == 16 ? static_cast<uint16_t>(row[2 * i] << 8 | row[2 * i + 1]) : row[i];
    d.pixels.push_back(samples);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  d.ok = d.error.empty();
  return d;
}

::testing::AssertionResult SamePixels(const Dib& dib, const Decoded& png) {
  if (!png.ok) return ::testing::AssertionFailure() << "libpng: " << png.error;
  if (png.width != static_cast<uint32_t>(dib.header()->biWidth) || png.height != dib.rows.size())
    return ::testing::AssertionFailure() << "size " << png.width << " x " << png.height;
  for (uint32_t y = 0; y < png.height; ++y) {
    for (uint32_t x = 0; x < png.width; ++x) {
      const std::vector<uint16_t> want = dib.pixel(x, y);
      const std::vector<uint16_t> got(png.pixels[y].begin() + 3 * x, png.pixels[y].begin() + 3 * x + 3);
      if (got != want)
        return ::testing::AssertionFailure() << "pixel " << x << "," << y << ": " << got[0] << " "
                                             << got[1] << " " << got[2] << " != " << want[0] << " "
                                             << want[1] << " " << want[2];
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace wrpngtest
