// Files written through a POSIX file table are read back by ImageMagick, an
// independent decoder, with the pixels the DIB holds.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "wrbmp_harness.h"

namespace wrbmptest {
namespace {

int32_t PosixOpen(FileReference file, int32_t mode, uint32_t* handle) {
  int flags = O_RDWR | O_CLOEXEC;
  if (mode & kOpenCreate) flags |= O_CREAT | O_TRUNC;
  const int fd = ::open(static_cast<const char*>(file), flags, 0644);
  if (fd < 0) return 0;
  *handle = static_cast<uint32_t>(fd);
  return 1;
}
int32_t PosixClose(uint32_t handle) {
  return ::close(static_cast<int>(handle)) == 0 ? 1 : 0;
}
int32_t PosixRead(uint32_t handle, void* buffer, uint32_t count) {
  return static_cast<int32_t>(::read(static_cast<int>(handle), buffer, count));
}
int32_t PosixWrite(uint32_t handle, const void* buffer, uint32_t count) {
  return static_cast<int32_t>(::write(static_cast<int>(handle), buffer, count));
}
int32_t PosixSeek(uint32_t handle, int32_t offset, int32_t origin) {
  const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  const off_t position = ::lseek(static_cast<int>(handle), offset, whence);
  return position < 0 || position > INT32_MAX ? -1 : static_cast<int32_t>(position);
}
int32_t PosixReadByte(uint32_t handle) {
  uint8_t byte = 0;
  return PosixRead(handle, &byte, 1) == 1 ? byte : -1;
}
const HostFileTable kPosixFiles = {PosixOpen,  PosixClose, PosixRead,
                                   PosixWrite, PosixSeek,  PosixReadByte};

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// ImageMagick's reading of `path` as RGB rows, top row first; empty on failure.
std::vector<Rgb> DecodeWithImageMagick(const std::string& path, uint32_t& width, uint32_t& height) {
  // Without -depth 8 a 1-bit file comes out with a maximum value of 1.
  const std::string command = "convert '" + path + "' -depth 8 ppm:- 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string data;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) data.append(buffer, n);
  if (pclose(pipe) != 0) return {};

  std::istringstream header(data);
  std::string magic;
  uint32_t maxValue = 0;
  header >> magic >> width >> height >> maxValue;
  if (magic != "P6" || maxValue == 0 || maxValue > 65535) return {};
  const size_t start = static_cast<size_t>(header.tellg()) + 1;  // one whitespace byte
  const size_t sampleBytes = maxValue > 255 ? 2 : 1;
  const size_t count = static_cast<size_t>(width) * height;
  if (data.size() < start + count * 3 * sampleBytes) return {};
  std::vector<Rgb> pixels(count);
  auto sample = [&](size_t index) {
    const auto* p = reinterpret_cast<const uint8_t*>(data.data()) + start + index * sampleBytes;
    const uint32_t raw = sampleBytes == 2 ? (p[0] << 8 | p[1]) : p[0];
    return static_cast<uint8_t>((raw * 255 + maxValue / 2) / maxValue);
  };
  for (size_t i = 0; i < count; ++i) {
    pixels[i] = {sample(i * 3), sample(i * 3 + 1), sample(i * 3 + 2)};
  }
  return pixels;
}

Rgb ExpectedPixel(const Dib& dib, uint32_t x, uint32_t y) {
  const uint32_t value = dib.pixel(x, y);
  if (dib.header()->biBitCount == 24) {
    return {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
  }
  const RGBQUAD& entry = dib.colour(value);
  return {entry.rgbRed, entry.rgbGreen, entry.rgbBlue};
}

TEST_F(WrbmpTest, ImageMagickReadsTheWrittenPixels) {
  if (std::system("convert -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick missing";
  testsupport::TempDir dir;
  OptionBlock forward("THK", "FORWARD = ON\r");
  for (uint16_t bits : {1, 4, 8, 24}) {
    for (HGLOBAL options : {HGLOBAL{0}, forward.handle()}) {
      SCOPED_TRACE(std::to_string(bits) + (options != 0 ? " forward" : " appended"));
      const Dib dib = MakeDib(13, 7, bits);
      RunPlan plan;
      plan.files = &kPosixFiles;
      plan.fileName = dir.file("image.bmp");
      plan.options = options;
      plan.blocks = {2, 4, 1};
      const RunResult run = RunExport(writer, dib, plan);
      ASSERT_EQ(run.endResult, kWriterOk);

      uint32_t width = 0, height = 0;
      const std::vector<Rgb> pixels = DecodeWithImageMagick(plan.fileName, width, height);
      ASSERT_EQ(width, 13u);
      ASSERT_EQ(height, 7u);
      for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
          ASSERT_EQ(pixels[y * width + x], ExpectedPixel(dib, x, y)) << "at " << x << "," << y;
        }
      }
    }
  }
}

}  // namespace
}  // namespace wrbmptest
