#include "wrpng_harness.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "winport/windows.h"

namespace wrpngtest {
namespace {

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

Dib MakeDib(int32_t width, int32_t height, uint16_t bits, uint32_t seed, bool greyRamp) {
  std::mt19937 rng(seed);
  const uint32_t colours = bits <= 8 ? 1u << bits : 0;
  Dib dib = testsupport::DibHeader(width, height, bits, 11811, 2835);
  for (uint32_t i = 0; i < colours; ++i) {
    const auto grey = static_cast<uint8_t>(i * 255 / (colours - 1));
    dib.table()[i] = greyRamp ? RGBQUAD{grey, grey, grey, 0}
                              : RGBQUAD{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                        static_cast<uint8_t>(rng()), 0};
  }
  for (int32_t y = 0; y < height; ++y) {
    Bytes row(dib.stride());
    for (auto& b : row) b = static_cast<uint8_t>(rng() % 7 == 0 ? 0 : rng());  // some runs of zero
    dib.rows.push_back(row);
  }
  return dib;
}

Writer::Writer() : WriterModule("wrpng.DEL") {
  uint32_t flags = 0;
  extension = connect(GetModuleHandleA(nullptr), &flags);
  hostFlags = static_cast<int32_t>(flags);
}

ExportRun Writer::run(const Dib& dib, uint32_t rowsPerCall, const std::string& name) const {
  testsupport::RecordingFiles::instance().writes.clear();
  return testsupport::ExportTopFirst(*this, dib, {name, rowsPerCall, 0, -1, testsupport::RecordingFiles::table()});
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
